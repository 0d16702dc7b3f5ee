// Starting children: arguments, working directory, exit codes, failed starts, and that no
// descriptor or zombie is left behind.
#include "runner_test_support.h"

#include "support/program_parameters.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <csignal>
#include <filesystem>

using namespace runner_test;

namespace {

using Lines = std::vector<std::u16string>;

std::u16string RealPath(const std::string& path) {
    return FromUtf8(std::filesystem::canonical(path).string());
}

std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Copies the pattern writer to path, executable.
void CopyWriter(const std::string& path) {
    std::filesystem::copy_file(PATTERN_WRITER_PATH, path);
    chmod(path.c_str(), 0755);
}

int32_t ExitCodeOf(const std::u16string& actions) {
    ChildRecord* record = StartWriter(actions);
    EXPECT_NE(record, nullptr);
    DrainLines(record);
    const int32_t code = ChildExitCode(record);
    ReleaseChild(record);
    return code;
}

TEST(ChildExitCode, GivesTheCodeOrTheKillingSignal) {
    EXPECT_EQ(ExitCodeOf(u"exit:0"), 0);
    EXPECT_EQ(ExitCodeOf(u"exit:1"), 1);
    EXPECT_EQ(ExitCodeOf(u"exit:255"), 255);
    EXPECT_EQ(ExitCodeOf(u"t:half kill:9"), 128 + SIGKILL);
    EXPECT_EQ(ExitCodeOf(u"kill:15"), 128 + SIGTERM);
}

TEST(ChildExitCode, IsStillActiveWhileTheChildRuns) {
    ChildRecord* record = StartWriter(u"sleep:300");
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(ChildExitCode(record), CHILD_STILL_ACTIVE);
    EXPECT_EQ(ChildRunning(record), 1);
    DrainLines(record);
    EXPECT_EQ(ChildExitCode(record), 0);
    ReleaseChild(record);
}

TEST(ChildExitCode, AStatusReapedElsewhereIsNotTakenForSuccess) {
    ChildRecord* record = StartWriter(u"exit:0");
    ASSERT_NE(record, nullptr);
    int status = 0;
    ASSERT_EQ(waitpid(static_cast<pid_t>(record->processId), &status, 0),
              static_cast<pid_t>(record->processId));
    DrainLines(record);
    EXPECT_EQ(ChildRunning(record), 0);
    EXPECT_EQ(ChildExitCode(record), CHILD_EXIT_UNKNOWN);
    ReleaseChild(record);
}

TEST(StartChild, ArgumentsArriveAsTheCommandLineSplitterCutsThem) {
    const std::u16string parameters = u"args \"a b\"  c\"d \"\" \u00fc \"x  y";
    ChildRecord* record = StartWriter(parameters);
    const Lines expected{u"a b", u"c\"d", u"", u"\u00fc", u"x  y"};
    EXPECT_EQ(DrainLines(record), expected);
    std::vector<std::u16string> split = SplitCommandLine(parameters);
    split.erase(split.begin());
    EXPECT_EQ(split, expected);
    ReleaseChild(record);

    record = StartWriter(u"");  // no parameters: no argument at all
    EXPECT_EQ(DrainLines(record), Lines{});
    EXPECT_EQ(ChildExitCode(record), 0);
    ReleaseChild(record);
}

TEST(StartChild, ProgramIsQuotedUnlessItStartsWithAQuote) {
    ScratchDirectory scratch;
    const std::string spaced = scratch.path() + "/dir with space";
    std::filesystem::create_directory(spaced);
    const std::u16string program = FromUtf8(spaced + "/writer");
    CopyWriter(spaced + "/writer");

    uintptr_t started = StartChild(program, u"t:plain\\r\\n", u"", 14);
    ASSERT_NE(started, 0u);
    EXPECT_EQ(DrainLines(reinterpret_cast<ChildRecord*>(started)), Lines{u"plain"});
    ReleaseChild(reinterpret_cast<ChildRecord*>(started));

    // A program text that starts with a quote is used as it stands, arguments and all.
    started = StartChild(u"\"" + program + u"\" args", u"one", u"", 14);
    ASSERT_NE(started, 0u);
    EXPECT_EQ(DrainLines(reinterpret_cast<ChildRecord*>(started)), Lines{u"one"});
    ReleaseChild(reinterpret_cast<ChildRecord*>(started));
}

TEST(StartChild, ChildRunsInTheGivenDirectoryOrOurs) {
    ScratchDirectory scratch;
    ChildRecord* record = StartWriter(u"cwd", FromUtf8(scratch.path()));
    EXPECT_EQ(DrainLines(record), Lines{RealPath(scratch.path())});
    ReleaseChild(record);

    record = StartWriter(u"cwd", FromUtf8(scratch.path() + "/"));
    EXPECT_EQ(DrainLines(record), Lines{RealPath(scratch.path())});
    ReleaseChild(record);

    record = StartWriter(u"cwd", u"");
    EXPECT_EQ(DrainLines(record), Lines{RealPath(".")});
    ReleaseChild(record);

    // A relative program path names the program from where we stand.
    const std::filesystem::path here = std::filesystem::current_path();
    const std::filesystem::path writer(PATTERN_WRITER_PATH);
    std::filesystem::current_path(writer.parent_path().parent_path());
    const std::u16string relative =
        FromUtf8((writer.parent_path().filename() / writer.filename()).string());
    record =
        reinterpret_cast<ChildRecord*>(StartChild(relative, u"cwd", FromUtf8(scratch.path()), 14));
    std::filesystem::current_path(here);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(DrainLines(record), Lines{RealPath(scratch.path())});
    ReleaseChild(record);
}

TEST(StartChild, FailedStartGivesZeroAndLeavesNothingOpen) {
    ScratchDirectory scratch;
    const std::string notExecutable = scratch.path() + "/plain-file";
    std::ofstream(notExecutable) << "not a program\n";
    const int descriptors = CountOpenDescriptors();

    const std::u16string missing = FromUtf8(scratch.path() + "/no-such-program");
    EXPECT_EQ(StartChild(missing, u"t:x", u"", 14), 0u);
    EXPECT_EQ(StartChild(missing, u"t:x", u"", CHILD_OPEN), 0u);
    EXPECT_EQ(StartChild(missing, u"t:x", u"", 0), 0u);
    EXPECT_EQ(StartChild(missing, u"", u"", CHILD_READ_OUTPUT), 0u);
    EXPECT_EQ(StartChild(u"", u"", u"", 14), 0u);
    EXPECT_EQ(StartChild(FromUtf8(notExecutable), u"", u"", 14), 0u);
    EXPECT_EQ(StartChild(WriterPath(), u"cwd", FromUtf8(scratch.path() + "/no-such-dir"), 14), 0u);

    EXPECT_EQ(CountOpenDescriptors(), descriptors);
    EXPECT_EQ(CountZombieChildren(), 0);
}

TEST(StartChild, WithoutRedirectionAFailedStartIsRetriedWithTheProgramUnsplit) {
    // A quote inside the path cuts the command line apart; only the retry finds the program,
    // and it runs in the program's own folder.
    ScratchDirectory scratch;
    const std::string folder = scratch.path() + "/a\"b";
    std::filesystem::create_directory(folder);
    CopyWriter(folder + "/writer");
    const std::u16string program = FromUtf8(folder + "/writer");
    const std::string result = scratch.path() + "/result";

    EXPECT_EQ(StartChild(program, u"exit:0", u"", 14), 0u);

    const uintptr_t started =
        StartChild(program, FromUtf8("out:" + result + " cwd exit:7"), u"", CHILD_OPEN);
    ASSERT_NE(started, 0u);
    ChildRecord* record = reinterpret_cast<ChildRecord*>(started);
    DrainLines(record);
    EXPECT_EQ(ChildExitCode(record), 7);
    const std::u16string expected = RealPath(folder) + u"\r\n";
    EXPECT_EQ(ReadFileBytes(result),
              std::string(reinterpret_cast<const char*>(expected.data()), expected.size() * 2));
    ReleaseChild(record);

    EXPECT_EQ(StartChild(program, u"exit:0", u"", CHILD_WAIT), 1u);
}

TEST(StartChild, WaitFlagReturnsAfterTheEnd) {
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(StartChild(WriterPath(), u"sleep:300", u"", CHILD_WAIT), 1u);
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(300));

