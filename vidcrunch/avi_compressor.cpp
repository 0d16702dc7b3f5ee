#include "vidcrunch/avi_compressor.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "avi/header_chunks.h"
#include "avi/picture_shape.h"
#include "avifile/avi_file.h"
#include "avifile/decoder/frame_decoder.h"
#include "avifile/decoder/frame_prefetcher.h"
#include "avifile/video_properties.h"
#include "job/scratch_result.h"
#include "support/durable_files.h"
#include "support/file_helpers.h"
#include "support/path_parts.h"
#include "support/text_helpers.h"
#include "support/unicode_text.h"
#include "vidcrunch/video_encoder.h"

namespace {

// One source stream and what becomes of it in the output.
struct StreamPlan {
    LONG index = 0;
    PAVISTREAM source = nullptr;
    PAVISTREAM destination = nullptr;
    AVISTREAMINFOW info{};
    double secondsPerSample = 0;  // 0 when the header gives no rate: written at the start

    bool encode = false;
    PGETFRAME frames = nullptr;
    // Decodes the next frames on a thread of its own while the encoder works; null with one
    // thread, when frames are decoded as the encoder asks for them.
    std::unique_ptr<FramePrefetcher> ahead;
    VideoEncoder* encoder = nullptr;
    int width = 0;
    int height = 0;
    PixelAspect pixel;                             // the shape its pixels are shown at
    FieldOrder fields = FieldOrder::kProgressive;  // the woven fields its frames hold
    LONG start = 0;
    LONG length = 0;
    LONG sent = 0;     // frames handed to the encoder
    LONG written = 0;  // packets stored, one per frame
    bool endSent = false;

    LONG chunkCount = 0;
    LONG nextChunk = 0;
    AVICHUNKINFO chunk{};  // the chunk at nextChunk, when nextChunk < chunkCount
    std::vector<uint8_t> buffer;

