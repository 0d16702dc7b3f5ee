// Starting children on Windows: the command line and the parameters the child reads from it,
// names beyond the ANSI code page, exit codes, failed starts that leave no handle open, the
// handles a child inherits, and the job object that ends children with their parent.
#include "runner_test_support.h"

#include "support/crt_arguments.h"
#include "support/program_parameters.h"

#include <windows.h>

#include <filesystem>

using namespace runner_test;

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::u16string>;

// Greek, CJK and an emoji (a surrogate pair): none of them is in any ANSI code page at once.
const std::u16string FOREIGN = u"\u03a9\u03bc\u03ad\u03b3\u03b1 \u6f22\u5b57 \U0001F600";

std::u16string CopyWriter(const fs::path& folder, const std::u16string& name) {
    fs::create_directories(folder);
    const fs::path target = folder / fs::path(name);
    fs::copy_file(fs::path(WriterPath()), target);
    return target.u16string();
}

std::u16string Quoted(const std::u16string& text) {
    return u"\"" + text + u"\"";
}

int32_t ExitCodeOf(const std::u16string& actions) {
    ChildRecord* record = StartWriter(actions);
    EXPECT_NE(record, nullptr);
    DrainLines(record);
    const int32_t code = ChildExitCode(record);
    ReleaseChild(record);
    return code;
}

TEST(ChildExitCodeOnWindows, GivesTheCodeTheChildEndedWith) {
    EXPECT_EQ(ExitCodeOf(u"exit:0"), 0);
    EXPECT_EQ(ExitCodeOf(u"exit:1"), 1);
    EXPECT_EQ(ExitCodeOf(u"exit:255"), 255);
    EXPECT_EQ(ExitCodeOf(u"exit:70000"), 70000);  // not cut to a byte as on Linux

    ChildRecord* record = StartWriter(u"sleep:60000");
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(ChildExitCode(record), CHILD_STILL_ACTIVE);
    EXPECT_EQ(ChildRunning(record), 1);
    StopChild(record);
    EXPECT_EQ(ChildRunning(record), 0);
    EXPECT_EQ(ChildExitCode(record), CHILD_STOPPED);
    ReleaseChild(record);
}

TEST(StartChildOnWindows, TheChildReadsItsCommandLineAsTheSplitterCutsIt) {
    const std::u16string parameters = u"args \"a b\"  c\"d \"\" \u00fc \"x  y";
    ChildRecord* record = StartWriter(parameters);
    const Lines expected{u"a b", u"c\"d", u"", u"\u00fc", u"x  y"};
    EXPECT_EQ(DrainLines(record), expected);
    ReleaseChild(record);

    // NextParameter reads the same line afresh: every token after the program's name, the
    // empty quoted one too, and then nothing more; OwnExecutablePath names the program.
    record = StartWriter(u"params \"a b\" \"\" " + FOREIGN);
    EXPECT_EQ(DrainLines(record), (Lines{u"params", u"a b", u"", u"\u03a9\u03bc\u03ad\u03b3\u03b1",
                                         u"\u6f22\u5b57", u"\U0001F600", WriterPath()}));
    ReleaseChild(record);
}

TEST(StartChildOnWindows, ProgramsAndFoldersMayBearAnyName) {
    ScratchDirectory scratch;
    const fs::path folder = fs::path(FromUtf8(scratch.path())) / fs::path(u"dir " + FOREIGN);
    const std::u16string program = CopyWriter(folder, u"writer " + FOREIGN + u".exe");

    // The program is quoted for the command line; the child finds its own path in full.
    ChildRecord* record = reinterpret_cast<ChildRecord*>(StartChild(program, u"params", u"", 14));
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(DrainLines(record), (Lines{u"params", program}));
    ReleaseChild(record);

    // A program text that starts with a quote is used as it stands, arguments and all.
    record = reinterpret_cast<ChildRecord*>(
        StartChild(Quoted(program) + u" args", u"one " + FOREIGN, u"", 14));
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(DrainLines(record),
              (Lines{u"one", u"\u03a9\u03bc\u03ad\u03b3\u03b1", u"\u6f22\u5b57", u"\U0001F600"}));
    ReleaseChild(record);

    // The working directory: the one given, with or without its backslash, or ours.
    const std::u16string directory = folder.u16string();
    for (const std::u16string& given : {directory, directory + u"\\"}) {
        record = StartWriter(u"cwd", given);
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(DrainLines(record), Lines{directory});
        ReleaseChild(record);
    }
    std::u16string ours = CurrentDirectory();
    if (ours.size() > 3) ours.pop_back();  // a drive's root keeps its backslash
    record = StartWriter(u"cwd", u"");
    EXPECT_EQ(DrainLines(record), Lines{ours});
    ReleaseChild(record);
}

