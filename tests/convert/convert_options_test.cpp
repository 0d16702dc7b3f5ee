// reframe-convert's argument rules: sizes with their aspect-keeping sides, the output
// folder's names, and the mistakes that must be refused before any file is touched.
#include <gtest/gtest.h>

#include "convert/batch_runner.h"
#include "convert/convert_options.h"
#include "convert/progress_report.h"
#include "support/path_parts.h"

namespace {

ConvertOptions Parse(std::vector<std::string> arguments, std::string* error = nullptr) {
    ConvertOptions options;
    std::string reason;
    EXPECT_EQ(ParseConvertArguments(arguments, &options, &reason), error == nullptr ? 1 : 0)
        << reason;
    if (error != nullptr) *error = reason;
    return options;
}

TEST(FrameSize, ReadsBothSidesAndTheAspectKeepingValues) {
    int32_t w = 0, h = 0;
    std::string error;
    ASSERT_EQ(ParseFrameSize("640x360", &w, &h, &error), 1);
    EXPECT_EQ(w, 640);
    EXPECT_EQ(h, 360);
    ASSERT_EQ(ParseFrameSize("1X-2", &w, &h, &error), 1);
    EXPECT_EQ(h, SIZE_KEEP_ASPECT_EVEN);
    ASSERT_EQ(ParseFrameSize("-1x32767", &w, &h, &error), 1);
    EXPECT_EQ(w, SIZE_KEEP_ASPECT);
}

TEST(FrameSize, EachMistakeHasItsOwnReason) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"0x10", "a width of 0"},
        {"10x0", "a height of 0"},
        {"-3x10", "is negative"},
        {"10x32768", "too large"},
        {"99999999999999x1", "not a whole number"},
        {"1.5x2", "not a whole number"},
        {"x10", "not a whole number"},
        {"10", "expected WIDTHxHEIGHT"},
        {"1x2x3", "expected WIDTHxHEIGHT"},
        {"-1x-2", "only one side"},
        {" 10x10", "not a whole number"},
        {"+10x10", "not a whole number"},
    };
    for (const auto& [text, reason] : cases) {
        int32_t w = 7, h = 7;
        std::string error;
        EXPECT_EQ(ParseFrameSize(text, &w, &h, &error), 0) << text;
        EXPECT_NE(error.find(reason), std::string::npos) << text << ": " << error;
    }
}

TEST(FrameSize, AspectKeepingSidesFollowTheSourceShape) {
    const PixelAspect kSquare{};
    int32_t w = 0, h = 0;
    std::string error;
    ASSERT_EQ(ResolveFrameSize(101, SIZE_KEEP_ASPECT, 320, 180, kSquare, &w, &h, &error), 1);
    EXPECT_EQ(h, 57);  // 56.8
    ASSERT_EQ(ResolveFrameSize(101, SIZE_KEEP_ASPECT_EVEN, 320, 180, kSquare, &w, &h, &error), 1);
    EXPECT_EQ(h, 56);
    ASSERT_EQ(ResolveFrameSize(SIZE_KEEP_ASPECT_EVEN, 45, 320, 180, kSquare, &w, &h, &error), 1);
    EXPECT_EQ(w, 80);
    // Never below one pixel, or two for the even rule.
    ASSERT_EQ(ResolveFrameSize(1, SIZE_KEEP_ASPECT, 1000, 10, kSquare, &w, &h, &error), 1);
    EXPECT_EQ(h, 1);
    ASSERT_EQ(ResolveFrameSize(1, SIZE_KEEP_ASPECT_EVEN, 1000, 10, kSquare, &w, &h, &error), 1);
    EXPECT_EQ(h, 2);
    // A source with no size, or a result beyond what a header holds.
    EXPECT_EQ(ResolveFrameSize(64, SIZE_KEEP_ASPECT, 0, 0, kSquare, &w, &h, &error), 0);
    EXPECT_EQ(ResolveFrameSize(32767, SIZE_KEEP_ASPECT, 10, 1000, kSquare, &w, &h, &error), 0);
    EXPECT_NE(error.find("above"), std::string::npos);
    // A damaged header's source size makes a side far beyond any integer: refused, not converted.
    EXPECT_EQ(ResolveFrameSize(32767, SIZE_KEEP_ASPECT_EVEN, 1, INT32_MAX, kSquare, &w, &h, &error),
              0);
    EXPECT_EQ(ResolveFrameSize(SIZE_KEEP_ASPECT, 32767, 1, 1, kSquare, &w, &h, &error), 1);
    EXPECT_EQ(w, 32767);
}

TEST(FrameSize, AspectKeepingSidesGiveSquarePixelsOfTheShownShape) {
    int32_t w = 0, h = 0;
    std::string error;
    // PAL DV: 720x576 shown at 16:9 (pixels 64:45) and at 4:3 (16:15); NTSC DV at 4:3 (8:9).
    ASSERT_EQ(ResolveFrameSize(320, SIZE_KEEP_ASPECT_EVEN, 720, 576, {64, 45}, &w, &h, &error), 1);
    EXPECT_EQ(h, 180);
    ASSERT_EQ(ResolveFrameSize(320, SIZE_KEEP_ASPECT, 720, 576, {16, 15}, &w, &h, &error), 1);
    EXPECT_EQ(h, 240);
    ASSERT_EQ(ResolveFrameSize(SIZE_KEEP_ASPECT, 480, 720, 480, {8, 9}, &w, &h, &error), 1);
    EXPECT_EQ(w, 640);
    ASSERT_EQ(ResolveFrameSize(SIZE_KEEP_ASPECT_EVEN, 360, 720, 576, {64, 45}, &w, &h, &error), 1);
    EXPECT_EQ(w, 640);
    // Pixels so wide that the shown width leaves what a header holds.
    EXPECT_EQ(ResolveFrameSize(SIZE_KEEP_ASPECT, 32767, 720, 576, {65535, 1}, &w, &h, &error), 0);
}

