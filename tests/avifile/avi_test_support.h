// Shared helpers of the AVI library tests: external tools (ffmpeg, ffprobe, gst-launch-1.0),
// opened files that release themselves, whole-stream reads, and (from test_files.h) temporary
// folders and whole files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "avifile/avi_file.h"
#include "test_files.h"

// Runs a shell command; returns its exit status and, if asked, what it printed on stdout
// (and, with `stderrToo`, on stderr after it).
int RunCommand(const std::string& command, std::string* output = nullptr);
bool HaveTool(const std::string& name);

struct ProbePacket {
    int stream;
    int64_t pts;  // in the stream's time base; -1 when unknown
    int64_t size;
    bool key;
};
// The packets ffprobe finds in a file, in file order.
std::vector<ProbePacket> ProbePackets(const std::string& path);
// ffprobe's warnings and errors about a file (empty when it reads the file cleanly).
std::string ProbeWarnings(const std::string& path);
// One field of one stream from ffprobe -show_streams (-count_packets adds nb_read_packets).
std::string ProbeStreamField(const std::string& path, int stream, const std::string& field);

// An opened file and all its streams, released at the end of the scope.
struct OpenedAvi {
    PAVIFILE file = nullptr;
    AVIFILEINFOW info{};
    std::vector<PAVISTREAM> streams;
    HRESULT result = AVIERR_OK;

    explicit OpenedAvi(const std::string& path);
    OpenedAvi(const uint8_t* data, size_t size);
    ~OpenedAvi();
    OpenedAvi(const OpenedAvi&) = delete;
    OpenedAvi& operator=(const OpenedAvi&) = delete;
    bool ok() const { return result == AVIERR_OK; }

  private:
    void FetchStreams();
};

AVISTREAMINFOW StreamInfo(PAVISTREAM stream);
std::vector<uint8_t> ReadFormat(PAVISTREAM stream);
// Every sample of a stream, one block per position (fixed-size streams: one sample each).
std::vector<std::vector<uint8_t>> ReadAllSamples(PAVISTREAM stream);
// All the bytes of a stream, read in one call.
std::vector<uint8_t> ReadAllBytes(PAVISTREAM stream);

// Headers for the writer.
AVISTREAMINFOW VideoHeader(DWORD handler, DWORD scale, DWORD rate, LONG width, LONG height);
AVISTREAMINFOW PcmHeader(DWORD sampleRate, WORD channels);
BITMAPINFOHEADER BitmapHeader(LONG width, LONG height, WORD bits, DWORD compression);
WAVEFORMATEX PcmFormat(DWORD sampleRate, WORD channels);
