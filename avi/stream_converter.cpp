#include "avi/stream_converter.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

#include "avi/frame_scaler.h"
#include "avifile/decoder/frame_decoder.h"

namespace {

// Zero-filled blocks for frames, formats and stream data. A size of 0 or less, or one that
// can't be had, gives no block; the work that needed it is then skipped.
struct BlockDeleter {
    void operator()(uint8_t* block) const { std::free(block); }
};
using Block = std::unique_ptr<uint8_t, BlockDeleter>;

Block TakeBlock(int64_t size) {
    if (size <= 0 || static_cast<uint64_t>(size) > std::numeric_limits<size_t>::max()) return {};
    return Block(static_cast<uint8_t*>(std::calloc(static_cast<size_t>(size), 1)));
}

void Report(ProgressCallback callback, const StreamSlot& slot, int32_t index, int32_t current,
            int32_t total) {
    if (callback != nullptr)
        callback(static_cast<int32_t>(slot.streamInfo.fccType), index, current, total);
}

// The positions start .. start + length - 1, counted in 64 bits so a huge start can't wrap.
struct PositionRange {
    int64_t first;
    int64_t end;
};
PositionRange PositionsOf(int32_t start, int32_t length) {
    return {start, static_cast<int64_t>(start) + (length > 0 ? length : 0)};
}

void ConvertVideoStream(const StreamSlot& source, StreamSlot& destination, PAVIFILE file,
                        int32_t index, int32_t start, int32_t length, int32_t antiAlias,
                        ProgressCallback callback) {
    Report(callback, source, index, 0, length);
    AVIFileCreateStreamW(file, &destination.streamHandle, &destination.streamInfo);

    const BITMAPINFOHEADER sourceHeader = FrameHeaderFor(source.streamInfo.rcFrame, false);
    PGETFRAME decoder = AVIStreamGetFrameOpen(source.streamHandle, &sourceHeader);

    BITMAPINFOHEADER destinationHeader = FrameHeaderFor(destination.streamInfo.rcFrame, true);
    AVIStreamSetFormat(destination.streamHandle, 0, &destinationHeader, sizeof destinationHeader);

    if (Block frame = TakeBlock(destinationHeader.biSizeImage)) {
        const PositionRange positions = PositionsOf(start, length);
        for (int64_t j = positions.first; j < positions.end; ++j) {
            const auto position = static_cast<LONG>(j);
            const auto* delivered =
                static_cast<const uint8_t*>(AVIStreamGetFrame(decoder, position));
            if (delivered == nullptr) continue;
            Report(callback, source, index, static_cast<int32_t>(j - start), length);
            ScaleFrame(delivered + sizeof(BITMAPINFOHEADER), frame.get(), &sourceHeader,
                       &destinationHeader, antiAlias);
            AVIStreamWrite(destination.streamHandle, position, 1, frame.get(),
                           static_cast<LONG>(destinationHeader.biSizeImage), 0, nullptr,
                           nullptr);
        }
    }
    if (decoder != nullptr) AVIStreamGetFrameClose(decoder);
    Report(callback, source, index, length, length);
}

// Copies a stream that holds one sample per chunk sample by sample, so that every sample keeps
// its own size, position and key-frame flag. Reading such a stream in one block would merge all
// of its samples into a single chunk.
void CopySampleBySample(const StreamSlot& source, StreamSlot& destination, int32_t start,
                        int32_t length) {
    std::unique_ptr<uint8_t[]> buffer;
    LONG capacity = 0;
    const PositionRange positions = PositionsOf(start, length);
    for (int64_t j = positions.first; j < positions.end; ++j) {
        const auto position = static_cast<LONG>(j);
        LONG bytes = 0;
        if (AVIStreamRead(source.streamHandle, position, 1, nullptr, 0, &bytes, nullptr) !=
                AVIERR_OK ||
            bytes < 0)
            continue;
        if (bytes > capacity) {
            buffer.reset(new (std::nothrow) uint8_t[static_cast<size_t>(bytes)]);
            capacity = buffer ? bytes : 0;
            if (!buffer) continue;
        }
        LONG read = 0;
        if (bytes > 0 && AVIStreamRead(source.streamHandle, position, 1, buffer.get(), capacity,
                                       &read, nullptr) != AVIERR_OK)
            continue;
        const DWORD flags = AVIStreamIsKeyFrame(source.streamHandle, position) ? AVIIF_KEYFRAME : 0;
        AVIStreamWrite(destination.streamHandle, position, 1, buffer.get(), read, flags, nullptr,
                       nullptr);
    }
}

// Copies the stored samples of a stream. Fixed-size samples (PCM and the like) go in one read
// and one write; streams of one sample per chunk are copied sample by sample.
void CopyRawSamples(const StreamSlot& source, StreamSlot& destination, int32_t start,
                    int32_t length) {
    if (source.streamInfo.dwSampleSize == 0) {
        CopySampleBySample(source, destination, start, length);
        return;
    }
    LONG bytes = 0;
    if (AVIStreamRead(source.streamHandle, 0, length, nullptr, 0, &bytes, nullptr) != AVIERR_OK)
        return;
    Block data = TakeBlock(bytes);
    if (!data) return;
    LONG read = 0;
    if (AVIStreamRead(source.streamHandle, 0, length, data.get(), bytes, &read, nullptr) !=
        AVIERR_OK)
        return;
    AVIStreamWrite(destination.streamHandle, 0, length, data.get(), read, AVIIF_KEYFRAME, nullptr,
                   nullptr);
}

// A copied stream keeps its format when it has one: without it a copied video or audio stream
// (or subtitles) could not be decoded by anything.
void CopyFormat(const StreamSlot& source, StreamSlot& destination) {
    LONG size = 0;
    if (AVIStreamReadFormat(source.streamHandle, 0, nullptr, &size) != AVIERR_OK) return;
    Block format = TakeBlock(size);
    if (!format) return;
    if (AVIStreamReadFormat(source.streamHandle, 0, format.get(), &size) != AVIERR_OK) return;
    AVIStreamSetFormat(destination.streamHandle, 0, format.get(), size);
}

void ConvertAudioStream(const StreamSlot& source, StreamSlot& destination, PAVIFILE file,
                        int32_t index, int32_t start, int32_t length, ProgressCallback callback) {
    Report(callback, source, index, 0, length);
    LONG formatSize = 0;
    if (AVIStreamReadFormat(source.streamHandle, start, nullptr, &formatSize) == AVIERR_OK) {
        if (Block format = TakeBlock(formatSize)) {
            if (AVIStreamReadFormat(source.streamHandle, 0, format.get(), &formatSize) ==
                AVIERR_OK) {
                AVIFileCreateStreamW(file, &destination.streamHandle, &destination.streamInfo);
                AVIStreamSetFormat(destination.streamHandle, 0, format.get(), formatSize);
                CopyRawSamples(source, destination, start, length);
            }
        }
    }
    Report(callback, source, index, length, length);
}

void ConvertOtherStream(const StreamSlot& source, StreamSlot& destination, PAVIFILE file,
                        int32_t index, int32_t start, int32_t length, uint32_t options,
                        ProgressCallback callback) {
    if (options & OPTION_NO_OTHER) return;
    Report(callback, source, index, 0, length);
    AVIFileCreateStreamW(file, &destination.streamHandle, &destination.streamInfo);
    CopyFormat(source, destination);
    CopyRawSamples(source, destination, start, length);
    Report(callback, source, index, length, length);
}

double ScaleFactor(DWORD target, DWORD original) {
    return static_cast<double>(static_cast<int32_t>(target)) /
           static_cast<double>(static_cast<int32_t>(original));
}

}  // namespace

