// The Start button's job and its progress display, on Qt's offscreen platform with the
// dialogs answered by the test: the checks and their messages, what reaches the converter,
// what the user sees at the end, and the files left on disk.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTimer>
#include <QWidget>

#include <chrono>
#include <cstdio>
#include <functional>

#include <filesystem>
#include <fstream>

#include "app/compressor_handoff.h"
#include "app/conversion_job.h"
#include "app/main_window.h"
#include "app/progress_display.h"
#include "app/shell_state.h"
#include "app/start_up.h"
#include "engine_test_files.h"
#include "job/conversion_job.h"
#include "support/program_parameters.h"
#include "support/unicode_text.h"
#include "ui/requester_test_seam.h"
#include "ui/window_toolkit.h"

namespace {

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Scratch files a job writes its result into before it takes the destination's name.
int ScratchFilesIn(const std::string& folder) {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().filename().string().starts_with(".reframe-")) ++count;
    return count;
}

std::vector<std::pair<std::u16string, std::u16string>> messages;
int32_t RecordMessage(const std::u16string& title, const std::u16string& text) {
    messages.emplace_back(title, text);
    return 1;
}

const std::pair<std::u16string, std::u16string> INVALID_NAMES{
    u"ERROR", u"Enter a valid filename for the source and destination files."};
const std::pair<std::u16string, std::u16string> NOT_AVI{u"ERROR", u"Not a valid avi file!"};
const std::pair<std::u16string, std::u16string> FINISHED{u"Information", u"Finished."};
const std::pair<std::u16string, std::u16string> WRITE_FAILED{
    u"ERROR", u"Couldn't write the destination file!"};
const std::pair<std::u16string, std::u16string> ZERO_SIZE{
    u"ERROR", u"Enter the width and height of the new frames."};
const std::pair<std::u16string, std::u16string> NO_COMPRESSOR{u"ERROR",
                                                              u"Couldn't find 'vidcrunch.exe'!"};
const std::pair<std::u16string, std::u16string> CREATE_FAILED{
    u"ERROR", u"Couldn't create the destination file!"};
const std::pair<std::u16string, std::u16string> UNDECODABLE{
    u"ERROR", u"Couldn't decode the video of the source file!"};
const std::pair<std::u16string, std::u16string> COMPRESS_FAILED{
    u"ERROR", u"Compressing failed; the uncompressed file was kept."};

// Stand-in compressors: shell scripts that print UTF-16LE percentage lines, write (or don't)
// the output file and end with a chosen exit code. $1 is the input, $2 the output.
const char* const PROGRESS = "printf '1\\0000\\0\\r\\0\\n\\0 \\0005\\0005\\0\\r\\0\\n\\0'\n";
std::string StandIn(const std::string& body) {
    return std::string("#!/bin/sh\n") + PROGRESS + body + "\n";
}

class ConversionJob : public ::testing::Test {
  protected:
    void SetUp() override {
        char program[] = "reframe";
        char* argv[] = {program, nullptr};
        SetProgramArguments(1, argv);
        parametersTaken = 0;
        StartUpShell();
        ASSERT_NE(BuildMainWindow(), nullptr);
        SetRequesterOverrideForTests(nullptr, RecordMessage);
        messages.clear();
        ASSERT_TRUE(WriteTestAvi(dir.Path("in.avi"), {Video(3, 16, 8), Audio(800), Other()}));
        // By default the "compressor" copies its input, as a real one that keeps the format.
        UseCompressor(StandIn("cp \"$1\" \"$2\" && echo \"$@\" > \"$2.args\""));
    }
    void UseCompressor(const std::string& script) {
        const std::string path = dir.Path("compressor-" + std::to_string(++compressors));
        std::ofstream(path) << script;
        std::filesystem::permissions(path, std::filesystem::perms::owner_all);
        SetCompressorProgramForTests(FromUtf8(path));
    }
    int compressors = 0;
    void TearDown() override {
        SetRequesterOverrideForTests(nullptr, nullptr);
        SetCompressorProgramForTests(u"");
        ShutDownShell();
    }
    void Job(const std::string& source, const std::string& destination,
             const std::u16string& width = u"8", const std::u16string& height = u"4") {
        SetControlText(SourceField, FromUtf8(source));
        SetControlText(DestinationField, FromUtf8(destination));
        SetControlText(WidthField, width);
        SetControlText(HeightField, height);
        RunConversionJob();
    }
    ScratchDir dir;
};

