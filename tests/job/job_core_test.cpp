// The job core: each row is one situation a user's files can be in, the problem the job must
// report, and what must then stand at the destination. Then two jobs at once.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "avi/stream_converter.h"
#include "engine_test_files.h"
#include "job/conversion_job.h"
#include "job/frame_size.h"
#include "support/temporary_files.h"
#include "support/unicode_text.h"

namespace {

class CountingProgress : public JobProgress {
  public:
    void Stream(int32_t, int32_t, int32_t, int32_t) override { ++streamCalls; }
    void Compressing(int32_t) override {}
    int streamCalls = 0;
};

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
}

// Scratch files left in a folder.
int ScratchFilesIn(const std::string& folder) {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (IsTemporaryName(entry.path().filename().string())) ++count;
    return count;
}

// The descriptor that holds a live job's lock in the row that needs one.
int liveLock = -1;

struct Row {
    const char* name;
    // Makes the situation in the folder and adjusts the request.
    std::function<void(const ScratchDir&, JobRequest&)> setUp;
    JobProblem problem;
    // What the destination holds afterwards: "converted", "untouched" (the text "mine"), or
    // "nothing".
    const char* destination;
    // Anything else to look at afterwards.
    std::function<void(const ScratchDir&)> check = {};
};

const Row kRows[] = {
    {"plain conversion", [](const ScratchDir&, JobRequest&) {}, JobProblem::None, "converted"},
    {"empty source name", [](const ScratchDir&, JobRequest& r) { r.source.clear(); },
     JobProblem::PathMissing, "nothing"},
    {"missing source", [](const ScratchDir& d, JobRequest& r) { r.source = d.Path16("gone.avi"); },
     JobProblem::SourceMissing, "nothing"},
    {"source is a folder",
     [](const ScratchDir& d, JobRequest& r) {
         std::filesystem::create_directory(d.Path("folder.avi"));
         r.source = d.Path16("folder.avi");
     },
     JobProblem::SourceIsFolder, "nothing"},
    // Opening a pipe would wait for a writer that never comes.
    {"source is a pipe",
     [](const ScratchDir& d, JobRequest& r) {
         ASSERT_EQ(mkfifo(d.Path("pipe.avi").c_str(), 0600), 0);
         r.source = d.Path16("pipe.avi");
     },
     JobProblem::SourceNotRegular, "nothing"},
    {"destination links to the source",
     [](const ScratchDir& d, JobRequest&) {
         std::filesystem::create_symlink(d.Path("in.avi"), d.Path("out.avi"));
     },
     JobProblem::SameFile, "nothing"},
    {"source is no AVI file",
     [](const ScratchDir& d, JobRequest& r) {
         WriteText(d.Path("text.avi"), "not a RIFF file");
         r.source = d.Path16("text.avi");
     },
     JobProblem::NotAvi, "nothing"},
    {"no frame size", [](const ScratchDir&, JobRequest& r) { r.width = 0; },
     JobProblem::NoFrameSize, "nothing"},
    {"no frame size, but no video is converted",
     [](const ScratchDir&, JobRequest& r) {
         r.width = 0;
         r.options = OPTION_NO_VIDEO;
     },
     JobProblem::None, "converted"},
    {"frame too large", [](const ScratchDir&, JobRequest& r) { r.width = r.height = 100000; },
     JobProblem::FrameTooLarge, "nothing"},
    {"aspect kept from a source of size 0",
     [](const ScratchDir& d, JobRequest& r) {
         TestStream sizeless = Audio(100);
         ASSERT_TRUE(WriteTestAvi(d.Path("audio.avi"), {sizeless}));
         r.source = d.Path16("audio.avi");
         r.sizeRule = SizeRule::Resolve;
         r.width = SIZE_KEEP_ASPECT;
     },
     JobProblem::NoFrameSize, "nothing"},
    {"destination is a folder",
     [](const ScratchDir& d, JobRequest&) { std::filesystem::create_directory(d.Path("out.avi")); },
     JobProblem::DestinationIsFolder, "nothing"},
    // Replacing them with a file would take the device or the pipe from everyone who uses it.
    {"destination is a device",
     [](const ScratchDir&, JobRequest& r) { r.destination = u"/dev/null"; },
     JobProblem::DestinationNotRegular, "nothing"},
    {"destination links to a device",
     [](const ScratchDir& d, JobRequest&) {
         std::filesystem::create_symlink("/dev/full", d.Path("out.avi"));
     },
     JobProblem::DestinationNotRegular, "nothing",
     [](const ScratchDir& d) {
         EXPECT_TRUE(std::filesystem::is_symlink(d.Path("out.avi")));
         EXPECT_TRUE(std::filesystem::is_character_file("/dev/full"));
     }},
    {"destination is a pipe",
     [](const ScratchDir& d, JobRequest&) {
         ASSERT_EQ(mkfifo(d.Path("out.avi").c_str(), 0600), 0);
     },
     JobProblem::DestinationNotRegular, "nothing",
     [](const ScratchDir& d) { EXPECT_TRUE(std::filesystem::is_fifo(d.Path("out.avi"))); }},
    {"destination exists",
     [](const ScratchDir& d, JobRequest& r) {
         WriteText(d.Path("out.avi"), "mine");
         r.overwrite = false;
     },
     JobProblem::DestinationExists, "untouched"},
    {"destination replaced, keeping its permissions",
     [](const ScratchDir& d, JobRequest&) {
         WriteText(d.Path("out.avi"), "mine");
         chmod(d.Path("out.avi").c_str(), 0640);
     },
     JobProblem::None, "converted",
     [](const ScratchDir& d) {
         EXPECT_EQ(std::filesystem::status(d.Path("out.avi")).permissions(),
                   std::filesystem::perms(0640));
     }},
    // A scratch file that a live job still writes (it holds the lock) stays; a dead one goes.
    {"scratch file of a live job",
     [](const ScratchDir& d, JobRequest&) {
         WriteText(d.Path(".reframe-Living.avi"), "being written");
         liveLock = open(d.Path(".reframe-Living.avi").c_str(), O_RDONLY | O_CLOEXEC);
         ASSERT_EQ(flock(liveLock, LOCK_EX), 0);
     },
     JobProblem::None, "converted",
     [](const ScratchDir& d) {
         std::string text;
         std::getline(std::ifstream(d.Path(".reframe-Living.avi")), text);
         EXPECT_EQ(text, "being written");
         close(liveLock);
         std::filesystem::remove(d.Path(".reframe-Living.avi"));
     }},
    {"destination read-only, kept as the window keeps it",
     [](const ScratchDir& d, JobRequest& r) {
         WriteText(d.Path("out.avi"), "mine");
         chmod(d.Path("out.avi").c_str(), 0444);
         r.keepReadOnly = true;
     },
     JobProblem::DestinationReadOnly, "untouched"},
    // On Linux a backslash is part of a name: the folder flushed after placing is the real one.
    {"backslash in the destination's name",
     [](const ScratchDir& d, JobRequest& r) { r.destination = d.Path16("a.b\\c.avi"); },
     JobProblem::None, "converted"},
    {"destination folder missing",
     [](const ScratchDir& d, JobRequest& r) { r.destination = d.Path16("no/such/out.avi"); },
     JobProblem::CantCreate, "nothing"},
    {"name too long",
     [](const ScratchDir& d, JobRequest& r) {
         r.destination = d.Path16(std::string(300, 'n') + ".avi");
     },
     JobProblem::NameTooLong, "nothing"},
    {"compressor missing: the uncompressed result is kept",
     [](const ScratchDir& d, JobRequest& r) {
         r.compress = CompressStep::BeforePlacing;
         r.compressorProgram = d.Path16("no-compressor");
     },
     JobProblem::CompressorMissing, "converted"},
    {"compressor fails: the uncompressed result is kept",
     [](const ScratchDir& d, JobRequest& r) {
         r.compress = CompressStep::BeforePlacing;
         WriteText(d.Path("fails.sh"), "#!/bin/sh\nexit 3\n");
         chmod(d.Path("fails.sh").c_str(), 0755);
         r.compressorProgram = d.Path16("fails.sh");
     },
     JobProblem::CompressFailed, "converted"},
};

