#include "avifile/riff_chunk.h"

#include "avifile/little_endian.h"

bool ReadRiffChunk(ByteSource& source, uint64_t offset, uint64_t parentEnd, RiffChunk* chunk) {
    if (offset > parentEnd || parentEnd - offset < 8) return false;
    uint8_t header[8];
    if (!source.ReadAt(offset, header, 8)) return false;
    chunk->id = GetLe32(header);
    chunk->headerOffset = offset;
    chunk->dataOffset = offset + 8;
    uint64_t declared = GetLe32(header + 4);
    uint64_t room = parentEnd - chunk->dataOffset;
    chunk->clipped = declared > room;
    chunk->size = static_cast<uint32_t>(chunk->clipped ? room : declared);
    // The pad byte after an odd size may be missing at the parent's end.
    uint64_t next = chunk->dataOffset + PaddedChunkSize(chunk->size);
    chunk->next = next > parentEnd ? parentEnd : next;
    return true;
}

DWORD ReadListType(ByteSource& source, const RiffChunk& chunk) {
    if (chunk.size < 4) return 0;
    uint8_t type[4];
    if (!source.ReadAt(chunk.dataOffset, type, 4)) return 0;
    return GetLe32(type);
}
