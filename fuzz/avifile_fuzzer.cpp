// Fuzz entry point for the AVI reader: opens the input from memory and exercises every read
// operation on every stream, as the converter and the frame decoder use them.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "avifile/avi_file.h"

namespace {

void ExerciseStream(PAVISTREAM stream) {
    AVISTREAMINFOW info{};
    AVIStreamInfoW(stream, &info, sizeof info);
    LONG formatSize = 0;
    if (AVIStreamReadFormat(stream, 0, nullptr, &formatSize) == AVIERR_OK && formatSize > 0) {
        std::vector<uint8_t> format(static_cast<size_t>(formatSize));
        AVIStreamReadFormat(stream, 0, format.data(), &formatSize);
    }
    LONG dataSize = 0;
    if (AVIStreamReadData(stream, mmioFOURCC('s', 't', 'r', 'd'), nullptr, &dataSize) ==
            AVIERR_OK &&
        dataSize > 0) {
        std::vector<uint8_t> data(static_cast<size_t>(dataSize));
        AVIStreamReadData(stream, mmioFOURCC('s', 't', 'r', 'd'), data.data(), &dataSize);
    }
    LONG start = AVIStreamStart(stream);
    LONG length = AVIStreamLength(stream);
    // The whole stream at once (bounded, the input is small), then sample by sample.
    LONG bytes = 0, samples = 0;
    if (AVIStreamRead(stream, 0, length, nullptr, 0, &bytes, &samples) == AVIERR_OK && bytes > 0 &&
        bytes <= (16 << 20)) {
        std::vector<uint8_t> all(static_cast<size_t>(bytes));
        AVIStreamRead(stream, 0, length, all.data(), bytes, &bytes, &samples);
    }
    std::vector<uint8_t> sample;
    LONG end = start + std::min<LONG>(length, 20000);
    for (LONG pos = start; pos < end; ++pos) {
        LONG size = 0;
        if (AVIStreamSampleSize(stream, pos, &size) != AVIERR_OK) continue;
        sample.resize(static_cast<size_t>(std::clamp<LONG>(size, 1, 16 << 20)));
        AVIStreamRead(stream, pos, 1, sample.data(), static_cast<LONG>(sample.size()), &bytes,
                      &samples);
        AVIStreamRead(stream, pos, AVISTREAMREAD_CONVENIENT, nullptr, 0, &bytes, &samples);
        AVIStreamNearestKeyFrame(stream, pos);
        AVIStreamFindSample(stream, pos, FIND_NEXT | FIND_KEY);
        AVIStreamIsKeyFrame(stream, pos);
    }
    LONG chunks = std::min<LONG>(AVIStreamChunkCount(stream), 20000);
    for (LONG c = 0; c < chunks; ++c) {
        AVICHUNKINFO chunk{};
        AVIStreamChunkInfo(stream, c, &chunk);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    PAVIFILE file = nullptr;
    if (AVIFileOpenFromMemory(&file, data, size) != AVIERR_OK) return 0;
    AVIFILEINFOW info{};
    AVIFileInfoW(file, &info, sizeof info);
    for (DWORD i = 0; i < info.dwStreams; ++i) {
        PAVISTREAM stream = nullptr;
        if (AVIFileGetStream(file, &stream, 0, static_cast<LONG>(i)) != AVIERR_OK) continue;
        ExerciseStream(stream);
        AVIStreamRelease(stream);
    }
    AVIFileRelease(file);
    return 0;
}
