// An anonymous file in memory with a path that open() accepts, so that code which only takes
// file names (the converter's records, the compressor) can be fuzzed without touching a disk.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

class MemoryFile {
  public:
    MemoryFile(const uint8_t* data, size_t size) : fd_(memfd_create("reframe-fuzz", MFD_CLOEXEC)) {
        for (size_t done = 0; fd_ >= 0 && done < size;) {
            const ssize_t put = write(fd_, data + done, size - done);
            if (put <= 0) break;
            done += static_cast<size_t>(put);
        }
    }
    MemoryFile() : MemoryFile(nullptr, 0) {}
    ~MemoryFile() {
        if (fd_ >= 0) close(fd_);
    }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    bool Valid() const { return fd_ >= 0; }
    // Opening this path opens the same file again (creating it truncates it).
    std::string Path() const { return "/proc/self/fd/" + std::to_string(fd_); }

  private:
    int fd_;
};
