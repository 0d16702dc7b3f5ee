// Stream-level operations: headers, formats, reading and writing samples, sample queries.
#include <algorithm>
#include <climits>
#include <cstring>

#include "avifile/avi_file.h"
#include "avifile/avi_handles.h"

namespace {

const AviStreamData& DataOf(PAVISTREAM stream) {
    return stream->file->StreamData(stream->index);
}

// Copies up to *size bytes of `bytes` (or, with `out` null, reports the size).
HRESULT CopyBlock(const std::vector<uint8_t>& bytes, void* out, LONG* size) {
    if (!size) return AVIERR_BADPARAM;
    LONG available = static_cast<LONG>(std::min<size_t>(bytes.size(), INT32_MAX));
    if (!out) {
        *size = available;
        return AVIERR_OK;
    }
    if (*size < 0) return AVIERR_BADPARAM;
    LONG n = std::min(*size, available);
    if (n > 0) std::memcpy(out, bytes.data(), static_cast<size_t>(n));
    *size = n;
    return AVIERR_OK;
}

}  // namespace

ULONG AVIStreamAddRef(PAVISTREAM stream) {
    if (!stream) return 0;
    // A referenced stream keeps its file alive.
    if (stream->refs++ == 0) AVIFileAddRef(stream->file);
    return stream->refs;
}

ULONG AVIStreamRelease(PAVISTREAM stream) {
    if (!stream || stream->refs == 0) return 0;
    ULONG left = --stream->refs;
    if (left == 0) AVIFileRelease(stream->file);  // may free the stream object too
    return left;
}

HRESULT AVIStreamInfoW(PAVISTREAM stream, AVISTREAMINFOW* info, LONG size) {
    if (!stream) return AVIERR_BADHANDLE;
    if (!info || size < 0) return AVIERR_BADPARAM;
    const AVISTREAMINFOW& current = DataOf(stream).info;
    std::memcpy(info, &current, std::min<size_t>(static_cast<size_t>(size), sizeof current));
    return AVIERR_OK;
}

LONG AVIStreamStart(PAVISTREAM stream) {
    return stream ? static_cast<LONG>(DataOf(stream).info.dwStart) : -1;
}

LONG AVIStreamLength(PAVISTREAM stream) {
    return stream ? static_cast<LONG>(DataOf(stream).info.dwLength) : -1;
}

HRESULT AVIStreamReadFormat(PAVISTREAM stream, LONG /*pos*/, void* format, LONG* formatSize) {
    if (!stream) return AVIERR_BADHANDLE;
    return CopyBlock(DataOf(stream).format, format, formatSize);
}

HRESULT AVIStreamSetFormat(PAVISTREAM stream, LONG /*pos*/, const void* format, LONG size) {
    if (!stream) return AVIERR_BADHANDLE;
    if (!stream->file->writer) return AVIERR_READONLY;
    return stream->file->writer->SetFormat(stream->index, format, size);
}

HRESULT AVIStreamRead(PAVISTREAM stream, LONG start, LONG samples, void* buffer, LONG bufferSize,
                      LONG* bytesRead, LONG* samplesRead) {
    if (bytesRead) *bytesRead = 0;
    if (samplesRead) *samplesRead = 0;
    if (!stream) return AVIERR_BADHANDLE;
    IAVIFile* file = stream->file;
    if (file->writer) return AVIERR_UNSUPPORTED;
    if (samples < 0 && samples != AVISTREAMREAD_CONVENIENT) return AVIERR_BADPARAM;
    const AviStreamData& data = DataOf(stream);
    const SampleTable& table = data.table;
    int64_t first = data.info.dwStart;
    int64_t pos = std::max<int64_t>(start, first) - first;  // from here on relative to the start
    if (pos >= table.SampleCount()) return AVIERR_OK;
    uint32_t sampleSize = table.SampleSize();

    int64_t want;
    if (samples == AVISTREAMREAD_CONVENIENT) {
        size_t chunk = table.ChunkOfSample(pos);
        want = sampleSize == 0 ? 1 : table.ChunkFirstSample(chunk + 1) - pos;
    } else {
        want = std::min<int64_t>(samples, table.SampleCount() - pos);
    }
    if (want == 0) return AVIERR_OK;
    if (bufferSize < 0) bufferSize = 0;
    auto* out = static_cast<uint8_t*>(buffer);

    if (sampleSize == 0) {
        // One sample per chunk: as many whole chunks as are asked for and fit.
        int64_t limit = buffer ? bufferSize : INT32_MAX;
        int64_t bytes = 0, n = 0;
        for (; n < want; ++n) {
            uint32_t size = table.Chunk(static_cast<size_t>(pos + n)).size;
            if (bytes + size > limit) break;
            bytes += size;
        }
        if (n == 0) {
            if (bytesRead)
                *bytesRead = static_cast<LONG>(
                    std::min<uint32_t>(table.Chunk(static_cast<size_t>(pos)).size, INT32_MAX));
            return buffer ? AVIERR_BUFFERTOOSMALL : AVIERR_OK;
        }
        if (buffer) {
            uint8_t* at = out;
            for (int64_t i = 0; i < n; ++i) {
                const ChunkEntry& e = table.Chunk(static_cast<size_t>(pos + i));
                if (!file->source->ReadAt(e.offset, at, e.size)) return AVIERR_FILEREAD;
                at += e.size;
            }
        }
        if (bytesRead) *bytesRead = static_cast<LONG>(bytes);
        if (samplesRead) *samplesRead = static_cast<LONG>(n);
        return AVIERR_OK;
    }

    // Fixed-size samples may span chunks.
    int64_t n = std::min<int64_t>(want, INT32_MAX / sampleSize);
    if (buffer) {
        n = std::min<int64_t>(n, bufferSize / sampleSize);
        if (n == 0) {
            if (bytesRead) *bytesRead = static_cast<LONG>(sampleSize);
            return AVIERR_BUFFERTOOSMALL;
        }
        uint8_t* at = out;
        int64_t done = 0;
        for (size_t chunk = table.ChunkOfSample(pos); done < n && chunk < table.ChunkCount();
             ++chunk) {
            int64_t within = pos + done - table.ChunkFirstSample(chunk);
            int64_t take = std::min(table.ChunkSamples(chunk) - within, n - done);
            if (take <= 0) continue;
            const ChunkEntry& e = table.Chunk(chunk);
            size_t count = static_cast<size_t>(take) * sampleSize;
            if (!file->source->ReadAt(e.offset + static_cast<uint64_t>(within) * sampleSize, at,
                                      count))
                return AVIERR_FILEREAD;
            at += count;
            done += take;
        }
    }
    if (bytesRead) *bytesRead = static_cast<LONG>(n * sampleSize);
    if (samplesRead) *samplesRead = static_cast<LONG>(n);
    return AVIERR_OK;
}

