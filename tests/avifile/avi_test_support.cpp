#include "avi_test_support.h"

#ifndef _WIN32
#include <sys/wait.h>
#endif
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include <gtest/gtest.h>

#include "support/unicode_text.h"

namespace {

// Paths are UTF-8 on both platforms; on Windows the standard library's narrow paths would be
// taken in the ANSI code page instead.
std::filesystem::path FsPath(const std::string& utf8) {
    return std::filesystem::u8path(utf8);
}

}  // namespace

TempDir::TempDir() {
    std::random_device seed;
    std::mt19937_64 random(seed());
    std::error_code error;
    for (int attempt = 0; attempt < 100 && dir_.empty(); ++attempt) {
        const std::filesystem::path candidate =
            std::filesystem::temp_directory_path() / ("avifile-test-" + std::to_string(random()));
        // create_directory is false when the name is taken: another attempt.
        if (std::filesystem::create_directory(candidate, error)) {
            const std::u8string name = candidate.u8string();
            dir_.assign(name.begin(), name.end());
        }
    }
    if (dir_.empty()) ADD_FAILURE() << "no temporary folder could be made";
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(FsPath(dir_), ignored);
}

std::u16string U16(const std::string& path) {
    return FromUtf8(path);
}

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
    std::ifstream in(FsPath(path), std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
}

void WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(FsPath(path), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

#ifdef _WIN32
// The tools the checks run (ffmpeg, ffprobe, gst-launch-1.0) and the shell that runs them are
// Linux programs: under Windows no command runs, and the tests that need one are skipped.
int RunCommand(const std::string&, std::string* output) {
    if (output) output->clear();
    return -1;
}

bool HaveTool(const std::string&) {
    return false;
}
#else
int RunCommand(const std::string& command, std::string* output) {
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return -1;
    std::string text;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
    int status = pclose(pipe);
    if (output) *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool HaveTool(const std::string& name) {
    return RunCommand("command -v " + name + " >/dev/null 2>&1") == 0;
}
#endif

std::vector<ProbePacket> ProbePackets(const std::string& path) {
    std::string text;
    RunCommand("ffprobe -v error -show_entries packet=stream_index,pts,size,flags -of csv=p=0 '" +
                   path + "'",
               &text);
    std::vector<ProbePacket> packets;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        // stream_index,pts,size,flags; pts may be N/A
        std::vector<std::string> fields;
        std::istringstream parts(line);
        std::string field;
        while (std::getline(parts, field, ',')) fields.push_back(field);
        if (fields.size() < 4) continue;
        ProbePacket p{};
        p.stream = std::stoi(fields[0]);
        p.pts = fields[1] == "N/A" ? -1 : std::stoll(fields[1]);
        p.size = std::stoll(fields[2]);
        p.key = !fields[3].empty() && fields[3][0] == 'K';
        packets.push_back(p);
    }
    return packets;
}

std::string ProbeWarnings(const std::string& path) {
    std::string text;
    RunCommand("ffprobe -v warning -count_packets -show_streams -of compact '" + path +
                   "' 2>&1 >/dev/null",
               &text);
    return text;
}

std::string ProbeStreamField(const std::string& path, int stream, const std::string& field) {
    std::string text;
    RunCommand("ffprobe -v error -count_packets -select_streams " + std::to_string(stream) +
                   " -show_entries stream=" + field + " -of default=nw=1:nk=1 '" + path + "'",
               &text);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

OpenedAvi::OpenedAvi(const std::string& path) {
    std::u16string name = U16(path);
    result = AVIFileOpenW(&file, name.c_str(), OF_READ, nullptr);
    FetchStreams();
}

OpenedAvi::OpenedAvi(const uint8_t* data, size_t size) {
    result = AVIFileOpenFromMemory(&file, data, size);
    FetchStreams();
}

void OpenedAvi::FetchStreams() {
    if (result != AVIERR_OK) return;
    result = AVIFileInfoW(file, &info, sizeof info);
    for (DWORD i = 0; result == AVIERR_OK && i < info.dwStreams; ++i) {
        PAVISTREAM stream = nullptr;
        result = AVIFileGetStream(file, &stream, 0, static_cast<LONG>(i));
        if (stream) streams.push_back(stream);
    }
}

OpenedAvi::~OpenedAvi() {
    for (PAVISTREAM s : streams) AVIStreamRelease(s);
    if (file) AVIFileRelease(file);
}

AVISTREAMINFOW StreamInfo(PAVISTREAM stream) {
    AVISTREAMINFOW info{};
    EXPECT_EQ(AVIStreamInfoW(stream, &info, sizeof info), AVIERR_OK);
    return info;
}

std::vector<uint8_t> ReadFormat(PAVISTREAM stream) {
    LONG size = 0;
    EXPECT_EQ(AVIStreamReadFormat(stream, 0, nullptr, &size), AVIERR_OK);
    std::vector<uint8_t> format(static_cast<size_t>(size));
    EXPECT_EQ(AVIStreamReadFormat(stream, 0, format.data(), &size), AVIERR_OK);
    format.resize(static_cast<size_t>(size));
    return format;
}

std::vector<std::vector<uint8_t>> ReadAllSamples(PAVISTREAM stream) {
    std::vector<std::vector<uint8_t>> samples;
    LONG start = AVIStreamStart(stream), length = AVIStreamLength(stream);
    for (LONG pos = start; pos < start + length; ++pos) {
        LONG bytes = 0, count = 0;
        EXPECT_EQ(AVIStreamRead(stream, pos, 1, nullptr, 0, &bytes, &count), AVIERR_OK);
        std::vector<uint8_t> sample(static_cast<size_t>(bytes));
        EXPECT_EQ(AVIStreamRead(stream, pos, 1, sample.data(), bytes, &bytes, &count), AVIERR_OK);
        EXPECT_EQ(count, 1) << "at " << pos;
        samples.push_back(std::move(sample));
    }
    return samples;
}

std::vector<uint8_t> ReadAllBytes(PAVISTREAM stream) {
    LONG start = AVIStreamStart(stream), length = AVIStreamLength(stream);
    LONG bytes = 0, count = 0;
    EXPECT_EQ(AVIStreamRead(stream, start, length, nullptr, 0, &bytes, &count), AVIERR_OK);
    std::vector<uint8_t> data(static_cast<size_t>(bytes));
    if (bytes > 0) {
        EXPECT_EQ(AVIStreamRead(stream, start, length, data.data(), bytes, &bytes, &count),
                  AVIERR_OK);
        EXPECT_EQ(count, length);
    }
    return data;
}

std::vector<uint8_t> Pattern(size_t size, uint32_t seed) {
    std::vector<uint8_t> bytes(size);
    uint32_t x = seed * 2654435761u + 12345u;
    for (auto& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 24);
    }
    return bytes;
}

AVISTREAMINFOW VideoHeader(DWORD handler, DWORD scale, DWORD rate, LONG width, LONG height) {
    AVISTREAMINFOW info{};
    info.fccType = streamtypeVIDEO;
    info.fccHandler = handler;
    info.dwScale = scale;
    info.dwRate = rate;
    info.dwQuality = 0xFFFFFFFF;
    info.rcFrame = RECT{0, 0, width, height};
    return info;
}

AVISTREAMINFOW PcmHeader(DWORD sampleRate, WORD channels) {
    AVISTREAMINFOW info{};
    info.fccType = streamtypeAUDIO;
    info.dwScale = 2u * channels;
    info.dwRate = sampleRate * 2u * channels;
    info.dwSampleSize = 2u * channels;
    info.dwQuality = 0xFFFFFFFF;
    return info;
}

BITMAPINFOHEADER BitmapHeader(LONG width, LONG height, WORD bits, DWORD compression) {
    BITMAPINFOHEADER h{};
    h.biSize = 40;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = bits;
    h.biCompression = compression;
    h.biSizeImage = static_cast<DWORD>(((width * bits + 31) / 32) * 4 * height);
    return h;
}

WAVEFORMATEX PcmFormat(DWORD sampleRate, WORD channels) {
    WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = channels;
    f.nSamplesPerSec = sampleRate;
    f.nBlockAlign = static_cast<WORD>(2 * channels);
    f.nAvgBytesPerSec = sampleRate * f.nBlockAlign;
    f.wBitsPerSample = 16;
    return f;
}
