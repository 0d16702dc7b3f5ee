#include "engine_test_files.h"

#ifndef _WIN32
#include <sys/wait.h>
#endif
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "support/unicode_text.h"

ScratchDir::ScratchDir() {
    std::random_device seed;
    std::mt19937_64 random(seed());
    std::error_code error;
    while (dir_.empty()) {
        const std::filesystem::path candidate =
            std::filesystem::temp_directory_path() / ("reframe-engine-" + std::to_string(random()));
        // false when the name is taken (try another), and an error when nothing can be made.
        if (std::filesystem::create_directory(candidate, error)) {
            const std::u8string name = candidate.u8string();
            dir_.assign(name.begin(), name.end());
        } else if (error) {
            std::abort();
        }
    }
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::u8path(dir_), ignored);
}

std::u16string ScratchDir::Path16(const std::string& name) const {
    return FromUtf8(Path(name));
}

std::vector<uint8_t> TestFramePixels(int32_t stream, int32_t position, int32_t width,
                                     int32_t height) {
    const int32_t row = (width * 3 + 3) / 4 * 4;
    std::vector<uint8_t> pixels(static_cast<size_t>(row) * height, 0);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width * 3; ++x)
            pixels[static_cast<size_t>(y) * row + x] =
                static_cast<uint8_t>(x * 7 + y * 13 + position * 29 + stream * 53);
    return pixels;
}

std::vector<uint8_t> TestAudioBytes(int32_t stream, int32_t sampleFrames) {
    std::vector<uint8_t> bytes(static_cast<size_t>(sampleFrames) * 4);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i * 11 + stream * 3 + (i >> 8));
    return bytes;
}

TestStream Video(int32_t frames, int32_t width, int32_t height) {
    TestStream s;
    s.frames = frames;
    s.width = width;
    s.height = height;
    return s;
}

TestStream Audio(int32_t sampleFrames) {
    TestStream s;
    s.type = streamtypeAUDIO;
    s.frames = sampleFrames;
    return s;
}

TestStream Other(DWORD type, int32_t samples) {
    TestStream s;
    s.type = type;
    s.frames = samples;
    return s;
}