void PrintTo(const Row& row, std::ostream* out) {
    *out << row.name;
}

class JobCore : public testing::TestWithParam<Row> {};

TEST_P(JobCore, ReportsTheProblemAndLeavesTheFilesSafe) {
    if (getuid() == 0 && GetParam().problem == JobProblem::DestinationReadOnly)
        GTEST_SKIP() << "root writes read-only files";
    ScratchDir dir;
    ASSERT_TRUE(WriteTestAvi(dir.Path("in.avi"), {Video(3, 16, 8), Audio(300)}));
    // What a killed run left behind: no one holds its lock.
    WriteText(dir.Path(".reframe-Killed.avi"), "stale");
    JobRequest request;
    request.source = dir.Path16("in.avi");
    request.destination = dir.Path16("out.avi");
    request.width = 8;
    request.height = 4;
    request.overwrite = true;
    GetParam().setUp(dir, request);
    CountingProgress progress;
    const JobOutcome outcome = RunJob(request, progress);
    EXPECT_EQ(static_cast<int>(outcome.problem), static_cast<int>(GetParam().problem))
        << outcome.detail;

    const std::string destination = ToUtf8(request.destination);
    const std::string what = GetParam().destination;
    if (what == "converted") {
        AviFileRecord out;
        ASSERT_NE(OpenSourceAvi(request.destination, out), 0);
        EXPECT_EQ(out.fileInfo.dwStreams, 2u);
        CloseAvi(out);
        EXPECT_GT(progress.streamCalls, 0);
    } else if (what == "untouched") {
        std::string text;
        std::getline(std::ifstream(destination), text);
        EXPECT_EQ(text, "mine");
    } else {
        // Only what the row made itself may stand there (a folder, a link, a device).
        std::error_code error;
        const auto status = std::filesystem::symlink_status(destination, error);
        if (status.type() == std::filesystem::file_type::regular)
            ADD_FAILURE() << "a file stands at the destination";
    }
    if (GetParam().check) GetParam().check(dir);
    // Nothing of ours is left in the folder, whatever happened; the dead run's file is gone
    // whenever a scratch file was made.
    const int left = ScratchFilesIn(dir.Path(""));
    EXPECT_LE(left, 1);
    if (outcome.problem == JobProblem::None) {
        EXPECT_EQ(left, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, JobCore, testing::ValuesIn(kRows),
                         [](const testing::TestParamInfo<Row>& info) {
                             std::string name;
                             for (const char* c = info.param.name; *c; ++c)
                                 if (std::isalnum(static_cast<unsigned char>(*c))) name += *c;
                             return name;
                         });

// Two jobs at once in one process give the same bytes as each alone, each with settings of its
// own: the pieces its sound is copied in, its threads.
TEST(JobCoreTogether, TwoJobsAtOnceGiveTheBytesOfEachAlone) {
    ScratchDir dir;
    ASSERT_TRUE(WriteTestAvi(dir.Path("a.avi"), {Video(40, 64, 48), Audio(3000)}));
    ASSERT_TRUE(WriteTestAvi(dir.Path("b.avi"), {Audio(2000), Video(30, 48, 32), Other()}));
    const auto job = [&](const std::string& in, const std::string& out, uint32_t options,
                         int64_t pieces = -1) {
        JobRequest request;
        request.engine.copyPieceBytes = pieces >= 0 ? pieces : in == "a.avi" ? 1001 : 0;
        request.engine.threads = in == "a.avi" ? 1 : 2;
        request.source = dir.Path16(in);
        request.destination = dir.Path16(out);
        request.width = 37;
        request.height = 23;
        request.options = options;
        request.overwrite = true;
        CountingProgress progress;
        return RunJob(request, progress).problem;
    };
    ASSERT_EQ(job("a.avi", "a-alone.avi", OPTION_ANTI_ALIAS), JobProblem::None);
    ASSERT_EQ(job("b.avi", "b-alone.avi", 0), JobProblem::None);
    JobProblem first = JobProblem::CantWrite, second = JobProblem::CantWrite;
    std::thread other([&] { second = job("b.avi", "b-together.avi", 0); });
    first = job("a.avi", "a-together.avi", OPTION_ANTI_ALIAS);
    other.join();
    EXPECT_EQ(first, JobProblem::None);
    EXPECT_EQ(second, JobProblem::None);
    EXPECT_EQ(FileBytes(dir.Path("a-together.avi")), FileBytes(dir.Path("a-alone.avi")));
    EXPECT_EQ(FileBytes(dir.Path("b-together.avi")), FileBytes(dir.Path("b-alone.avi")));
    // The settings of its own did make a file of its own.
    ASSERT_EQ(job("a.avi", "a-default.avi", OPTION_ANTI_ALIAS, 0), JobProblem::None);
    EXPECT_NE(FileBytes(dir.Path("a-default.avi")), FileBytes(dir.Path("a-alone.avi")));
}

}  // namespace
