#include "avifile/byte_source.h"

#include <algorithm>
#include <cstring>
#include <mutex>

bool FileByteSource::ReadAt(uint64_t offset, void* buffer, size_t count) {
    if (offset > size_ || count > size_ - offset) return false;
    if (count == 0) return true;
    auto* out = static_cast<uint8_t*>(buffer);
    // Large reads go straight to the caller's buffer: copying them through a window gains nothing.
    if (count >= kWindowSize / 2) {
        fetched_.fetch_add(count, std::memory_order_relaxed);
        return ReadFully(offset, out, count);
    }

    // Streams of one file may be read from two threads (a decoder reading ahead beside the
    // copying of the audio); the windows are shared.
    std::lock_guard<std::mutex> hold(windowsLock_);
    ++useClock_;
    Window* oldest = &windows_[0];
    for (Window& w : windows_) {
        if (w.filled > 0 && offset >= w.start && offset + count <= w.start + w.filled) {
            std::memcpy(out, w.bytes.data() + (offset - w.start), count);
            w.served += count;
            w.lastUse = useClock_;
            return true;
        }
        if (w.lastUse < oldest->lastUse) oldest = &w;
    }
    // The window given up tells how far reads reach: one that served under an eighth of what it
    // read halves the next fill, one that served three quarters or more doubles it.
    Window& w = *oldest;
    if (w.filled > 0) {
        if (w.served < w.filled / 8) {
            fillSize_ = std::max(fillSize_ / 2, kSmallestFill);
        } else if (w.served >= w.filled / 4 * 3) {
            fillSize_ = std::min(fillSize_ * 2, kWindowSize);
        }
    }
    // Refill it from a page boundary at or below the offset, with at least the bytes asked for.
    if (w.bytes.empty()) w.bytes.resize(kWindowSize);
    uint64_t start = offset & ~uint64_t{4095};
    const uint64_t needed = (offset - start + count + 4095) & ~uint64_t{4095};
    const uint64_t fill = std::min<uint64_t>(std::max<uint64_t>(fillSize_, needed), kWindowSize);
    size_t want = static_cast<size_t>(std::min<uint64_t>(fill, size_ - start));
    w.filled = 0;
    w.served = 0;
    fetched_.fetch_add(want, std::memory_order_relaxed);
    if (!ReadFully(start, w.bytes.data(), want)) return false;
    w.start = start;
    w.filled = want;
    w.served = count;
    w.lastUse = useClock_;
    std::memcpy(out, w.bytes.data() + (offset - start), count);
    return true;
}

bool MemoryByteSource::ReadAt(uint64_t offset, void* buffer, size_t count) {
    if (offset > bytes_.size() || count > bytes_.size() - offset) return false;
    if (count > 0) std::memcpy(buffer, bytes_.data() + offset, count);
    return true;
}
