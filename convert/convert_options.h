// reframe-convert's command line: what to convert, how, and how to report it, read from
// the arguments into one record, with a clear message for every mistake.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A side of the new frame size: a number of pixels, or one of the aspect-keeping values.
constexpr int32_t SIZE_KEEP_ASPECT = -1;       // from the other side and the source's shape
constexpr int32_t SIZE_KEEP_ASPECT_EVEN = -2;  // the same, rounded to an even number
constexpr int32_t SIZE_LARGEST = 32767;        // what an AVI stream header can hold

enum class ProgressStyle { Auto, Bar, Json, None };

struct ConvertOptions {
    std::vector<std::string> sources;
    std::string destination;   // with one source and no output folder
    std::string outputFolder;  // -o DIR
    bool sizeGiven = false;
    int32_t width = 0, height = 0;  // pixels, or SIZE_KEEP_ASPECT(_EVEN)
    bool average = false;
    bool dropVideo = false, dropAudio = false, dropOther = false;
    bool compress = false;
    std::string codec = "h264";
    int32_t quality = -1;  // -1: the compressor's own default
    bool overwrite = false;
    int32_t jobs = 0;     // 0: one per core
    int32_t threads = 0;  // per conversion and its compressor; 0: one per core
    ProgressStyle progress = ProgressStyle::Auto;
    bool helpWanted = false, versionWanted = false;
};

// Reads the arguments after the program name. 1 on success, 0 with the reason in `error`.
int ParseConvertArguments(const std::vector<std::string>& arguments, ConvertOptions* options,
                          std::string* error);

// Reads "WxH": each side a positive number of at most SIZE_LARGEST, -1 or -2, not both
// negative. 1 on success, 0 with the reason in `error`.
int ParseFrameSize(const std::string& text, int32_t* width, int32_t* height, std::string* error);

// The frame size for a source of sourceWidth x sourceHeight: given sides as they are, an
// aspect-keeping side from the other. 1 on success; 0 when no size results (a source of
// size 0 with an aspect-keeping side), with the reason in `error`.
int ResolveFrameSize(int32_t width, int32_t height, int32_t sourceWidth, int32_t sourceHeight,
                     int32_t* resolvedWidth, int32_t* resolvedHeight, std::string* error);

// Where -o DIR puts a source: DIR/NAME.avi, NAME being the source's file name less its
// extension.
std::string OutputPathFor(const std::string& folder, const std::string& source);

std::string ConvertUsage();
