#include "vidcrunch/compressor_options.h"

#include <gtest/gtest.h>

namespace {

struct Parsed {
    int ok = 0;
    CompressorOptions options;
    std::string error;
};

Parsed Parse(const std::vector<std::string>& arguments) {
    Parsed p;
    p.ok = ParseCompressorArguments(arguments, &p.options, &p.error);
    return p;
}

TEST(CompressorOptions, TheShellsCommandLineGivesH264AtTheDefaultQuality) {
    Parsed p = Parse({"/tmp/clips/holiday.avi", "/tmp/clips/holiday2.avi", "/console"});
    ASSERT_EQ(p.ok, 1) << p.error;
    // Absolute paths begin with a slash here, like switches: only known switch names are switches.
    EXPECT_EQ(p.options.inputPath, "/tmp/clips/holiday.avi");
    EXPECT_EQ(p.options.outputPath, "/tmp/clips/holiday2.avi");
    EXPECT_TRUE(p.options.console);
    EXPECT_EQ(p.options.codec, VideoCodec::H264);
    EXPECT_EQ(p.options.quality, 18);
    EXPECT_EQ(p.options.preset, "medium");
}

TEST(CompressorOptions, SwitchesIgnoreCaseAndMayComeAnywhere) {
    Parsed p = Parse({"/QUALITY:5", "in.avi", "/Codec:MPEG4", "out.avi"});
    ASSERT_EQ(p.ok, 1) << p.error;
    EXPECT_EQ(p.options.codec, VideoCodec::Mpeg4);
    // The quality given before the codec is still checked against that codec's range.
    EXPECT_EQ(p.options.quality, 5);
    EXPECT_EQ(Parse({"in.avi", "out.avi", "/preset:VeryFast"}).options.preset, "veryfast");
    EXPECT_EQ(Parse({"in.avi", "out.avi", "/codec:mjpeg"}).options.quality, 2);
    EXPECT_EQ(Parse({"in.avi", "out.avi", "/codec:ffv1"}).options.codec, VideoCodec::Ffv1);
}

TEST(CompressorOptions, QualityIsAWholeNumberInTheCodecsRange) {
    EXPECT_EQ(Parse({"a", "b", "/quality:0"}).ok, 1);
    EXPECT_EQ(Parse({"a", "b", "/quality:51"}).ok, 1);
    EXPECT_EQ(Parse({"a", "b", "/quality:52"}).ok, 0);
    EXPECT_EQ(Parse({"a", "b", "/quality:-1"}).ok, 0);
    EXPECT_EQ(Parse({"a", "b", "/quality:18.5"}).ok, 0);
    EXPECT_EQ(Parse({"a", "b", "/quality:"}).ok, 0);
    EXPECT_EQ(Parse({"a", "b", "/quality:99999999999999999999"}).ok, 0);
    EXPECT_EQ(Parse({"a", "b", "/codec:mpeg4", "/quality:0"}).ok, 0);
    EXPECT_EQ(Parse({"a", "b", "/codec:mjpeg", "/quality:31"}).ok, 1);
    EXPECT_EQ(Parse({"a", "b", "/codec:mjpeg", "/quality:32"}).ok, 0);
    Parsed lossless = Parse({"a", "b", "/codec:ffv1", "/quality:3"});
    EXPECT_EQ(lossless.ok, 0);
    EXPECT_NE(lossless.error.find("lossless"), std::string::npos);
}

TEST(CompressorOptions, ThreadsAreAWholeNumberUpTo64) {
    EXPECT_EQ(Parse({"a", "b"}).options.threads, 0);
    EXPECT_EQ(Parse({"a", "b", "/THREADS:1"}).options.threads, 1);
    EXPECT_EQ(Parse({"a", "b", "/threads:64"}).options.threads, 64);
    EXPECT_EQ(Parse({"a", "b", "/threads:65"}).ok, 0);
    EXPECT_EQ(Parse({"a", "b", "/threads:-1"}).ok, 0);
    EXPECT_EQ(Parse({"a", "b", "/threads:two"}).ok, 0);
}

TEST(CompressorOptions, RefusesUnknownNamesAndWrongFileCounts) {
    EXPECT_EQ(Parse({"a", "b", "/codec:vp9"}).ok, 0);
    EXPECT_EQ(Parse({"a", "b", "/preset:quick"}).ok, 0);
    EXPECT_EQ(Parse({"a", "b", "/codec:mpeg4", "/preset:fast"}).ok, 0);
    EXPECT_EQ(Parse({}).ok, 0);
    EXPECT_EQ(Parse({"only-one.avi"}).ok, 0);
    EXPECT_EQ(Parse({"a", "b", "c"}).ok, 0);
    EXPECT_EQ(Parse({"a", ""}).ok, 0);
    // A misspelt switch is taken as a third file name, never silently ignored.
    Parsed typo = Parse({"a", "b", "/qualty:3"});
    EXPECT_EQ(typo.ok, 0);
    EXPECT_NE(typo.error.find("/qualty:3"), std::string::npos);
}

TEST(CompressorOptions, HelpNeedsNoFileNames) {
    for (const char* help : {"/?", "/help", "/HELP", "--help"}) {
        Parsed p = Parse({help});
        EXPECT_EQ(p.ok, 1) << help;
        EXPECT_TRUE(p.options.helpWanted) << help;
    }
    std::string usage = CompressorUsage();
    for (const char* word :
         {"INPUT OUTPUT", "/codec:", "/quality:", "/preset:", "/console", "UTF-16LE"})
        EXPECT_NE(usage.find(word), std::string::npos) << word;
}

}  // namespace
