// The layout of one started child, shared by the runner's own files (and its tests), and the
// few pipe operations the platform gives the line reader; the rest of the tool sees
// ChildRecord only as an opaque handle.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#ifdef _WIN32
// Our end of a pipe (a HANDLE); none is nullptr. Kept as void* so that this header does not
// pull <windows.h> into every file that includes it.
using ChildPipeEnd = void*;
inline constexpr ChildPipeEnd NO_PIPE_END = nullptr;
// The child process (a HANDLE with SYNCHRONIZE, QUERY and TERMINATE access), or nullptr.
using ChildProcess = void*;
inline constexpr ChildProcess NO_CHILD_PROCESS = nullptr;
#else
#include <sys/types.h>
using ChildPipeEnd = int;  // a descriptor, close-on-exec
inline constexpr ChildPipeEnd NO_PIPE_END = -1;
using ChildProcess = pid_t;  // until it has been reaped
inline constexpr ChildProcess NO_CHILD_PROCESS = -1;
#endif

struct ChildRecord {
    ChildProcess process = NO_CHILD_PROCESS;  // The child, until its end has been collected.
    uint32_t processId = 0;                   // The child's process id as started.
    ChildPipeEnd inputWrite = NO_PIPE_END;    // Our end of the child's stdin pipe.
    ChildPipeEnd outputRead = NO_PIPE_END;    // Our end of its stdout pipe (none once drained).
    ChildPipeEnd errorRead = NO_PIPE_END;     // Our end of its stderr pipe.
    // Characters read from the pipe after the end of the last line returned.
    std::u16string pending;
    int32_t pendingBytes = 0;  // Twice pending's length.

    // A read that ended in the middle of a code unit leaves its first byte here.
    bool hasOddByte = false;
    unsigned char oddByte = 0;
    // The output ended inside a code unit right after a line break (or at its very start):
    // TakeChildLine still owes the empty last line that ReadChildLine gives there.
    bool emptyLastLineOwed = false;

    bool ended = false;  // The child's end has been collected; exitCode holds its outcome.
    int32_t exitCode = 0;

    ChildRecord* next = nullptr;  // Process-wide list, newest first.
};

// Collects the end of record's child without blocking (or blocking, with wait set) once it
// has ended, recording its exit code. Gives true once the child is known to have ended.
bool CollectChildEnd(ChildRecord* record, bool wait);

// Collects the ends of children whose records were given back while they still ran (Linux,
// where an ended child stays a zombie until it is waited for).
void ReapReleasedChildren();

// The command line of a start: the program in double quotes unless it already starts with
// one, then one space and the parameters when there are any.
std::u16string BuildCommandLine(const std::u16string& program, const std::u16string& parameters);

// Pipe operations, one implementation per platform.

// Bytes readable from the pipe without blocking; 0 for no pipe or when the query fails.
int32_t PipeBytesWaiting(ChildPipeEnd end);

// Reads up to size bytes, blocking until at least one arrives. Gives the count, 0 once every
// writer has closed the pipe and it is empty, or when reading fails.
size_t ReadPipeBytes(ChildPipeEnd end, void* bytes, size_t size);

// Every writer of the pipe has closed it, so that a read of the empty pipe finds the end of
// the output instead of blocking. Meant for an empty pipe; never blocks.
bool PipeWritersGone(ChildPipeEnd end);

// Closes our end of a pipe (nothing for none) and sets it to none.
void ClosePipeEnd(ChildPipeEnd& end);

// A new record linked at the head of the process-wide list of children; null when memory runs
// out.
ChildRecord* LinkNewChildRecord();
// Takes a record out of that list; the caller frees it.
void UnlinkChildRecord(ChildRecord* record);
