// The line reader's pipe operations on Linux: FIONREAD for the waiting byte count, read(2)
// resumed after signals, and poll(2) to see that every writer has gone.
#include "support/child_record.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <cerrno>

int32_t PipeBytesWaiting(ChildPipeEnd end) {
    if (end < 0) return 0;
    int count = 0;
    if (ioctl(end, FIONREAD, &count) != 0 || count < 0) return 0;
    return count;
}

size_t ReadPipeBytes(ChildPipeEnd end, void* bytes, size_t size) {
    if (end < 0 || size == 0) return 0;
    for (;;) {
        const ssize_t got = read(end, bytes, size);
        if (got >= 0) return static_cast<size_t>(got);
        if (errno != EINTR) return 0;
    }
}

bool PipeWritersGone(ChildPipeEnd end) {
    if (end < 0) return true;
    pollfd query{end, POLLIN, 0};
    while (poll(&query, 1, 0) < 0)
        if (errno != EINTR) return false;
    return (query.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

void ClosePipeEnd(ChildPipeEnd& end) {
    if (end >= 0) close(end);
    end = -1;
}
