#include "support/child_runner.h"

#include "support/child_record.h"
#include "support/program_parameters.h"
#include "support/unicode_text.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <mutex>
#include <new>
#include <vector>

extern char** environ;

namespace {

// Guards the list of records and the children that have no record.
std::mutex childListLock;
ChildRecord* childList = nullptr;
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
    std::lock_guard<std::mutex> guard(childListLock);
    std::erase_if(unownedChildren, [](pid_t pid) {
        int status = 0;
        return WaitForChild(pid, &status, false) != 0;  // reaped, or gone already
    });
}

void AdoptUnownedChild(pid_t pid) {
    std::lock_guard<std::mutex> guard(childListLock);
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
// other descriptor and no blocked or ignored signal. glibc reports a program that cannot be
// executed (or a directory it cannot enter) as the result of posix_spawn itself.
pid_t SpawnChild(const std::vector<std::u16string>& arguments, const std::u16string& directory,
                 const ChildPipes& pipes) {
    if (arguments.empty() || arguments[0].empty()) return -1;

    std::vector<std::string> argumentBytes;
    argumentBytes.reserve(arguments.size());
    for (const std::u16string& argument : arguments) argumentBytes.push_back(ToUtf8(argument));
    std::vector<char*> argv;
    for (std::string& argument : argumentBytes) argv.push_back(argument.data());
    argv.push_back(nullptr);

    const std::string directoryBytes = ToUtf8(directory);
    // The child enters its directory before the program is looked up, so a relative path
    // would otherwise be taken from there rather than from where the caller stands.
    std::string programPath = argumentBytes[0];
    if (!directoryBytes.empty() && programPath[0] != '/' &&
        programPath.find('/') != std::string::npos) {
        std::string here(4096, '\0');
        if (getcwd(here.data(), here.size()) == nullptr) return -1;
        here.resize(here.find('\0'));
        programPath = here + "/" + programPath;
    }

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    if (posix_spawn_file_actions_init(&actions) != 0) return -1;
    if (posix_spawnattr_init(&attributes) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return -1;
    }
    bool ready = true;
    if (pipes.input[0] >= 0)
        ready &= posix_spawn_file_actions_adddup2(&actions, pipes.input[0], STDIN_FILENO) == 0;
    if (pipes.output[1] >= 0)
        ready &= posix_spawn_file_actions_adddup2(&actions, pipes.output[1], STDOUT_FILENO) == 0;
    if (pipes.errors[1] >= 0)
        ready &= posix_spawn_file_actions_adddup2(&actions, pipes.errors[1], STDERR_FILENO) == 0;
    // Descriptors that someone opened without close-on-exec stay ours all the same.
    ready &= posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1) == 0;
    if (!directoryBytes.empty())
        ready &= posix_spawn_file_actions_addchdir_np(&actions, directoryBytes.c_str()) == 0;

    sigset_t noSignals;
    sigset_t allSignals;
    sigemptyset(&noSignals);
    sigfillset(&allSignals);
    ready &= posix_spawnattr_setsigmask(&attributes, &noSignals) == 0;
    ready &= posix_spawnattr_setsigdefault(&attributes, &allSignals) == 0;
    ready &=
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) == 0;

    pid_t pid = -1;
    if (ready &&
        posix_spawnp(&pid, programPath.c_str(), &actions, &attributes, argv.data(), environ) != 0)
        pid = -1;
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// The command line of a start: the program quoted unless it already starts with a quote,
// then one space and the parameters when there are any.
std::u16string BuildCommandLine(const std::u16string& program, const std::u16string& parameters) {
    std::u16string commandLine;
    commandLine.reserve(program.size() + parameters.size() + 3);
    if (!program.empty() && program[0] == u'"') {
        commandLine = program;
    } else {
        commandLine += u'"';
        commandLine += program;
        commandLine += u'"';
    }
    if (!parameters.empty()) {
        commandLine += u' ';
        commandLine += parameters;
    }
    return commandLine;
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

    ChildRecord* record = nullptr;
    {
        std::lock_guard<std::mutex> guard(childListLock);
        record = new (std::nothrow) ChildRecord;
        if (record != nullptr) {
            record->next = childList;
            childList = record;
        }
    }
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

int ChildRunning(ChildRecord* record) {
    ReapUnownedChildren();
    if (record == nullptr) return 0;
    if (!CollectChildEnd(record, false)) return 1;
    if (!record->pending.empty()) return 1;
    return PipeBytesWaiting(record->outputRead) > 0 ? 1 : 0;
}

int32_t ChildExitCode(ChildRecord* record) {
    if (record == nullptr) return CHILD_EXIT_UNKNOWN;
    if (!CollectChildEnd(record, false)) return CHILD_STILL_ACTIVE;
    return record->exitCode;
}

void StopChild(ChildRecord* record) {
    if (record == nullptr || CollectChildEnd(record, false)) return;
    kill(record->process, SIGKILL);
    CollectChildEnd(record, true);
}

void ReleaseChild(ChildRecord* record) {
    if (record == nullptr) return;
    {
        std::lock_guard<std::mutex> guard(childListLock);
        for (ChildRecord** link = &childList; *link != nullptr; link = &(*link)->next) {
            if (*link == record) {
                *link = record->next;
                break;
            }
        }
    }
    CloseDescriptor(record->inputWrite);
    CloseDescriptor(record->outputRead);
    CloseDescriptor(record->errorRead);
    if (!CollectChildEnd(record, false)) AdoptUnownedChild(record->process);
    delete record;
}
