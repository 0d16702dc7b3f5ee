// reframe-convert's command line: what to convert, how, and how to report it, read from
// the arguments into one record, with a clear message for every mistake.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "job/frame_size.h"
#include "picture/field_order.h"

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
    Deinterlace deinterlace = Deinterlace::kAuto;
    bool helpWanted = false, versionWanted = false;
};

// Reads the arguments after the program name. 1 on success, 0 with the reason in `error`.
int ParseConvertArguments(const std::vector<std::string>& arguments, ConvertOptions* options,
                          std::string* error);

// Reads "WxH": each side a positive number of at most SIZE_LARGEST, -1 or -2, not both
// negative. 1 on success, 0 with the reason in `error`.
int ParseFrameSize(const std::string& text, int32_t* width, int32_t* height, std::string* error);

// Where -o DIR puts a source: DIR/NAME.avi, NAME being the source's file name less its
// extension.
std::string OutputPathFor(const std::string& folder, const std::string& source);

std::string ConvertUsage();
