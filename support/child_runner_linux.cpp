// The runner on Linux: children started with fork and exec (bound to the starting thread),
// their ends collected with waitpid.
#include "support/child_runner.h"

#include "support/child_record.h"
#include "support/child_spawn_linux.h"
#include "support/program_parameters.h"
#include "support/unicode_text.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <mutex>
#include <vector>

namespace {

// Guards the children that have no record.
std::mutex unownedLock;
// Children started without CHILD_OPEN (or whose record was given back while they ran): no
// one asks for their end, so the runner reaps them itself whenever it is called.
std::vector<pid_t> unownedChildren;
std::once_flag servicesReady;

// Flags that rule out the fallback start: the caller relies on a redirection.
constexpr uint32_t CHILD_NEEDS_STREAMS =
    CHILD_READ_OUTPUT | CHILD_WRITE_INPUT | CHILD_READ_ERRORS | CHILD_CONNECT;

int32_t DecodeWaitStatus(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return CHILD_EXIT_UNKNOWN;
}

// waitpid that resumes after signals: the pid when reaped, 0 while running, -1 on error.
pid_t WaitForChild(pid_t pid, int* status, bool block) {
    for (;;) {
        const pid_t result = waitpid(pid, status, block ? 0 : WNOHANG);
        if (result >= 0 || errno != EINTR) return result;
    }
}

void ReapUnownedChildren() {
    std::lock_guard<std::mutex> guard(unownedLock);
    std::erase_if(unownedChildren, [](pid_t pid) {
        int status = 0;
        return WaitForChild(pid, &status, false) != 0;  // reaped, or gone already
    });
}

void AdoptUnownedChild(pid_t pid) {
    std::lock_guard<std::mutex> guard(unownedLock);
    unownedChildren.push_back(pid);
}

void CloseDescriptor(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

// A pipe with both ends close-on-exec and above the standard descriptors, so that setting
// up the child's 0, 1 and 2 can never overwrite one of them.
bool MakePipe(int ends[2]) {
    if (pipe2(ends, O_CLOEXEC) != 0) {
        ends[0] = ends[1] = -1;
        return false;
    }
    for (int i = 0; i < 2; ++i) {
        if (ends[i] > STDERR_FILENO) continue;
        const int moved = fcntl(ends[i], F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
        close(ends[i]);
        ends[i] = moved;
    }
    if (ends[0] < 0 || ends[1] < 0) {
        CloseDescriptor(ends[0]);
        CloseDescriptor(ends[1]);
        return false;
    }
    return true;
}

// The pipes set up for one start; -1 where none. [0] is the read end, [1] the write end.
struct ChildPipes {
    int input[2] = {-1, -1};
    int output[2] = {-1, -1};
    int errors[2] = {-1, -1};

    void CloseChildEnds() {
        CloseDescriptor(input[0]);
        CloseDescriptor(output[1]);
        CloseDescriptor(errors[1]);
    }
    void CloseOurEnds() {
        CloseDescriptor(input[1]);
        CloseDescriptor(output[0]);
        CloseDescriptor(errors[0]);
    }
};

// Starts arguments[0] with the given argument list; gives the child's pid or -1. The child
// gets the pipes as its standard streams, keeps our other standard streams, and inherits no
// other descriptor and no blocked or ignored signal. It is killed when the thread that
// started it ends, so that a compressor cannot run on after the tool was killed: both
// callers (reframe-convert and the window) start it from their main thread, which lives as
// long as the process.
pid_t SpawnChild(const std::vector<std::u16string>& arguments, const std::u16string& directory,
                 const ChildPipes& pipes) {
    if (arguments.empty() || arguments[0].empty()) return -1;
    std::vector<std::string> argumentBytes;
    argumentBytes.reserve(arguments.size());
    for (const std::u16string& argument : arguments) argumentBytes.push_back(ToUtf8(argument));
    ChildStreams streams;
    streams.input = pipes.input[0];
    streams.output = pipes.output[1];
    streams.errors = pipes.errors[1];
    return SpawnBoundChild(argumentBytes, ToUtf8(directory), streams, SIGKILL);
}

// The second try for a start without redirections: the program path as given, unsplit, and
// when no directory is named, the program's own folder (up to its last slash).
pid_t SpawnFallback(const std::u16string& program, const std::u16string& parameters,
                    const std::u16string& directory) {
    std::vector<std::u16string> arguments{program};
    if (!parameters.empty()) {
        std::vector<std::u16string> tokens = SplitCommandLine(parameters);
        arguments.insert(arguments.end(), tokens.begin(), tokens.end());
    }
    std::u16string workingDirectory = directory;
    if (workingDirectory.empty()) {
        const size_t slash = program.find_last_of(u'/');
        if (slash != std::u16string::npos && slash > 0)
            workingDirectory = program.substr(0, slash + 1);
    }
    return SpawnChild(arguments, workingDirectory, ChildPipes{});
}

}  // namespace

bool CollectChildEnd(ChildRecord* record, bool wait) {
    if (record->ended) return true;
    int status = 0;
    const pid_t result = record->process > 0 ? WaitForChild(record->process, &status, wait) : -1;
    if (result == 0) return false;
    record->ended = true;
    // Reaped here, or reaped by someone else (its status is then lost).
    record->exitCode = result > 0 ? DecodeWaitStatus(status) : CHILD_EXIT_UNKNOWN;
    record->process = -1;
    return true;
}

void InitProcessServices() {
    std::call_once(servicesReady, [] {
        struct sigaction current {};
        if (sigaction(SIGCHLD, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) {
            struct sigaction defaults {};
            defaults.sa_handler = SIG_DFL;
            sigemptyset(&defaults.sa_mask);
            sigaction(SIGCHLD, &defaults, nullptr);
        }
    });
}

uintptr_t StartChild(const std::u16string& program, const std::u16string& parameters,
                     const std::u16string& directory, uint32_t flags) {
    InitProcessServices();
    ReapUnownedChildren();

    // A pipe that cannot be made leaves that stream as it is.
    ChildPipes pipes;
    if (flags & CHILD_OPEN) {
        if (flags & CHILD_WRITE_INPUT) MakePipe(pipes.input);
        if (flags & CHILD_READ_OUTPUT) MakePipe(pipes.output);
        if (flags & CHILD_READ_ERRORS) MakePipe(pipes.errors);
    }

    pid_t pid =
        SpawnChild(SplitCommandLine(BuildCommandLine(program, parameters)), directory, pipes);
    pipes.CloseChildEnds();
    if (pid < 0) {
        pipes.CloseOurEnds();
        if (flags & CHILD_NEEDS_STREAMS) return 0;
        pid = SpawnFallback(program, parameters, directory);
        if (pid < 0) return 0;
    }

    bool ended = false;
    int32_t exitCode = 0;
    if (flags & CHILD_WAIT) {
        int status = 0;
        ended = true;
        exitCode =
            WaitForChild(pid, &status, true) == pid ? DecodeWaitStatus(status) : CHILD_EXIT_UNKNOWN;
    }
    if (!(flags & CHILD_OPEN)) {
        if (!ended) AdoptUnownedChild(pid);
        return 1;
    }

    ChildRecord* record = LinkNewChildRecord();
    if (record == nullptr) {
        pipes.CloseOurEnds();
        if (!ended) AdoptUnownedChild(pid);
        return 0;
    }
    record->process = ended ? -1 : pid;
    record->processId = static_cast<uint32_t>(pid);
    record->inputWrite = pipes.input[1];
    record->outputRead = pipes.output[0];
    record->errorRead = pipes.errors[0];
    record->ended = ended;
    record->exitCode = exitCode;
    return reinterpret_cast<uintptr_t>(record);
}

void ReapReleasedChildren() {
    ReapUnownedChildren();
}

void StopChild(ChildRecord* record) {
    if (record == nullptr || CollectChildEnd(record, false)) return;
    kill(record->process, SIGKILL);
    CollectChildEnd(record, true);  // 128 + SIGKILL, which is CHILD_STOPPED
}

void ReleaseChild(ChildRecord* record) {
    if (record == nullptr) return;
    UnlinkChildRecord(record);
    CloseDescriptor(record->inputWrite);
    CloseDescriptor(record->outputRead);
    CloseDescriptor(record->errorRead);
    if (!CollectChildEnd(record, false)) AdoptUnownedChild(record->process);
    delete record;
}
