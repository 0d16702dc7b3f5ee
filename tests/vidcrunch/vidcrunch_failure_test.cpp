// How vidcrunch.exe ends when it can't do its work: exit code, message, and no output left.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "vidcrunch_test_support.h"

namespace {

class Failure : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = MakeTempDir();
        input_ = dir_ + "/clip.avi";
        ASSERT_TRUE(MakeRawAvi(input_, 64, 48, 2));
    }
    static void TearDownTestSuite() { RemoveTree(dir_); }
    static std::string dir_, input_;
};
std::string Failure::dir_, Failure::input_;

TEST_F(Failure, HelpPrintsUsageAndSucceeds) {
    for (const char* help : {"/?", "/help"}) {
        ProgramRun run = RunVidcrunch({help});
        EXPECT_EQ(run.exitCode, 0) << help;
        EXPECT_NE(run.out.find("Usage: vidcrunch.exe INPUT OUTPUT"), std::string::npos) << help;
        EXPECT_TRUE(run.err.empty()) << help;
    }
}

TEST_F(Failure, BadArgumentsGiveUsageOnStandardErrorAndCode2) {
    std::string output = dir_ + "/never.avi";
    for (const std::vector<std::string>& arguments : {std::vector<std::string>{},
                                                      {input_},
                                                      {input_, output, "/codec:theora"},
                                                      {input_, output, "/quality:x"}}) {
        ProgramRun run = RunVidcrunch(arguments);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_NE(run.err.find("Usage:"), std::string::npos);
        EXPECT_TRUE(run.out.empty());
    }
    EXPECT_FALSE(FileExists(output));
}

TEST_F(Failure, MissingInputLeavesNoOutput) {
    std::string output = dir_ + "/missing2.avi";
    ProgramRun run = RunVidcrunch({dir_ + "/missing.avi", output, "/console"});
    EXPECT_NE(run.exitCode, 0);
    EXPECT_NE(run.err.find("does not exist"), std::string::npos) << run.err;
    EXPECT_FALSE(FileExists(output));
}

TEST_F(Failure, NamesThatAreNotUtf8AreRefusedAndTouchNothing) {
    // Taken as text, "\xff" would become U+FFFD: the job would read, write or remove the file
    // named with that character instead.
    const std::string rawInput = dir_ + "/in\xff.avi", decoyInput = dir_ + "/in\xef\xbf\xbd.avi";
    const std::string rawOutput = dir_ + "/out\xff.avi",
                      decoyOutput = dir_ + "/out\xef\xbf\xbd.avi";
    RunShell("cp '" + input_ + "' '" + rawInput + "' && cp '" + input_ + "' '" + decoyInput + "'");
    RunShell("echo precious > '" + decoyOutput + "'");
    for (const auto& [in, out] :
         {std::pair{rawInput, dir_ + "/fine.avi"}, std::pair{input_, rawOutput}}) {
        ProgramRun run = RunVidcrunch({in, out});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_NE(run.err.find("not UTF-8 text"), std::string::npos) << run.err;
    }
    EXPECT_FALSE(FileExists(dir_ + "/fine.avi"));
    EXPECT_FALSE(FileExists(rawOutput));
    EXPECT_EQ(RunShell("cat '" + decoyOutput + "'"), "precious\n");
}

TEST_F(Failure, InputThatIsNotAnAviLeavesNoOutput) {
    std::string text = dir_ + "/notes.avi", output = dir_ + "/notes2.avi";
    RunShell("echo 'not a movie' > '" + text + "'");
    ProgramRun run = RunVidcrunch({text, output});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_FALSE(run.err.empty());
    EXPECT_FALSE(FileExists(output));
}

TEST_F(Failure, OutputInAMissingFolderFails) {
    ProgramRun run = RunVidcrunch({input_, dir_ + "/no/such/folder/out.avi"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("can't be created"), std::string::npos) << run.err;
}

TEST_F(Failure, RefusesToWriteOverTheInputUnderAnyName) {
    std::string before = ReadWholeFile(input_);
    std::string hardLink = dir_ + "/hard.avi", symLink = dir_ + "/sym.avi";
    ASSERT_EQ(link(input_.c_str(), hardLink.c_str()), 0);
    ASSERT_EQ(symlink(input_.c_str(), symLink.c_str()), 0);
    for (const std::string& output : {input_, hardLink, symLink, dir_ + "/./clip.avi"}) {
        ProgramRun run = RunVidcrunch({input_, output});
        EXPECT_EQ(run.exitCode, 1) << output;
        EXPECT_NE(run.err.find("names the input"), std::string::npos) << run.err;
    }
    // Refusing must not cost the input, nor the names that lead to it.
    EXPECT_EQ(ReadWholeFile(input_), before);
    EXPECT_TRUE(FileExists(hardLink));
    EXPECT_TRUE(FileExists(symLink));
    unlink(hardLink.c_str());
    unlink(symLink.c_str());
}

TEST_F(Failure, AnOutputThatIsNotAFileIsLeftAlone) {
    std::string folder = dir_ + "/a-folder.avi";
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    ProgramRun run = RunVidcrunch({input_, folder});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(FileExists(folder));
    rmdir(folder.c_str());
}

TEST_F(Failure, AWriteThatFailsHalfWayRemovesThePartialOutput) {
    std::string output = dir_ + "/full2.avi";
    // A file size limit stands in for a full disk: writes past 40 KiB fail.
    ProgramRun run = RunVidcrunch({input_, output, "/codec:ffv1"}, 40 * 1024);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("disk full"), std::string::npos) << run.err;
    EXPECT_FALSE(FileExists(output));
    EXPECT_EQ(run.out.find(std::string("1\0"
                                       "0\0"
                                       "0\0",
                                       6)),
              std::string::npos)
        << "100 reported";
    // Nor is anything left under another name: the scratch file it wrote into went too.
    EXPECT_EQ(RunShell("ls -A '" + dir_ + "' | grep -c '^.reframe-' || true"), "0\n");
}

TEST_F(Failure, VideoThatCantBeDecodedFailsInsteadOfBeingCopied) {
    // Copied unchanged, it would pass for a compressed file.
    const std::string input = dir_ + "/unknown.avi", output = dir_ + "/unknown2.avi";
    RunShell("ffmpeg -v error -f lavfi -i testsrc2=size=32x16:rate=5 -t 1 -c:v mjpeg '" + input +
             "' && perl -0777 -pi -e 's/MJPG/ZZZZ/g' '" + input + "'");
    ProgramRun run = RunVidcrunch({input, output});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(
        run.err.find("stream 0: its video can't be decoded (32 x 16), so it can't be compressed"),
        std::string::npos)
        << run.err;
    EXPECT_FALSE(FileExists(output));
}

}  // namespace