TEST_F(ConversionJob, ConvertsAndEndsWithFinished) {
    Job(dir.Path("in.avi"), dir.Path("out.avi"));
    EXPECT_EQ(messages, (std::vector<std::pair<std::u16string, std::u16string>>{FINISHED}));
    EXPECT_EQ(Shell.DestinationRecord.fileHandle, nullptr);
    EXPECT_EQ(Shell.SourceRecord.fileHandle, nullptr);
    EXPECT_EQ(Shell.JobOptions, 0u);
    // The compressor's last line stays on the bar until the next job reports.
    EXPECT_EQ(GetControlText(StatusLine), u"Finished.");
    EXPECT_EQ(GetControlState(ProgressBar), 55);

    AviFileRecord out;
    ASSERT_EQ(OpenSourceAvi(dir.Path16("out.avi"), out), 1);
    EXPECT_EQ(out.fileInfo.dwStreams, 3u);
    EXPECT_EQ(out.slots[0].streamInfo.rcFrame.right, 8);
    EXPECT_EQ(out.slots[0].streamInfo.rcFrame.bottom, 4);
    CloseAvi(out);
}

TEST_F(ConversionJob, BoxesBuildTheOptionWord) {
    for (int32_t box : {NoVideoStreamsBox, NoAudioStreamsBox, NoOtherStreamsBox, AntiAliasingBox})
        SetControlState(box, 1);
    Job(dir.Path("in.avi"), dir.Path("out.avi"));
    EXPECT_EQ(Shell.JobOptions, 15u);
    SetControlState(NoAudioStreamsBox, 0);
    SetControlState(NoOtherStreamsBox, 0);
    Job(dir.Path("in.avi"), dir.Path("out.avi"));
    EXPECT_EQ(Shell.JobOptions, 9u);
}

// Each refusal shows its message once, before anything is written: the file at the
// destination ("keep.avi" holds "precious") and the source stay as they were. What each
// problem does to the files is the job core's to test; here the window's words for it.
TEST_F(ConversionJob, EachRefusalShowsItsMessageAndLeavesTheFilesAlone) {
    std::ofstream(dir.Path("notes.avi")) << "just some text";
    // A pipe no one writes into would hold the window for ever.
    ASSERT_EQ(mkfifo(dir.Path("pipe.avi").c_str(), 0600), 0);
    std::filesystem::create_symlink(dir.Path("in.avi"), dir.Path("link.avi"));
    std::filesystem::create_hard_link(dir.Path("in.avi"), dir.Path("hard.avi"));
    std::filesystem::create_directory(dir.Path("folder.avi"));
    const std::string in = dir.Path("in.avi"), keep = dir.Path("keep.avi");
    struct Row {
        std::string source, destination;
        std::u16string width, height;
        std::pair<std::u16string, std::u16string> message;
    };
    const Row rows[] = {
        {"", keep, u"8", u"4", INVALID_NAMES},
        {in, "", u"8", u"4", INVALID_NAMES},
        {in, in, u"8", u"4", INVALID_NAMES},
        {"in.avi", in, u"8", u"4", INVALID_NAMES},  // relative and absolute
        {in, dir.Path("link.avi"), u"8", u"4", INVALID_NAMES},
        {dir.Path("hard.avi"), "./in.avi", u"8", u"4", INVALID_NAMES},
        {dir.Path("notes.avi"), keep, u"8", u"4", NOT_AVI},
        {dir.Path("pipe.avi"), keep, u"8", u"4", NOT_AVI},
        {in, dir.Path("no/such/folder/out.avi"), u"8", u"4", CREATE_FAILED},
        {in, dir.Path("folder.avi"), u"8", u"4", CREATE_FAILED},
        {in, "/proc/reframe-out.avi", u"8", u"4", CREATE_FAILED},
        // Empty, not a number, 0, or a value whose low 32 bits are 0: each would be 0 x 0.
        {in, keep, u"", u"", ZERO_SIZE},
        {in, keep, u"8", u"", ZERO_SIZE},
        {in, keep, u"abc", u"4", ZERO_SIZE},
        {in, keep, u"0", u"4", ZERO_SIZE},
        {in, keep, u"8", u"4294967296", ZERO_SIZE},
        // Negative as the converter reads them, or frames beyond what one sample holds.
        {in, keep, u"99999999999999999999", u"4", ZERO_SIZE},
        {in, keep, u"-5", u"4", ZERO_SIZE},
        {in, keep, u"8", u"2147483648", ZERO_SIZE},
        {in, keep, u"$7FFFFFFF", u"$7FFFFFFF", ZERO_SIZE},
        {in, keep, u"100000", u"100000", ZERO_SIZE},
        {in, keep, u"715827882", u"1", ZERO_SIZE},
    };
    const auto size = std::filesystem::file_size(in);
    const std::string cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path(""));
    for (const Row& row : rows) {
        std::ofstream(keep) << "precious";
        messages.clear();
        Job(row.source, row.destination, row.width, row.height);
        EXPECT_EQ(messages, (std::vector<std::pair<std::u16string, std::u16string>>{row.message}))
            << row.source << " -> " << row.destination << " at " << ToUtf8(row.width) << " x "
            << ToUtf8(row.height);
        EXPECT_EQ(Contents(keep), "precious") << row.destination;
        EXPECT_EQ(Shell.SourceRecord.fileHandle, nullptr);
    }
    std::filesystem::current_path(cwd);
    EXPECT_EQ(std::filesystem::file_size(in), size);
    EXPECT_TRUE(std::filesystem::is_directory(dir.Path("folder.avi")));
    EXPECT_FALSE(std::filesystem::exists(dir.Path("no")));
    EXPECT_EQ(ScratchFilesIn(dir.Path("")), 0);
}

