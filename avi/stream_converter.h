// The stream converter: writes every stream of an opened source file into a freshly created
// destination. Video is decoded, scaled to the destination's frame size and stored as
// uncompressed 24-bit frames; audio and other streams are copied as they are stored.
#pragma once

#include <cstdint>

#include "avi/avi_file_record.h"
#include "picture/field_order.h"

// Progress report for one stream: its type code, its index in the source, how far the work has
// got and the stream's length. The result is ignored.
using ProgressCallback = int32_t (*)(int32_t streamType, int32_t streamIndex, int32_t current,
                                     int32_t total);

// What the converter does with each kind of stream.
constexpr uint32_t OPTION_NO_VIDEO = 1;    // video streams are handled as other streams
constexpr uint32_t OPTION_NO_AUDIO = 2;    // audio streams are handled as other streams
constexpr uint32_t OPTION_NO_OTHER = 4;    // other streams are dropped
constexpr uint32_t OPTION_ANTI_ALIAS = 8;  // averaging stretch instead of whole pixels
// Left out altogether, whatever the bits above say (the command-line converter's --drop; the
// window never sets them).
constexpr uint32_t OPTION_DROP_VIDEO = 16;
constexpr uint32_t OPTION_DROP_AUDIO = 32;

// Converts `source` (opened by OpenSourceAvi) into `destination` (created by
// CreateDestinationAvi, with the target frame size in its fileInfo's dwWidth and dwHeight).
// `callback` may be null. Returns the number of video streams with frames of which the decoder
// delivered none (no decoder for the format, or every frame failed): such a stream is written
// without frames, and the caller should not pass the file off as converted. Frames that fail
// one by one are skipped. A target size that makes no frame (0, negative, too large) gives a
// stream without frames too, but is not counted: the decoder was never asked. The settings are
// the defaults.
int ConvertStreams(AviFileRecord& source, AviFileRecord& destination, uint32_t options,
                   ProgressCallback callback);

// Where the video's time went in one conversion, in seconds: in the decoder (on its own
// thread, when there is one), scaling, writing, and waiting for a decoded frame.
struct ConverterPhases {
    double decode = 0;
    double scale = 0;
    double write = 0;
    double wait = 0;
    int64_t frames = 0;
};

// Fixed-size streams (PCM audio and the like) are copied in pieces of about a second, and of
// at most this many bytes.
constexpr int64_t DEFAULT_COPY_PIECE_BYTES = 1 << 20;

// How one conversion works. Each job gives its own, so that two jobs in one process never
// change each other's output.
struct ConverterSettings {
    // Threads for video: 0 means one per processor core; with 2 or more the next frames are
    // decoded on a thread of their own while the current one is scaled and written, and large
    // frames are scaled in row bands by all of them; 1 does everything in the calling thread.
    // The frames, the callbacks and the file are the same in every case.
    int threads = 0;
    // The decoders' own threads (0: the codec chooses from the processor count); -1 takes
    // `threads`, so that 1 really is one thread.
    int decoderThreads = -1;
    // Whether pictures that decode to YUV planes are scaled as planes and converted at the
    // destination's size, or converted at the source's size and then scaled as rows. Keeping
    // whole pixels, both give the same bytes; averaging, they differ by rounding.
    bool scalePlanes = true;
    // The largest piece of a fixed-size stream; tests set a small one to see a stream cut into
    // many pieces.
    int64_t copyPieceBytes = DEFAULT_COPY_PIECE_BYTES;
    Deinterlace deinterlace = Deinterlace::kAuto;
};

// ConvertStreams with its own settings; `phases`, when given, learns where the time went.
int ConvertStreams(AviFileRecord& source, AviFileRecord& destination, uint32_t options,
                   ProgressCallback callback, const ConverterSettings& settings,
                   ConverterPhases* phases = nullptr);

// The video threads a count of ConverterSettings stands for: 0 resolved to the cores.
int ResolvedConverterThreads(int threads);

// One edge of a frame rectangle multiplied by a scale factor and rounded to the nearest
// integer, ties to even; a product that is not a number or does not fit gives INT32_MIN.
int32_t ScaleFrameEdge(int32_t edge, double factor);

// 1 when a 24-bit frame of this size (rows padded to 4 bytes) can be stored: both sides
// positive and the frame within what one sample's byte count (a LONG) can hold. Else 0.
int FrameFitsOneSample(int64_t width, int64_t height);

// The 24-bit bottom-up frame header for a frame rectangle. Sizes that do not fit (an inverted
// or overflowing rectangle, an image beyond what one sample can hold) give an image size of 0.
BITMAPINFOHEADER FrameHeaderFor(const RECT& frame, bool withImageSize);
