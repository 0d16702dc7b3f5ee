// Files for the AVI library tests, without the library's own types (so that a test may include
// <windows.h> beside it): temporary folders, whole files, deterministic byte patterns. Paths
// are UTF-8 on both platforms.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class TempDir {
  public:
    TempDir();
    ~TempDir();
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  private:
    std::string dir_;
};

std::u16string U16(const std::string& path);
std::vector<uint8_t> ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes);

// A deterministic pattern of `size` bytes, different for each `seed`.
std::vector<uint8_t> Pattern(size_t size, uint32_t seed);
