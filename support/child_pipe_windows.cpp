// The line reader's pipe operations on Windows: PeekNamedPipe for the waiting byte count and
// for the end of the output (a peek of an empty pipe whose writers have all closed it fails,
// with ERROR_BROKEN_PIPE), and a blocking ReadFile.
#include "support/child_record.h"

#include <windows.h>

#include <algorithm>
#include <climits>

int32_t PipeBytesWaiting(ChildPipeEnd end) {
    if (end == nullptr) return 0;
    DWORD count = 0;
    if (!PeekNamedPipe(end, nullptr, 0, nullptr, &count, nullptr)) return 0;
    return static_cast<int32_t>(std::min<DWORD>(count, INT32_MAX));
}

size_t ReadPipeBytes(ChildPipeEnd end, void* bytes, size_t size) {
    if (end == nullptr || size == 0) return 0;
    DWORD got = 0;
    const DWORD asked = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
    if (!ReadFile(end, bytes, asked, &got, nullptr)) return 0;
    return got;
}

bool PipeWritersGone(ChildPipeEnd end) {
    if (end == nullptr) return true;
    DWORD count = 0;
    // ERROR_BROKEN_PIPE is the usual failure; any other makes a read fail at once as well.
    return !PeekNamedPipe(end, nullptr, 0, nullptr, &count, nullptr);
}

void ClosePipeEnd(ChildPipeEnd& end) {
    if (end != nullptr) CloseHandle(end);
    end = nullptr;
}