    bool finished = false;
};

struct CompressionJob {
    PAVIFILE input = nullptr;
    PAVIFILE output = nullptr;
    std::vector<StreamPlan> streams;
    int64_t doneUnits = 0;
    int64_t totalUnits = 0;
    ProgressReporter* progress = nullptr;
    // Where a new output is written until it is whole; none when the output is written in place.
    ScratchResult scratch;
};

std::string StreamName(const StreamPlan& s) {
    return "stream " + std::to_string(s.index);
}

// The frame size the stream's header gives, for a message: " (W x H)", or nothing.
std::string FrameSizeNote(const StreamPlan& s) {
    const int64_t width = int64_t{s.info.rcFrame.right} - s.info.rcFrame.left;
    const int64_t height = int64_t{s.info.rcFrame.bottom} - s.info.rcFrame.top;
    if (width <= 0 || height <= 0) return {};
    return " (" + std::to_string(width) + " x " + std::to_string(height) + ")";
}

int LoadChunk(StreamPlan* s) {
    if (s->nextChunk >= s->chunkCount) {
        s->finished = true;
        return 1;
    }
    return AVIStreamChunkInfo(s->source, s->nextChunk, &s->chunk) == AVIERR_OK ? 1 : 0;
}

// The time at which the stream's next item starts, in seconds.
double NextTime(const StreamPlan& s) {
    double position = s.encode ? double(s.start) + s.written : double(s.chunk.firstSample);
    return position * s.secondsPerSample;
}

std::vector<uint8_t> ReadFormat(PAVISTREAM stream) {
    LONG size = 0;
    if (AVIStreamReadFormat(stream, 0, nullptr, &size) != AVIERR_OK || size <= 0) return {};
    std::vector<uint8_t> format(static_cast<size_t>(size));
    if (AVIStreamReadFormat(stream, 0, format.data(), &size) != AVIERR_OK) return {};
    format.resize(static_cast<size_t>(size));
    return format;
}

// Opens the decoder and the encoder for a video stream. 0 when the stream's format can't be
// decoded, which leaves the stream to be copied as it is.
int PrepareEncoding(StreamPlan* s, const CompressorOptions& options, std::string* error) {
    std::vector<uint8_t> format = ReadFormat(s->source);
    if (format.size() < sizeof(BITMAPINFOHEADER)) return 0;
    BITMAPINFOHEADER stored;
    std::memcpy(&stored, format.data(), sizeof stored);
    if (stored.biWidth <= 0 || stored.biHeight == 0 || stored.biHeight == INT32_MIN) return 0;
    BITMAPINFOHEADER wanted{};
    wanted.biSize = sizeof wanted;
    wanted.biWidth = stored.biWidth;
    wanted.biHeight = stored.biHeight < 0 ? -stored.biHeight : stored.biHeight;
    wanted.biPlanes = 1;
    wanted.biBitCount = 24;
    wanted.biCompression = BI_RGB;
    s->frames = AVIStreamGetFrameOpen(s->source, &wanted);
    if (!s->frames) return 0;
    s->width = wanted.biWidth;
    s->height = wanted.biHeight;

    VideoEncoderSettings settings;
    settings.codec = options.codec;
    settings.quality = options.quality;
    settings.preset = options.preset;
    settings.width = s->width;
    settings.height = s->height;
    settings.rate = s->info.dwRate;
    settings.scale = s->info.dwScale;
    s->pixel = SourcePixelAspect(s->source);
    settings.pixel = s->pixel;
    // Woven fields are kept where the input says it holds them (the converter says so where it
    // kept them).
    VideoProperties properties;
    if (ReadVideoProperties(s->source, &properties)) s->fields = properties.fields;
    settings.fields = s->fields;
    s->encoder = OpenVideoEncoder(settings, error);
    if (!s->encoder) {
        *error = StreamName(*s) + ": " + *error;
        return -1;
    }
    const std::string note = VideoEncoderNote(s->encoder);
    if (!note.empty())
        std::fprintf(stderr, "vidcrunch: %s: %s\n", StreamName(*s).c_str(), note.c_str());
    s->encode = true;
    s->start = AVIStreamStart(s->source);
    s->length = AVIStreamLength(s->source);
    if (s->length < 0) s->length = 0;
    if (options.threads != 1) {
        const int64_t frameBytes = int64_t{s->width} * 3 * s->height;
        s->ahead = std::make_unique<FramePrefetcher>(
            s->frames, s->start, int64_t{s->start} + s->length, FramesAheadFor(frameBytes));
    }
    return 1;
}

// The stream's next frame for the encoder, at `position`; null when it can't be decoded.
const uint8_t* NextFrame(StreamPlan* s, LONG position) {
    if (!s->ahead) return static_cast<const uint8_t*>(AVIStreamGetFrame(s->frames, position));
    int64_t at = 0;
    DecodedPicture frame;
    if (!s->ahead->Next(&at, &frame) || at != position) return nullptr;
    return static_cast<const uint8_t*>(frame.frame);
}

int CreateEncodedStream(CompressionJob* job, StreamPlan* s, std::string* error) {
    AVISTREAMINFOW info = s->info;
    info.fccHandler = VideoEncoderFourcc(s->encoder);
    info.dwSampleSize = 0;
    info.dwLength = 0;
    info.dwSuggestedBufferSize = 0;
    info.dwQuality = 0xFFFFFFFFu;  // the default quality: the encoder's own setting decides
    info.dwInitialFrames = 0;
    info.dwEditCount = 0;
    info.dwFormatChangeCount = 0;
    if (AVIFileCreateStreamW(job->output, &s->destination, &info) != AVIERR_OK) {
        *error = StreamName(*s) + ": the output stream could not be created";
        return 0;
    }
    // The codec data follows the header inside the format, padded to an even size as the
    // chunk needs; biSize counts it, as other AVI writers store it.
    std::vector<uint8_t> extradata = VideoEncoderExtradata(s->encoder);
    BITMAPINFOHEADER header{};
    header.biSize = static_cast<DWORD>(sizeof header + extradata.size());
    header.biWidth = s->width;
    header.biHeight = s->height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = info.fccHandler;
    header.biSizeImage = static_cast<DWORD>(uint64_t(s->width) * uint64_t(s->height) * 3);
    std::vector<uint8_t> format(sizeof header + extradata.size() + (extradata.size() & 1u), 0);
    std::memcpy(format.data(), &header, sizeof header);
    if (!extradata.empty())
        std::memcpy(format.data() + sizeof header, extradata.data(), extradata.size());
    if (AVIStreamSetFormat(s->destination, 0, format.data(), static_cast<LONG>(format.size())) !=
        AVIERR_OK) {
        *error = StreamName(*s) + ": the output format could not be set";
        return 0;
    }
    // Said in the file too, for every codec: not every player reads a codec's own word. The
    // frames hold their fields even where the codec codes them as progressive frames.
    StatePictureShape(s->destination, s->pixel, static_cast<uint32_t>(s->width),
                      static_cast<uint32_t>(s->height), s->fields, info.dwRate, info.dwScale);
    return 1;
}

int CreateCopiedStream(CompressionJob* job, StreamPlan* s, std::string* error) {
    AVISTREAMINFOW info = s->info;
    info.dwLength = 0;
    info.dwSuggestedBufferSize = 0;
    if (AVIFileCreateStreamW(job->output, &s->destination, &info) != AVIERR_OK) {
        *error = StreamName(*s) + ": the output stream could not be created";
        return 0;
    }
    std::vector<uint8_t> format = ReadFormat(s->source);
    if (!format.empty() && AVIStreamSetFormat(s->destination, 0, format.data(),
                                              static_cast<LONG>(format.size())) != AVIERR_OK) {
        *error = StreamName(*s) + ": the output format could not be set";
        return 0;
    }
    CopyHeaderChunks(s->source, s->destination);
    s->chunkCount = AVIStreamChunkCount(s->source);
    if (s->chunkCount < 0) s->chunkCount = 0;
    if (!LoadChunk(s)) {
        *error = StreamName(*s) + ": its index could not be read";
        return 0;
    }
    return 1;
}

int PrepareStreams(CompressionJob* job, const CompressorOptions& options, std::string* error) {
    AVIFILEINFOW fileInfo{};
    AVIFileInfoW(job->input, &fileInfo, sizeof fileInfo);
    for (LONG i = 0; i < static_cast<LONG>(fileInfo.dwStreams); ++i) {
        job->streams.emplace_back();
        StreamPlan* s = &job->streams.back();
        s->index = i;
        if (AVIFileGetStream(job->input, &s->source, 0, i) != AVIERR_OK ||
            AVIStreamInfoW(s->source, &s->info, sizeof s->info) != AVIERR_OK) {
            *error = StreamName(*s) + " of the input could not be read";
            return 0;
        }
        if (s->info.dwRate != 0 && s->info.dwScale != 0)
            s->secondsPerSample = double(s->info.dwScale) / double(s->info.dwRate);
        if (s->info.fccType == streamtypeVIDEO) {
            int prepared = PrepareEncoding(s, options, error);
            if (prepared < 0) return 0;
            // Copying it unchanged would give an output that is not compressed, and a caller
            // that asked for compression must not take that for success.
            if (prepared == 0) {
                *error = StreamName(*s) + ": its video can't be decoded" + FrameSizeNote(*s) +
                         ", so it can't be compressed";
                return 0;
            }
        }
    }
    // Every stream header goes in before the first chunk, so the writer lays out its headers once.
    for (StreamPlan& s : job->streams) {
        int ok =
            s.encode ? CreateEncodedStream(job, &s, error) : CreateCopiedStream(job, &s, error);
        if (!ok) return 0;
    }
    // Progress counts encoded frames; a file with nothing to encode counts copied chunks.
    for (const StreamPlan& s : job->streams)
        if (s.encode) job->totalUnits += s.length;
    if (job->totalUnits == 0)
        for (const StreamPlan& s : job->streams)
            if (!s.encode) job->totalUnits += s.chunkCount;
    return 1;
}

int WritePacket(StreamPlan* s, const EncodedPacket& packet, std::string* error) {
    if (s->written >= s->length) {
        *error = StreamName(*s) + ": the encoder gave more frames than it was given";
        return 0;
    }
    DWORD flags = packet.key ? AVIIF_KEYFRAME : 0;
    if (AVIStreamWrite(s->destination, s->start + s->written, 1, packet.data, packet.size, flags,
                       nullptr, nullptr) != AVIERR_OK) {
        *error = "writing the output failed (is the disk full?)";
        return 0;
    }
    ++s->written;
    return 1;
}

// One step of an encoded stream: store a finished packet, or feed the encoder a frame, or tell
// it the stream has ended, or find it has given everything.
int AdvanceEncoding(CompressionJob* job, StreamPlan* s, std::string* error) {
    EncodedPacket packet;
    int got = ReceiveVideoPacket(s->encoder, &packet, error);
    if (got < 0) {
        *error = StreamName(*s) + ": " + *error;
        return 0;
    }
    if (got > 0) return WritePacket(s, packet, error);
    if (s->sent < s->length) {
        LONG position = s->start + s->sent;
        const uint8_t* frame = NextFrame(s, position);
        if (!frame) {
            *error = StreamName(*s) + ": frame " + std::to_string(position) + " can't be decoded";
            return 0;
        }
        BITMAPINFOHEADER header;
        std::memcpy(&header, frame, sizeof header);
        if (header.biWidth != s->width || header.biHeight != s->height || header.biBitCount != 24) {
            *error = StreamName(*s) + ": frame " + std::to_string(position) +
                     " came in an unexpected format";
            return 0;
        }
        ptrdiff_t stride = (ptrdiff_t{s->width} * 3 + 3) & ~ptrdiff_t{3};
        if (!SendVideoFrame(s->encoder, frame + sizeof header, stride, error)) {
            *error = StreamName(*s) + ": " + *error;
            return 0;
        }
        ++s->sent;
        ++job->doneUnits;
        ReportProgress(job->progress, job->doneUnits, job->totalUnits);
        return 1;
    }
    if (!s->endSent) {
        s->endSent = true;
        if (!SendVideoFrame(s->encoder, nullptr, 0, error)) {
            *error = StreamName(*s) + ": " + *error;
            return 0;
        }
        return 1;
    }
    if (s->written != s->length) {
        *error = StreamName(*s) + ": the encoder gave " + std::to_string(s->written) +
                 " frames for " + std::to_string(s->length);
        return 0;
    }
    s->finished = true;
    return 1;
}

// Copies the stream's next chunk as it is: same samples, same bytes, same key flag.
int CopyChunk(CompressionJob* job, StreamPlan* s, std::string* error) {
    const AVICHUNKINFO& c = s->chunk;
    if (c.samples > 0) {
        size_t need = std::max<size_t>(1, c.size);
        if (s->buffer.size() < need) s->buffer.resize(need);
        LONG bytes = 0, samples = 0;
        HRESULT r = AVIStreamRead(s->source, c.firstSample, c.samples, s->buffer.data(),
                                  static_cast<LONG>(s->buffer.size()), &bytes, &samples);
        if (r != AVIERR_OK || samples != c.samples) {
            *error = StreamName(*s) + ": chunk " + std::to_string(s->nextChunk) + " can't be read";
            return 0;
        }
        if (AVIStreamWrite(s->destination, c.firstSample, samples, s->buffer.data(), bytes,
                           c.flags & AVIIF_KEYFRAME, nullptr, nullptr) != AVIERR_OK) {
            *error = "writing the output failed (is the disk full?)";
            return 0;
        }
    }
    ++s->nextChunk;
    if (!LoadChunk(s)) {
        *error = StreamName(*s) + ": its index could not be read";
        return 0;
    }
    bool countsChunks = true;
    for (const StreamPlan& other : job->streams) countsChunks = countsChunks && !other.encode;
    if (countsChunks) {
        ++job->doneUnits;
        ReportProgress(job->progress, job->doneUnits, job->totalUnits);
    }
    return 1;
}

// Writes the streams interleaved: each pass takes every stream up to the end of the second in
// which the earliest pending item starts, in stream order.
int WriteInterleaved(CompressionJob* job, std::string* error) {
    for (;;) {
        double earliest = std::numeric_limits<double>::infinity();
        for (const StreamPlan& s : job->streams)
            if (!s.finished) earliest = std::min(earliest, NextTime(s));
        if (earliest == std::numeric_limits<double>::infinity()) return 1;
        double until = std::floor(earliest) + 1.0;
        bool advanced = false;
        for (StreamPlan& s : job->streams) {
            while (!s.finished && NextTime(s) < until) {
                int ok = s.encode ? AdvanceEncoding(job, &s, error) : CopyChunk(job, &s, error);
                if (!ok) return 0;
                advanced = true;
            }
        }
        // Times beyond 2^53 seconds (a damaged rate or a huge start) have no whole second
        // after them: floor + 1 is the time itself and nothing would ever be taken. The
        // earliest stream then moves one item, so every pass makes progress.
        if (!advanced) {
            for (StreamPlan& s : job->streams) {
                if (s.finished || !(NextTime(s) <= earliest)) continue;
                if (!(s.encode ? AdvanceEncoding(job, &s, error) : CopyChunk(job, &s, error)))
                    return 0;
                break;
            }
        }
    }
}

// Releases everything; returns 1 when the output (if any) was completed and closed.
int ReleaseJob(CompressionJob* job) {
    for (StreamPlan& s : job->streams) {
        s.ahead.reset();  // its thread uses the decoder
        AVIStreamGetFrameClose(s.frames);
        CloseVideoEncoder(s.encoder);
        if (s.source) AVIStreamRelease(s.source);
        if (s.destination) AVIStreamRelease(s.destination);
        s.frames = nullptr;
        s.encoder = nullptr;
        s.source = s.destination = nullptr;
    }
    int closed = 1;
    if (job->output) {
        AVIFileRelease(job->output);
        closed = AVIFileLastCloseResult() == AVIERR_OK ? 1 : 0;
        job->output = nullptr;
    }
    if (job->input) AVIFileRelease(job->input);
    job->input = nullptr;
    return closed;
}

// Whether a file (or a folder, a device) is there to be opened under `path`: a link is
// followed, so a dangling one counts as nothing there. A missing file has the zero stamp.
bool Reachable(const std::u16string& path) {
    return !(StampOf(path) == FileStamp{});
}

int RunJob(CompressionJob* job, const CompressorOptions& options, bool* created,
           std::string* error) {
    std::u16string input = FromUtf8(options.inputPath);
    std::u16string output = FromUtf8(options.outputPath);
    // The file services take UTF-16 names: bytes that are not UTF-8 would come back as another
    // name, and the job would read, write or remove another file than the one named.
    for (const std::string* name : {&options.inputPath, &options.outputPath}) {
        if (!IsUtf8Text(*name)) {
            *error = "the file name " + QuotedName(*name) +
                     " is not UTF-8 text; rename the file to use it";
            return 0;
        }
    }
    if (!Reachable(input)) {
        *error = "the input file " + QuotedName(options.inputPath) + " does not exist";
        return 0;
    }
    if (NameSameFile(input, output)) {
        *error = "the output file names the input file; choose another output name";
        return 0;
    }
    // Only an ordinary file may be replaced: a failure removes what was written, and removing a
    // device or a folder's entry that was never ours would be a loss of its own.
    if (IsSpecialFile(output) != 0) {
        *error =
            "the output " + QuotedName(options.outputPath) + " exists and is not an ordinary file";
        return 0;
    }
    if (AVIFileOpenW(&job->input, input.c_str(), OF_READ, nullptr) != AVIERR_OK) {
        job->input = nullptr;
        *error = QuotedName(options.inputPath) + " can't be read as an AVI file";
        return 0;
    }
    ReportProgress(job->progress, 0, 1);
    // A new output appears only once it is whole: it is written under a scratch name beside it
    // and renamed at the end, so a killed or failed run never leaves half a file under the name
    // the caller waits for. An output that exists already is the caller's own file (a scratch
    // file it holds for us), and is written in place.
    if (!Reachable(output)) {
        if (!job->scratch.Create(FolderPartOf(output), true)) {
            *error = "the output file " + QuotedName(options.outputPath) +
                     " can't be created (does its folder exist, and may it be written?)";
            return 0;
        }
        output = job->scratch.Path();
    }
    if (AVIFileOpenW(&job->output, output.c_str(), OF_CREATE | OF_WRITE, nullptr) != AVIERR_OK) {
        job->output = nullptr;
        *error = "the output file " + QuotedName(options.outputPath) +
                 " can't be created (does its folder exist, and may it be written?)";
        return 0;
    }
    *created = true;
    if (!PrepareStreams(job, options, error)) return 0;
    return WriteInterleaved(job, error);
}

}  // namespace

