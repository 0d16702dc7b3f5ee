#include "avifile/byte_sink.h"

#include <algorithm>
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
