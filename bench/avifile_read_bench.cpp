// Times the AVI reader on a one-hour 25 fps file with audio (about 180,000 index entries):
// opening it, and reading every sample in file order and stream by stream, against
// `cat FILE >/dev/null` on the same file in the same run. Usage:
//   avifile_read_bench [FOLDER]   (the file is written there once and kept; default /tmp)
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "avifile/avi_file.h"

namespace {

constexpr LONG kFrames = 25 * 3600;
constexpr LONG kAudioPerFrame = 882;  // 22050 Hz mono, 16-bit
constexpr DWORD kMjpg = mmioFOURCC('M', 'J', 'P', 'G');

using Clock = std::chrono::steady_clock;
double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

std::u16string U16(const std::string& s) {
    return std::u16string(s.begin(), s.end());
}

bool WriteFile(const std::string& path) {
    std::u16string name = U16(path);
    PAVIFILE file = nullptr;
    if (AVIFileOpenW(&file, name.c_str(), OF_CREATE | OF_WRITE, nullptr) != AVIERR_OK) return false;
    AVISTREAMINFOW vi{};
    vi.fccType = streamtypeVIDEO;
    vi.fccHandler = kMjpg;
    vi.dwScale = 1;
    vi.dwRate = 25;
    vi.rcFrame = RECT{0, 0, 320, 240};
    BITMAPINFOHEADER bih{40, 320, 240, 1, 24, kMjpg, 0, 0, 0, 0, 0};
    AVISTREAMINFOW ai{};
    ai.fccType = streamtypeAUDIO;
    ai.dwScale = 2;
    ai.dwRate = 44100;
    ai.dwSampleSize = 2;
    WAVEFORMATEX wf{WAVE_FORMAT_PCM, 1, 22050, 44100, 2, 16, 0};
    PAVISTREAM v = nullptr, a = nullptr;
    AVIFileCreateStreamW(file, &v, &vi);
    AVIStreamSetFormat(v, 0, &bih, sizeof bih);
    AVIFileCreateStreamW(file, &a, &ai);
    AVIStreamSetFormat(a, 0, &wf, sizeof wf);
    std::vector<uint8_t> frame(2600, 0x5A), pcm(kAudioPerFrame * 2, 0x11);
    for (LONG i = 0; i < kFrames; ++i) {
        LONG size = 1500 + (i * 7919) % 1000;  // small compressed frames, about 2 KB
        AVIStreamWrite(v, i, 1, frame.data(), size, i % 25 == 0 ? AVIIF_KEYFRAME : 0, nullptr,
                       nullptr);
        AVIStreamWrite(a, i * kAudioPerFrame, kAudioPerFrame, pcm.data(), kAudioPerFrame * 2,
                       AVIIF_KEYFRAME, nullptr, nullptr);
    }
    AVIStreamRelease(v);
    AVIStreamRelease(a);
    AVIFileRelease(file);
    return AVIFileLastCloseResult() == AVIERR_OK;
}

struct Opened {
    PAVIFILE file = nullptr;
    PAVISTREAM video = nullptr, audio = nullptr;
    explicit Opened(const std::string& path) {
        std::u16string name = U16(path);
        if (AVIFileOpenW(&file, name.c_str(), OF_READ, nullptr) != AVIERR_OK) return;
        AVIFileGetStream(file, &video, streamtypeVIDEO, 0);
        AVIFileGetStream(file, &audio, streamtypeAUDIO, 0);
    }
    ~Opened() {
        if (video) AVIStreamRelease(video);
        if (audio) AVIStreamRelease(audio);
        if (file) AVIFileRelease(file);
    }
};

// Reads every sample; returns the bytes read (so the work can't be dropped).
uint64_t ReadInFileOrder(const Opened& in, std::vector<uint8_t>& buffer) {
    uint64_t total = 0;
    LONG bytes = 0, samples = 0;
    for (LONG i = 0; i < kFrames; ++i) {
        AVIStreamRead(in.video, i, 1, buffer.data(), static_cast<LONG>(buffer.size()), &bytes,
                      &samples);
        total += static_cast<uint64_t>(bytes);
        AVIStreamRead(in.audio, i * kAudioPerFrame, kAudioPerFrame, buffer.data(),
                      static_cast<LONG>(buffer.size()), &bytes, &samples);
        total += static_cast<uint64_t>(bytes);
    }
    return total;
}

uint64_t ReadStreamByStream(const Opened& in, std::vector<uint8_t>& buffer) {
    uint64_t total = 0;
    LONG bytes = 0, samples = 0;
    for (LONG i = 0; i < AVIStreamLength(in.video); ++i) {
        AVIStreamRead(in.video, i, 1, buffer.data(), static_cast<LONG>(buffer.size()), &bytes,
                      &samples);
        total += static_cast<uint64_t>(bytes);
    }
    for (LONG i = 0; i < AVIStreamLength(in.audio); i += kAudioPerFrame) {
        AVIStreamRead(in.audio, i, kAudioPerFrame, buffer.data(), static_cast<LONG>(buffer.size()),
                      &bytes, &samples);
        total += static_cast<uint64_t>(bytes);
    }
    return total;
}

}  // namespace

