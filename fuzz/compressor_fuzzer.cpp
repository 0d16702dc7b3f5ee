// Fuzz entry point for the compressor's reading: the input is the file handed to it, which it
// opens, plans, decodes and re-encodes (MJPEG or FFV1, the quick codecs) into a file in memory.
#include <cstddef>
#include <cstdint>
#include <string>

#include "avifile/decoder/frame_decoder.h"
#include "fuzz/fuzz_memory_file.h"
#include "vidcrunch/avi_compressor.h"
#include "vidcrunch/video_encoder.h"

namespace {

void DropLines(const std::string&) {}

}  // namespace

// One decoding and one encoding thread: starting a codec's threads for every input would
// cost more than the work, and the threaded paths are libavcodec's, not ours.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    AVIStreamGetFrameSetThreads(1);
    SetEncoderThreads(1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    MemoryFile input(data + 1, size - 1);
    MemoryFile output;
    if (!input.Valid() || !output.Valid()) return 0;
    CompressorOptions options;
    options.inputPath = input.Path();
    options.outputPath = output.Path();
    options.codec = (data[0] & 1) ? VideoCodec::Ffv1 : VideoCodec::Mjpeg;
    ProgressReporter progress;
    progress.write = DropLines;
    std::string error;
    CompressAvi(options, &progress, &error);
    return 0;
}