    ChildRecord* record = reinterpret_cast<ChildRecord*>(
        StartChild(WriterPath(), u"exit:7", u"", CHILD_WAIT | CHILD_OPEN));
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(ChildRunning(record), 0);
    EXPECT_EQ(ChildExitCode(record), 7);
    ReleaseChild(record);
}

TEST(StartChild, ChildSeesOnlyItsStandardDescriptors) {
    const int stray = open("/dev/null", O_RDONLY);  // deliberately inheritable
    ASSERT_GE(stray, 0);
    ChildRecord* other = StartWriter(u"sleep:2000");  // its pipe is open meanwhile
    ChildRecord* record = StartWriter(u"fds");
    EXPECT_EQ(DrainLines(record), Lines{u"0 1 2"});
    ReleaseChild(record);
    close(stray);
    kill(static_cast<pid_t>(other->processId), SIGKILL);
    DrainLines(other);
    ReleaseChild(other);
}

TEST(StartChild, ABareProgramNameIsLookedUpInPath) {
    // Entries where the name is missing or not executable are passed over, as by the shell.
    ScratchDirectory scratch;
    const std::string refused = scratch.path() + "/refused";
    const std::string found = scratch.path() + "/found";
    std::filesystem::create_directory(refused);
    std::filesystem::create_directory(found);
    std::ofstream(refused + "/reframe-writer") << "not a program\n";
    CopyWriter(found + "/reframe-writer");
    const std::string path = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";

    setenv("PATH", (scratch.path() + "/missing:" + refused + ":" + found).c_str(), 1);
    const uintptr_t started = StartChild(u"reframe-writer", u"t:found\\r\\n", u"", 14);
    setenv("PATH", refused.c_str(), 1);
    const uintptr_t refusedStart = StartChild(u"reframe-writer", u"", u"", 14);
    setenv("PATH", path.c_str(), 1);

    ASSERT_NE(started, 0u);
    EXPECT_EQ(DrainLines(reinterpret_cast<ChildRecord*>(started)), Lines{u"found"});
    ReleaseChild(reinterpret_cast<ChildRecord*>(started));
    EXPECT_EQ(refusedStart, 0u);
}

