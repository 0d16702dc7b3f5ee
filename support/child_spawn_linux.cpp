// The Linux way to bind a child to its starter: fork, and in the child ask the kernel for a
// signal when the starting thread ends (PR_SET_PDEATHSIG) before exec. posix_spawn has no
// hook for that, so the child's set-up is done here by hand.
//
// The tool is multi-threaded (the window toolkit, decoder threads), and after fork only
// async-signal-safe calls may run in the child: every path, argument list and the environment
// are prepared before forking, and the child only makes system calls.
#include "support/child_spawn_linux.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <memory>

extern char** environ;

namespace {

// The child's end of the error pipe is moved here before every other descriptor is closed.
constexpr int ERROR_DESCRIPTOR = STDERR_FILENO + 1;

// The files to try for program, in order: the path itself when it holds a slash (made
// absolute when the child is to change directory first, so that it names the file the caller
// means), else the name in each PATH entry (an empty entry is the child's own directory, as
// with execvp). Empty when the program cannot be named.
std::vector<std::string> ProgramCandidates(const std::string& program,
                                           const std::string& directory) {
    if (program.empty()) return {};
    if (program.find('/') != std::string::npos) {
        if (directory.empty() || program[0] == '/') return {program};
        const std::unique_ptr<char, decltype(&std::free)> here(getcwd(nullptr, 0), &std::free);
        if (here == nullptr) return {};
        return {std::string(here.get()) + "/" + program};
    }
    const char* path = std::getenv("PATH");
    const std::string entries = path != nullptr ? path : "/bin:/usr/bin";
    std::vector<std::string> candidates;
    for (size_t start = 0;;) {
        const size_t colon = entries.find(':', start);
        const std::string entry = entries.substr(start, colon - start);
        candidates.push_back(entry.empty() ? program : entry + "/" + program);
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    return candidates;
}

// Both ends close-on-exec and above the standard descriptors, like the runner's own pipes.
bool MakeErrorPipe(int ends[2]) {
    if (pipe2(ends, O_CLOEXEC) != 0) return false;
    for (int i = 0; i < 2; ++i) {
        if (ends[i] > STDERR_FILENO) continue;
        const int moved = fcntl(ends[i], F_DUPFD_CLOEXEC, ERROR_DESCRIPTOR);
        close(ends[i]);
        ends[i] = moved;
    }
    if (ends[0] >= 0 && ends[1] >= 0) return true;
    if (ends[0] >= 0) close(ends[0]);
    if (ends[1] >= 0) close(ends[1]);
    return false;
}

// In the child: tells the parent why the start failed and ends. Only system calls.
[[noreturn]] void FailInChild(int errorPipe, int error) {
    while (write(errorPipe, &error, sizeof error) < 0 && errno == EINTR) {
    }
    _exit(127);
}

// Everything the child needs, made before forking.
struct ChildPlan {
    std::vector<const char*> candidates;
    char* const* argv = nullptr;
    char* const* envp = nullptr;
    const char* directory = nullptr;  // null: stay where we are
    ChildStreams streams;
    int endSignal = SIGKILL;
    pid_t parent = 0;
    int errorPipe = -1;
};

// The child's side of the start, between fork and exec: async-signal-safe calls only, and
// every failure goes to the parent through the error pipe. Signals are all blocked on entry.
[[noreturn]] void RunChild(const ChildPlan& plan) {
    // No handler of ours may run here or be inherited as "ignored" by the program.
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    sigemptyset(&defaults.sa_mask);
    for (int signal = 1; signal < NSIG; ++signal) sigaction(signal, &defaults, nullptr);

    // The kernel ties the signal to the thread that forked; if that thread (or the whole
    // parent) ended before this line, the signal will never come, and we are now someone
    // else's child: then nothing is started at all.
    if (prctl(PR_SET_PDEATHSIG, plan.endSignal) != 0) FailInChild(plan.errorPipe, errno);
    if (getppid() != plan.parent) _exit(127);

    // Every source descriptor is above 2, so no dup2 here overwrites one still to be copied.
    if (plan.streams.input >= 0 && dup2(plan.streams.input, STDIN_FILENO) < 0)
        FailInChild(plan.errorPipe, errno);
    if (plan.streams.output >= 0 && dup2(plan.streams.output, STDOUT_FILENO) < 0)
        FailInChild(plan.errorPipe, errno);
    if (plan.streams.errors >= 0 && dup2(plan.streams.errors, STDERR_FILENO) < 0)
        FailInChild(plan.errorPipe, errno);
    if (plan.directory != nullptr && chdir(plan.directory) != 0) FailInChild(plan.errorPipe, errno);

    // Descriptors someone opened without close-on-exec stay ours all the same: all but the
    // three standard ones and the error pipe (moved to the first free number) are closed.
    int errorPipe = plan.errorPipe;
    if (errorPipe != ERROR_DESCRIPTOR) {
        if (dup3(errorPipe, ERROR_DESCRIPTOR, O_CLOEXEC) < 0) FailInChild(errorPipe, errno);
        errorPipe = ERROR_DESCRIPTOR;
    }
    closefrom(ERROR_DESCRIPTOR + 1);

    sigset_t noSignals;
    sigemptyset(&noSignals);
    sigprocmask(SIG_SETMASK, &noSignals, nullptr);

    // As execvp does: a candidate that is missing is passed over, a refused one remembered
    // (and reported when no later one runs), any other failure reported at once.
    int error = ENOENT;
    bool refused = false;
    for (const char* candidate : plan.candidates) {
        execve(candidate, plan.argv, plan.envp);
        error = errno;
        if (error == EACCES)
            refused = true;
        else if (error != ENOENT && error != ENOTDIR && error != ESTALE && error != ENODEV &&
                 error != ETIMEDOUT)
            FailInChild(errorPipe, error);
    }
    FailInChild(errorPipe, refused ? EACCES : error);
}

}  // namespace

pid_t SpawnBoundChild(const std::vector<std::string>& arguments, const std::string& directory,
                      const ChildStreams& streams, int endSignal) {
    if (arguments.empty() || arguments[0].empty()) {
        errno = ENOENT;
        return -1;
    }
    const std::vector<std::string> candidates = ProgramCandidates(arguments[0], directory);
    if (candidates.empty()) return -1;  // errno from getcwd

    // execve takes non-const pointers; the strings are copied so that nothing is cast away.
    std::vector<std::string> argumentCopies = arguments;
    std::vector<char*> argv;
    argv.reserve(argumentCopies.size() + 1);
    for (std::string& argument : argumentCopies) argv.push_back(argument.data());
    argv.push_back(nullptr);

    ChildPlan plan;
    for (const std::string& candidate : candidates) plan.candidates.push_back(candidate.c_str());
    plan.argv = argv.data();
    plan.envp = environ;
    plan.directory = directory.empty() ? nullptr : directory.c_str();
    plan.streams = streams;
    plan.endSignal = endSignal;
    plan.parent = getpid();

    int errorPipe[2];
    if (!MakeErrorPipe(errorPipe)) return -1;
    plan.errorPipe = errorPipe[1];

    // Blocked across fork so that none of our handlers can run in the child before it has
    // reset them; the child unblocks everything just before exec.
    sigset_t allSignals;
    sigset_t previous;
    sigfillset(&allSignals);
    pthread_sigmask(SIG_SETMASK, &allSignals, &previous);
    const pid_t pid = fork();
    if (pid == 0) RunChild(plan);
    const int forkError = errno;
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    close(errorPipe[1]);
    if (pid < 0) {
        close(errorPipe[0]);
        errno = forkError;
        return -1;
    }

    // The pipe reaches its end when exec succeeds (close-on-exec); a failure sends errno.
    int childError = 0;
    ssize_t got = 0;
    do {
        got = read(errorPipe[0], &childError, sizeof childError);
    } while (got < 0 && errno == EINTR);
    close(errorPipe[0]);
    if (got == 0) return pid;

    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    errno = got == static_cast<ssize_t>(sizeof childError) ? childError : ECHILD;
    return -1;
}
