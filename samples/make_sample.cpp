// Writes a small AVI file to try the tool on: a moving test pattern (colour bars, a box that
// travels across them and the frame number in block digits) as uncompressed 24-bit frames,
// with a stereo tone that steps up a note every second.
//
// usage: reframe-make-sample OUTPUT.avi [SECONDS [WIDTHxHEIGHT]]
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "avifile/avi_file.h"
#include "support/unicode_text.h"

namespace {

constexpr int32_t FRAMES_PER_SECOND = 25;
constexpr int32_t AUDIO_RATE = 44100;
constexpr int32_t AUDIO_CHANNELS = 2;
constexpr int32_t AUDIO_BLOCK = AUDIO_CHANNELS * 2;  // 16-bit samples
constexpr int32_t DEFAULT_SECONDS = 4;
constexpr int32_t MAX_SECONDS = 600;
constexpr int32_t MIN_SIDE = 16;
constexpr int32_t MAX_SIDE = 4096;

struct SampleSettings {
    std::string path;
    int32_t seconds = DEFAULT_SECONDS;
    int32_t width = 320;
    int32_t height = 240;
};

struct Colour {
    uint8_t red, green, blue;
};

// A frame held top row first; rows are turned round only when written.
struct Picture {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<Colour> pixels;

    void Fill(int32_t left, int32_t top, int32_t w, int32_t h, Colour colour) {
        const int32_t right = std::min(width, left + w);
        const int32_t bottom = std::min(height, top + h);
        for (int32_t y = std::max(0, top); y < bottom; ++y)
            for (int32_t x = std::max(0, left); x < right; ++x)
                pixels[static_cast<size_t>(y) * static_cast<size_t>(width) +
                       static_cast<size_t>(x)] = colour;
    }
};

// Reads a whole decimal number in [low, high]; false for anything else.
bool ParseNumber(const char* text, int32_t low, int32_t high, int32_t& value) {
    if (text == nullptr || *text < '0' || *text > '9') return false;
    errno = 0;
    char* end = nullptr;
    const long parsed = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || parsed < low || parsed > high) return false;
    value = static_cast<int32_t>(parsed);
    return true;
}

bool ParseSize(const std::string& text, int32_t& width, int32_t& height) {
    const size_t x = text.find('x');
    if (x == std::string::npos) return false;
    const std::string w = text.substr(0, x);
    const std::string h = text.substr(x + 1);
    return ParseNumber(w.c_str(), MIN_SIDE, MAX_SIDE, width) &&
           ParseNumber(h.c_str(), MIN_SIDE, MAX_SIDE, height);
}

// The segments a through g of a seven-segment digit, as bits 0 to 6.
constexpr uint8_t DIGIT_SEGMENTS[10] = {0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};

void DrawDigit(Picture& picture, int32_t left, int32_t top, int32_t unit, int digit,
               Colour colour) {
    const uint8_t on = DIGIT_SEGMENTS[digit];
    const int32_t w = 4 * unit, half = 3 * unit;  // segment length and half the digit height
    // a: top, b: top right, c: bottom right, d: bottom, e: bottom left, f: top left, g: middle.
    if (on & 0x01) picture.Fill(left, top, w, unit, colour);
    if (on & 0x02) picture.Fill(left + w - unit, top, unit, half + unit, colour);
    if (on & 0x04) picture.Fill(left + w - unit, top + half, unit, half + unit, colour);
    if (on & 0x08) picture.Fill(left, top + 2 * half, w, unit, colour);
    if (on & 0x10) picture.Fill(left, top + half, unit, half + unit, colour);
    if (on & 0x20) picture.Fill(left, top, unit, half + unit, colour);
    if (on & 0x40) picture.Fill(left, top + half, w, unit, colour);
}

