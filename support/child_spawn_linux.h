// Starts one child process bound to its starter, on Linux: the platform's part of the child
// runner, also used by the batch converter. A child started here cannot outlive its starter,
// however the starter ends (even by SIGKILL), so no orphan runs on and writes.
#pragma once

#include <sys/types.h>
#include <cstdint>
#include <string>
#include <vector>

// Descriptors to become the child's standard streams, each above 2 (so that setting up one
// cannot overwrite another); -1 leaves the child ours.
struct ChildStreams {
    int input = -1;
    int output = -1;
    int errors = -1;
};

// Starts arguments[0] with arguments as its argument list in directory (empty: ours) and
// gives its pid, or -1 with errno set when it could not be started (a missing or
// non-executable program, a directory it cannot enter). A name without a slash is looked up
// in PATH; a relative path is taken from our current directory, not from the child's. The
// child inherits no other descriptor and no blocked, ignored or handled signal.
//
// endSignal is sent to the child when the thread that called this function ends (on Linux
// the kernel ties it to that thread, not to the process): call it from a thread that lives as
// long as the process, as the tool's main thread does.
pid_t SpawnBoundChild(const std::vector<std::string>& arguments, const std::string& directory,
                      const ChildStreams& streams, int endSignal);
