// Headless conversion for measurements: runs the real engine (open, create, convert, close) on
// one file, with no window and no progress display, so that its time and memory can be set
// beside other tools'. --threads N sets the converter's threads (default: one per core);
// --phases prints where the video's time went: in the decoder, scaling, writing, and waiting
// for a decoded frame (with 2 or more threads decoding overlaps the rest). --rows converts YUV
// pictures to BGR at the source's size before scaling, as the engine once did, for comparison.
//
//   convert_driver SOURCE DESTINATION WIDTH HEIGHT OPTIONS [--threads N] [--phases]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "avi/avi_file_record.h"
#include "avi/stream_converter.h"
#include "support/unicode_text.h"

int main(int argc, char** argv) {
    bool phasesWanted = false;
    ConverterSettings settings;
    for (int i = 6; i < argc; ++i) {
        if (std::strcmp(argv[i], "--phases") == 0) {
            phasesWanted = true;
        } else if (std::strcmp(argv[i], "--rows") == 0) {
            settings.scalePlanes = false;
        } else if (std::strcmp(argv[i], "--threads") == 0 && i + 1 < argc) {
            settings.threads = static_cast<int>(std::strtol(argv[++i], nullptr, 10));
        } else {
            argc = 0;  // unknown: show the usage
        }
    }
    if (argc < 6) {
        std::fprintf(stderr,
                     "usage: convert_driver SOURCE DESTINATION WIDTH HEIGHT OPTIONS "
                     "[--threads N] [--phases] [--rows]\n");
        return 2;
    }
    const std::u16string sourcePath = FromUtf8(argv[1]);
    const std::u16string destinationPath = FromUtf8(argv[2]);
    const auto width = static_cast<int32_t>(std::strtol(argv[3], nullptr, 10));
    const auto height = static_cast<int32_t>(std::strtol(argv[4], nullptr, 10));
    const auto options = static_cast<uint32_t>(std::strtoul(argv[5], nullptr, 10));

    AVIFileInit();
    int result = 0;
    const auto begin = std::chrono::steady_clock::now();
    ConverterPhases p;
    {
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
            ConvertStreams(source, destination, options, nullptr, settings, &p);
            CloseAvi(destination);
            CloseAvi(source);
            if (AVIFileLastCloseResult() != AVIERR_OK) {
                std::fprintf(stderr, "convert_driver: completing the destination failed\n");
                result = 1;
            }
        }
    }
    if (phasesWanted) {
        const double total =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        std::printf(
            "threads %d  frames %lld  decode %.3f s  scale %.3f s  write %.3f s  "
            "wait %.3f s  total %.3f s\n",
            ResolvedConverterThreads(settings.threads), static_cast<long long>(p.frames), p.decode,
            p.scale, p.write, p.wait, total);
    }
    AVIFileExit();
    return result;
}
