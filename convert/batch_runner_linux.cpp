// The batch on Linux: one forked process per file, each bound to us (SIGTERM when we end),
// collected with waitpid; an interrupt is passed on to them and waited out.
#include "convert/batch_runner.h"

#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <utility>

#include "support/child_spawn_linux.h"
#include "support/program_parameters.h"
#include "support/unicode_text.h"

namespace {

constexpr int MAX_CHILDREN = 1024;
volatile sig_atomic_t interrupted = 0;
pid_t running[MAX_CHILDREN];

// The children clean up after themselves; the parent passes the signal on and waits for
// them, so that nothing is still being written when it ends.
void OnInterrupt(int signal) {
    interrupted = 1;
    for (pid_t pid : running)
        if (pid > 0) kill(pid, SIGTERM);
    for (pid_t& pid : running)
        if (pid > 0) {
            waitpid(pid, nullptr, 0);
            pid = 0;
        }
    std::signal(signal, SIG_DFL);
    raise(signal);
}

}  // namespace

int RunInProcesses(const ConvertOptions& options, ProgressStyle progress,
                   const std::vector<std::pair<std::string, std::string>>& files, int jobs) {
    const std::string self = ToUtf8(OwnExecutablePath());
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, signal);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
    if (jobs > MAX_CHILDREN) jobs = MAX_CHILDREN;

    std::map<pid_t, std::string> sources;
    int failed = 0;
    size_t next = 0;
    auto slotOf = [](pid_t pid) {
        for (pid_t& slot : running)
            if (slot == pid) return &slot;
        return static_cast<pid_t*>(nullptr);
    };
    while (next < files.size() || !sources.empty()) {
        while (next < files.size() && static_cast<int>(sources.size()) < jobs && interrupted == 0) {
            const auto& [source, destination] = files[next++];
            std::vector<std::string> arguments{self};
            for (std::string& argument :
                 SingleFileArguments(options, progress, source, destination))
                arguments.push_back(std::move(argument));
            // A killed batch must not leave its conversions running on: each one is sent
            // SIGTERM when this (main) thread ends, which ends it as Ctrl+C does, removing its
            // unfinished file and stopping its compressor.
            const pid_t pid = SpawnBoundChild(arguments, "", ChildStreams{}, SIGTERM);
            if (pid < 0) {
                std::fprintf(stderr, "reframe-convert: %s: can't start a process for it\n",
                             source.c_str());
                ++failed;
                continue;
            }
            *slotOf(0) = pid;
            sources[pid] = source;
        }
        int status = 0;
        const pid_t ended = waitpid(-1, &status, 0);
        if (ended < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (pid_t* slot = slotOf(ended)) *slot = 0;
        const auto found = sources.find(ended);
        if (found == sources.end()) continue;
        const bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (!ok) ++failed;
        if (ok && progress == ProgressStyle::Bar)
            std::fprintf(stderr, "done: %s\n", found->second.c_str());
        sources.erase(found);
    }
    return failed;
}