TEST_F(ConversionJob, VideoThatCannotBeDecodedAtAllIsReportedAndNotKept) {
    TestStream unknown = Video(3, 16, 8);
    unknown.compression = mmioFOURCC('Z', 'Z', 'Z', 'Z');  // no decoder for it
    TestStream broken = Video(3, 16, 8);
    broken.compression = mmioFOURCC('M', 'J', 'P', 'G');  // a decoder that fails every frame
    ASSERT_TRUE(WriteTestAvi(dir.Path("unknown.avi"), {unknown, Audio(800)}));
    ASSERT_TRUE(WriteTestAvi(dir.Path("broken.avi"), {Video(3, 16, 8), broken}));
    for (const char* source : {"unknown.avi", "broken.avi"}) {
        messages.clear();
        std::ofstream(dir.Path("out.avi")) << "an older file";
        Job(dir.Path(source), dir.Path("out.avi"));
        EXPECT_EQ(messages, (std::vector<std::pair<std::u16string, std::u16string>>{UNDECODABLE}))
            << source;
        // What was written went; the file that stood there before did not.
        EXPECT_EQ(Contents(dir.Path("out.avi")), "an older file") << source;
        EXPECT_FALSE(std::filesystem::exists(dir.Path("out2.avi.args"))) << "the compressor ran";
        EXPECT_EQ(ScratchFilesIn(dir.Path("")), 0) << source;
        EXPECT_EQ(Shell.SourceRecord.fileHandle, nullptr);
        EXPECT_EQ(Shell.DestinationRecord.fileHandle, nullptr);
    }
    // Copied as it is stored, the same stream is no failure.
    messages.clear();
    SetControlState(NoVideoStreamsBox, 1);
    Job(dir.Path("unknown.avi"), dir.Path("out.avi"));
    EXPECT_EQ(messages, (std::vector<std::pair<std::u16string, std::u16string>>{FINISHED}));
}

TEST_F(ConversionJob, StatusAfterTheConversionStaysWhenNoCompressorRuns) {
    SetCompressorProgramForTests(FromUtf8(dir.Path("no-such-compressor")));
    Job(dir.Path("in.avi"), dir.Path("out.avi"));
    EXPECT_EQ(GetControlText(StatusLine), u"Processing stream #2 (Other, please wait)");
    EXPECT_EQ(GetControlState(ProgressBar), 100);
}

