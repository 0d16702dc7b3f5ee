#include "avi/stream_converter.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <thread>

#include "avi/frame_scaler.h"
#include "avi/header_chunks.h"
#include "avi/picture_scaler.h"
#include "avi/picture_shape.h"
#include "avi/row_bands.h"
#include "avifile/decoder/frame_decoder.h"
#include "avifile/decoder/frame_prefetcher.h"

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

using Clock = std::chrono::steady_clock;
double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// One call of ConvertStreams: its settings and where its time went.
struct Conversion {
    const ConverterSettings& settings;
    ConverterPhases phases;
};

// Frames this large are scaled in row bands by all threads; for smaller ones the hand-over
// would cost more than it saves, and the decoding thread keeps the other cores busy anyway.
constexpr int64_t kBandedPixels = 1920 * 1080;

struct FrameScaling {
    DecodedPicture picture;
    uint8_t* output;
    const BITMAPINFOHEADER* from;
    const BITMAPINFOHEADER* to;
    int32_t antiAlias;
};
void ScaleRows(const FrameScaling& job, int32_t first, int32_t end) {
    if (job.picture.planes != nullptr) {
        const auto stride = static_cast<ptrdiff_t>(job.to->biSizeImage / job.to->biHeight);
        ScalePictureRows(*job.picture.planes, job.output, job.to->biWidth, job.to->biHeight, stride,
                         job.antiAlias != 0, first, end);
    } else {
        ScaleFrameRows(job.picture.rows, job.output, job.from, job.to, job.antiAlias, first, end);
    }
}
void ScaleBand(void* context, int band, int bands) {
    const auto* job = static_cast<const FrameScaling*>(context);
    const RowRange rows = BandRows(job->to->biHeight, band, bands);
    ScaleRows(*job, rows.first, rows.end);
}

// Scales one delivered frame and stores it as the sample at `position`.
void StoreFrame(Conversion& run, const DecodedPicture& picture, uint8_t* frame, LONG position,
                const StreamSlot& destination, const BITMAPINFOHEADER& from,
                const BITMAPINFOHEADER& to, int32_t antiAlias, RowBands* bands) {
    ConverterPhases& phases = run.phases;
    const auto scaled = Clock::now();
    FrameScaling job{picture, frame, &from, &to, antiAlias};
    // At an unchanged size the scaler copies the pixels as they are and zeroes the row padding;
    // rows without padding are then the decoded frame itself, which is written from where the
    // decoder left it instead of being copied first.
    if (picture.rows != nullptr && from.biWidth == to.biWidth && from.biHeight == to.biHeight &&
        to.biWidth % 4 == 0) {
        phases.scale += SecondsSince(scaled);
        const auto written = Clock::now();
        AVIStreamWrite(destination.streamHandle, position, 1, picture.rows,
                       static_cast<LONG>(to.biSizeImage), 0, nullptr, nullptr);
        phases.write += SecondsSince(written);
        ++phases.frames;
        return;
    }
    if (bands != nullptr) {
        bands->Run(ScaleBand, &job);
    } else {
        ScaleRows(job, 0, to.biHeight);
    }
    const auto written = Clock::now();
    phases.scale += std::chrono::duration<double>(written - scaled).count();
    AVIStreamWrite(destination.streamHandle, position, 1, frame, static_cast<LONG>(to.biSizeImage),
                   0, nullptr, nullptr);
    phases.write += SecondsSince(written);
    ++phases.frames;
}

