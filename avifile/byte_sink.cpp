#include "avifile/byte_sink.h"

#include <fcntl.h>
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
    if (buffer_.size() + count > kBufferSize) {
        if (!Flush()) return false;
        if (count >= kBufferSize) {
            // Big blocks go straight out rather than through the buffer.
            if (!StoreAt(flushed_, bytes, count)) {
                failed_ = true;
                return false;
            }
            flushed_ += count;
            return true;
        }
    }
    buffer_.insert(buffer_.end(), bytes, bytes + count);
    return true;
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