TEST_F(ConversionJob, ZeroSizeIsFineWhenNoVideoIsConverted) {
    // Video copied as it is stored, or a source without video: no frame is made.
    SetControlState(NoVideoStreamsBox, 1);
    Job(dir.Path("in.avi"), dir.Path("out.avi"), u"", u"");
    ASSERT_TRUE(WriteTestAvi(dir.Path("sound.avi"), {Audio(800), Other()}));
    SetControlState(NoVideoStreamsBox, 0);
    Job(dir.Path("sound.avi"), dir.Path("out2.avi"), u"", u"");
    EXPECT_EQ(messages, (std::vector<std::pair<std::u16string, std::u16string>>(2, FINISHED)));
    EXPECT_TRUE(std::filesystem::exists(dir.Path("out2.avi")));
}

using Messages = std::vector<std::pair<std::u16string, std::u16string>>;

TEST_F(ConversionJob, SuccessfulCompressorReplacesTheDestinationWithItsCopy) {
    UseCompressor(
        StandIn("echo compressed > \"$2\".tmp && cp \"$1\" \"$2\" && echo \"$@\" > "
                "\"$2.args\" && exit 0"));
    Job(dir.Path("in.avi"), dir.Path("my.clip.avi"));
    EXPECT_EQ(messages, Messages{FINISHED});
    EXPECT_TRUE(std::filesystem::exists(dir.Path("my.clip.avi")));
    EXPECT_FALSE(std::filesystem::exists(dir.Path("my2.clip2.avi")));
    std::string args;
    std::getline(std::ifstream(dir.Path("my2.clip2.avi.args")), args);
    EXPECT_EQ(args, dir.Path("my.clip.avi") + " " + dir.Path("my2.clip2.avi") + " /console");
    EXPECT_EQ(GetControlText(StatusLine), u"Finished.");
    EXPECT_EQ(GetControlState(ProgressBar), 55);  // the last line, read after the exit
}

TEST_F(ConversionJob, FailingCompressorLeavesTheUncompressedFileAndRemovesItsCopy) {
    UseCompressor(StandIn("echo partial > \"$2\"; exit 1"));
    Job(dir.Path("in.avi"), dir.Path("out.avi"));
    EXPECT_EQ(messages, (Messages{COMPRESS_FAILED, FINISHED}));
    EXPECT_FALSE(std::filesystem::exists(dir.Path("out2.avi")));
    AviFileRecord out;
    ASSERT_EQ(OpenSourceAvi(dir.Path16("out.avi"), out), 1);  // still the converted file
    EXPECT_EQ(out.slots[0].streamInfo.rcFrame.right, 8);
    CloseAvi(out);
}

TEST_F(ConversionJob, SuccessWithoutAReadableCopyKeepsTheDestination) {
    for (const char* body : {"exit 0", "echo garbage > \"$2\"; exit 0", "kill -9 $$"}) {
        UseCompressor(StandIn(body));
        messages.clear();
        Job(dir.Path("in.avi"), dir.Path("out.avi"));
        EXPECT_EQ(messages, (Messages{COMPRESS_FAILED, FINISHED})) << body;
        EXPECT_TRUE(std::filesystem::exists(dir.Path("out.avi"))) << body;
        EXPECT_FALSE(std::filesystem::exists(dir.Path("out2.avi"))) << body;
        AviFileRecord out;
        EXPECT_EQ(OpenSourceAvi(dir.Path16("out.avi"), out), 1) << body;
        CloseAvi(out);
    }
}

TEST_F(ConversionJob, MissingCompressorIsReportedAndTheDestinationStays) {
    SetCompressorProgramForTests(FromUtf8(dir.Path("no-such-compressor")));
    Job(dir.Path("in.avi"), dir.Path("out.avi"));
    EXPECT_EQ(messages, (Messages{NO_COMPRESSOR, FINISHED}));
    EXPECT_TRUE(std::filesystem::exists(dir.Path("out.avi")));
    EXPECT_NE(GetControlText(StatusLine), u"Compressing...");
}

