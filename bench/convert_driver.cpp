// Headless conversion for measurements: runs the real engine (open, create, convert, close) on
// one file, with no window and no progress display, so that its time and memory can be set
// beside other tools'. With --phases it instead replays the first video stream's work step by
// step, with one decoding thread so that the phases don't overlap, and prints how long
// decoding, scaling and writing took.
//
//   convert_driver SOURCE DESTINATION WIDTH HEIGHT OPTIONS [--phases]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "avi/avi_file_record.h"
#include "avi/frame_scaler.h"
#include "avi/stream_converter.h"
#include "avifile/decoder/frame_decoder.h"
#include "support/unicode_text.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Reads every frame of the first video stream of SOURCE, scales it and writes it to a
// video-only DESTINATION with the same calls the converter makes, timing each kind of call.
int TimePhases(const std::u16string& sourcePath, const std::u16string& destinationPath,
               int32_t width, int32_t height, uint32_t options) {
    AVIStreamGetFrameSetThreads(1);
    AviFileRecord source;
    AviFileRecord destination;
    if (OpenSourceAvi(sourcePath, source) != 1 ||
        CreateDestinationAvi(destinationPath, destination) != 1) {
        std::fprintf(stderr, "convert_driver: can't open the files\n");
        return 1;
    }
    int32_t index = -1;
    for (int32_t i = 0; i < static_cast<int32_t>(source.fileInfo.dwStreams); ++i)
        if (source.slots[i].streamInfo.fccType == streamtypeVIDEO) {
            index = i;
            break;
        }
    if (index < 0) {
        std::fprintf(stderr, "convert_driver: no video stream\n");
        CloseAvi(destination);
        CloseAvi(source);
        return 1;
    }
    const StreamSlot& from = source.slots[index];
    StreamSlot& to = destination.slots[0];
    to.streamInfo = from.streamInfo;
    to.streamInfo.rcFrame = RECT{0, 0, width, height};
    destination.fileInfo.dwStreams = 1;
    AVIFileCreateStreamW(destination.fileHandle, &to.streamHandle, &to.streamInfo);
    const BITMAPINFOHEADER sourceHeader = FrameHeaderFor(from.streamInfo.rcFrame, false);
    const BITMAPINFOHEADER destinationHeader = FrameHeaderFor(to.streamInfo.rcFrame, true);
    AVIStreamSetFormat(to.streamHandle, 0, &destinationHeader, sizeof destinationHeader);
    std::vector<uint8_t> frame(destinationHeader.biSizeImage);

    const Clock::time_point begin = Clock::now();
    PGETFRAME decoder = AVIStreamGetFrameOpen(from.streamHandle, &sourceHeader);
    Clock::duration decode{}, scale{}, write{};
    decode += Clock::now() - begin;
    const LONG start = AVIStreamStart(from.streamHandle);
    const LONG length = AVIStreamLength(from.streamHandle);
    const auto antiAlias = static_cast<int32_t>(options & OPTION_ANTI_ALIAS);
    int32_t delivered = 0;
    for (LONG j = start; j < start + length; ++j) {
        const Clock::time_point t0 = Clock::now();
        const auto* pixels = static_cast<const uint8_t*>(AVIStreamGetFrame(decoder, j));
        const Clock::time_point t1 = Clock::now();
        decode += t1 - t0;
        if (pixels == nullptr) continue;
        ++delivered;
        ScaleFrame(pixels + sizeof(BITMAPINFOHEADER), frame.data(), &sourceHeader,
                   &destinationHeader, antiAlias);
        const Clock::time_point t2 = Clock::now();
        scale += t2 - t1;
        AVIStreamWrite(to.streamHandle, j, 1, frame.data(),
                       static_cast<LONG>(destinationHeader.biSizeImage), 0, nullptr, nullptr);
        write += Clock::now() - t2;
    }
    AVIStreamGetFrameClose(decoder);
    const Clock::time_point closing = Clock::now();
    CloseAvi(destination);
    write += Clock::now() - closing;
    CloseAvi(source);
    const double total = Seconds(Clock::now() - begin);
    std::printf("frames %d  decode %.3f s  scale %.3f s  write+close %.3f s  total %.3f s\n",
                delivered, Seconds(decode), Seconds(scale), Seconds(write), total);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 6) {
        std::fprintf(stderr,
                     "usage: convert_driver SOURCE DESTINATION WIDTH HEIGHT OPTIONS [--phases]\n");
        return 2;
    }
    const std::u16string sourcePath = FromUtf8(argv[1]);
    const std::u16string destinationPath = FromUtf8(argv[2]);
    const auto width = static_cast<int32_t>(std::strtol(argv[3], nullptr, 10));
    const auto height = static_cast<int32_t>(std::strtol(argv[4], nullptr, 10));
    const auto options = static_cast<uint32_t>(std::strtoul(argv[5], nullptr, 10));

    AVIFileInit();
    int result = 0;
    if (argc > 6 && std::strcmp(argv[6], "--phases") == 0) {
        result = TimePhases(sourcePath, destinationPath, width, height, options);
    } else {
        AviFileRecord source;
        AviFileRecord destination;
        if (OpenSourceAvi(sourcePath, source) != 1) {
            std::fprintf(stderr, "convert_driver: not a valid AVI file\n");
            result = 1;
        } else if (CreateDestinationAvi(destinationPath, destination) != 1) {
            std::fprintf(stderr, "convert_driver: can't create the destination\n");
            CloseAvi(source);
            result = 1;
        } else {
            destination.fileInfo.dwWidth = static_cast<DWORD>(width);
            destination.fileInfo.dwHeight = static_cast<DWORD>(height);
            ConvertStreams(source, destination, options, nullptr);
            CloseAvi(destination);
            CloseAvi(source);
            if (AVIFileLastCloseResult() != AVIERR_OK) {
                std::fprintf(stderr, "convert_driver: completing the destination failed\n");
                result = 1;
            }
        }
    }
    AVIFileExit();
    return result;
}