TEST(StartChildOnWindows, AnExtendedLengthProgramPathComesBackPlain) {
    const std::u16string plain = WriterPath();
    ChildRecord* record =
        reinterpret_cast<ChildRecord*>(StartChild(u"\\\\?\\" + plain, u"params", u"", 14));
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(DrainLines(record), (Lines{u"params", plain}));
    ReleaseChild(record);
}

TEST(StartChildOnWindows, AMissingChildGivesZeroAndLeavesNoHandleOpen) {
    InitProcessServices();  // the job object is the process's own for its whole life
    ScratchDirectory scratch;
    const std::u16string missing = FromUtf8(scratch.path()) + u"\\no-such-program.exe";
    const std::u16string noFolder = FromUtf8(scratch.path()) + u"\\no-such-folder";
    // The shell's fallback loads what it needs once; only after that is the count steady.
    EXPECT_EQ(StartChild(missing, u"t:x", u"", 0), 0u);

    const int handles = CountOpenHandles();
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(StartChild(missing, u"t:x", u"", 14), 0u);
        EXPECT_EQ(
            StartChild(missing, u"", u"",
                       CHILD_OPEN | CHILD_READ_OUTPUT | CHILD_READ_ERRORS | CHILD_WRITE_INPUT),
            0u);
        EXPECT_EQ(StartChild(u"", u"", u"", 14), 0u);
        EXPECT_EQ(StartChild(WriterPath(), u"cwd", noFolder, 14), 0u);
        EXPECT_EQ(StartChild(missing, u"t:x", u"", CHILD_OPEN), 0u);
        EXPECT_EQ(StartChild(missing, u"t:x", u"", 0), 0u);
    }
    EXPECT_EQ(CountOpenHandles(), handles);

    // A child that was started and drained leaves nothing open either.
    for (int i = 0; i < 20; ++i) {
        ChildRecord* record = StartWriter(u"t:1\\r\\n exit:3");
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(DrainLines(record), Lines{u"1"});
        EXPECT_EQ(ChildExitCode(record), 3);
        ReleaseChild(record);
        EXPECT_EQ(StartChild(WriterPath(), u"exit:0", u"", CHILD_WAIT), 1u);
    }
    EXPECT_EQ(CountOpenHandles(), handles);
}

TEST(StartChildOnWindows, TheChildInheritsItsPipesAndNoOtherHandle) {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE stray = CreateEventW(&inheritable, TRUE, FALSE, nullptr);
    ASSERT_NE(stray, nullptr);
    // Another child's pipe is open meanwhile; its write end must not reach this child either,
    // or that pipe would not report its end until this child ends too.
    ChildRecord* other = StartWriter(u"sleep:2000");
    ASSERT_NE(other, nullptr);
    const auto value = [](void* handle) {
        return FromUtf8(std::to_string(reinterpret_cast<uintptr_t>(handle)));
    };
    ChildRecord* record =
        StartWriter(u"handle:" + value(stray) + u" handle:" + value(other->outputRead));
    EXPECT_EQ(DrainLines(record), (Lines{u"closed", u"closed"}));
    ReleaseChild(record);
    StopChild(other);
    DrainLines(other);
    ReleaseChild(other);
    CloseHandle(stray);
}

TEST(StartChildOnWindows, WaitFlagReturnsAfterTheEnd) {
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(StartChild(WriterPath(), u"sleep:300", u"", CHILD_WAIT), 1u);
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(290));

    ChildRecord* record = reinterpret_cast<ChildRecord*>(
        StartChild(WriterPath(), u"exit:7", u"", CHILD_WAIT | CHILD_OPEN));
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(ChildRunning(record), 0);
    EXPECT_EQ(ChildExitCode(record), 7);
    ReleaseChild(record);
}

// A handle on process id that lets a test wait for its end; null when it has ended already.
HANDLE Watch(uint32_t processId) {
    return OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
}

// Kills a parent as a crash or the task manager would: no code of its own runs.
void KillParent(ChildRecord* parent) {
    StopChild(parent);
    EXPECT_EQ(ChildExitCode(parent), CHILD_STOPPED);
}

bool EndsWithin(HANDLE process, DWORD milliseconds) {
    return WaitForSingleObject(process, milliseconds) == WAIT_OBJECT_0;
}

