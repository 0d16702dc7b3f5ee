// Running the compressor and the FFmpeg tools from tests, and the small files they work on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ProgramRun {
    int exitCode = -1;
    std::string out;  // standard output, as bytes
    std::string err;
};

// Runs vidcrunch.exe with `arguments`. A `fileSizeLimit` above 0 caps the size of any file it
// writes (writes past it fail as on a full disk).
ProgramRun RunVidcrunch(const std::vector<std::string>& arguments, uint64_t fileSizeLimit = 0);

// Runs a shell command and returns its standard output; the exit code goes to *exitCode.
std::string RunShell(const std::string& command, int* exitCode = nullptr);

// A fresh folder under the system's temporary folder, removed with RemoveTree.
std::string MakeTempDir();
void RemoveTree(const std::string& path);
bool FileExists(const std::string& path);
std::string ReadWholeFile(const std::string& path);

// Makes an AVI with uncompressed BGR24 video (moving test picture) and 16-bit stereo PCM at
// 22050 Hz, by ffmpeg. Returns false when ffmpeg failed.
bool MakeRawAvi(const std::string& path, int width, int height, int seconds);

// ffprobe's value of `key` (for example "codec_name") for the first stream of `selector`
// ("v:0", "a:0"), with packets counted so "nb_read_packets" is known.
std::string ProbeStream(const std::string& path, const std::string& selector,
                        const std::string& key);

// The stream index of every packet in file order.
std::vector<int> PacketStreamsInFileOrder(const std::string& path);

// The MD5 of a stream's packets as ffmpeg copies them.
std::string PacketMd5(const std::string& path, const std::string& selector);

// The average luma and chroma PSNR of the first video streams of two files (ffmpeg's psnr
// filter); -1 when it could not be measured.
double VideoPsnr(const std::string& path, const std::string& reference);