int main(int argc, char** argv) {
    std::string path = std::string(argc > 1 ? argv[1] : "/tmp") + "/avifile_read_bench.avi";
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        std::printf("writing %s ...\n", path.c_str());
        Clock::time_point t = Clock::now();
        if (!WriteFile(path)) {
            std::fprintf(stderr, "could not write %s\n", path.c_str());
            return 1;
        }
        std::printf("written in %.2f s\n", Seconds(t));
        stat(path.c_str(), &st);
    }
    std::printf("file: %s, %.1f MB\n", path.c_str(), double(st.st_size) / 1e6);

    // The page cache is warm for every contender: cat runs first, and each measure is the best
    // of three runs.
    std::string cat = "cat '" + path + "' >/dev/null";
    double catBest = 1e9, openBest = 1e9, orderBest = 1e9, streamsBest = 1e9;
    uint64_t checksum = 0;
    std::vector<uint8_t> buffer(64 * 1024);
    for (int run = 0; run < 3; ++run) {
        Clock::time_point t = Clock::now();
        if (std::system(cat.c_str()) != 0) return 1;
        catBest = std::min(catBest, Seconds(t));

        t = Clock::now();
        Opened in(path);
        openBest = std::min(openBest, Seconds(t));
        if (!in.video || !in.audio || AVIStreamLength(in.video) != kFrames) {
            std::fprintf(stderr, "unexpected file\n");
            return 1;
        }
        t = Clock::now();
        checksum += ReadInFileOrder(in, buffer);
        orderBest = std::min(orderBest, Seconds(t));
        t = Clock::now();
        checksum += ReadStreamByStream(in, buffer);
        streamsBest = std::min(streamsBest, Seconds(t));
    }
    double mb = double(st.st_size) / 1e6;
    std::printf("bytes read in all runs: %llu\n", static_cast<unsigned long long>(checksum));
    std::printf("%-34s %9s %10s %12s\n", "operation", "time (s)", "MB/s", "ratio to cat");
    std::printf("%-34s %9.3f %10.0f %12s\n", "cat FILE >/dev/null", catBest, mb / catBest, "1.00");
    std::printf("%-34s %9.3f %10s %11.3f%%\n", "open (headers and index)", openBest, "",
                100 * openBest / orderBest);
    std::printf("%-34s %9.3f %10.0f %12.2f\n", "read every sample, file order", orderBest,
                mb / orderBest, catBest / orderBest);
    std::printf("%-34s %9.3f %10.0f %12.2f\n", "read every sample, stream by stream", streamsBest,
                mb / streamsBest, catBest / streamsBest);
    std::printf("(open: share of the file-order read time)\n");
    return 0;
}
