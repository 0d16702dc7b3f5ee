// What every platform's batch shares: the arguments that make this program convert one file.
#include "convert/batch_runner.h"

namespace {

const char* StyleName(ProgressStyle style) {
    switch (style) {
        case ProgressStyle::Bar:
            return "bar";
        case ProgressStyle::Json:
            return "json";
        case ProgressStyle::Auto:
            return "auto";
        case ProgressStyle::None:
            break;
    }
    return "none";
}

}  // namespace

std::vector<std::string> SingleFileArguments(const ConvertOptions& options, ProgressStyle progress,
                                             const std::string& source,
                                             const std::string& destination) {
    std::vector<std::string> arguments;
    if (options.sizeGiven)
        arguments.push_back("--size=" + std::to_string(options.width) + "x" +
                            std::to_string(options.height));
    if (options.average) arguments.push_back("--average");
    if (options.dropVideo) arguments.push_back("--drop=video");
    if (options.dropAudio) arguments.push_back("--drop=audio");
    if (options.dropOther) arguments.push_back("--drop=other");
    if (options.compress) arguments.push_back("--compress=" + options.codec);
    if (options.quality >= 0) arguments.push_back("--quality=" + std::to_string(options.quality));
    if (options.overwrite) arguments.push_back("--overwrite");
    if (options.threads > 0) arguments.push_back("--threads=" + std::to_string(options.threads));
    arguments.push_back(std::string("--progress=") + StyleName(progress));
    arguments.push_back("--");
    arguments.push_back(source);
    arguments.push_back(destination);
    return arguments;
}
