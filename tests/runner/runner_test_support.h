// Helpers for the runner's tests: starting the pattern writer, draining a child the way the
// shell does, and counting what a start may leave open: descriptors and child processes
// through /proc on Linux, the process's handles on Windows.
#pragma once

#include "support/child_record.h"
#include "support/child_runner.h"
#include "support/file_helpers.h"
#include "support/program_parameters.h"
#include "support/text_helpers.h"
#include "support/unicode_text.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <unistd.h>
#endif
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace runner_test {

inline std::u16string IntToUtf16(int value) {
    return FromUtf8(std::to_string(value));
}

#ifdef _WIN32
// The helper programs lie beside the test program, found as the tool finds its compressor.
inline std::u16string WriterPath() {
    return DirectoryPart(OwnExecutablePath()) + u"pattern_writer.exe";
}

inline std::u16string BoundParentPath() {
    return DirectoryPart(OwnExecutablePath()) + u"bound_parent.exe";
}
#else
inline std::u16string WriterPath() {
    return FromUtf8(PATTERN_WRITER_PATH);
}

inline std::u16string BoundParentPath() {
    return FromUtf8(BOUND_PARENT_PATH);
}
#endif

// Starts the pattern writer with the given actions, its output captured as the shell does.
inline ChildRecord* StartWriter(const std::u16string& actions,
                                const std::u16string& directory = u"",
                                uint32_t flags = CHILD_HIDE | CHILD_OPEN | CHILD_READ_OUTPUT) {
    return reinterpret_cast<ChildRecord*>(StartChild(WriterPath(), actions, directory, flags));
}

// The shell's loop: read a line whenever output waits, until the child has ended and its
// output is drained. Gives every line read.
inline std::vector<std::u16string> DrainLines(ChildRecord* record, int timeoutMs = 20000) {
    std::vector<std::u16string> lines;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (ChildRunning(record) != 0) {
        if (ChildOutputAvailable(record) > 0)
            lines.push_back(ReadChildLine(record));
        else
            Pause(1);
        if (std::chrono::steady_clock::now() > deadline) {
            ADD_FAILURE() << "child did not finish in time";
            break;
        }
    }
    return lines;
}

// Polls until ChildOutputAvailable reaches at least bytes; gives the last count seen.
inline int32_t WaitForOutput(ChildRecord* record, int32_t bytes, int timeoutMs = 10000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int32_t available = 0;
    while ((available = ChildOutputAvailable(record)) < bytes &&
           std::chrono::steady_clock::now() < deadline)
        Pause(1);
    return available;
}

#ifdef _WIN32
// Handles this process holds, as the system counts them.
inline int CountOpenHandles() {
    DWORD count = 0;
    return GetProcessHandleCount(GetCurrentProcess(), &count) ? static_cast<int>(count) : -1;
}
#else
inline int CountOpenDescriptors() {
    int count = 0;
    DIR* directory = opendir("/proc/self/fd");
    if (directory == nullptr) return -1;
    while (dirent* entry = readdir(directory))
        if (entry->d_name[0] != '.') ++count;
    closedir(directory);
    return count - 1;  // the directory's own descriptor
}

// Children of this process: all of them, or only those that have ended but were never reaped.
inline int CountChildren(bool zombiesOnly) {
    int zombies = 0;
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return -1;
    while (dirent* entry = readdir(proc)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
        std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
        std::string line;
        std::getline(stat, line);
        // pid (comm) state ppid ...; comm may hold spaces, so read after the last ')'.
        const size_t close = line.rfind(')');
        if (close == std::string::npos || close + 4 > line.size()) continue;
        const char state = line[close + 2];
        const long parent = std::strtol(line.c_str() + close + 4, nullptr, 10);
        if ((state == 'Z' || !zombiesOnly) && parent == getpid()) ++zombies;
    }
    closedir(proc);
    return zombies;
}

inline int CountZombieChildren() {
    return CountChildren(true);
}

// What a start may leave open on every platform: descriptors here, handles on Windows.
inline int CountOpenHandles() {
    return CountOpenDescriptors();
}
#endif

// A fresh directory in the system's temporary folder, removed with its contents afterwards.
class ScratchDirectory {
  public:
    ScratchDirectory() {
        std::random_device random;
        const std::filesystem::path base = std::filesystem::temp_directory_path();
        for (int i = 0; i < 100 && path_.empty(); ++i) {
            const std::filesystem::path candidate =
                base / ("reframe-runner-" + std::to_string(random()));
            std::error_code error;
            if (std::filesystem::create_directory(candidate, error))
                path_ = ToUtf8(candidate.u16string());
        }
    }
    ~ScratchDirectory() {
        std::error_code error;
        if (!path_.empty())
            std::filesystem::remove_all(std::filesystem::path(FromUtf8(path_)), error);
    }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;
    const std::string& path() const { return path_; }

  private:
    std::string path_;  // UTF-8
};

}  // namespace runner_test