TEST_F(ConversionJob, CopyNeverTakesTheNameOfAnotherFile) {
    // A name without a dot would make the copy the destination itself.
    Job(dir.Path("in.avi"), dir.Path("plain"));
    EXPECT_TRUE(std::filesystem::exists(dir.Path("plain2.args")));
    EXPECT_FALSE(std::filesystem::exists(dir.Path("plain2")));
    // The user's own clip2.avi, and a source named like the copy, are left alone.
    std::ofstream(dir.Path("clip2.avi")) << "the user's own file";
    std::filesystem::copy_file(dir.Path("in.avi"), dir.Path("movie2.avi"));
    Job(dir.Path("in.avi"), dir.Path("clip.avi"));
    Job(dir.Path("movie2.avi"), dir.Path("movie.avi"));
    EXPECT_EQ(std::filesystem::file_size(dir.Path("clip2.avi")), 19u);
    EXPECT_TRUE(std::filesystem::exists(dir.Path("clip2-1.avi.args")));
    EXPECT_EQ(std::filesystem::file_size(dir.Path("movie2.avi")),
              std::filesystem::file_size(dir.Path("in.avi")));
    EXPECT_EQ(CompressedCopyPath(FromUtf8(dir.Path("clip.avi"))),
              FromUtf8(dir.Path("clip2-1.avi")));
    EXPECT_EQ(CompressedCopyPath(u"/no/such/dir/a.b.avi"), u"/no/such/dir/a2.b2.avi");
}

TEST_F(ConversionJob, NoFreeNameForTheCopyIsReportedAndTheFileKept) {
    std::ofstream(dir.Path("out2.avi")) << "taken";
    for (int n = 1; n < 1000; ++n)
        std::ofstream(dir.Path("out2-" + std::to_string(n) + ".avi")) << "taken";
    Job(dir.Path("in.avi"), dir.Path("out.avi"));
    EXPECT_EQ(messages, (Messages{COMPRESS_FAILED, FINISHED}));
    AviFileRecord out;
    EXPECT_EQ(OpenSourceAvi(dir.Path16("out.avi"), out), 1);
    CloseAvi(out);
    EXPECT_EQ(std::filesystem::file_size(dir.Path("out2-999.avi")), 5u);
}

TEST_F(ConversionJob, CompressorThatNeverEndsIsStoppedByClosingTheWindow) {
    // It writes part of its copy and a number without a line break, then waits for ever.
    UseCompressor(StandIn("echo $$ > \"" + dir.Path("pid") +
                          "\"; echo partial > \"$2\"; "
                          "printf '7\\0'; exec sleep 1000"));
    auto* window = static_cast<QWidget*>(WindowHandle(MAIN_WINDOW));
    ASSERT_NE(window, nullptr);
    // The window is closed while the job waits: only a loop that keeps looking at the window
    // (and never at a line break that doesn't come) sees it.
    QTimer::singleShot(700, window, [window] { window->close(); });
    const auto before = std::chrono::steady_clock::now();
    Job(dir.Path("in.avi"), dir.Path("out.avi"));
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(30));
    EXPECT_TRUE(messages.empty()) << "the user closed the window: no box after that";
    EXPECT_EQ(Shell.QuitRequested, 1);
    EXPECT_FALSE(std::filesystem::exists(dir.Path("out2.avi"))) << "the unfinished copy stayed";
    AviFileRecord out;
    EXPECT_EQ(OpenSourceAvi(dir.Path16("out.avi"), out), 1);  // the uncompressed file
    CloseAvi(out);
    std::string pid;
    std::getline(std::ifstream(dir.Path("pid")), pid);
    ASSERT_FALSE(pid.empty());
    EXPECT_NE(kill(std::stoi(pid), 0), 0) << "the compressor still runs";
    Shell.QuitRequested = 0;
}

TEST_F(ConversionJob, GarbageOrEndlessOutputNeitherHangsTheWindowNorMovesTheBarOutOfRange) {
    for (const std::string& body :
         {std::string("head -c 3000000 /dev/urandom; exit 1"),
          std::string("head -c 4000000 /dev/zero | tr '\\0' 7; cp \"$1\" \"$2\""),
          std::string("yes '9\0\r\0\n\0' | head -c 3000000; cp \"$1\" \"$2\""),
          std::string("printf -- '-5\\0\\r\\0\\n\\0999\\0\\r\\0\\n\\0'; exit 0")}) {
        UseCompressor(StandIn(body));
        messages.clear();
        const auto before = std::chrono::steady_clock::now();
        Job(dir.Path("in.avi"), dir.Path("out.avi"));
        EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(60)) << body;
        EXPECT_EQ(messages.back(), FINISHED) << body;
        EXPECT_GE(GetControlState(ProgressBar), 0) << body;
        EXPECT_LE(GetControlState(ProgressBar), 100) << body;
        AviFileRecord out;
        EXPECT_EQ(OpenSourceAvi(dir.Path16("out.avi"), out), 1) << body;
        CloseAvi(out);
        EXPECT_FALSE(std::filesystem::exists(dir.Path("out2.avi"))) << body;
    }
}

