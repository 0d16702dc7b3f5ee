// vidcrunch.exe INPUT OUTPUT [/console] [/codec:NAME] [/quality:N] [/preset:NAME] [/threads:N]
// Exit code 0 when the output is complete, 1 when compression failed, 2 for bad arguments.
// The platform's entry point (program_start_*.cpp) calls RunVidcrunch.
#include <cstdio>
#include <string>
#include <vector>

#include "avifile/decoder/frame_decoder.h"
#include "vidcrunch/avi_compressor.h"
#include "vidcrunch/compressor_options.h"
#include "vidcrunch/program_start.h"
#include "vidcrunch/progress_lines.h"
#include "vidcrunch/video_encoder.h"

extern "C" {
#include <libavutil/log.h>
}

int RunVidcrunch(const std::vector<std::string>& arguments) {
    // The codec libraries' chatter would bury our own messages; real errors still show.
    av_log_set_level(AV_LOG_ERROR);

    CompressorOptions options;
    std::string error;
    if (!ParseCompressorArguments(arguments, &options, &error)) {
        std::fprintf(stderr, "vidcrunch: %s\n\n%s", error.c_str(), CompressorUsage().c_str());
        return 2;
    }
    if (options.helpWanted) {
        std::fputs(CompressorUsage().c_str(), stdout);
        return 0;
    }
    SetEncoderThreads(options.threads);
    AVIStreamGetFrameSetThreads(options.threads);
    ProgressReporter progress;
    if (!CompressAvi(options, &progress, &error)) {
        std::fprintf(stderr, "vidcrunch: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