int CompressAvi(const CompressorOptions& options, ProgressReporter* progress, std::string* error) {
    CompressionJob job;
    job.progress = progress;
    bool created = false;
    int ok = 0;
    try {
        ok = RunJob(&job, options, &created, error);
    } catch (const std::bad_alloc&) {
        *error = "out of memory";
        ok = 0;
    }
    int closed = ReleaseJob(&job);
    if (ok && !closed) *error = "the output file could not be completed (is the disk full?)";
    const std::u16string output = FromUtf8(options.outputPath);
    if (ok && closed) {
        // Whole and on the disk before the caller is told so.
        const bool inPlace = job.scratch.Path().empty();
        const ScratchResult::Placed placed =
            inPlace ? (FlushFileToDisk(output) != 0 ? ScratchResult::Placed::Done
                                                    : ScratchResult::Placed::Failed)
                    : job.scratch.PutInPlace(output, false);
        if (placed == ScratchResult::Placed::Done) {
            ReportFinished(progress);
            return 1;
        }
        *error = placed == ScratchResult::Placed::NameTaken
                     ? "the output " + QuotedName(options.outputPath) +
                           " appeared while compressing; it was left alone"
                     : "the output file could not be completed (is the disk full?)";
        return 0;  // the scratch file goes with the job
    }
    if (job.scratch.Path().empty() && created) RemoveFile(output);
    return 0;
}
