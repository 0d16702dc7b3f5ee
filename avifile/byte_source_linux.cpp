// The disk side of FileByteSource on Linux: open(2) and pread(2).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "avifile/byte_source.h"

std::unique_ptr<FileByteSource> FileByteSource::Open(const std::string& utf8Path) {
    // Without O_NONBLOCK, opening a pipe waits for a writer that may never come; only regular
    // files are taken, and on them the flag changes nothing.
    int fd = ::open(utf8Path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return nullptr;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = ENODEV;
        return nullptr;
    }
    return std::unique_ptr<FileByteSource>(
        new FileByteSource(fd, static_cast<uint64_t>(st.st_size)));
}

FileByteSource::~FileByteSource() {
    ::close(static_cast<int>(file_));
}

bool FileByteSource::ReadFully(uint64_t offset, uint8_t* buffer, size_t count) {
    const int fd = static_cast<int>(file_);
    while (count > 0) {
        ssize_t got = ::pread(fd, buffer, count, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        buffer += got;
        offset += static_cast<uint64_t>(got);
        count -= static_cast<size_t>(got);
    }
    return true;
}