TEST_F(ConversionJob, SourceCutShortOrRewrittenWhileConvertedIsReportedAndNothingKept) {
    ASSERT_TRUE(WriteTestAvi(dir.Path("long.avi"), {Video(200, 160, 120), Audio(8000)}));
    const auto size = std::filesystem::file_size(dir.Path("long.avi"));
    // Done from inside the job: its progress reports let the window's timers run.
    const std::vector<std::pair<const char*, std::function<void()>>> changes{
        {"cut short", [&] { std::filesystem::resize_file(dir.Path("long.avi"), size / 2); }},
        {"rewritten", [&] {
             std::fstream file(dir.Path("long.avi"),
                               std::ios::in | std::ios::out | std::ios::binary);
             file.seekp(static_cast<std::streamoff>(size / 2));
             file << std::string(100000, 'x');
         }}};
    for (const auto& [what, change] : changes) {
        ASSERT_TRUE(WriteTestAvi(dir.Path("long.avi"), {Video(200, 160, 120), Audio(8000)}));
        messages.clear();
        QTimer::singleShot(0, change);
        Job(dir.Path("long.avi"), dir.Path("out.avi"), u"160", u"120");
        EXPECT_EQ(messages, (std::vector<std::pair<std::u16string, std::u16string>>{
                                {u"ERROR", u"The source file changed during the conversion!"}}))
            << what;
        EXPECT_FALSE(std::filesystem::exists(dir.Path("out.avi"))) << what;
        EXPECT_EQ(Shell.SourceRecord.fileHandle, nullptr);
    }
}

TEST_F(ConversionJob, OddFileNamesWorkAndTouchOnlyTheirOwnFiles) {
    // Each name as source and, with "-out" after it, as destination; the compressor copies.
    for (const std::string name : {"with space", "-leading dash", "new\nline", "Größe ✓ 名前",
                                   "tab\there", "semi;colon & $HOME `x`", "it's"}) {
        messages.clear();
        std::filesystem::copy_file(dir.Path("in.avi"), dir.Path(name + ".avi"));
        std::ofstream(dir.Path("bystander.avi")) << "untouched";
        Job(dir.Path(name + ".avi"), dir.Path(name + "-out.avi"));
        EXPECT_EQ(messages, (std::vector<std::pair<std::u16string, std::u16string>>{FINISHED}))
            << name;
        AviFileRecord out;
        EXPECT_EQ(OpenSourceAvi(FromUtf8(dir.Path(name + "-out.avi")), out), 1) << name;
        CloseAvi(out);
        // The compressor got exactly the two names.
        std::string args;
        std::getline(std::ifstream(dir.Path(name + "-out2.avi.args")), args, '\0');
        EXPECT_EQ(args,
                  dir.Path(name + "-out.avi") + " " + dir.Path(name + "-out2.avi") + " /console\n")
            << name;
        EXPECT_EQ(std::filesystem::file_size(dir.Path(name + ".avi")),
                  std::filesystem::file_size(dir.Path("in.avi")));
        std::string bystander;
        std::getline(std::ifstream(dir.Path("bystander.avi")), bystander);
        EXPECT_EQ(bystander, "untouched");
    }
}

size_t OpenDescriptors() {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                             std::filesystem::directory_iterator()));
}

TEST_F(ConversionJob, CompressorRunsLeaveNoDescriptorOpen) {
    Job(dir.Path("in.avi"), dir.Path("out.avi"));
    // Its last line ends in CR LF, and it fails, so that every run leaves the file as it was.
    UseCompressor(StandIn("exit 3"));
    messages.clear();
    RunCompressor();
    const size_t before = OpenDescriptors();
    for (int run = 0; run < 1000; ++run) RunCompressor();
    EXPECT_EQ(OpenDescriptors(), before);
    EXPECT_EQ(messages.size(), 1001u);
    EXPECT_EQ(messages.back(), COMPRESS_FAILED);
}

// One figure of /proc/self/status, in the unit it is given in (kB for memory).
long StatusField(const std::string& name) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(name + ":", 0) == 0) return std::stol(line.substr(name.size() + 1));
    return -1;
}

