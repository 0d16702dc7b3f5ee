// The converter on several threads (decoding ahead, large frames scaled in row bands) against
// the converter on one: the same progress reports in the same order and the same file, byte
// for byte, for sources of our own writer and of ffmpeg.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "avi/stream_converter.h"
#include "engine_test_files.h"
#include "support/unicode_text.h"

namespace {

using Call = std::tuple<int32_t, int32_t, int32_t, int32_t>;
std::vector<Call> calls;
int32_t Record(int32_t type, int32_t index, int32_t current, int32_t total) {
    calls.emplace_back(type, index, current, total);
    return 0;
}

struct Result {
    std::vector<Call> calls;
    std::vector<char> bytes;
    int undecodable = -1;
};

Result ConvertWith(int threads, const std::string& from, const std::string& to, int32_t width,
                   int32_t height, uint32_t options, ConverterPhases* phases = nullptr) {
    calls.clear();
    ConverterSettings settings;
    settings.threads = threads;
    Result result;
    AviFileRecord source;
    AviFileRecord destination;
    EXPECT_EQ(OpenSourceAvi(FromUtf8(from), source), 1) << from;
    EXPECT_EQ(CreateDestinationAvi(FromUtf8(to), destination), 1) << to;
    destination.fileInfo.dwWidth = static_cast<DWORD>(width);
    destination.fileInfo.dwHeight = static_cast<DWORD>(height);
    result.undecodable = ConvertStreams(source, destination, options, Record, settings, phases);
    CloseAvi(destination);
    CloseAvi(source);
    result.calls = calls;
    std::ifstream in(to, std::ios::binary);
    result.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return result;
}

void ExpectSameOnEveryThreadCount(const std::string& source, const ScratchDir& dir, int32_t width,
                                  int32_t height, uint32_t options) {
    const Result one = ConvertWith(1, source, dir.Path("one.avi"), width, height, options);
    ASSERT_GT(one.bytes.size(), 0u) << source;
    for (int threads : {2, 3, 8}) {
        const Result many =
            ConvertWith(threads, source, dir.Path("many.avi"), width, height, options);
        EXPECT_EQ(many.undecodable, one.undecodable) << source << " on " << threads;
        EXPECT_EQ(many.calls, one.calls) << source << " on " << threads;
        EXPECT_TRUE(many.bytes == one.bytes)
            << source << " on " << threads << " threads: " << many.bytes.size() << " bytes, "
            << one.bytes.size() << " on one";
    }
}

bool HaveFfmpeg() {
    static const bool present = RunShell("ffmpeg -version >/dev/null 2>&1") == 0;
    return present;
}

bool Ffmpeg(const std::string& arguments) {
    return RunShell("ffmpeg -nostdin -v error -y " + arguments) == 0;
}

TEST(PipelinedConverter, OwnFilesWithDropAndShortFramesAndEveryKindOfStream) {
    ScratchDir dir;
    TestStream video = Video(30, 33, 17);
    video.emptyFrames = {0, 4, 5, 29};
    video.shortFrames = {7, 12};
    const std::string source = dir.Path("own.avi");
    ASSERT_TRUE(WriteTestAvi(source, {video, Audio(4000), Other(), Video(5, 8, 8)}));
    for (uint32_t options : {0u, OPTION_ANTI_ALIAS}) {
        ExpectSameOnEveryThreadCount(source, dir, 50, 9, options);
        ExpectSameOnEveryThreadCount(source, dir, 33, 17, options);  // sizes kept
    }
}

TEST(PipelinedConverter, FilesOfFfmpegCompressedRawAndLarge) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    ScratchDir dir;
    const std::string h264 = dir.Path("h264.avi");
    ASSERT_TRUE(
        Ffmpeg("-f lavfi -i testsrc2=s=320x240:r=25 -f lavfi -i sine=r=48000 -t 2 -c:v libx264 "
               "-preset veryfast -bf 3 -g 12 -c:a pcm_s16le '" +
               h264 + "'"));
    ExpectSameOnEveryThreadCount(h264, dir, 200, 150, OPTION_ANTI_ALIAS);

    const std::string raw = dir.Path("raw.avi");
    ASSERT_TRUE(Ffmpeg("-f lavfi -i testsrc2=s=101x75:r=25 -t 1 -c:v rawvideo -pix_fmt bgr24 '" +
                       raw + "'"));
    ExpectSameOnEveryThreadCount(raw, dir, 203, 37, 0);

    // Frames large enough to be scaled in row bands, shrunk and enlarged.
    const std::string large = dir.Path("large.avi");
    ASSERT_TRUE(
        Ffmpeg("-f lavfi -i testsrc2=s=1920x1080:r=25 -t 0.2 -c:v mjpeg -q:v 5 '" + large + "'"));
    ExpectSameOnEveryThreadCount(large, dir, 1280, 720, OPTION_ANTI_ALIAS);
    ExpectSameOnEveryThreadCount(large, dir, 1001, 999, 0);
    ExpectSameOnEveryThreadCount(large, dir, 2500, 1300, OPTION_ANTI_ALIAS);
    ExpectSameOnEveryThreadCount(large, dir, 2500, 2160, 0);
}

TEST(PipelinedConverter, PhasesAccountForEveryFrame) {
    ScratchDir dir;
    const std::string source = dir.Path("own.avi");
    ASSERT_TRUE(WriteTestAvi(source, {Video(20, 64, 48)}));
    for (int threads : {1, 2}) {
        ConverterPhases phases;
        ConvertWith(threads, source, dir.Path("out.avi"), 32, 24, OPTION_ANTI_ALIAS, &phases);
        EXPECT_EQ(phases.frames, 20) << threads;
        EXPECT_GT(phases.decode, 0.0) << threads;
        EXPECT_GT(phases.scale, 0.0) << threads;
        EXPECT_GT(phases.write, 0.0) << threads;
    }
    EXPECT_EQ(ResolvedConverterThreads(5), 5);
    EXPECT_GE(ResolvedConverterThreads(0), 1);
}

}  // namespace
