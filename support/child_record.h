// The layout of one started child, shared by the runner's own files (and its tests); the
// rest of the tool sees ChildRecord only as an opaque handle.
#pragma once

#include <sys/types.h>
#include <cstdint>
#include <string>

struct ChildRecord {
    pid_t process = -1;      // The child, until it has been reaped.
    uint32_t processId = 0;  // The child's process id as started.
    int inputWrite = -1;     // Our end of the child's stdin pipe, or -1.
    int outputRead = -1;     // Our end of the child's stdout pipe, or -1 (also once drained).
    int errorRead = -1;      // Our end of the child's stderr pipe, or -1.
    // Characters read from the pipe after the end of the last line returned.
    std::u16string pending;
    int32_t pendingBytes = 0;  // Twice pending's length.

    // A read that ended in the middle of a code unit leaves its first byte here.
    bool hasOddByte = false;
    unsigned char oddByte = 0;
    // The output ended inside a code unit right after a line break (or at its very start):
    // TakeChildLine still owes the empty last line that ReadChildLine gives there.
    bool emptyLastLineOwed = false;

    bool ended = false;  // The child has been reaped; exitCode holds its outcome.
    int32_t exitCode = 0;

    ChildRecord* next = nullptr;  // Process-wide list, newest first.
};

// Reaps record's child without blocking (or blocking, with wait set) when it has ended,
// recording its exit code. Gives true once the child is known to have ended.
bool CollectChildEnd(ChildRecord* record, bool wait);

// Bytes readable from fd without blocking; 0 when fd is -1 or the query fails.
int32_t PipeBytesWaiting(int fd);