// Gives the number of frames the decoder delivered, or -1 when the target size makes no frame
// (then the decoder is not asked at all).
int64_t ConvertVideoStream(Conversion& run, const StreamSlot& source, StreamSlot& destination,
                           PAVIFILE file, int32_t index, int32_t start, int32_t length,
                           int32_t antiAlias, ProgressCallback callback) {
    ConverterPhases& phases = run.phases;
    Report(callback, source, index, 0, length);
    AVIFileCreateStreamW(file, &destination.streamHandle, &destination.streamInfo);

    const BITMAPINFOHEADER sourceHeader = FrameHeaderFor(source.streamInfo.rcFrame, false);
    PGETFRAME decoder = AVIStreamGetFrameOpen(
        source.streamHandle, &sourceHeader,
        run.settings.decoderThreads >= 0 ? run.settings.decoderThreads : run.settings.threads);
    if (decoder != nullptr && run.settings.scalePlanes) AVIStreamGetFrameSetPlanar(decoder, 1);

    BITMAPINFOHEADER destinationHeader = FrameHeaderFor(destination.streamInfo.rcFrame, true);
    if (decoder != nullptr && run.settings.deinterlace != Deinterlace::kOff) {
        // Only a change of height mixes the two fields' lines; at the same height they are
        // kept apart, and only found out, so that the destination can say what it holds.
        const bool heightChanges = sourceHeader.biHeight != destinationHeader.biHeight;
        AVIStreamGetFrameSetFields(decoder, run.settings.deinterlace == Deinterlace::kOn
                                                ? Deinterlacing::kAlways
                                            : heightChanges ? Deinterlacing::kAuto
                                                            : Deinterlacing::kDetect);
    }
    AVIStreamSetFormat(destination.streamHandle, 0, &destinationHeader, sizeof destinationHeader);

    int64_t delivered = -1;
    PixelAspect codecAspect;                           // the first delivered picture's
    FieldOrder keptFields = FieldOrder::kProgressive;  // of the first combed frame kept so
    auto take = [&](const DecodedPicture& picture, int64_t j) {
        if (delivered++ == 0) codecAspect = picture.facts.aspect;
        if (keptFields == FieldOrder::kProgressive) keptFields = picture.facts.fields;
        Report(callback, source, index, static_cast<int32_t>(j - start), length);
    };
    if (Block frame = TakeBlock(destinationHeader.biSizeImage)) {
        delivered = 0;
        const PositionRange positions = PositionsOf(start, length);
        const int threads = ResolvedConverterThreads(run.settings.threads);
        if (threads <= 1 || decoder == nullptr) {
            // One thread: decode, scale and write each frame in turn.
            for (int64_t j = positions.first; j < positions.end; ++j) {
                const auto position = static_cast<LONG>(j);
                const auto decoded = Clock::now();
                const DecodedPicture picture = AVIStreamGetPicture(decoder, position);
                phases.decode += SecondsSince(decoded);
                if (picture.Empty()) continue;
                take(picture, j);
                StoreFrame(run, picture, frame.get(), position, destination, sourceHeader,
                           destinationHeader, antiAlias, nullptr);
            }
        } else {
            // The next frames are decoded on a thread of their own while this one scales and
            // writes; frames, callbacks and file come out as with one thread.
            const int64_t sourcePixels = int64_t{sourceHeader.biWidth} * sourceHeader.biHeight;
            const int64_t sourceBytes = int64_t{sourceHeader.biWidth} * 3 * sourceHeader.biHeight;
            std::optional<RowBands> bands;
            if (sourcePixels >= kBandedPixels ||
                int64_t{destinationHeader.biWidth} * destinationHeader.biHeight >= kBandedPixels)
                bands.emplace(threads);
            FramePrefetcher frames(decoder, positions.first, positions.end,
                                   FramesAheadFor(sourceBytes));
            int64_t j = 0;
            DecodedPicture picture;
            while (frames.Next(&j, &picture)) {
                if (picture.Empty()) continue;
                take(picture, j);
                StoreFrame(run, picture, frame.get(), static_cast<LONG>(j), destination,
                           sourceHeader, destinationHeader, antiAlias, bands ? &*bands : nullptr);
            }
            phases.decode += frames.DecodeSeconds();
            phases.wait += frames.WaitSeconds();
        }
    }
    if (decoder != nullptr) AVIStreamGetFrameClose(decoder);
    // The pictures are stretched to the new size; the destination says how its pixels are
    // shaped so that they are shown at the source's shape, as the source's would be, and that
    // its frames hold two fields where combed frames were kept so. (A stream without frames
    // has no pictures to shape, and a source frame of no size no shape.)
    if (delivered > 0 && sourceHeader.biWidth > 0 && sourceHeader.biHeight > 0) {
        const PixelAspect shown =
            ShownPixelAspect(HeaderPixelAspect(source.streamHandle), codecAspect);
        StatePictureShape(destination.streamHandle,
                          StretchedPixelAspect(shown, static_cast<uint32_t>(sourceHeader.biWidth),
                                               static_cast<uint32_t>(sourceHeader.biHeight),
                                               static_cast<uint32_t>(destinationHeader.biWidth),
                                               static_cast<uint32_t>(destinationHeader.biHeight)),
                          static_cast<uint32_t>(destinationHeader.biWidth),
                          static_cast<uint32_t>(destinationHeader.biHeight), keptFields,
                          destination.streamInfo.dwRate, destination.streamInfo.dwScale);
    }
    Report(callback, source, index, length, length);
    return delivered;
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

// Samples per piece of a fixed-size stream: about a second of it, within the byte limit.
// With the default limit a piece is exactly one chunk as the writer cuts them, so the copy
// has the layout one write of the whole stream would give.
int64_t SamplesPerPiece(const AVISTREAMINFOW& info, int64_t copyPieceLimit) {
    if (copyPieceLimit <= 0) copyPieceLimit = DEFAULT_COPY_PIECE_BYTES;
    const int64_t perSecond = info.dwScale != 0 ? info.dwRate / info.dwScale : 0;
    const int64_t cap = std::max<int64_t>(1, copyPieceLimit / info.dwSampleSize);
    return perSecond == 0 ? cap : std::clamp<int64_t>(perSecond, 1, cap);
}

// Copies a stream of fixed-size samples (PCM and the like) a piece at a time, so that memory
// stays bounded and a stream of more than 2 GiB arrives whole: one read of it all would have
// to fit its byte count into a LONG.
void CopyInPieces(const Conversion& run, const StreamSlot& source, StreamSlot& destination,
                  int32_t start, int32_t length) {
    const int64_t piece = SamplesPerPiece(source.streamInfo, run.settings.copyPieceBytes);
    Block data;
    LONG capacity = 0;
    const PositionRange positions = PositionsOf(start, length);
    for (int64_t at = positions.first; at < positions.end;) {
        const auto position = static_cast<LONG>(at);
        const auto count = static_cast<LONG>(std::min(piece, positions.end - at));
        // Asked first, the reader gives the bytes it holds for the piece: never more than the
        // file stores, whatever sample size a damaged header claims.
        LONG bytes = 0;
        if (AVIStreamRead(source.streamHandle, position, count, nullptr, 0, &bytes, nullptr) !=
                AVIERR_OK ||
            bytes <= 0)
            return;  // the stream stores no more than this
        if (bytes > capacity) {
            data = TakeBlock(bytes);
            capacity = data ? bytes : 0;
            if (!data) return;
        }
        LONG read = 0, samples = 0;
        if (AVIStreamRead(source.streamHandle, position, count, data.get(), capacity, &read,
                          &samples) != AVIERR_OK ||
            samples <= 0)
            return;
        if (AVIStreamWrite(destination.streamHandle, position, samples, data.get(), read,
                           AVIIF_KEYFRAME, nullptr, nullptr) != AVIERR_OK)
            return;
        at += samples;
    }
}

// Copies the stored samples of a stream: fixed-size samples in pieces, streams of one sample
// per chunk sample by sample.
void CopyRawSamples(const Conversion& run, const StreamSlot& source, StreamSlot& destination,
                    int32_t start, int32_t length) {
    if (source.streamInfo.dwSampleSize == 0) {
        CopySampleBySample(source, destination, start, length);
        return;
    }
    CopyInPieces(run, source, destination, start, length);
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

void ConvertAudioStream(const Conversion& run, const StreamSlot& source, StreamSlot& destination,
                        PAVIFILE file, int32_t index, int32_t start, int32_t length,
                        ProgressCallback callback) {
    Report(callback, source, index, 0, length);
    LONG formatSize = 0;
    if (AVIStreamReadFormat(source.streamHandle, start, nullptr, &formatSize) == AVIERR_OK) {
        if (Block format = TakeBlock(formatSize)) {
            if (AVIStreamReadFormat(source.streamHandle, 0, format.get(), &formatSize) ==
                AVIERR_OK) {
                AVIFileCreateStreamW(file, &destination.streamHandle, &destination.streamInfo);
                AVIStreamSetFormat(destination.streamHandle, 0, format.get(), formatSize);
                CopyHeaderChunks(source.streamHandle, destination.streamHandle);
                CopyRawSamples(run, source, destination, start, length);
            }
        }
    }
    Report(callback, source, index, length, length);
}

void ConvertOtherStream(const Conversion& run, const StreamSlot& source, StreamSlot& destination,
                        PAVIFILE file, int32_t index, int32_t start, int32_t length,
                        uint32_t options, ProgressCallback callback) {
    if (options & OPTION_NO_OTHER) return;
    Report(callback, source, index, 0, length);
    AVIFileCreateStreamW(file, &destination.streamHandle, &destination.streamInfo);
    CopyFormat(source, destination);
    CopyHeaderChunks(source.streamHandle, destination.streamHandle);
    CopyRawSamples(run, source, destination, start, length);
    Report(callback, source, index, length, length);
}

double ScaleFactor(DWORD target, DWORD original) {
    return static_cast<double>(static_cast<int32_t>(target)) /
           static_cast<double>(static_cast<int32_t>(original));
}

}  // namespace

int ResolvedConverterThreads(int threads) {
    if (threads > 0) return threads;
    const unsigned cores = std::thread::hardware_concurrency();
    return cores > 0 ? static_cast<int>(std::min(cores, 64u)) : 1;
}

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
    if (withImageSize && FrameFitsOneSample(width, height) != 0)
        header.biSizeImage = static_cast<DWORD>((width * 3 + 3) / 4 * 4 * height);
    return header;
}

