// The compressor's command line: two file names and optional switches, read into one record,
// and the usage text that /? prints.
#pragma once

#include <string>
#include <vector>

enum class VideoCodec { H264, Mpeg4, Mjpeg, Ffv1 };

struct CompressorOptions {
    std::string inputPath;  // UTF-8, as the arguments arrive
    std::string outputPath;
    VideoCodec codec = VideoCodec::H264;
    int quality = -1;  // -1: the codec's default (CodecDefaultQuality)
    std::string preset = "medium";
    // Threads for decoding and encoding: 0 lets the libraries use every core; 1 does all the
    // work in one thread, with no frame decoded ahead.
    int threads = 0;
    bool console = false;
    bool helpWanted = false;
};

// The quality used when /quality is not given: x264's constant rate factor for H.264, the
// quantiser for MPEG-4 and MJPEG, 0 for FFV1 (always lossless).
int CodecDefaultQuality(VideoCodec codec);

// Reads the arguments after the program name. Returns 1 and fills `options` on success (also
// when help is asked for, which sets helpWanted and needs no file names), 0 with a message in
// `error` otherwise. Switches start with '/' and are recognised by name, ignoring case; any
// other argument, including a path starting with '/', is a file name.
int ParseCompressorArguments(const std::vector<std::string>& arguments, CompressorOptions* options,
                             std::string* error);

// The plain-text usage, ending in a newline.
std::string CompressorUsage();
