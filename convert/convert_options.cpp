#include "convert/convert_options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "support/path_parts.h"

namespace {

// A whole decimal number, optionally negative, with nothing around it.
bool ReadInteger(const std::string& text, int64_t* value) {
    if (text.empty() || text.size() > 12) return false;
    size_t i = text[0] == '-' ? 1 : 0;
    if (i == text.size()) return false;
    int64_t result = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        result = result * 10 + (text[i] - '0');
    }
    *value = text[0] == '-' ? -result : result;
    return true;
}

bool ReadSide(const std::string& text, const char* name, int32_t* side, std::string* error) {
    int64_t value = 0;
    if (!ReadInteger(text, &value)) {
        *error = std::string("the ") + name + " '" + text + "' is not a whole number";
        return false;
    }
    if (value == 0) {
        *error = std::string("a ") + name + " of 0 makes no picture";
        return false;
    }
    if (value < 0 && value != SIZE_KEEP_ASPECT && value != SIZE_KEEP_ASPECT_EVEN) {
        *error = std::string("the ") + name + " " + text +
                 " is negative; use -1 or -2 to keep the aspect ratio";
        return false;
    }
    if (value > SIZE_LARGEST) {
        *error = std::string("the ") + name + " " + text + " is too large (at most " +
                 std::to_string(SIZE_LARGEST) + ")";
        return false;
    }
    *side = static_cast<int32_t>(value);
    return true;
}

// The value of "--name=value" or of the next argument for "--name value" / "-x value".
bool TakeValue(const std::vector<std::string>& arguments, size_t* i, const std::string& inlineValue,
               bool hasInline, std::string* value, std::string* error) {
    if (hasInline) {
        *value = inlineValue;
        return true;
    }
    if (*i + 1 >= arguments.size()) {
        *error = arguments[*i] + " needs a value";
        return false;
    }
    *value = arguments[++*i];
    return true;
}

}  // namespace

int ParseFrameSize(const std::string& text, int32_t* width, int32_t* height, std::string* error) {
    const size_t x = text.find_first_of("xX");
    if (x == std::string::npos || text.find_first_of("xX", x + 1) != std::string::npos) {
        *error = "--size '" + text + "': expected WIDTHxHEIGHT, such as 640x360 or 640x-2";
        return 0;
    }
    std::string reason;
    if (!ReadSide(text.substr(0, x), "width", width, &reason) ||
        !ReadSide(text.substr(x + 1), "height", height, &reason)) {
        *error = "--size " + text + ": " + reason;
        return 0;
    }
    if (*width < 0 && *height < 0) {
        *error = "--size " + text + ": only one side can follow the aspect ratio";
        return 0;
    }
    return 1;
}

std::string OutputPathFor(const std::string& folder, const std::string& source) {
    std::string name = source.substr(NameStartOf(source));
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    std::string path = folder;
    if (!path.empty() && !EndsInSeparator(path)) path += kPreferredSeparator;
    return path + name + ".avi";
}

