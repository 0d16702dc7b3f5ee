// Small AVI files for the engine tests, written with our own library: a video stream of
// uncompressed frames, PCM audio, and streams of other kinds, in any number.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "avifile/avi_file.h"

class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }
    std::u16string Path16(const std::string& name) const;

  private:
    std::string dir_;
};

struct TestStream {
    DWORD type = streamtypeVIDEO;
    int32_t width = 16, height = 8;  // video: frame size of the format and the rectangle
    RECT frame{-1, -1, -1, -1};      // video: rectangle to store, when not the default
    int32_t frames = 3;              // video: frames; other: samples; audio: sample frames
    int32_t start = 0;
    std::vector<int32_t> emptyFrames;  // video positions (from start) stored as drop frames
    std::vector<int32_t> shortFrames;  // video positions (from start) stored cut short
    uint16_t audioExtraBytes = 0;      // audio: cbSize bytes after the WAVEFORMATEX
    DWORD compression = BI_RGB;        // video: another FourCC stores the pattern bytes as
                                       // they are, which no decoder makes a picture of
    std::vector<std::pair<DWORD, std::string>> headerChunks;  // extra chunks of the header list
};

TestStream Video(int32_t frames = 3, int32_t width = 16, int32_t height = 8);
TestStream Audio(int32_t sampleFrames = 800);
TestStream Other(DWORD type = streamtypeTEXT, int32_t samples = 4);

// Writes a file with the given streams; frame pixels and samples follow a pattern that
// depends on the stream index and position. Returns false when the library refused.
bool WriteTestAvi(const std::string& path, const std::vector<TestStream>& streams);

// The bytes of a video frame or an audio block that WriteTestAvi stores.
std::vector<uint8_t> TestFramePixels(int32_t stream, int32_t position, int32_t width,
                                     int32_t height);
std::vector<uint8_t> TestAudioBytes(int32_t stream, int32_t sampleFrames);

// The whole content of a file, as bytes.
std::string FileBytes(const std::string& path);

// Runs a shell command (Linux only; -1 on Windows); its exit status, and its standard output.
int RunShell(const std::string& command, std::string* output = nullptr);
