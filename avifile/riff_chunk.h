// Reading one RIFF chunk header, checked against its parent and the file: the single place
// where a size from the file is turned into offsets.
#pragma once

#include <cstdint>

#include "avifile/avi_types.h"
#include "avifile/byte_source.h"

struct RiffChunk {
    DWORD id = 0;
    uint64_t headerOffset = 0;
    uint64_t dataOffset = 0;  // headerOffset + 8
    uint32_t size = 0;        // data bytes, clipped to the parent
    bool clipped = false;     // the size read ran past the parent's end
    uint64_t next = 0;        // where the next sibling starts (after the pad byte), <= parent end
};

// Chunk data of an odd size is followed by a pad byte, so that every chunk starts at an even
// offset. Some writers leave it out; the next header is then one byte earlier.
constexpr bool HasPadByte(uint64_t size) {
    return (size & 1u) != 0;
}
constexpr uint64_t PaddedChunkSize(uint64_t size) {
    return size + (HasPadByte(size) ? 1 : 0);
}

// Reads the header at `offset` inside a parent ending at `parentEnd` (already within the file).
// False when there is no room for a header.
bool ReadRiffChunk(ByteSource& source, uint64_t offset, uint64_t parentEnd, RiffChunk* chunk);

// The list type of a LIST or RIFF chunk, 0 when the chunk is too short to have one.
DWORD ReadListType(ByteSource& source, const RiffChunk& chunk);

constexpr DWORD kFccRiff = mmioFOURCC('R', 'I', 'F', 'F');
constexpr DWORD kFccList = mmioFOURCC('L', 'I', 'S', 'T');
constexpr DWORD kFccAvi = mmioFOURCC('A', 'V', 'I', ' ');
constexpr DWORD kFccAvix = mmioFOURCC('A', 'V', 'I', 'X');
constexpr DWORD kFccHdrl = mmioFOURCC('h', 'd', 'r', 'l');
constexpr DWORD kFccAvih = mmioFOURCC('a', 'v', 'i', 'h');
constexpr DWORD kFccStrl = mmioFOURCC('s', 't', 'r', 'l');
constexpr DWORD kFccStrh = mmioFOURCC('s', 't', 'r', 'h');
constexpr DWORD kFccStrf = mmioFOURCC('s', 't', 'r', 'f');
constexpr DWORD kFccStrd = mmioFOURCC('s', 't', 'r', 'd');
constexpr DWORD kFccStrn = mmioFOURCC('s', 't', 'r', 'n');
constexpr DWORD kFccIndx = mmioFOURCC('i', 'n', 'd', 'x');
constexpr DWORD kFccOdml = mmioFOURCC('o', 'd', 'm', 'l');
constexpr DWORD kFccDmlh = mmioFOURCC('d', 'm', 'l', 'h');
constexpr DWORD kFccMovi = mmioFOURCC('m', 'o', 'v', 'i');
constexpr DWORD kFccRec = mmioFOURCC('r', 'e', 'c', ' ');
constexpr DWORD kFccIdx1 = mmioFOURCC('i', 'd', 'x', '1');
constexpr DWORD kFccJunk = mmioFOURCC('J', 'U', 'N', 'K');