TEST(BoundChildOnWindows, EndsWhenTheProcessThatStartedItIsKilled) {
    ChildRecord* parent = reinterpret_cast<ChildRecord*>(StartChild(
        BoundParentPath(), u"runner " + Quoted(WriterPath()), u"", CHILD_OPEN | CHILD_READ_OUTPUT));
    ASSERT_NE(parent, nullptr);
    const uint32_t child = static_cast<uint32_t>(std::stoul(ToUtf8(ReadChildLine(parent))));
    HANDLE watched = Watch(child);
    ASSERT_NE(watched, nullptr) << "the parent's child is not running";
    EXPECT_FALSE(EndsWithin(watched, 200));

    KillParent(parent);
    EXPECT_TRUE(EndsWithin(watched, 10000)) << "the child still ran after its parent was killed";
    CloseHandle(watched);
    ReleaseChild(parent);
}

TEST(BoundChildOnWindows, ABatchsFileProcessEndsWhenTheBatchIsKilled) {
    ScratchDirectory scratch;
    const std::string pidFile = scratch.path() + "\\file process " + ToUtf8(FOREIGN);
    ChildRecord* batch = reinterpret_cast<ChildRecord*>(StartChild(
        BoundParentPath(), u"batch source.avi " + Quoted(FromUtf8(pidFile)), u"", CHILD_OPEN));
    ASSERT_NE(batch, nullptr);
    // The file's process writes its pid and a line break in one write.
    std::string written;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (written.find('\n') == std::string::npos && ChildRunning(batch) != 0 &&
           std::chrono::steady_clock::now() < deadline) {
        Pause(5);
        std::ifstream in(fs::path(FromUtf8(pidFile)));
        std::getline(in, written, '\0');
    }
    ASSERT_NE(written.find('\n'), std::string::npos) << "the batch started no process for it";
    HANDLE watched = Watch(static_cast<uint32_t>(std::stoul(written)));
    ASSERT_NE(watched, nullptr) << "the file's process is not running";

    KillParent(batch);
    EXPECT_TRUE(EndsWithin(watched, 10000))
        << "the file's process still ran after the batch was killed";
    CloseHandle(watched);
    ReleaseChild(batch);
}

TEST(InterruptOnWindows, CtrlCRemovesTheScratchFilesAndStopsTheCompressor) {
    ScratchDirectory scratch;
    const std::string folder = scratch.path() + "\\" + ToUtf8(FOREIGN) + "\\";
    fs::create_directory(fs::path(FromUtf8(folder)));
    // The tool reads its arguments by the C runtime's rules, in which the folder's last
    // backslash would escape a plain closing quote.
    const std::u16string parameters =
        u"interrupt " + QuoteCrtArgument(FromUtf8(folder)) + u" " + QuoteCrtArgument(WriterPath());
    ChildRecord* tool = reinterpret_cast<ChildRecord*>(
        StartChild(BoundParentPath(), parameters, u"", CHILD_HIDE | CHILD_OPEN));
    ASSERT_NE(tool, nullptr);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (ChildRunning(tool) != 0 && std::chrono::steady_clock::now() < deadline) Pause(10);
    // Ended as Ctrl+C ends a console program, not by its own return.
    EXPECT_EQ(static_cast<uint32_t>(ChildExitCode(tool)), 0xC000013Au);
    ReleaseChild(tool);

    std::ifstream state(fs::path(FromUtf8(folder + "state")));
    std::string pid, first, second;
    ASSERT_TRUE(std::getline(state, pid) && std::getline(state, first) &&
                std::getline(state, second))
        << "the tool did not get as far as the interrupt";
    EXPECT_EQ(PathExists(FromUtf8(first)), 0);
    EXPECT_EQ(PathExists(FromUtf8(second)), 0);
    HANDLE compressor = Watch(static_cast<uint32_t>(std::stoul(pid)));
    if (compressor != nullptr) {  // else it is gone already
        EXPECT_TRUE(EndsWithin(compressor, 10000)) << "the compressor still runs";
        CloseHandle(compressor);
    }
}

TEST(InterruptOnWindows, CtrlCEndsABatchOnlyOnceItsFileProcessesHaveCleanedUp) {
    ScratchDirectory scratch;
    const std::string destination = scratch.path() + "\\" + ToUtf8(FOREIGN) + ".avi";
    ChildRecord* batch = reinterpret_cast<ChildRecord*>(
        StartChild(BoundParentPath(), u"interrupt-batch " + QuoteCrtArgument(FromUtf8(destination)),
                   u"", CHILD_HIDE | CHILD_OPEN));
    ASSERT_NE(batch, nullptr);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (ChildRunning(batch) != 0 && std::chrono::steady_clock::now() < deadline) Pause(10);
    EXPECT_EQ(static_cast<uint32_t>(ChildExitCode(batch)), 0xC000013Au);
    ReleaseChild(batch);
    // Had the batch ended first, the job would have killed the file's process mid-way.
    EXPECT_EQ(PathExists(FromUtf8(destination + ".cleaned")), 1)
        << "the batch did not wait for its file's process to clean up";
}

}  // namespace