int32_t ScaleFrameEdge(int32_t edge, double factor) {
    // nearbyint rounds in the current mode, which is to nearest with ties to even.
    const double rounded = std::nearbyint(static_cast<double>(edge) * factor);
    if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0))
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(rounded);
}

BITMAPINFOHEADER FrameHeaderFor(const RECT& frame, bool withImageSize) {
    BITMAPINFOHEADER header{};
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    // Edges of INT32_MIN (a factor that was not finite) must not overflow the subtraction.
    const int64_t width = static_cast<int64_t>(frame.right) - frame.left;
    const int64_t height = static_cast<int64_t>(frame.bottom) - frame.top;
    const bool fits = width >= std::numeric_limits<int32_t>::min() &&
                      width <= std::numeric_limits<int32_t>::max() &&
                      height >= std::numeric_limits<int32_t>::min() &&
                      height <= std::numeric_limits<int32_t>::max();
    if (!fits) return header;  // 0 x 0: no frame can be made
    header.biWidth = static_cast<int32_t>(width);
    header.biHeight = static_cast<int32_t>(height);
    if (withImageSize && width > 0 && height > 0) {
        const int64_t rowSize = (width * 3 + 3) / 4 * 4;  // at most about 2^33
        // One frame is one sample, whose byte count the library holds in a LONG; testing the
        // height first keeps the product itself from overflowing.
        const int64_t limit = std::numeric_limits<LONG>::max();
        if (height <= limit / rowSize) header.biSizeImage = static_cast<DWORD>(rowSize * height);
    }
    return header;
}

