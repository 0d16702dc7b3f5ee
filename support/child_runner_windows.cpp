// The runner on Windows: children started with CreateProcessW from one command-line text (or,
// without redirections, through the shell), their output in anonymous pipes, their ends seen
// through their process handles.
#include "support/child_runner.h"

#include <windows.h>
// After windows.h, whose types it uses.
#include <shellapi.h>

#include "support/child_record.h"
#include "support/child_spawn_windows.h"
#include "support/unicode_text.h"

namespace {

// Flags that rule out the fallback start: the caller relies on a redirection.
constexpr uint32_t CHILD_NEEDS_STREAMS =
    CHILD_READ_OUTPUT | CHILD_WRITE_INPUT | CHILD_READ_ERRORS | CHILD_CONNECT;

// The ShellExecuteExW process id of a child started through the shell is not asked for.
constexpr uint32_t NO_PROCESS_ID = 0xFFFFFFFF;

// One pipe for a start: both ends inheritable as made, then ours (the end we keep) made
// non-inheritable, so that only the child's end can reach the child.
struct Pipe {
    HANDLE read = nullptr;
    HANDLE write = nullptr;
};

bool MakePipe(Pipe* pipe, bool weRead) {
    SECURITY_ATTRIBUTES inheritable{};
    inheritable.nLength = sizeof inheritable;
    inheritable.bInheritHandle = TRUE;
    if (!CreatePipe(&pipe->read, &pipe->write, &inheritable, 0)) {
        *pipe = Pipe{};
        return false;
    }
    if (!SetHandleInformation(weRead ? pipe->read : pipe->write, HANDLE_FLAG_INHERIT, 0)) {
        CloseHandle(pipe->read);
        CloseHandle(pipe->write);
        *pipe = Pipe{};
        return false;
    }
    return true;
}

void CloseIfOpen(HANDLE& handle) {
    if (handle != nullptr) CloseHandle(handle);
    handle = nullptr;
}

// The pipes set up for one start.
struct ChildPipes {
    Pipe input, output, errors;

    bool Any() const {
        return input.read != nullptr || output.write != nullptr || errors.write != nullptr;
    }
    void CloseChildEnds() {
        CloseIfOpen(input.read);
        CloseIfOpen(output.write);
        CloseIfOpen(errors.write);
    }
    void CloseOurEnds() {
        CloseIfOpen(input.write);
        CloseIfOpen(output.read);
        CloseIfOpen(errors.read);
    }
};

// The second try for a start without redirections: the shell, given the program as it was
// passed and, when no directory is named, the program's own folder (up to its last backslash).
HANDLE StartThroughShell(const std::u16string& program, const std::u16string& parameters,
                         const std::u16string& directory, int showState) {
    std::u16string folder = directory;
    if (folder.empty()) {
        const size_t backslash = program.find_last_of(u'\\');
        if (backslash != std::u16string::npos && backslash > 0)
            folder = program.substr(0, backslash + 1);
    }
    const std::wstring file = ToWide(program);
    const std::wstring arguments = ToWide(parameters);
    const std::wstring workingFolder = ToWide(folder);
    SHELLEXECUTEINFOW shell{};
    shell.cbSize = sizeof shell;
    shell.fMask = SEE_MASK_NOCLOSEPROCESS;
    shell.lpVerb = L"";
    shell.lpFile = file.c_str();
    shell.lpParameters = arguments.empty() ? nullptr : arguments.c_str();
    shell.lpDirectory = workingFolder.empty() ? nullptr : workingFolder.c_str();
    shell.nShow = showState;
    if (!ShellExecuteExW(&shell)) return nullptr;
    // The shell may hand the file to a program that runs already; then there is no process.
    if (shell.hProcess != nullptr) BindToJob(shell.hProcess);
    return shell.hProcess;
}

}  // namespace