TEST(StartChild, ChildInheritsNoBlockedOrIgnoredSignal) {
    sigset_t blocked;
    sigset_t previousMask;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &blocked, &previousMask);
    struct sigaction ignore {};
    struct sigaction previousAction {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGUSR2, &ignore, &previousAction);

    EXPECT_EQ(ExitCodeOf(u"kill:" + IntToUtf16(SIGUSR1)), 128 + SIGUSR1);
    EXPECT_EQ(ExitCodeOf(u"kill:" + IntToUtf16(SIGUSR2)), 128 + SIGUSR2);

    sigaction(SIGUSR2, &previousAction, nullptr);
    pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
}

TEST(StartChild, ManyStartsLeaveNoDescriptorAndNoZombie) {
    const int descriptors = CountOpenDescriptors();
    const std::u16string missing = u"/nonexistent/reframe-program";
    std::vector<pid_t> ended;
    for (int i = 0; i < 50; ++i) {
        ChildRecord* record = StartWriter(u"t:1\\r\\n exit:3");
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(DrainLines(record), Lines{u"1"});
        EXPECT_EQ(ChildExitCode(record), 3);
        ended.push_back(static_cast<pid_t>(record->processId));
        ReleaseChild(record);

        EXPECT_EQ(StartChild(missing, u"", u"", 14), 0u);
        EXPECT_EQ(StartChild(WriterPath(), u"exit:0", u"", 0), 1u);
        EXPECT_EQ(StartChild(WriterPath(), u"exit:0", u"", CHILD_WAIT), 1u);
    }
    // Once its end has been seen a child is gone, not a zombie.
    for (pid_t pid : ended) EXPECT_FALSE(std::filesystem::exists("/proc/" + std::to_string(pid)));

    // Children started without a record are reaped by later calls into the runner: once they
    // have all ended, none of them is left as a child of ours.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (CountChildren(false) > 0 && std::chrono::steady_clock::now() < deadline) {
        ChildRunning(nullptr);
        Pause(5);
    }
    EXPECT_EQ(CountChildren(false), 0);
    EXPECT_EQ(CountOpenDescriptors(), descriptors);
}

TEST(InitProcessServices, ExitCodesSurviveAnInheritedIgnoredSigchld) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process: not yet initialised
    EXPECT_EXIT(
        {
            signal(SIGCHLD, SIG_IGN);
            InitProcessServices();
            ChildRecord* record = StartWriter(u"exit:5");
            DrainLines(record);
            std::exit(ChildExitCode(record) & 0xFF);
        },
        testing::ExitedWithCode(5), "");
}

}  // namespace
