#include "avifile/byte_sink.h"

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>

bool ByteSink::Flush() {
    if (failed_) return false;
    if (buffer_.empty()) return true;
    if (!StoreAt(flushed_, buffer_.data(), buffer_.size())) {
        failed_ = true;
        return false;
    }
    flushed_ += buffer_.size();
    buffer_.clear();
    return true;
}

bool ByteSink::Append(const void* data, size_t count) {
    if (failed_ || closed_) return false;
    const auto* bytes = static_cast<const uint8_t*>(data);
    if (buffer_.capacity() < kBufferSize) buffer_.reserve(kBufferSize);
    if (count < kDirectBytes && buffer_.size() + count <= kBufferSize) {
        buffer_.insert(buffer_.end(), bytes, bytes + count);
        return true;
    }
    // Out go the buffer and, straight from the caller's memory (a frame is not copied), as
    // much of `data` as makes the store end on a block boundary of the file; the rest, less
    // than a block, starts the next buffer. So the file is written in large aligned blocks.
    const uint64_t start = Position();
    const uint64_t blockEnd = (start + count) / kBlockSize * kBlockSize;
    const size_t direct = blockEnd > start ? static_cast<size_t>(blockEnd - start) : 0;
    if (!StoreTwoAt(flushed_, buffer_.data(), buffer_.size(), bytes, direct)) {
        failed_ = true;
        return false;
    }
    flushed_ += buffer_.size() + direct;
    buffer_.clear();
    buffer_.insert(buffer_.end(), bytes + direct, bytes + count);
    return true;
}

bool ByteSink::StoreTwoAt(uint64_t offset, const uint8_t* first, size_t firstCount,
                          const uint8_t* second, size_t secondCount) {
    return StoreAt(offset, first, firstCount) && StoreAt(offset + firstCount, second, secondCount);
}

bool ByteSink::AppendZeros(size_t count) {
    static const uint8_t zeros[4096] = {};
    while (count > 0) {
        size_t step = std::min(count, sizeof zeros);
        if (!Append(zeros, step)) return false;
        count -= step;
    }
    return true;
}

bool ByteSink::WriteAt(uint64_t offset, const void* data, size_t count) {
    if (failed_ || closed_) return false;
    if (offset > Position()) {
        failed_ = true;
        return false;
    }
    if (offset >= flushed_) {
        // Inside the buffer, possibly running past its end.
        size_t at = static_cast<size_t>(offset - flushed_);
        size_t inside = std::min(count, buffer_.size() - at);
        std::memcpy(buffer_.data() + at, data, inside);
        return inside == count ||
               Append(static_cast<const uint8_t*>(data) + inside, count - inside);
    }
    if (offset + count > flushed_ && !Flush()) return false;
    if (!StoreAt(offset, static_cast<const uint8_t*>(data), count)) {
        failed_ = true;
        return false;
    }
    return true;
}

bool ByteSink::ReadAt(uint64_t offset, void* data, size_t count) {
    if (failed_ || offset > Position() || count > Position() - offset) return false;
    if (!Flush()) return false;
    return LoadAt(offset, static_cast<uint8_t*>(data), count);
}

bool ByteSink::Close() {
    if (closed_) return !failed_;
    bool ok = Flush();
    closed_ = true;
    if (!Finish()) failed_ = true;
    return ok && !failed_;
}

std::unique_ptr<FileByteSink> FileByteSink::Create(const std::string& utf8Path) {
    int fd = ::open(utf8Path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    return std::unique_ptr<FileByteSink>(new FileByteSink(fd));
}

FileByteSink::~FileByteSink() {
    if (fd_ >= 0) ::close(fd_);
}

bool FileByteSink::StoreAt(uint64_t offset, const uint8_t* data, size_t count) {
    while (count > 0) {
        ssize_t put = ::pwrite(fd_, data, count, static_cast<off_t>(offset));
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
        ssize_t put = ::pwritev(fd_, part, left, static_cast<off_t>(offset));
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
        ssize_t got = ::pread(fd_, data, count, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        data += got;
        offset += static_cast<uint64_t>(got);
        count -= static_cast<size_t>(got);
    }
    return true;
}

bool FileByteSink::Finish() {
    int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
}

bool MemoryByteSink::StoreAt(uint64_t offset, const uint8_t* data, size_t count) {
    if (offset > capacity_ || count > capacity_ - offset) return false;
    if (bytes_.size() < offset + count) bytes_.resize(static_cast<size_t>(offset + count));
    std::memcpy(bytes_.data() + offset, data, count);
    return true;
}

bool MemoryByteSink::LoadAt(uint64_t offset, uint8_t* data, size_t count) {
    if (offset > bytes_.size() || count > bytes_.size() - offset) return false;
    std::memcpy(data, bytes_.data() + offset, count);
    return true;
}