void DrawFrame(Picture& picture, int32_t frame) {
    static constexpr Colour BARS[7] = {{235, 235, 235}, {235, 235, 16}, {16, 235, 235},
                                       {16, 235, 16},   {235, 16, 235}, {235, 16, 16},
                                       {16, 16, 235}};
    const int32_t w = picture.width, h = picture.height;
    const int32_t barsHeight = h * 2 / 3;
    for (int32_t i = 0; i < 7; ++i) {
        const int32_t left = w * i / 7;
        picture.Fill(left, 0, w * (i + 1) / 7 - left, barsHeight, BARS[i]);
    }
    // Below the bars a grey ramp, so that scaling shows on smooth shades too.
    for (int32_t x = 0; x < w; ++x) {
        const auto grey = static_cast<uint8_t>(x * 255 / std::max(1, w - 1));
        picture.Fill(x, barsHeight, 1, h - barsHeight, Colour{grey, grey, grey});
    }

    // The box bounces from side to side, one full crossing every two seconds.
    const int32_t box = std::max(4, h / 6);
    const int32_t travel = std::max(1, w - box);
    const int32_t period = 2 * FRAMES_PER_SECOND;
    const int32_t phase = frame % (2 * period);
    const int32_t step = phase < period ? phase : 2 * period - phase;
    const int32_t boxLeft = travel * step / period;
    const int32_t boxTop = barsHeight / 2 - box / 2;
    picture.Fill(boxLeft, boxTop, box, box, Colour{0, 0, 0});
    picture.Fill(boxLeft + box / 4, boxTop + box / 4, box - box / 2, box - box / 2,
                 Colour{255, 255, 255});

    // The frame number in five digits on a dark plate at the bottom left.
    const int32_t unit = std::max(1, h / 60);
    const int32_t digitWidth = 4 * unit, gap = 2 * unit;
    const int32_t plateLeft = 2 * unit, plateTop = h - 10 * unit;
    picture.Fill(plateLeft, plateTop, 5 * (digitWidth + gap) + gap, 9 * unit, Colour{0, 0, 0});
    int32_t rest = frame;
    for (int32_t i = 4; i >= 0; --i) {
        DrawDigit(picture, plateLeft + gap + i * (digitWidth + gap), plateTop + unit, unit,
                  rest % 10, Colour{255, 255, 0});
        rest /= 10;
    }
}

// Packs the picture as a bottom-up BI_RGB bitmap: blue, green, red, rows padded to 4 bytes.
void PackFrame(const Picture& picture, std::vector<uint8_t>& bits) {
    const size_t stride = (static_cast<size_t>(picture.width) * 3 + 3) / 4 * 4;
    bits.assign(stride * static_cast<size_t>(picture.height), 0);
    for (int32_t y = 0; y < picture.height; ++y) {
        uint8_t* row = bits.data() + stride * static_cast<size_t>(picture.height - 1 - y);
        const Colour* source = picture.pixels.data() + static_cast<size_t>(y) * picture.width;
        for (int32_t x = 0; x < picture.width; ++x) {
            row[3 * x] = source[x].blue;
            row[3 * x + 1] = source[x].green;
            row[3 * x + 2] = source[x].red;
        }
    }
}

// The tone: a major scale from A4 upwards, one note per second, its phase carried across
// note changes so that the steps don't click.
struct Tone {
    double phase = 0.0;
    int64_t sample = 0;

    void Render(int32_t count, std::vector<uint8_t>& bytes) {
        static constexpr int SCALE_STEPS[8] = {0, 2, 4, 5, 7, 9, 11, 12};
        constexpr double TWO_PI = 6.283185307179586;
        bytes.resize(static_cast<size_t>(count) * AUDIO_BLOCK);
        for (int32_t i = 0; i < count; ++i, ++sample) {
            const int64_t second = sample / AUDIO_RATE;
            const double frequency = 440.0 * std::exp2(SCALE_STEPS[second % 8] / 12.0);
            phase += TWO_PI * frequency / AUDIO_RATE;
            if (phase >= TWO_PI) phase -= TWO_PI;
            const double value = std::sin(phase);
            // Right a little quieter than left, so the channels can be told apart.
            const auto left = static_cast<int16_t>(std::lround(value * 8000.0));
            const auto right = static_cast<int16_t>(std::lround(value * 6000.0));
            std::memcpy(&bytes[static_cast<size_t>(i) * AUDIO_BLOCK], &left, 2);
            std::memcpy(&bytes[static_cast<size_t>(i) * AUDIO_BLOCK + 2], &right, 2);
        }
    }
};

PAVISTREAM CreateVideoStream(PAVIFILE file, const SampleSettings& settings, HRESULT& result) {
    AVISTREAMINFOW info{};
    info.fccType = streamtypeVIDEO;
    info.dwScale = 1;
    info.dwRate = FRAMES_PER_SECOND;
    info.rcFrame = RECT{0, 0, settings.width, settings.height};
    PAVISTREAM stream = nullptr;
    result = AVIFileCreateStreamW(file, &stream, &info);
    if (result != AVIERR_OK) return nullptr;
    BITMAPINFOHEADER format{};
    format.biSize = sizeof format;
    format.biWidth = settings.width;
    format.biHeight = settings.height;
    format.biPlanes = 1;
    format.biBitCount = 24;
    format.biCompression = BI_RGB;
    format.biSizeImage =
        static_cast<DWORD>((settings.width * 3 + 3) / 4 * 4) * static_cast<DWORD>(settings.height);
    result = AVIStreamSetFormat(stream, 0, &format, sizeof format);
    return stream;
}

