// Fuzz entry point for the compressor's reading: the input is the file handed to it, which it
// opens, plans, decodes and re-encodes (MJPEG or FFV1, the quick codecs) into a file in memory.
#include <cstddef>
#include <cstdint>
#include <string>

#include "avifile/avi_file.h"
#include "avifile/decoder/frame_decoder.h"
#include "fuzz/fuzz_memory_file.h"
#include "vidcrunch/avi_compressor.h"
#include "vidcrunch/video_encoder.h"

namespace {

void DropLines(const std::string&) {}

// Frames of more than 1024 x 1024 pixels are left out: a file of a few 4096 x 4096 frames is
// seconds of honest scaling and encoding under the sanitizers, which says nothing about the
// reading and only trips the timeout. The decoder's target takes such frames.
bool FramesAreSmall(const uint8_t* data, size_t size) {
    PAVIFILE file = nullptr;
    if (AVIFileOpenFromMemory(&file, data, size) != AVIERR_OK) return true;  // refused anyway
    AVIFILEINFOW info{};
    AVIFileInfoW(file, &info, sizeof info);
    bool small = true;
    for (DWORD i = 0; i < info.dwStreams && small; ++i) {
        PAVISTREAM stream = nullptr;
        if (AVIFileGetStream(file, &stream, 0, static_cast<LONG>(i)) != AVIERR_OK) continue;
        AVISTREAMINFOW header{};
        AVIStreamInfoW(stream, &header, sizeof header);
        BITMAPINFOHEADER format{};
        LONG formatSize = sizeof format;
        if (header.fccType == streamtypeVIDEO &&
            AVIStreamReadFormat(stream, 0, &format, &formatSize) == AVIERR_OK)
            small = int64_t{format.biWidth} * format.biHeight <= 1024 * 1024 &&
                    int64_t{format.biWidth} * format.biHeight >= -1024 * 1024;
        AVIStreamRelease(stream);
    }
    AVIFileRelease(file);
    return small;
}

}  // namespace

// One decoding and one encoding thread: starting a codec's threads for every input would
// cost more than the work, and the threaded paths are libavcodec's, not ours.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    AVIStreamGetFrameSetThreads(1);
    SetEncoderThreads(1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || !FramesAreSmall(data + 1, size - 1)) return 0;
    MemoryFile input(data + 1, size - 1);
    MemoryFile output;
    if (!input.Valid() || !output.Valid()) return 0;
    CompressorOptions options;
    options.inputPath = input.Path();
    options.outputPath = output.Path();
    options.codec = (data[0] & 1) ? VideoCodec::Ffv1 : VideoCodec::Mjpeg;
    options.threads = (data[0] & 2) ? 2 : 1;  // 2: frames decoded ahead on a thread of their own
    ProgressReporter progress;
    progress.write = DropLines;
    std::string error;
    CompressAvi(options, &progress, &error);
    return 0;
}
