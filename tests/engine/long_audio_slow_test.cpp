// A PCM stream of more than 2 GiB, written by ffmpeg, copied through the converter: every
// sample arrives, byte for byte, and the copy takes no more memory than a short one.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "avi/stream_converter.h"
#include "engine_test_files.h"
#include "support/unicode_text.h"

namespace {

// Peak resident memory of this process so far, in KiB.
long PeakKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

std::string AudioMd5(const std::string& path) {
    std::string out;
    RunShell("ffmpeg -v error -i '" + path + "' -map 0:a:0 -c copy -f md5 - 2>&1", &out);
    return out;
}

TEST(LongAudio, StreamAbove2GiBIsCopiedWholeInBoundedMemory) {
    if (RunShell("command -v ffmpeg >/dev/null") != 0) GTEST_SKIP() << "ffmpeg is missing";
    ScratchDir dir;
    // 3 h 8 min of 48 kHz stereo 16-bit: 2,165,760,000 bytes, beyond INT32_MAX. Two tones, so
    // that a sample in the wrong place changes the checksum.
    constexpr int64_t seconds = 11280;
    constexpr int64_t sampleFrames = seconds * 48000;
    ASSERT_EQ(
        RunShell("ffmpeg -v error -f lavfi -i 'sine=frequency=440:sample_rate=48000' -f lavfi "
                 "-i 'sine=frequency=613:sample_rate=48000' -filter_complex amerge -t " +
                 std::to_string(seconds) + " -c:a pcm_s16le '" + dir.Path("long.avi") + "'"),
        0);

    AviFileRecord source;
    AviFileRecord destination;
    ASSERT_EQ(OpenSourceAvi(FromUtf8(dir.Path("long.avi")), source), 1);
    ASSERT_EQ(AVIStreamLength(source.slots[0].streamHandle), sampleFrames);
    ASSERT_EQ(CreateDestinationAvi(FromUtf8(dir.Path("copy.avi")), destination), 1);
    const long before = PeakKiB();
    EXPECT_EQ(ConvertStreams(source, destination, 0, nullptr), 0);
    CloseAvi(destination);
    CloseAvi(source);
    ASSERT_EQ(AVIFileLastCloseResult(), AVIERR_OK);
    // Holding the stream at once would take 2 GiB; pieces of a second take a few hundred KiB.
    std::printf("peak memory rose by %ld KiB while copying\n", PeakKiB() - before);
    EXPECT_LT(PeakKiB() - before, 64 * 1024) << "peak rose from " << before << " KiB";

    AviFileRecord copy;
    ASSERT_EQ(OpenSourceAvi(FromUtf8(dir.Path("copy.avi")), copy), 1);
    EXPECT_EQ(AVIStreamLength(copy.slots[0].streamHandle), sampleFrames);
    CloseAvi(copy);
    const std::string expected = AudioMd5(dir.Path("long.avi"));
    ASSERT_EQ(expected.rfind("MD5=", 0), 0u) << expected;
    EXPECT_EQ(AudioMd5(dir.Path("copy.avi")), expected);
}

}  // namespace