PAVISTREAM CreateAudioStream(PAVIFILE file, HRESULT& result) {
    AVISTREAMINFOW info{};
    info.fccType = streamtypeAUDIO;
    info.dwScale = AUDIO_BLOCK;
    info.dwRate = AUDIO_BLOCK * AUDIO_RATE;
    info.dwSampleSize = AUDIO_BLOCK;
    PAVISTREAM stream = nullptr;
    result = AVIFileCreateStreamW(file, &stream, &info);
    if (result != AVIERR_OK) return nullptr;
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = AUDIO_CHANNELS;
    format.nSamplesPerSec = AUDIO_RATE;
    format.nAvgBytesPerSec = AUDIO_RATE * AUDIO_BLOCK;
    format.nBlockAlign = AUDIO_BLOCK;
    format.wBitsPerSample = 16;
    result = AVIStreamSetFormat(stream, 0, &format, sizeof format);
    return stream;
}

// Writes the whole file; AVIERR_OK or the first failure.
HRESULT WriteSample(const SampleSettings& settings) {
    PAVIFILE file = nullptr;
    HRESULT result =
        AVIFileOpenW(&file, FromUtf8(settings.path).c_str(), OF_CREATE | OF_WRITE, nullptr);
    if (result != AVIERR_OK) return result;

    HRESULT audioResult = AVIERR_OK;
    PAVISTREAM video = CreateVideoStream(file, settings, result);
    PAVISTREAM audio = result == AVIERR_OK ? CreateAudioStream(file, audioResult) : nullptr;
    if (result == AVIERR_OK) result = audioResult;

    Picture picture;
    picture.width = settings.width;
    picture.height = settings.height;
    picture.pixels.resize(static_cast<size_t>(settings.width) * settings.height);
    std::vector<uint8_t> bits, sound;
    Tone tone;
    const int32_t frames = settings.seconds * FRAMES_PER_SECOND;
    // Each frame is followed by the sound that plays during it, so the file comes interleaved.
    for (int32_t frame = 0; frame < frames && result == AVIERR_OK; ++frame) {
        DrawFrame(picture, frame);
        PackFrame(picture, bits);
        result = AVIStreamWrite(video, frame, 1, bits.data(), static_cast<LONG>(bits.size()),
                                AVIIF_KEYFRAME, nullptr, nullptr);
        if (result != AVIERR_OK) break;
        const auto first = static_cast<int32_t>(int64_t{frame} * AUDIO_RATE / FRAMES_PER_SECOND);
        const auto next = static_cast<int32_t>(int64_t{frame + 1} * AUDIO_RATE / FRAMES_PER_SECOND);
        tone.Render(next - first, sound);
        result = AVIStreamWrite(audio, first, next - first, sound.data(),
                                static_cast<LONG>(sound.size()), AVIIF_KEYFRAME, nullptr, nullptr);
    }

    if (audio != nullptr) AVIStreamRelease(audio);
    if (video != nullptr) AVIStreamRelease(video);
    AVIFileRelease(file);
    // The headers and the index are written when the file closes; that can fail too.
    const HRESULT closed = AVIFileLastCloseResult();
    return result != AVIERR_OK ? result : closed;
}

const char* DescribeResult(HRESULT result) {
    switch (result) {
        case AVIERR_FILEOPEN:
            return "the file cannot be created";
        case AVIERR_FILEWRITE:
            return "writing failed (is the disk full?)";
        case AVIERR_MEMORY:
            return "out of memory";
        default:
            return "the AVI library refused it";
    }
}

}  // namespace

int main(int argc, char** argv) {
    SampleSettings settings;
    bool usable = argc >= 2 && argc <= 4 && argv[1][0] != '\0';
    if (usable) settings.path = argv[1];
    if (usable && argc >= 3) usable = ParseNumber(argv[2], 1, MAX_SECONDS, settings.seconds);
    if (usable && argc >= 4) usable = ParseSize(argv[3], settings.width, settings.height);
    if (!usable) {
        std::fprintf(stderr,
                     "usage: reframe-make-sample OUTPUT.avi [SECONDS [WIDTHxHEIGHT]]\n"
                     "  writes SECONDS (1 to %d, default %d) of a moving test pattern at %d "
                     "frames per second, WIDTHxHEIGHT (%d to %d each, default 320x240), with a "
                     "stereo tone\n",
                     MAX_SECONDS, DEFAULT_SECONDS, FRAMES_PER_SECOND, MIN_SIDE, MAX_SIDE);
        return 2;
    }

    const HRESULT result = WriteSample(settings);
    if (result != AVIERR_OK) {
        std::fprintf(stderr, "reframe-make-sample: could not write %s: %s (error 0x%08X)\n",
                     settings.path.c_str(), DescribeResult(result), static_cast<unsigned>(result));
        // A half-written file would only mislead whoever opens it next.
        std::remove(settings.path.c_str());
        return 1;
    }
    return 0;
}
