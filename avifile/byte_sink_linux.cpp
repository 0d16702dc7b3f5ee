// The disk side of FileByteSink on Linux: pwrite(2), pwritev(2) and pread(2).
#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>

#include "avifile/byte_sink.h"

std::unique_ptr<FileByteSink> FileByteSink::Create(const std::string& utf8Path) {
    int fd = ::open(utf8Path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    return std::unique_ptr<FileByteSink>(new FileByteSink(fd));
}

namespace {

int DescriptorOf(intptr_t file) {
    return static_cast<int>(file);
}

}  // namespace

FileByteSink::~FileByteSink() {
    if (file_ != kClosed) ::close(DescriptorOf(file_));
}

bool FileByteSink::StoreAt(uint64_t offset, const uint8_t* data, size_t count) {
    while (count > 0) {
        ssize_t put = ::pwrite(DescriptorOf(file_), data, count, static_cast<off_t>(offset));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        data += put;
        offset += static_cast<uint64_t>(put);
        count -= static_cast<size_t>(put);
    }
    return true;
}

bool FileByteSink::StoreTwoAt(uint64_t offset, const uint8_t* first, size_t firstCount,
                              const uint8_t* second, size_t secondCount) {
    iovec parts[2] = {{const_cast<uint8_t*>(first), firstCount},
                      {const_cast<uint8_t*>(second), secondCount}};
    iovec* part = parts;
    int left = 2;
    while (left > 0) {
        if (part->iov_len == 0) {
            ++part;
            --left;
            continue;
        }
        ssize_t put = ::pwritev(DescriptorOf(file_), part, left, static_cast<off_t>(offset));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        offset += static_cast<uint64_t>(put);
        // A short write: skip what went out and go on with the rest.
        auto done = static_cast<size_t>(put);
        while (left > 0 && done >= part->iov_len) {
            done -= part->iov_len;
            ++part;
            --left;
        }
        if (left > 0) {
            part->iov_base = static_cast<uint8_t*>(part->iov_base) + done;
            part->iov_len -= done;
        }
    }
    return true;
}

bool FileByteSink::LoadAt(uint64_t offset, uint8_t* data, size_t count) {
    while (count > 0) {
        ssize_t got = ::pread(DescriptorOf(file_), data, count, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        data += got;
        offset += static_cast<uint64_t>(got);
        count -= static_cast<size_t>(got);
    }
    return true;
}

bool FileByteSink::Finish() {
    const int fd = DescriptorOf(file_);
    file_ = kClosed;
    return ::close(fd) == 0;
}