int FrameFitsOneSample(int64_t width, int64_t height) {
    if (width <= 0 || height <= 0 || width > std::numeric_limits<int32_t>::max()) return 0;
    const int64_t rowSize = (width * 3 + 3) / 4 * 4;  // at most about 2^33
    // One frame is one sample, whose byte count the library holds in a LONG; testing the
    // height first keeps the product itself from overflowing.
    return height <= std::numeric_limits<LONG>::max() / rowSize ? 1 : 0;
}

int ConvertStreams(AviFileRecord& source, AviFileRecord& destination, uint32_t options,
                   ProgressCallback callback) {
    return ConvertStreams(source, destination, options, callback, ConverterSettings{});
}

int ConvertStreams(AviFileRecord& source, AviFileRecord& destination, uint32_t options,
                   ProgressCallback callback, const ConverterSettings& settings,
                   ConverterPhases* phases) {
    Conversion run{settings, {}};
    const int32_t antiAlias = static_cast<int32_t>(options & OPTION_ANTI_ALIAS);
    destination.fileInfo.dwStreams = source.fileInfo.dwStreams;
    const double horizontal = ScaleFactor(destination.fileInfo.dwWidth, source.fileInfo.dwWidth);
    const double vertical = ScaleFactor(destination.fileInfo.dwHeight, source.fileInfo.dwHeight);

    int undecodable = 0;
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
            if (ConvertVideoStream(run, from, to, destination.fileHandle, i, start, length,
                                   antiAlias, callback) == 0 &&
                length > 0)
                ++undecodable;
        } else if (type == streamtypeAUDIO && !(options & OPTION_NO_AUDIO)) {
            ConvertAudioStream(run, from, to, destination.fileHandle, i, start, length, callback);
        } else {
            ConvertOtherStream(run, from, to, destination.fileHandle, i, start, length, options,
                               callback);
        }
    }
    if (phases != nullptr) *phases = run.phases;
    return undecodable;
}
