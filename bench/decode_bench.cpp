// Frame decoder against ffmpeg: every frame of an H.264 1920x1080 AVI decoded to 24-bit BGR, by
// AVIStreamGetFrame and by `ffmpeg -threads N ... -f rawvideo -pix_fmt bgr24`, with the same
// thread count, alternating in one run; the best of the rounds counts.
//
//   decode_bench [--threads N] [--rounds R] [--seconds S] [--keep FILE]
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "avifile/avi_file.h"
#include "avifile/decoder/frame_decoder.h"

namespace {

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int Run(const std::string& command) {
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Decodes every frame; returns the frames delivered and the seconds it took, open included.
int DecodeWithOurs(const std::string& path, double* seconds) {
    double start = Now();
    std::u16string name(path.begin(), path.end());
    PAVIFILE file = nullptr;
    if (AVIFileOpenW(&file, name.c_str(), OF_READ, nullptr) != AVIERR_OK) return -1;
    PAVISTREAM stream = nullptr;
    AVIFileGetStream(file, &stream, streamtypeVIDEO, 0);
    AVISTREAMINFOW info{};
    AVIStreamInfoW(stream, &info, sizeof info);
    BITMAPINFOHEADER wanted{};
    wanted.biSize = sizeof wanted;
    wanted.biWidth = info.rcFrame.right - info.rcFrame.left;
    wanted.biHeight = info.rcFrame.bottom - info.rcFrame.top;
    wanted.biPlanes = 1;
    wanted.biBitCount = 24;
    wanted.biCompression = BI_RGB;
    PGETFRAME decoder = AVIStreamGetFrameOpen(stream, &wanted);
    int frames = 0;
    unsigned checksum = 0;
    LONG first = AVIStreamStart(stream);
    for (LONG p = first; p < first + AVIStreamLength(stream); ++p) {
        auto* frame = static_cast<const uint8_t*>(AVIStreamGetFrame(decoder, p));
        if (!frame) continue;
        ++frames;
        checksum += frame[40 + 1000];  // touch the delivered rows, as a consumer would
    }
    AVIStreamGetFrameClose(decoder);
    AVIStreamRelease(stream);
    AVIFileRelease(file);
    *seconds = Now() - start;
    if (checksum == 1) std::fprintf(stderr, " ");
    return frames;
}

}  // namespace

int main(int argc, char** argv) {
    int threads = 2, rounds = 3, length = 10;
    std::string keep;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--threads"))
            threads = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--rounds"))
            rounds = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--seconds"))
            length = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--keep"))
            keep = argv[i + 1];
    }
    char dir[] = "/tmp/decode-bench-XXXXXX";
    if (!mkdtemp(dir)) return 1;
    std::string path = keep.empty() ? std::string(dir) + "/h264-1080p.avi" : keep;
    if (access(path.c_str(), R_OK) != 0) {
        std::string make = "ffmpeg -v error -y -f lavfi -i testsrc2=s=1920x1080:r=25 -t " +
                           std::to_string(length) +
                           " -c:v libx264 -preset veryfast -pix_fmt yuv420p -f avi '" + path + "'";
        std::printf("making: %s\n", make.c_str());
        if (Run(make) != 0) return 1;
    }
    AVIStreamGetFrameSetThreads(threads);
    std::string ffmpeg = "ffmpeg -v error -threads " + std::to_string(threads) + " -i '" + path +
                         "' -f rawvideo -pix_fmt bgr24 -y /dev/null";
    std::printf("peer: %s\n", ffmpeg.c_str());

    double bestOurs = 1e30, bestPeer = 1e30;
    int frames = 0;
    for (int round = 0; round < rounds; ++round) {
        double ours = 0;
        frames = DecodeWithOurs(path, &ours);
        double start = Now();
        if (Run(ffmpeg) != 0) return 1;
        double peer = Now() - start;
        std::printf("round %d: frame decoder %.3f s (%.1f fps), ffmpeg %.3f s (%.1f fps)\n",
                    round + 1, ours, frames / ours, peer, frames / peer);
        if (ours < bestOurs) bestOurs = ours;
        if (peer < bestPeer) bestPeer = peer;
    }
    double ratio = bestPeer / bestOurs;
    std::printf(
        "frames %d, threads %d; best: frame decoder %.1f fps, ffmpeg %.1f fps, ratio %.3f "
        "(goal 0.95: %s)\n",
        frames, threads, frames / bestOurs, frames / bestPeer, ratio,
        ratio >= 0.95 ? "met" : "not met");
    if (keep.empty()) {
        unlink(path.c_str());
        rmdir(dir);
    }
    return 0;
}
