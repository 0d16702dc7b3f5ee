#include "vidcrunch/compressor_options.h"

#include <array>
#include <cctype>
#include <charconv>
#include <string_view>

namespace {

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// x264's preset names, fastest first.
constexpr std::array<std::string_view, 10> kPresets = {
    "ultrafast", "superfast", "veryfast", "faster",   "fast",
    "medium",    "slow",      "slower",   "veryslow", "placebo"};

int ParseCodec(const std::string& name, VideoCodec* codec) {
    if (name == "h264" || name == "x264" || name == "avc")
        *codec = VideoCodec::H264;
    else if (name == "mpeg4" || name == "xvid" || name == "divx")
        *codec = VideoCodec::Mpeg4;
    else if (name == "mjpeg" || name == "mjpg")
        *codec = VideoCodec::Mjpeg;
    else if (name == "ffv1")
        *codec = VideoCodec::Ffv1;
    else
        return 0;
    return 1;
}

int ParseWholeNumber(std::string_view text, int* value) {
    if (text.empty()) return 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, *value);
    return ec == std::errc() && ptr == end ? 1 : 0;
}

// The range /quality accepts for each codec.
void QualityRange(VideoCodec codec, int* low, int* high) {
    switch (codec) {
        case VideoCodec::H264:
            *low = 0;
            *high = 51;
            return;
        case VideoCodec::Mpeg4:
        case VideoCodec::Mjpeg:
            *low = 1;
            *high = 31;
            return;
        case VideoCodec::Ffv1:
            *low = 0;
            *high = 0;
            return;
    }
    *low = *high = 0;
}

}  // namespace

int CodecDefaultQuality(VideoCodec codec) {
    switch (codec) {
        case VideoCodec::H264:
            return 18;  // visually lossless for x264 at 8 bits
        case VideoCodec::Mpeg4:
            return 3;
        case VideoCodec::Mjpeg:
            return 2;
        case VideoCodec::Ffv1:
            return 0;
    }
    return 0;
}

int ParseCompressorArguments(const std::vector<std::string>& arguments, CompressorOptions* options,
                             std::string* error) {
    CompressorOptions parsed;
    std::vector<std::string> files;
    bool qualityGiven = false;
    bool presetGiven = false;
    std::string qualityText;
    for (const std::string& argument : arguments) {
        std::string lower = Lower(argument);
        size_t colon = lower.find(':');
        std::string name = lower.substr(0, colon);
        std::string value = colon == std::string::npos ? std::string() : argument.substr(colon + 1);
        bool hasValue = colon != std::string::npos;
        if (lower == "/?" || lower == "/help" || lower == "-h" || lower == "--help") {
            parsed.helpWanted = true;
        } else if (lower == "/console") {
            parsed.console = true;
        } else if (name == "/codec" && hasValue) {
            if (!ParseCodec(Lower(value), &parsed.codec)) {
                *error = "unknown codec \"" + value + "\" (use h264, mpeg4, mjpeg or ffv1)";
                return 0;
            }
        } else if (name == "/quality" && hasValue) {
            qualityGiven = true;
            qualityText = value;
        } else if (name == "/preset" && hasValue) {
            std::string preset = Lower(value);
            bool known = false;
            for (std::string_view p : kPresets) known = known || p == preset;
            if (!known) {
                *error = "unknown preset \"" + value + "\" (use ultrafast ... placebo)";
                return 0;
            }
            parsed.preset = preset;
            presetGiven = true;
        } else if (name == "/threads" && hasValue) {
            int threads = 0;
            if (!ParseWholeNumber(value, &threads) || threads < 0 || threads > 64) {
                *error = "threads \"" + value + "\" is not a whole number from 0 to 64";
                return 0;
            }
            parsed.threads = threads;
        } else {
            files.push_back(argument);
        }
    }
    if (parsed.helpWanted) {
        *options = parsed;
        return 1;
    }
    // The quality is checked once the codec is known, whatever the order of the switches.
    if (qualityGiven) {
        int low = 0, high = 0;
        QualityRange(parsed.codec, &low, &high);
        int quality = 0;
        if (parsed.codec == VideoCodec::Ffv1) {
            *error = "ffv1 is lossless and takes no /quality";
            return 0;
        }
        if (!ParseWholeNumber(qualityText, &quality) || quality < low || quality > high) {
            *error = "quality \"" + qualityText + "\" is not a whole number from " +
                     std::to_string(low) + " to " + std::to_string(high) + " for this codec";
            return 0;
        }
        parsed.quality = quality;
    } else {
        parsed.quality = CodecDefaultQuality(parsed.codec);
    }
    if (presetGiven && parsed.codec != VideoCodec::H264) {
        *error = "/preset applies to h264 only";
        return 0;
    }
    if (files.size() != 2) {
        *error = files.size() < 2 ? "an input and an output file are needed"
                                  : "too many file names (\"" + files[2] + "\" is one too many)";
        return 0;
    }
    if (files[0].empty() || files[1].empty()) {
        *error = "a file name is empty";
        return 0;
    }
    parsed.inputPath = files[0];
    parsed.outputPath = files[1];
    *options = parsed;
    return 1;
}

std::string CompressorUsage() {
    return "vidcrunch compresses the video of an AVI file and copies its other streams unchanged.\n"
           "\n"
           "Usage: vidcrunch.exe INPUT OUTPUT [/console] [/codec:NAME] [/quality:N] "
           "[/preset:NAME]\n"
           "       [/threads:N]\n"
           "\n"
           "  INPUT          the AVI file to read; it is never changed\n"
           "  OUTPUT         the AVI file to write; replaced if it exists; must not be INPUT\n"
           "  /codec:NAME    h264 (default, FourCC H264), mpeg4 (FMP4), mjpeg (MJPG) or\n"
           "                 ffv1 (FFV1, lossless)\n"
           "  /quality:N     lower is better. h264: constant rate factor 0-51 (default 18);\n"
           "                 mpeg4: quantiser 1-31 (default 3); mjpeg: quantiser 1-31\n"
           "                 (default 2); ffv1 takes none\n"
           "  /preset:NAME   h264 only: ultrafast, superfast, veryfast, faster, fast,\n"
           "                 medium (default), slow, slower, veryslow or placebo\n"
           "  /threads:N     0 (default): every core; 1: one thread; up to 64\n"
           "  /console       accepted; progress is always printed\n"
           "  /? or /help    show this text\n"
           "\n"
           "Standard output receives the percentage done, 0 to 100, one number per line in\n"
           "UTF-16LE ending in CR LF. Exit code 0: the output is complete; 1: compression\n"
           "failed (the output is removed, the reason is on standard error); 2: bad arguments.\n";
}
