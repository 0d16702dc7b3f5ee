// Random-access reading of the bytes of a file being parsed, from disk or from memory, so the
// parser can be tested and fuzzed without touching the disk. Opening and reading the disk file
// are the platform's own (byte_source_linux.cpp, byte_source_windows.cpp); the read-ahead
// windows above them are shared.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class ByteSource {
  public:
    virtual ~ByteSource() = default;
    virtual uint64_t Size() const = 0;
    // Reads exactly `count` bytes at `offset`; false when they are not all there or I/O fails.
    virtual bool ReadAt(uint64_t offset, void* buffer, size_t count) = 0;
};

// Reads a file through a few read-ahead windows, so that walking the samples of one or two
// streams costs one system call per window rather than one per chunk. A window that served
// only a small part of what it read makes the next ones smaller: small chunks far apart (the
// audio between large uncompressed frames) would otherwise cost a whole window each. Safe to
// read from several threads at once.
class FileByteSource final : public ByteSource {
  public:
    // Opens a regular disk file; null for anything else (a folder, a device, a pipe), so that a
    // read can never wait for a writer or run on without end. On null, errno says why: ENOENT
    // when nothing bears the name, EACCES when it may not be read, ENODEV when it is no file.
    static std::unique_ptr<FileByteSource> Open(const std::string& utf8Path);
    ~FileByteSource() override;
    uint64_t Size() const override { return size_; }
    bool ReadAt(uint64_t offset, void* buffer, size_t count) override;
    // Read from the file so far, windows and direct reads.
    uint64_t BytesFetched() const { return fetched_.load(std::memory_order_relaxed); }

  private:
    struct Window {
        uint64_t start = 0;
        size_t filled = 0;
        size_t served = 0;  // bytes handed out from this filling
        uint64_t lastUse = 0;
        std::vector<uint8_t> bytes;
    };
    FileByteSource(intptr_t file, uint64_t size) : file_(file), size_(size) {}
    // Reads exactly `count` bytes at `offset` from the file itself; safe from several threads.
    bool ReadFully(uint64_t offset, uint8_t* buffer, size_t count);

    static constexpr size_t kWindowSize = 256 * 1024;
    static constexpr size_t kSmallestFill = 16 * 1024;
    static constexpr size_t kWindowCount = 4;
    intptr_t file_;  // a descriptor on Linux, a HANDLE on Windows
    uint64_t size_;
    std::mutex windowsLock_;
    size_t fillSize_ = kWindowSize;  // what the next window fill reads
    std::atomic<uint64_t> fetched_{0};
    uint64_t useClock_ = 0;
    Window windows_[kWindowCount];
};

class MemoryByteSource final : public ByteSource {
  public:
    explicit MemoryByteSource(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
    uint64_t Size() const override { return bytes_.size(); }
    bool ReadAt(uint64_t offset, void* buffer, size_t count) override;

  private:
    std::vector<uint8_t> bytes_;
};