TEST(Arguments, OneSourceAndDestinationOrAnOutputFolder) {
    ConvertOptions one = Parse({"--size", "64x-2", "-a", "in.avi", "out.avi"});
    EXPECT_EQ(one.sources, std::vector<std::string>{"in.avi"});
    EXPECT_EQ(one.destination, "out.avi");
    EXPECT_TRUE(one.average);
    ConvertOptions many = Parse(
        {"-o", "dir", "a.avi", "b.avi", "--drop", "audio", "--drop=other", "-j", "3", "-t", "2"});
    EXPECT_EQ(many.sources.size(), 2u);
    EXPECT_TRUE(many.dropAudio && many.dropOther && !many.dropVideo);
    EXPECT_EQ(many.jobs, 3);
    EXPECT_EQ(many.threads, 2);
    EXPECT_EQ(one.threads, 0);
    // After -- every argument is a file, a leading dash included.
    ConvertOptions dashed = Parse({"--", "-in.avi", "-out.avi"});
    EXPECT_EQ(dashed.destination, "-out.avi");
    ConvertOptions compressed =
        Parse({"--compress=ffv1", "--quality", "0", "--progress=json", "a", "b"});
    EXPECT_EQ(compressed.codec, "ffv1");
    EXPECT_EQ(compressed.quality, 0);
    EXPECT_EQ(compressed.progress, ProgressStyle::Json);
}

TEST(Arguments, MistakesAreRefusedWithTheirReason) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"a.avi"}, "give a SOURCE"},
        {{"a", "b", "c"}, "several sources need -o"},
        {{"-o", "dir"}, "no source"},
        {{"--size"}, "needs a value"},
        {{"--drop", "subtitles", "a", "b"}, "expected video, audio or other"},
        {{"--quality", "9", "a", "b"}, "needs --compress"},
        {{"-c", "--quality", "52", "a", "b"}, "0 to 51"},
        {{"--jobs", "0", "-o", "d", "a"}, "1 to 1024"},
        {{"--threads=65", "a", "b"}, "1 to 64"},
        {{"-t", "0", "a", "b"}, "1 to 64"},
        {{"--progress=loud", "a", "b"}, "expected auto"},
        {{"-x", "a", "b"}, "unknown option"},
        {{"", "b"}, "empty file name"},
    };
    for (const auto& [arguments, reason] : cases) {
        std::string error;
        Parse(arguments, &error);
        EXPECT_NE(error.find(reason), std::string::npos) << arguments[0] << ": " << error;
    }
}

TEST(Arguments, HelpAndVersionNeedNoFiles) {
    EXPECT_TRUE(Parse({"--help"}).helpWanted);
    EXPECT_TRUE(Parse({"-V"}).versionWanted);
}

TEST(OutputFolder, NamesEachSourceAfterItsFileName) {
    const std::string out = std::string("out") + kPreferredSeparator;
    EXPECT_EQ(OutputPathFor("out", "/videos/holiday.mov"), out + "holiday.avi");
    EXPECT_EQ(OutputPathFor("out/", "clip.tar.avi"), "out/clip.tar.avi");
    EXPECT_EQ(OutputPathFor("out", ".hidden"), out + ".hidden.avi");
    EXPECT_EQ(OutputPathFor("out", "noext"), out + "noext.avi");
#ifdef _WIN32
    // Either slash, and a drive's own folder, end the folder part of a Windows source.
    EXPECT_EQ(OutputPathFor("D:\\out\\", "C:\\videos\\holiday.mov"), "D:\\out\\holiday.avi");
    EXPECT_EQ(OutputPathFor("out", "C:clip.avi"), "out\\clip.avi");
#else
    // Elsewhere a backslash is part of a name.
    EXPECT_EQ(OutputPathFor("out", "a\\b.avi"), "out/a\\b.avi");
#endif
}

TEST(Batch, ChildArgumentsCarryEveryOptionAndEndOptionsBeforeTheFiles) {
    const ConvertOptions options = Parse({"-s", "64x-2", "-a", "-d", "video", "--compress=mjpeg",
                                          "-q", "4", "-f", "-t", "3", "a", "b"});
    const auto arguments = SingleFileArguments(options, ProgressStyle::Json, "-src.avi", "dst.avi");
    ConvertOptions again;
    std::string error;
    ASSERT_EQ(ParseConvertArguments(arguments, &again, &error), 1) << error;
    EXPECT_EQ(again.width, 64);
    EXPECT_EQ(again.height, SIZE_KEEP_ASPECT_EVEN);
    EXPECT_TRUE(again.average && again.dropVideo && again.overwrite && again.compress);
    EXPECT_EQ(again.codec, "mjpeg");
    EXPECT_EQ(again.quality, 4);
    EXPECT_EQ(again.threads, 3);
    EXPECT_EQ(again.progress, ProgressStyle::Json);
    EXPECT_EQ(again.sources, std::vector<std::string>{"-src.avi"});
}

TEST(Json, StringsAreEscapedAndAlwaysValidUtf8) {
    EXPECT_EQ(JsonString("a\"b\\c\nd"), "\"a\\\"b\\\\c\\u000ad\"");
    EXPECT_EQ(JsonString("\xff.avi"), "\"\xef\xbf\xbd.avi\"");
    EXPECT_EQ(JsonString("ünï"), "\"ünï\"");
}

}  // namespace
