// Starts one child process bound to its starter, on Windows: the platform's part of the child
// runner, also used by the batch converter. A child started here cannot outlive its starter,
// however the starter ends (even by TerminateProcess), so no orphan runs on and writes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Handles to become the child's standard streams. With useStandardHandles, each one given
// (inheritable, as CreatePipe makes them) goes to the child and each nullptr gives it ours;
// without it the child gets what Windows gives a child by default.
struct ChildStreams {
    void* input = nullptr;
    void* output = nullptr;
    void* errors = nullptr;
    bool useStandardHandles = false;
};

// How the child's window shows: a show state (SW_SHOWNORMAL, SW_HIDE) and whether it is to
// have no console at all (DETACHED_PROCESS).
struct ChildWindow {
    int showState = 1;  // SW_SHOWNORMAL
    bool detached = false;
};

// The process handle (SYNCHRONIZE, query and terminate access) and the id of a started child.
struct BoundChild {
    void* process = nullptr;
    uint32_t processId = 0;
};

// Starts the command line (the program is its first token, as CreateProcessW takes it) in
// directory (empty: ours). The child inherits the handles of `streams` and no other. It is
// created suspended and put into the process-wide job object that ends every process in it
// when our process ends, before it runs a single instruction, so that nothing it starts can
// escape the job either. Gives false with GetLastError set when it could not be started or
// bound; nothing is then left running or open.
bool SpawnBoundChild(const std::u16string& commandLine, const std::u16string& directory,
                     const ChildStreams& streams, const ChildWindow& window, BoundChild* child);

// Makes the process-wide job object (else made with the first child). false when it can't be.
bool PrepareBindingJob();

// Puts a process that someone else started for us (the shell) into the same job. It already
// runs, so what it started in the meantime stays outside. Gives false when it could not.
bool BindToJob(void* process);
