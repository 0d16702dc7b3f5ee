#include "avifile/byte_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

std::unique_ptr<FileByteSource> FileByteSource::Open(const std::string& utf8Path) {
    int fd = ::open(utf8Path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<FileByteSource>(
        new FileByteSource(fd, static_cast<uint64_t>(st.st_size)));
}

FileByteSource::~FileByteSource() {
    ::close(fd_);
}

bool FileByteSource::ReadFully(uint64_t offset, uint8_t* buffer, size_t count) {
    while (count > 0) {
        ssize_t got = ::pread(fd_, buffer, count, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        buffer += got;
        offset += static_cast<uint64_t>(got);
        count -= static_cast<size_t>(got);
    }
    return true;
}

bool FileByteSource::ReadAt(uint64_t offset, void* buffer, size_t count) {
    if (offset > size_ || count > size_ - offset) return false;
    if (count == 0) return true;
    auto* out = static_cast<uint8_t*>(buffer);
    // Large reads go straight to the caller's buffer: copying them through a window gains nothing.
    if (count >= kWindowSize / 2) return ReadFully(offset, out, count);

    // Streams of one file may be read from two threads (a decoder reading ahead beside the
    // copying of the audio); the windows are shared.
    std::lock_guard<std::mutex> hold(windowsLock_);
    ++useClock_;
    Window* oldest = &windows_[0];
    for (Window& w : windows_) {
        if (w.filled > 0 && offset >= w.start && offset + count <= w.start + w.filled) {
            std::memcpy(out, w.bytes.data() + (offset - w.start), count);
            w.lastUse = useClock_;
            return true;
        }
        if (w.lastUse < oldest->lastUse) oldest = &w;
    }
    // Refill the least recently used window from a page boundary at or below the offset.
    Window& w = *oldest;
    if (w.bytes.empty()) w.bytes.resize(kWindowSize);
    uint64_t start = offset & ~uint64_t{4095};
    size_t want = static_cast<size_t>(std::min<uint64_t>(kWindowSize, size_ - start));
    w.filled = 0;
    if (!ReadFully(start, w.bytes.data(), want)) return false;
    w.start = start;
    w.filled = want;
    w.lastUse = useClock_;
    std::memcpy(out, w.bytes.data() + (offset - start), count);
    return true;
}

bool MemoryByteSource::ReadAt(uint64_t offset, void* buffer, size_t count) {
    if (offset > bytes_.size() || count > bytes_.size() - offset) return false;
    if (count > 0) std::memcpy(buffer, bytes_.data() + offset, count);
    return true;
}