int ConvertStreams(AviFileRecord& source, AviFileRecord& destination, uint32_t options,
                   ProgressCallback callback) {
    const int32_t antiAlias = static_cast<int32_t>(options & OPTION_ANTI_ALIAS);
    destination.fileInfo.dwStreams = source.fileInfo.dwStreams;
    const double horizontal = ScaleFactor(destination.fileInfo.dwWidth, source.fileInfo.dwWidth);
    const double vertical = ScaleFactor(destination.fileInfo.dwHeight, source.fileInfo.dwHeight);

    auto streams = static_cast<int32_t>(source.fileInfo.dwStreams);
    if (streams > STREAM_SLOT_COUNT) streams = STREAM_SLOT_COUNT;  // OpenSourceAvi refuses more
    for (int32_t i = 0; i < streams; ++i) {
        const StreamSlot& from = source.slots[i];
        StreamSlot& to = destination.slots[i];
        to.streamHandle = nullptr;
        const LONG start = AVIStreamStart(from.streamHandle);
        const LONG length = AVIStreamLength(from.streamHandle);

        std::memcpy(&to.streamInfo, &from.streamInfo, sizeof(AVISTREAMINFOW));
        RECT& frame = to.streamInfo.rcFrame;
        frame.left = ScaleFrameEdge(frame.left, horizontal);
        frame.right = ScaleFrameEdge(frame.right, horizontal);
        frame.top = ScaleFrameEdge(frame.top, vertical);
        frame.bottom = ScaleFrameEdge(frame.bottom, vertical);

        const DWORD type = from.streamInfo.fccType;
        if ((type == streamtypeVIDEO && (options & OPTION_DROP_VIDEO)) ||
            (type == streamtypeAUDIO && (options & OPTION_DROP_AUDIO)))
            continue;
        if (type == streamtypeVIDEO && !(options & OPTION_NO_VIDEO)) {
            ConvertVideoStream(from, to, destination.fileHandle, i, start, length, antiAlias,
                               callback);
        } else if (type == streamtypeAUDIO && !(options & OPTION_NO_AUDIO)) {
            ConvertAudioStream(from, to, destination.fileHandle, i, start, length, callback);
        } else {
            ConvertOtherStream(from, to, destination.fileHandle, i, start, length, options,
                               callback);
        }
    }
    return 0;
}
