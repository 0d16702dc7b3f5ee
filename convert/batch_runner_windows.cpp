// The batch on Windows: one process per file, started with CreateProcessW into the job that
// ends them all with us, and collected with WaitForMultipleObjects. The children share our
// console, so Ctrl+C reaches each of them as it reaches us: each removes its own unfinished
// file, and we wait for them before ending, so that nothing is still being written then.
#include "convert/batch_runner.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <mutex>

#include "support/child_spawn_windows.h"
#include "support/crt_arguments.h"
#include "support/program_parameters.h"
#include "support/unicode_text.h"

namespace {

// Guards what the console handler, on a thread of its own, looks at.
std::mutex batchLock;
bool interrupted = false;
std::vector<HANDLE> runningProcesses;

BOOL WINAPI OnBatchInterrupt(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    std::vector<HANDLE> waitFor;
    {
        // From here on the main thread starts no child and closes no handle.
        std::lock_guard<std::mutex> guard(batchLock);
        interrupted = true;
        waitFor = runningProcesses;
    }
    if (!waitFor.empty())
        WaitForMultipleObjects(static_cast<DWORD>(waitFor.size()), waitFor.data(), TRUE, INFINITE);
    ExitProcess(STATUS_CONTROL_C_EXIT);
}

struct Running {
    HANDLE process;
    std::string source;
};

}  // namespace

int RunInProcesses(const ConvertOptions& options, ProgressStyle progress,
                   const std::vector<std::pair<std::string, std::string>>& files, int jobs) {
    const std::u16string self = OwnExecutablePath();
    SetConsoleCtrlHandler(OnBatchInterrupt, TRUE);
    // One wait covers at most MAXIMUM_WAIT_OBJECTS (64) processes.
    jobs = std::clamp(jobs, 1, static_cast<int>(MAXIMUM_WAIT_OBJECTS));

    std::vector<Running> running;
    int failed = 0;
    size_t next = 0;
    while (next < files.size() || !running.empty()) {
        while (next < files.size() && static_cast<int>(running.size()) < jobs) {
            const auto& [source, destination] = files[next];
            std::vector<std::u16string> arguments{self};
            for (const std::string& argument :
                 SingleFileArguments(options, progress, source, destination))
                arguments.push_back(FromUtf8(argument));
            // Our console and standard handles are the child's too, so that it reports as we
            // would; it ends with us if we are killed (its unfinished file then stays, and the
            // next run in that folder removes it once no one holds it).
            ChildStreams streams;
            streams.useStandardHandles = true;
            BoundChild child;
            std::lock_guard<std::mutex> guard(batchLock);
            if (interrupted) break;
            ++next;
            if (!SpawnBoundChild(JoinCrtArguments(arguments), u"", streams, ChildWindow{},
                                 &child)) {
                std::fprintf(stderr, "reframe-convert: %s: can't start a process for it\n",
                             source.c_str());
                ++failed;
                continue;
            }
            running.push_back({static_cast<HANDLE>(child.process), source});
            runningProcesses.push_back(static_cast<HANDLE>(child.process));
        }
        if (running.empty()) break;  // interrupted before anything ran

        std::vector<HANDLE> handles;
        for (const Running& child : running) handles.push_back(child.process);
        const DWORD waited = WaitForMultipleObjects(static_cast<DWORD>(handles.size()),
                                                    handles.data(), FALSE, INFINITE);
        if (waited >= WAIT_OBJECT_0 + handles.size()) break;  // nothing sensible to wait on
        const size_t index = waited - WAIT_OBJECT_0;
        DWORD code = 1;
        const bool ok = GetExitCodeProcess(handles[index], &code) && code == 0;
        if (!ok) ++failed;
        if (ok && progress == ProgressStyle::Bar)
            std::fprintf(stderr, "done: %s\n", running[index].source.c_str());
        running.erase(running.begin() + static_cast<std::ptrdiff_t>(index));
        std::lock_guard<std::mutex> guard(batchLock);
        if (!interrupted) {  // else the handler waits on the handle: it stays open
            std::erase(runningProcesses, handles[index]);
            CloseHandle(handles[index]);
        }
    }
    {
        std::lock_guard<std::mutex> guard(batchLock);
        if (!interrupted) {
            SetConsoleCtrlHandler(OnBatchInterrupt, FALSE);
            return failed;
        }
    }
    // The handler ends the process once every child has ended; it must not end before.
    for (;;) Sleep(INFINITE);
}