int ParseConvertArguments(const std::vector<std::string>& arguments, ConvertOptions* options,
                          std::string* error) {
    std::vector<std::string> files;
    bool optionsEnded = false;
    bool qualityGiven = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (optionsEnded || argument.empty() || argument[0] != '-' || argument == "-") {
            files.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name = argument, inlineValue;
        bool hasInline = false;
        const size_t equals = argument.find('=');
        if (argument.rfind("--", 0) == 0 && equals != std::string::npos) {
            name = argument.substr(0, equals);
            inlineValue = argument.substr(equals + 1);
            hasInline = true;
        }
        std::string value;
        if (name == "-h" || name == "--help") {
            options->helpWanted = true;
        } else if (name == "-V" || name == "--version") {
            options->versionWanted = true;
        } else if (name == "-s" || name == "--size") {
            if (!TakeValue(arguments, &i, inlineValue, hasInline, &value, error)) return 0;
            if (!ParseFrameSize(value, &options->width, &options->height, error)) return 0;
            options->sizeGiven = true;
        } else if (name == "-a" || name == "--average") {
            options->average = true;
        } else if (name == "-d" || name == "--drop") {
            if (!TakeValue(arguments, &i, inlineValue, hasInline, &value, error)) return 0;
            if (value == "video")
                options->dropVideo = true;
            else if (value == "audio")
                options->dropAudio = true;
            else if (value == "other")
                options->dropOther = true;
            else {
                *error = "--drop '" + value + "': expected video, audio or other";
                return 0;
            }
        } else if (name == "-c" || name == "--compress") {
            options->compress = true;
            if (hasInline) {
                if (inlineValue != "h264" && inlineValue != "mpeg4" && inlineValue != "mjpeg" &&
                    inlineValue != "ffv1") {
                    *error =
                        "--compress='" + inlineValue + "': expected h264, mpeg4, mjpeg or ffv1";
                    return 0;
                }
                options->codec = inlineValue;
            }
        } else if (name == "-q" || name == "--quality") {
            if (!TakeValue(arguments, &i, inlineValue, hasInline, &value, error)) return 0;
            int64_t quality = 0;
            if (!ReadInteger(value, &quality) || quality < 0 || quality > 51) {
                *error = "--quality '" + value + "': expected a number from 0 to 51";
                return 0;
            }
            options->quality = static_cast<int32_t>(quality);
            qualityGiven = true;
        } else if (name == "-o" || name == "--output-dir") {
            if (!TakeValue(arguments, &i, inlineValue, hasInline, &value, error)) return 0;
            if (value.empty()) {
                *error = "--output-dir needs a folder";
                return 0;
            }
            options->outputFolder = value;
        } else if (name == "-f" || name == "--overwrite") {
            options->overwrite = true;
        } else if (name == "-j" || name == "--jobs") {
            if (!TakeValue(arguments, &i, inlineValue, hasInline, &value, error)) return 0;
            int64_t jobs = 0;
            if (!ReadInteger(value, &jobs) || jobs < 1 || jobs > 1024) {
                *error = "--jobs '" + value + "': expected a number from 1 to 1024";
                return 0;
            }
            options->jobs = static_cast<int32_t>(jobs);
        } else if (name == "-t" || name == "--threads") {
            if (!TakeValue(arguments, &i, inlineValue, hasInline, &value, error)) return 0;
            int64_t threads = 0;
            if (!ReadInteger(value, &threads) || threads < 1 || threads > 64) {
                *error = "--threads '" + value + "': expected a number from 1 to 64";
                return 0;
            }
            options->threads = static_cast<int32_t>(threads);
        } else if (name == "--deinterlace") {
            if (!TakeValue(arguments, &i, inlineValue, hasInline, &value, error)) return 0;
            if (value == "auto")
                options->deinterlace = Deinterlace::kAuto;
            else if (value == "on")
                options->deinterlace = Deinterlace::kOn;
            else if (value == "off")
                options->deinterlace = Deinterlace::kOff;
            else {
                *error = "--deinterlace '" + value + "': expected auto, on or off";
                return 0;
            }
        } else if (name == "--progress") {
            if (!TakeValue(arguments, &i, inlineValue, hasInline, &value, error)) return 0;
            if (value == "auto")
                options->progress = ProgressStyle::Auto;
            else if (value == "bar")
                options->progress = ProgressStyle::Bar;
            else if (value == "json")
                options->progress = ProgressStyle::Json;
            else if (value == "none")
                options->progress = ProgressStyle::None;
            else {
                *error = "--progress '" + value + "': expected auto, bar, json or none";
                return 0;
            }
        } else {
            *error = "unknown option '" + argument +
                     "' (a file whose name starts with '-' goes after --)";
            return 0;
        }
    }
    if (options->helpWanted || options->versionWanted) return 1;
    if (qualityGiven && !options->compress) {
        *error = "--quality needs --compress";
        return 0;
    }
    if (options->outputFolder.empty()) {
        if (files.size() != 2) {
            *error = files.size() < 2 ? "give a SOURCE and a DESTINATION, or -o DIR and sources"
                                      : "several sources need -o DIR";
            return 0;
        }
        options->sources = {files[0]};
        options->destination = files[1];
    } else {
        if (files.empty()) {
            *error = "no source given";
            return 0;
        }
        options->sources = files;
    }
    for (const std::string& file : files) {
        if (file.empty()) {
            *error = "an empty file name was given";
            return 0;
        }
    }
    return 1;
}

std::string ConvertUsage() {
    return "reframe-convert rescales the video of AVI files, as the Reframe window does.\n"
           "\n"
           "Usage: reframe-convert [OPTIONS] SOURCE DESTINATION\n"
           "       reframe-convert [OPTIONS] -o DIR SOURCE...\n"
           "\n"
           "  -s, --size WxH          new frame size; a side of -1 keeps the picture's shown\n"
           "                          shape with square pixels (720x576 DV at 16:9 and\n"
           "                          320x-1 give 320x180), -2 rounds it to an even number\n"
           "                          (default: as the source)\n"
           "  -a, --average           average pixels when stretching (smoother)\n"
           "  -d, --drop KIND         leave out every video, audio or other stream (repeatable)\n"
           "  -c, --compress[=CODEC]  compress with vidcrunch.exe: h264 (default), mpeg4, mjpeg, "
           "ffv1\n"
           "  -q, --quality N         the compressor's quality, lower is better (with --compress)\n"
           "  -o, --output-dir DIR    write each source to DIR/NAME.avi\n"
           "  -f, --overwrite         replace existing destinations\n"
           "  -j, --jobs N            convert N sources at once (default: one per core)\n"
           "  -t, --threads N         threads for each conversion (default: one per core)\n"
           "      --deinterlace=WHEN  auto: frames found combed (two fields from different\n"
           "                          moments) are deinterlaced where the height changes, and\n"
           "                          kept as fields where it does not; on: every frame; off:\n"
           "                          none (default: auto)\n"
           "      --progress=STYLE    auto, bar (on standard error), json (on standard output), "
           "none\n"
           "  -h, --help              show this text\n"
           "  -V, --version           show the version\n"
           "\n"
           "Exit code 0: every file converted; 1: some file failed (the others are done);\n"
           "2: a usage error; 130: interrupted (the file being written is removed).\n";
}
