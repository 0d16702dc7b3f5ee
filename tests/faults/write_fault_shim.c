// A preload library that makes writes fail the way a broken or full disk does, for the files
// whose path contains REFRAME_FAULT_MATCH:
//   REFRAME_FAULT_AT=N     the N-th such write (counted from 1) is the one that goes wrong
//   REFRAME_FAULT_KIND=    eio or enospc: it and every later one fail with that error;
//                          short: it writes only half of its bytes (then all is well again)
//   REFRAME_FAULT_COUNT=F  at exit, the number of such writes is appended to the file F
// The variables are read at every write, so a test may change them as it goes.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

static unsigned long matching_writes;

static int Matches(int fd) {
    const char* match = getenv("REFRAME_FAULT_MATCH");
    if (match == NULL || *match == '\0') return 0;
    char link[64], path[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t length = readlink(link, path, sizeof path - 1);
    if (length <= 0) return 0;
    path[length] = '\0';
    return strstr(path, match) != NULL;
}

// What the write of `count` bytes to `fd` may do: -1 fail (errno set), else how many bytes.
static ssize_t Allowed(int fd, size_t count) {
    if (!Matches(fd)) return (ssize_t)count;
    const unsigned long index = ++matching_writes;
    const char* at = getenv("REFRAME_FAULT_AT");
    const char* kind = getenv("REFRAME_FAULT_KIND");
    if (at == NULL || kind == NULL) return (ssize_t)count;
    const unsigned long target = strtoul(at, NULL, 10);
    if (target == 0 || index < target) return (ssize_t)count;
    if (strcmp(kind, "short") == 0)
        return index == target && count > 1 ? (ssize_t)(count / 2) : (ssize_t)count;
    errno = strcmp(kind, "enospc") == 0 ? ENOSPC : EIO;
    return -1;
}

static ssize_t RealWrite(int fd, const void* data, size_t count) {
    static ssize_t (*real)(int, const void*, size_t);
    if (real == NULL) real = (ssize_t(*)(int, const void*, size_t))dlsym(RTLD_NEXT, "write");
    return real(fd, data, count);
}

ssize_t write(int fd, const void* data, size_t count) {
    const ssize_t allowed = Allowed(fd, count);
    return allowed < 0 ? -1 : RealWrite(fd, data, (size_t)allowed);
}

ssize_t pwrite(int fd, const void* data, size_t count, off_t offset) {
    static ssize_t (*real)(int, const void*, size_t, off_t);
    if (real == NULL)
        real = (ssize_t(*)(int, const void*, size_t, off_t))dlsym(RTLD_NEXT, "pwrite");
    const ssize_t allowed = Allowed(fd, count);
    return allowed < 0 ? -1 : real(fd, data, (size_t)allowed, offset);
}

ssize_t pwrite64(int fd, const void* data, size_t count, off64_t offset) {
    static ssize_t (*real)(int, const void*, size_t, off64_t);
    if (real == NULL)
        real = (ssize_t(*)(int, const void*, size_t, off64_t))dlsym(RTLD_NEXT, "pwrite64");
    const ssize_t allowed = Allowed(fd, count);
    return allowed < 0 ? -1 : real(fd, data, (size_t)allowed, offset);
}

ssize_t writev(int fd, const struct iovec* parts, int count) {
    static ssize_t (*real)(int, const struct iovec*, int);
    if (real == NULL) real = (ssize_t(*)(int, const struct iovec*, int))dlsym(RTLD_NEXT, "writev");
    size_t total = 0;
    for (int i = 0; i < count; ++i) total += parts[i].iov_len;
    const ssize_t allowed = Allowed(fd, total);
    if (allowed < 0) return -1;
    if ((size_t)allowed == total || count < 1) return real(fd, parts, count);
    // A short write: as much of the first parts as is allowed.
    return RealWrite(fd, parts[0].iov_base,
                     parts[0].iov_len < (size_t)allowed ? parts[0].iov_len : (size_t)allowed);
}

// A short positioned vector write: as much of the first part as is allowed.
static ssize_t ShortPwrite(int fd, const struct iovec* parts, ssize_t allowed, off_t offset) {
    static ssize_t (*real)(int, const void*, size_t, off_t);
    if (real == NULL)
        real = (ssize_t(*)(int, const void*, size_t, off_t))dlsym(RTLD_NEXT, "pwrite");
    return real(fd, parts[0].iov_base,
                parts[0].iov_len < (size_t)allowed ? parts[0].iov_len : (size_t)allowed, offset);
}

static size_t TotalOf(const struct iovec* parts, int count) {
    size_t total = 0;
    for (int i = 0; i < count; ++i) total += parts[i].iov_len;
    return total;
}

ssize_t pwritev(int fd, const struct iovec* parts, int count, off_t offset) {
    static ssize_t (*real)(int, const struct iovec*, int, off_t);
    if (real == NULL)
        real = (ssize_t(*)(int, const struct iovec*, int, off_t))dlsym(RTLD_NEXT, "pwritev");
    const size_t total = TotalOf(parts, count);
    const ssize_t allowed = Allowed(fd, total);
    if (allowed < 0) return -1;
    if ((size_t)allowed == total || count < 1) return real(fd, parts, count, offset);
    return ShortPwrite(fd, parts, allowed, offset);
}

ssize_t pwritev64(int fd, const struct iovec* parts, int count, off64_t offset) {
    static ssize_t (*real)(int, const struct iovec*, int, off64_t);
    if (real == NULL)
        real = (ssize_t(*)(int, const struct iovec*, int, off64_t))dlsym(RTLD_NEXT, "pwritev64");
    const size_t total = TotalOf(parts, count);
    const ssize_t allowed = Allowed(fd, total);
    if (allowed < 0) return -1;
    if ((size_t)allowed == total || count < 1) return real(fd, parts, count, offset);
    return ShortPwrite(fd, parts, allowed, (off_t)offset);
}

// For a test that has the shim preloaded into its own process: the matching writes so far,
// and a fresh count.
unsigned long ReframeFaultWriteCount(void) {
    return matching_writes;
}
void ReframeFaultResetCount(void) {
    matching_writes = 0;
}

__attribute__((destructor)) static void ReportCount(void) {
    const char* file = getenv("REFRAME_FAULT_COUNT");
    if (file == NULL || *file == '\0') return;
    FILE* out = fopen(file, "a");
    if (out == NULL) return;
    fprintf(out, "%lu\n", matching_writes);
    fclose(out);
}
