// Buffered writing of a file being made, to disk or to memory. Appends collect in a buffer so a
// small chunk costs no system call; patches of earlier bytes (headers completed at the end) go
// to their offsets. The first failure sticks: afterwards nothing more is written. The disk file's
// own calls are the platform's (byte_sink_linux.cpp, byte_sink_windows.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class ByteSink {
  public:
    virtual ~ByteSink() = default;

    // Appends at the current end.
    bool Append(const void* data, size_t count);
    bool AppendZeros(size_t count);
    // Overwrites bytes already appended (or appends, where `offset` is the end).
    bool WriteAt(uint64_t offset, const void* data, size_t count);
    // Reads back bytes already appended.
    bool ReadAt(uint64_t offset, void* data, size_t count);
    // Writes out the buffer and closes the target; true when everything reached it.
    bool Close();

    uint64_t Position() const { return flushed_ + buffer_.size(); }
    bool Failed() const { return failed_; }

  protected:
    virtual bool StoreAt(uint64_t offset, const uint8_t* data, size_t count) = 0;
    // Stores two blocks one after the other, in one system call where the target can.
    virtual bool StoreTwoAt(uint64_t offset, const uint8_t* first, size_t firstCount,
                            const uint8_t* second, size_t secondCount);
    virtual bool LoadAt(uint64_t offset, uint8_t* data, size_t count) = 0;
    virtual bool Finish() = 0;

  private:
    bool Flush();

    static constexpr size_t kBufferSize = 1 << 20;
    // Blocks this large go out from the caller's memory rather than through the buffer.
    static constexpr size_t kDirectBytes = 64 << 10;
    // Stores end on multiples of this, the page size and the disks' sector sizes.
    static constexpr uint64_t kBlockSize = 4096;
    std::vector<uint8_t> buffer_;
    uint64_t flushed_ = 0;  // bytes before the buffer
    bool failed_ = false;
    bool closed_ = false;
};

class FileByteSink final : public ByteSink {
  public:
    // Creates the file or truncates an existing one. On Windows only a disk file is taken (not
    // NUL, CON or a pipe), and others may read, write, rename or delete the file meanwhile.
    static std::unique_ptr<FileByteSink> Create(const std::string& utf8Path);
    ~FileByteSink() override;

  protected:
    bool StoreAt(uint64_t offset, const uint8_t* data, size_t count) override;
    bool StoreTwoAt(uint64_t offset, const uint8_t* first, size_t firstCount, const uint8_t* second,
                    size_t secondCount) override;
    bool LoadAt(uint64_t offset, uint8_t* data, size_t count) override;
    bool Finish() override;

  private:
    static constexpr intptr_t kClosed = -1;
    explicit FileByteSink(intptr_t file) : file_(file) {}
    intptr_t file_;  // a descriptor on Linux, a HANDLE on Windows; kClosed once closed
};

// Keeps the bytes in memory; `capacity` makes every store beyond it fail, to test how a full
// disk is reported.
class MemoryByteSink final : public ByteSink {
  public:
    explicit MemoryByteSink(uint64_t capacity = UINT64_MAX) : capacity_(capacity) {}
    const std::vector<uint8_t>& Bytes() const { return bytes_; }

  protected:
    bool StoreAt(uint64_t offset, const uint8_t* data, size_t count) override;
    bool LoadAt(uint64_t offset, uint8_t* data, size_t count) override;
    bool Finish() override { return true; }

  private:
    uint64_t capacity_;
    std::vector<uint8_t> bytes_;
};
