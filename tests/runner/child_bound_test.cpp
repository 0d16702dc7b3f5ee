// Children end with the process that started them, even one killed by SIGKILL: the runner's
// (a compressor) and the batch runner's (the process for one file).
#include "runner_test_support.h"

#include <sys/prctl.h>
#include <sys/wait.h>
#include <cerrno>
#include <csignal>

using namespace runner_test;

namespace {

// While it lives, orphans below this test process become its children rather than init's,
// so that a test can reap a grandchild and see how it ended.
class OrphanCatcher {
  public:
    OrphanCatcher() { prctl(PR_SET_CHILD_SUBREAPER, 1); }
    ~OrphanCatcher() { prctl(PR_SET_CHILD_SUBREAPER, 0); }
    OrphanCatcher(const OrphanCatcher&) = delete;
    OrphanCatcher& operator=(const OrphanCatcher&) = delete;
};

// Polls for the end of pid, an orphan we have caught; gives its wait status, or -1 when it
// still runs after timeoutMs (it is then killed, so that no test leaves it behind).
int WaitForOrphan(pid_t pid, int timeoutMs = 10000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status = 0;
        const pid_t got = waitpid(pid, &status, WNOHANG);
        if (got == pid) return status;
        if (got < 0 && errno != EINTR) return -2;  // not ours: the catching failed
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        Pause(5);
    }
}

ChildRecord* StartBoundParent(const std::u16string& parameters, uint32_t flags) {
    return reinterpret_cast<ChildRecord*>(StartChild(BoundParentPath(), parameters, u"", flags));
}

// Kills the parent as a crash or `kill -9` would and reaps it; its children are ours then.
void KillParent(ChildRecord* parent) {
    kill(static_cast<pid_t>(parent->processId), SIGKILL);
    CollectChildEnd(parent, true);
    EXPECT_EQ(ChildExitCode(parent), 128 + SIGKILL);
}

TEST(BoundChild, EndsWhenTheProcessThatStartedItIsKilled) {
    OrphanCatcher catcher;
    ChildRecord* parent =
        StartBoundParent(u"runner \"" + WriterPath() + u"\"", CHILD_OPEN | CHILD_READ_OUTPUT);
    ASSERT_NE(parent, nullptr);
    const pid_t child = std::atoi(ToUtf8(ReadChildLine(parent)).c_str());
    ASSERT_GT(child, 0) << "the parent could not start its child";

    KillParent(parent);
    const int status = WaitForOrphan(child);
    ASSERT_GE(status, 0) << "the child still ran after its parent was killed";
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    ReleaseChild(parent);
}

TEST(BoundChild, ABatchsFileProcessEndsWhenTheBatchIsKilled) {
    OrphanCatcher catcher;
    ScratchDirectory scratch;
    const std::string pidFile = scratch.path() + "/file-process";
    ChildRecord* batch =
        StartBoundParent(FromUtf8("batch source.avi \"" + pidFile + "\""), CHILD_OPEN);
    ASSERT_NE(batch, nullptr);
    // The file's process writes its pid and a line break in one write.
    std::string written;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (written.find('\n') == std::string::npos && ChildRunning(batch) != 0 &&
           std::chrono::steady_clock::now() < deadline) {
        Pause(5);
        std::ifstream in(pidFile);
        std::getline(in, written, '\0');
    }
    const pid_t fileProcess = std::atoi(written.c_str());
    ASSERT_GT(fileProcess, 0) << "the batch started no process for its file";

    KillParent(batch);
    // SIGTERM, so that a real conversion removes its unfinished file on the way out.
    const int status = WaitForOrphan(fileProcess);
    ASSERT_GE(status, 0) << "the file's process still ran after the batch was killed";
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    ReleaseChild(batch);
}

}  // namespace
