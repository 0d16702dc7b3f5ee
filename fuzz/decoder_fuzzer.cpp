// Fuzz entry point for the frame decoder: every video stream of the input, compressed or not,
// is opened for decoding into 24-bit frames and every position is asked for, as the converter
// does; each frame delivered is read whole.
#include <cstddef>
#include <cstdint>

#include "avifile/avi_file.h"
#include "avifile/decoder/frame_decoder.h"
namespace {

// Positions asked for per stream: enough for every file of the seed corpus, few enough that a
// header claiming millions of frames cannot make one input run for minutes.
constexpr LONG MAX_POSITIONS = 256;

void DecodeStream(PAVISTREAM stream) {
    AVISTREAMINFOW info{};
    if (AVIStreamInfoW(stream, &info, sizeof info) != AVIERR_OK || info.fccType != streamtypeVIDEO)
        return;
    // Both ways the converter may ask: for its own 24-bit header, and for the decoder's choice.
    BITMAPINFOHEADER wanted{};
    wanted.biSize = sizeof wanted;
    wanted.biWidth = info.rcFrame.right - info.rcFrame.left;
    wanted.biHeight = info.rcFrame.bottom - info.rcFrame.top;
    wanted.biPlanes = 1;
    wanted.biBitCount = 24;
    const BITMAPINFOHEADER* const asked[] = {&wanted, nullptr};
    for (const BITMAPINFOHEADER* format : asked) {
        PGETFRAME frames = AVIStreamGetFrameOpen(stream, format);
        if (frames == nullptr) continue;
        const LONG start = AVIStreamStart(stream);
        const LONG length = AVIStreamLength(stream);
        const LONG count = length < MAX_POSITIONS ? length : MAX_POSITIONS;
        volatile uint8_t sink = 0;
        // Forwards, then one seek back to the start, as a second pass over a stream would.
        for (LONG i = 0; i <= count; ++i) {
            const LONG position = i < count ? start + i : start;
            const auto* frame = static_cast<const uint8_t*>(AVIStreamGetFrame(frames, position));
            if (frame == nullptr) continue;
            const auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(frame);
            const size_t bytes = header->biSize + header->biSizeImage;
            for (size_t b = 0; b < bytes; b += 61) sink = sink ^ frame[b];
            if (bytes > 0) sink = sink ^ frame[bytes - 1];
        }
        AVIStreamGetFrameClose(frames);
    }
}

}  // namespace

// One decoding thread: starting a codec's threads for every input would cost more than the
// decoding, and the threaded paths are libavcodec's, not ours.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    AVIStreamGetFrameSetThreads(1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    PAVIFILE file = nullptr;
    if (AVIFileOpenFromMemory(&file, data, size) != AVIERR_OK) return 0;
    AVIFILEINFOW info{};
    AVIFileInfoW(file, &info, sizeof info);
    for (DWORD i = 0; i < info.dwStreams && i < 16; ++i) {
        PAVISTREAM stream = nullptr;
        if (AVIFileGetStream(file, &stream, 0, static_cast<LONG>(i)) != AVIERR_OK) continue;
        DecodeStream(stream);
        AVIStreamRelease(stream);
    }
    AVIFileRelease(file);
    return 0;
}