TEST_F(ConversionJob, HundredJobsInOneSessionLeaveNothingBehind) {
    // Each job converts and hands over to a compressor that succeeds, as in daily use.
    ASSERT_TRUE(WriteTestAvi(dir.Path("clip.avi"), {Video(25, 160, 120), Audio(8000), Other()}));
    const auto job = [&] {
        messages.clear();
        Job(dir.Path("clip.avi"), dir.Path("out.avi"), u"320", u"240");
        ASSERT_EQ(messages, (std::vector<std::pair<std::u16string, std::u16string>>{FINISHED}));
    };
    job();
    const size_t descriptors = OpenDescriptors();
    const long threads = StatusField("Threads");
    const long memory = StatusField("VmRSS");
    for (int i = 1; i < 100; ++i) job();
    EXPECT_EQ(OpenDescriptors(), descriptors);
    EXPECT_EQ(StatusField("Threads"), threads);
#ifndef __SANITIZE_ADDRESS__  // AddressSanitizer holds freed memory back in its quarantine
    EXPECT_LE(StatusField("VmRSS"), memory + memory / 20) << "kB after the first job: " << memory;
#endif
    std::printf("after job 1: %ld kB, %ld threads; after job 100: %ld kB, %ld threads\n", memory,
                threads, StatusField("VmRSS"), StatusField("Threads"));
}

TEST_F(ConversionJob, QuoteInThePathNeverReachesTheCompressorAsExtraArguments) {
    UseCompressor(StandIn("echo \"$#\" > " + dir.Path("argc") + "; cp \"$1\" \"$2\""));
    Job(dir.Path("in.avi"), dir.Path("a\" \"b.avi"));
    EXPECT_EQ(messages, (Messages{COMPRESS_FAILED, FINISHED}));
    EXPECT_FALSE(std::filesystem::exists(dir.Path("argc")));
    EXPECT_TRUE(std::filesystem::exists(dir.Path("a\" \"b.avi")));
}

TEST(OnProgress, PercentageDividesFirstThenTruncates) {
    EXPECT_EQ(ProgressPercentage(97, 97), 99);
    EXPECT_EQ(ProgressPercentage(97, 194), 49);
    EXPECT_EQ(ProgressPercentage(1, 3), 33);
    EXPECT_EQ(ProgressPercentage(2, 3), 66);
    EXPECT_EQ(ProgressPercentage(3, 3), 100);
    EXPECT_EQ(ProgressPercentage(0, 0), 0);
    EXPECT_EQ(ProgressPercentage(0, 1000), 0);
}

TEST(OnProgress, StatusTextNamesTheStreamAndItsKind) {
    EXPECT_EQ(StatusTextFor(0x73646976, 0), u"Processing stream #0 (Video)");
    EXPECT_EQ(StatusTextFor(0x73647561, 2), u"Processing stream #2 (Audio, please wait)");
    EXPECT_EQ(StatusTextFor(0x73747874, 11), u"Processing stream #11 (Other, please wait)");
    EXPECT_EQ(StatusTextFor(0x7364696D, -1), u"Processing stream #-1 (Other, please wait)");
}

TEST_F(ConversionJob, ProgressWritesTheStatusOnlyForTheFirstPositions) {
    OnProgress(0x73646976, 0, 0, 1000);
    EXPECT_EQ(GetControlText(StatusLine), u"Processing stream #0 (Video)");
    SetControlText(StatusLine, u"marker");
    OnProgress(0x73646976, 0, 254, 1000);
    EXPECT_EQ(GetControlText(StatusLine), u"Processing stream #0 (Video)");
    SetControlText(StatusLine, u"marker");
    OnProgress(0x73646976, 0, 255, 1000);
    EXPECT_EQ(GetControlText(StatusLine), u"marker");
    EXPECT_EQ(GetControlState(ProgressBar), 25);
    OnProgress(0x73646976, 0, 1000, 1000);
    EXPECT_EQ(GetControlText(StatusLine), u"marker");
    EXPECT_EQ(GetControlState(ProgressBar), 100);
    OnProgress(0x73647561, 1, 0, 0);
    EXPECT_EQ(GetControlText(StatusLine), u"Processing stream #1 (Audio, please wait)");
    EXPECT_EQ(GetControlState(ProgressBar), 0);
}

}  // namespace