bool CollectChildEnd(ChildRecord* record, bool wait) {
    if (record->ended) return true;
    if (record->process == nullptr) {
        record->ended = true;
        record->exitCode = CHILD_EXIT_UNKNOWN;
        return true;
    }
    const DWORD waited = WaitForSingleObject(record->process, wait ? INFINITE : 0);
    // Anything but the end (a time-out, a failed wait) counts as still running.
    if (waited != WAIT_OBJECT_0) return false;
    DWORD code = 0;
    record->ended = true;
    record->exitCode = GetExitCodeProcess(record->process, &code) ? static_cast<int32_t>(code)
                                                                  : CHILD_EXIT_UNKNOWN;
    // The process object is no longer needed once its exit code is kept.
    CloseIfOpen(record->process);
    return true;
}

void InitProcessServices() {
    // The list's lock is a constant-initialised std::mutex; the job object is made now rather than
    // with the first child, so that starting one costs no more than it must.
    PrepareBindingJob();
}

uintptr_t StartChild(const std::u16string& program, const std::u16string& parameters,
                     const std::u16string& directory, uint32_t flags) {
    // A pipe that cannot be made leaves that stream as it is.
    ChildPipes pipes;
    if (flags & CHILD_OPEN) {
        if (flags & CHILD_WRITE_INPUT) MakePipe(&pipes.input, false);
        if (flags & CHILD_READ_OUTPUT) MakePipe(&pipes.output, true);
        if (flags & CHILD_READ_ERRORS) MakePipe(&pipes.errors, true);
    }
    const bool hide = (flags & CHILD_HIDE) != 0;
    ChildStreams streams;
    streams.input = pipes.input.read;
    streams.output = pipes.output.write;
    streams.errors = pipes.errors.write;
    streams.useStandardHandles = pipes.Any();
    ChildWindow window;
    window.showState = hide ? SW_HIDE : SW_SHOWNORMAL;
    window.detached = hide && !pipes.Any();

    BoundChild child;
    const bool started = !program.empty() && SpawnBoundChild(BuildCommandLine(program, parameters),
                                                             directory, streams, window, &child);
    pipes.CloseChildEnds();
    HANDLE process = child.process;
    uint32_t processId = child.processId;
    if (!started) {
        pipes.CloseOurEnds();
        if (flags & CHILD_NEEDS_STREAMS) return 0;
        if (program.empty()) return 0;
        process = StartThroughShell(program, parameters, directory, window.showState);
        if (process == nullptr) return 0;
        processId = NO_PROCESS_ID;
    }

    if (flags & CHILD_WAIT) WaitForSingleObject(process, INFINITE);
    if (!(flags & CHILD_OPEN)) {
        CloseHandle(process);
        return 1;
    }

    ChildRecord* record = LinkNewChildRecord();
    if (record == nullptr) {
        pipes.CloseOurEnds();
        CloseHandle(process);
        return 0;
    }
    record->process = process;
    record->processId = processId;
    record->inputWrite = pipes.input.write;
    record->outputRead = pipes.output.read;
    record->errorRead = pipes.errors.read;
    if (flags & CHILD_WAIT) CollectChildEnd(record, false);
    return reinterpret_cast<uintptr_t>(record);
}

// A child given back while it ran is forgotten with its handle: nothing is owed to the system.
void ReapReleasedChildren() {}

void StopChild(ChildRecord* record) {
    if (record == nullptr || CollectChildEnd(record, false)) return;
    TerminateProcess(record->process, static_cast<UINT>(CHILD_STOPPED));
    CollectChildEnd(record, true);
}

void ReleaseChild(ChildRecord* record) {
    if (record == nullptr) return;
    UnlinkChildRecord(record);
    ClosePipeEnd(record->inputWrite);
    ClosePipeEnd(record->outputRead);
    ClosePipeEnd(record->errorRead);
    // A child that still runs goes on running; it stays in the job all the same.
    CloseIfOpen(record->process);
    delete record;
}