HRESULT AVIStreamWrite(PAVISTREAM stream, LONG start, LONG samples, const void* data, LONG bytes,
                       DWORD flags, LONG* samplesWritten, LONG* bytesWritten) {
    if (samplesWritten) *samplesWritten = 0;
    if (bytesWritten) *bytesWritten = 0;
    if (!stream) return AVIERR_BADHANDLE;
    if (!stream->file->writer) return AVIERR_READONLY;
    return stream->file->writer->Write(stream->index, start, samples, data, bytes, flags,
                                       samplesWritten, bytesWritten);
}

HRESULT AVIStreamReadData(PAVISTREAM stream, DWORD fcc, void* data, LONG* size) {
    if (!stream) return AVIERR_BADHANDLE;
    for (const auto& [id, bytes] : DataOf(stream).extra) {
        if (id == fcc) return CopyBlock(bytes, data, size);
    }
    if (size && !data) *size = 0;
    return AVIERR_NODATA;
}

std::vector<DWORD> AVIStreamDataIds(PAVISTREAM stream) {
    std::vector<DWORD> ids;
    if (!stream || stream->file->writer) return ids;
    for (const auto& [id, bytes] : DataOf(stream).extra) ids.push_back(id);
    return ids;
}

HRESULT AVIStreamWriteData(PAVISTREAM stream, DWORD fcc, const void* data, LONG size) {
    if (!stream) return AVIERR_BADHANDLE;
    if (!stream->file->writer) return AVIERR_READONLY;
    return stream->file->writer->SetData(stream->index, fcc, data, size);
}

LONG AVIStreamFindSample(PAVISTREAM stream, LONG pos, LONG flags) {
    if (!stream || stream->file->writer) return -1;
    const AviStreamData& data = DataOf(stream);
    const SampleTable& table = data.table;
    int64_t count = table.SampleCount();
    if (count == 0) return -1;
    int64_t first = data.info.dwStart;
    int64_t rel = int64_t{pos} - first;
    bool next = (flags & FIND_DIR) == FIND_NEXT;
    int64_t found;
    switch (flags & FIND_TYPE) {
        case FIND_ANY:
            found = next ? (rel >= count ? -1 : std::max<int64_t>(rel, 0))
                         : (rel < 0 ? -1 : std::min(rel, count - 1));
            break;
        case FIND_FORMAT:
            // One format, from the first sample on.
            found = next ? (rel <= 0 ? 0 : -1) : (rel >= 0 ? 0 : -1);
            break;
        default:
            found = next ? table.KeyAtOrAfter(rel) : table.KeyAtOrBefore(rel);
            break;
    }
    return found < 0 ? -1 : static_cast<LONG>(found + first);
}

LONG AVIStreamNearestKeyFrame(PAVISTREAM stream, LONG pos) {
    return AVIStreamFindSample(stream, pos, FIND_PREV | FIND_KEY);
}

int AVIStreamIsKeyFrame(PAVISTREAM stream, LONG pos) {
    return pos >= AVIStreamStart(stream) && AVIStreamNearestKeyFrame(stream, pos) == pos ? 1 : 0;
}

HRESULT AVIStreamSampleSize(PAVISTREAM stream, LONG pos, LONG* size) {
    return AVIStreamRead(stream, pos, 1, nullptr, 0, size, nullptr);
}

LONG AVIStreamChunkCount(PAVISTREAM stream) {
    if (!stream) return 0;
    return static_cast<LONG>(std::min<size_t>(DataOf(stream).table.ChunkCount(), INT32_MAX));
}

HRESULT AVIStreamChunkInfo(PAVISTREAM stream, LONG chunk, AVICHUNKINFO* info) {
    if (!stream) return AVIERR_BADHANDLE;
    if (!info || chunk < 0 || chunk >= AVIStreamChunkCount(stream)) return AVIERR_BADPARAM;
    const AviStreamData& data = DataOf(stream);
    const ChunkEntry& e = data.table.Chunk(static_cast<size_t>(chunk));
    info->offset = e.offset;
    info->size = e.size;
    info->flags = (e.flags & kChunkKey) ? AVIIF_KEYFRAME : 0;
    if (stream->file->writer) {
        info->firstSample = 0;
        info->samples = 0;
        return AVIERR_OK;
    }
    info->firstSample = static_cast<LONG>(data.info.dwStart +
                                          data.table.ChunkFirstSample(static_cast<size_t>(chunk)));
    info->samples = static_cast<LONG>(data.table.ChunkSamples(static_cast<size_t>(chunk)));
    return AVIERR_OK;
}