namespace {

bool WriteVideo(PAVIFILE file, int32_t index, const TestStream& s) {
    AVISTREAMINFOW info{};
    info.fccType = streamtypeVIDEO;
    info.dwScale = 1;
    info.dwRate = 25;
    info.dwStart = static_cast<DWORD>(s.start);
    info.rcFrame = s.frame.left == -1 ? RECT{0, 0, s.width, s.height} : s.frame;
    PAVISTREAM stream = nullptr;
    if (AVIFileCreateStreamW(file, &stream, &info) != AVIERR_OK) return false;
    for (const auto& [id, bytes] : s.headerChunks)
        if (AVIStreamWriteData(stream, id, bytes.data(), static_cast<LONG>(bytes.size())) !=
            AVIERR_OK)
            return false;
    BITMAPINFOHEADER format{};
    format.biSize = sizeof format;
    format.biWidth = s.width;
    format.biHeight = s.height;
    format.biPlanes = 1;
    format.biBitCount = 24;
    format.biCompression = s.compression;
    format.biSizeImage = static_cast<DWORD>((s.width * 3 + 3) / 4 * 4 * s.height);
    bool ok = AVIStreamSetFormat(stream, 0, &format, sizeof format) == AVIERR_OK;
    for (int32_t p = 0; p < s.frames && ok; ++p) {
        const bool empty =
            std::find(s.emptyFrames.begin(), s.emptyFrames.end(), p) != s.emptyFrames.end();
        const bool cut =
            std::find(s.shortFrames.begin(), s.shortFrames.end(), p) != s.shortFrames.end();
        std::vector<uint8_t> pixels = TestFramePixels(index, p, s.width, s.height);
        if (cut) pixels.resize(5);
        ok = AVIStreamWrite(stream, s.start + p, 1, empty ? nullptr : pixels.data(),
                            empty ? 0 : static_cast<LONG>(pixels.size()),
                            empty ? 0 : AVIIF_KEYFRAME, nullptr, nullptr) == AVIERR_OK;
    }
    AVIStreamRelease(stream);
    return ok;
}

bool WriteAudio(PAVIFILE file, int32_t index, const TestStream& s) {
    AVISTREAMINFOW info{};
    info.fccType = streamtypeAUDIO;
    info.dwScale = 4;
    info.dwRate = 4 * 8000;
    info.dwSampleSize = 4;
    info.dwStart = static_cast<DWORD>(s.start);
    PAVISTREAM stream = nullptr;
    if (AVIFileCreateStreamW(file, &stream, &info) != AVIERR_OK) return false;
    for (const auto& [id, bytes] : s.headerChunks)
        if (AVIStreamWriteData(stream, id, bytes.data(), static_cast<LONG>(bytes.size())) !=
            AVIERR_OK)
            return false;
    std::vector<uint8_t> format(18 + s.audioExtraBytes);
    const WORD tag = s.audioExtraBytes ? 0xFFFE : WAVE_FORMAT_PCM;
    const WORD channels = 2, blockAlign = 4, bits = 16;
    const DWORD rate = 8000, bytesPerSecond = 32000;
    std::memcpy(&format[0], &tag, 2);
    std::memcpy(&format[2], &channels, 2);
    std::memcpy(&format[4], &rate, 4);
    std::memcpy(&format[8], &bytesPerSecond, 4);
    std::memcpy(&format[12], &blockAlign, 2);
    std::memcpy(&format[14], &bits, 2);
    std::memcpy(&format[16], &s.audioExtraBytes, 2);
    for (size_t i = 18; i < format.size(); ++i) format[i] = static_cast<uint8_t>(0xA0 + i);
    // A plain PCM format is the 16-byte record without cbSize, as many writers store it.
    const LONG formatSize = s.audioExtraBytes ? static_cast<LONG>(format.size()) : 16;
    bool ok = AVIStreamSetFormat(stream, 0, format.data(), formatSize) == AVIERR_OK;
    const std::vector<uint8_t> bytes = TestAudioBytes(index, s.frames);
    if (ok && !bytes.empty())
        ok =
            AVIStreamWrite(stream, s.start, s.frames, bytes.data(), static_cast<LONG>(bytes.size()),
                           AVIIF_KEYFRAME, nullptr, nullptr) == AVIERR_OK;
    AVIStreamRelease(stream);
    return ok;
}

// A text-like stream of one sample per chunk with samples of varying size.
bool WriteOther(PAVIFILE file, int32_t index, const TestStream& s) {
    AVISTREAMINFOW info{};
    info.fccType = s.type;
    info.dwScale = 1;
    info.dwRate = 25;
    info.dwStart = static_cast<DWORD>(s.start);
    PAVISTREAM stream = nullptr;
    if (AVIFileCreateStreamW(file, &stream, &info) != AVIERR_OK) return false;
    for (const auto& [id, bytes] : s.headerChunks)
        if (AVIStreamWriteData(stream, id, bytes.data(), static_cast<LONG>(bytes.size())) !=
            AVIERR_OK)
            return false;
    const std::array<uint8_t, 4> format{1, 2, 3, 4};
    bool ok = AVIStreamSetFormat(stream, 0, format.data(), format.size()) == AVIERR_OK;
    for (int32_t p = 0; p < s.frames && ok; ++p) {
        std::vector<uint8_t> sample(static_cast<size_t>(3 + p % 5),
                                    static_cast<uint8_t>(index * 16 + p));
        ok = AVIStreamWrite(stream, s.start + p, 1, sample.data(), static_cast<LONG>(sample.size()),
                            p % 2 == 0 ? AVIIF_KEYFRAME : 0, nullptr, nullptr) == AVIERR_OK;
    }
    AVIStreamRelease(stream);
    return ok;
}

}  // namespace

bool WriteTestAvi(const std::string& path, const std::vector<TestStream>& streams) {
    PAVIFILE file = nullptr;
    if (AVIFileOpenW(&file, FromUtf8(path).c_str(), OF_CREATE | OF_WRITE, nullptr) != AVIERR_OK)
        return false;
    bool ok = true;
    for (size_t i = 0; i < streams.size() && ok; ++i) {
        const auto index = static_cast<int32_t>(i);
        if (streams[i].type == streamtypeVIDEO)
            ok = WriteVideo(file, index, streams[i]);
        else if (streams[i].type == streamtypeAUDIO)
            ok = WriteAudio(file, index, streams[i]);
        else
            ok = WriteOther(file, index, streams[i]);
    }
    AVIFileRelease(file);
    return ok && AVIFileLastCloseResult() == AVIERR_OK;
}

std::string FileBytes(const std::string& path) {
    std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

#ifdef _WIN32
// The tools the checks run (ffmpeg, ffprobe) and the shell are Linux programs: under Windows no
// command runs, and the tests that need one are Linux-only.
int RunShell(const std::string&, std::string*) {
    return -1;
}
#else
int RunShell(const std::string& command, std::string* output) {
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return -1;
    std::array<char, 4096> buffer{};
    size_t n = 0;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        if (output != nullptr) output->append(buffer.data(), n);
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
#endif
