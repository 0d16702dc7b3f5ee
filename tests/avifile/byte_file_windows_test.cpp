// The disk files under the AVI library on Windows: reads beyond 4 GiB, devices and pipes
// refused, names outside the ANSI code page, and files that others hold open (the scratch file's
// lock) or rename while we write. Writes beyond 4 GiB are in byte_file_large_windows_test.cpp.
#include <windows.h>
#include <winioctl.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "avifile/byte_sink.h"
#include "avifile/byte_source.h"
#include "support/unicode_text.h"
#include "test_files.h"

namespace {

constexpr uint64_t kGiB = uint64_t{1} << 30;

// Room left for files in `folder` (a path ending in a separator).
uint64_t FreeBytesIn(const std::string& folder) {
    ULARGE_INTEGER free{};
    if (!::GetDiskFreeSpaceExW(ToWide(folder).c_str(), &free, nullptr, nullptr)) return 0;
    return free.QuadPart;
}

// Writes `bytes` at `offset` through a handle of our own, so the file is made independently
// of the classes under test.
bool PutAt(HANDLE file, uint64_t offset, const std::vector<uint8_t>& bytes) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD put = 0;
    return ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &put, &at) &&
           put == bytes.size();
}

std::vector<uint8_t> Read(ByteSource& source, uint64_t offset, size_t count) {
    std::vector<uint8_t> bytes(count);
    if (!source.ReadAt(offset, bytes.data(), count)) bytes.clear();
    return bytes;
}

TEST(WindowsByteFiles, SourceReadsBeyondFourGiBOfASparseFile) {
    TempDir dir;
    const std::string path = dir.Path("large.bin");
    HANDLE file = ::CreateFileW(ToWide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD ignored = 0;
    const bool sparse =
        ::DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
    const uint64_t size = 5 * kGiB + 12345;
    if (!sparse && FreeBytesIn(dir.Path("")) < size + kGiB) {
        ::CloseHandle(file);
        GTEST_SKIP() << "no sparse files here and too little room for a 5 GiB file";
    }
    // Blocks where a 32-bit offset would go wrong: across 4 GiB, and far beyond it.
    const std::vector<uint8_t> head = Pattern(5000, 1), across = Pattern(300000, 2),
                               beyond = Pattern(200000, 3), tail = Pattern(12345, 4);
    const uint64_t acrossAt = 4 * kGiB - 100000, beyondAt = 4 * kGiB + 3 * (kGiB / 4) + 77;
    ASSERT_TRUE(PutAt(file, 0, head));
    ASSERT_TRUE(PutAt(file, acrossAt, across));
    ASSERT_TRUE(PutAt(file, beyondAt, beyond));
    ASSERT_TRUE(PutAt(file, 5 * kGiB, tail));
    ::CloseHandle(file);

    auto source = FileByteSource::Open(path);
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(source->Size(), size);
    EXPECT_EQ(Read(*source, 0, head.size()), head);
    // Large reads go straight to the caller, small ones through the windows: both ways.
    EXPECT_EQ(Read(*source, acrossAt, across.size()), across);
    EXPECT_EQ(Read(*source, beyondAt, beyond.size()), beyond);
    EXPECT_EQ(Read(*source, acrossAt + 99990, 20),
              std::vector<uint8_t>(across.begin() + 99990, across.begin() + 100010));
    EXPECT_EQ(Read(*source, beyondAt + 1000, 5000),
              std::vector<uint8_t>(beyond.begin() + 1000, beyond.begin() + 6000));
    EXPECT_EQ(Read(*source, size - 45, 45), std::vector<uint8_t>(tail.end() - 45, tail.end()));
    // A hole reads as zeros, and nothing is read past the end.
    EXPECT_EQ(Read(*source, 4 * kGiB + kGiB / 2, 64), std::vector<uint8_t>(64, 0));
    std::vector<uint8_t> spare(100);
    EXPECT_FALSE(source->ReadAt(size - 50, spare.data(), 100));
}

TEST(WindowsByteFiles, DevicesFoldersAndPipesAreRefused) {
    for (const char* device : {"NUL", "CON", "\\\\.\\NUL"}) {
        errno = 0;
        EXPECT_EQ(FileByteSource::Open(device), nullptr) << device;
        EXPECT_NE(errno, 0) << device;
        EXPECT_EQ(FileByteSink::Create(device), nullptr) << device;
    }
    TempDir dir;
    EXPECT_EQ(FileByteSource::Open(dir.Path("")), nullptr);
    EXPECT_EQ(FileByteSink::Create(dir.Path("")), nullptr);

    // A named pipe with a listening end opens like a file; it must not be taken for one.
    const std::wstring pipeName =
        L"\\\\.\\pipe\\reframe-byte-file-" + std::to_wstring(::GetCurrentProcessId());
    for (int side = 0; side < 2; ++side) {
        HANDLE server = ::CreateNamedPipeW(pipeName.c_str(), PIPE_ACCESS_DUPLEX,
                                           PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr);
        ASSERT_NE(server, INVALID_HANDLE_VALUE);
        const std::string name = FromWide(pipeName);
        if (side == 0) {
            EXPECT_EQ(FileByteSource::Open(name), nullptr);
        } else {
            EXPECT_EQ(FileByteSink::Create(name), nullptr);
        }
        ::CloseHandle(server);
    }

    errno = 0;
    EXPECT_EQ(FileByteSource::Open(dir.Path("missing.avi")), nullptr);
    EXPECT_EQ(errno, ENOENT);
}

TEST(WindowsByteFiles, NamesOutsideTheAnsiCodePageKeepEveryCharacter) {
    TempDir dir;
    // Greek, Japanese and an emoji (a surrogate pair), in the folder and in the file name.
    const std::string folder = dir.Path("Φάκελος 映像");
    ASSERT_TRUE(::CreateDirectoryW(ToWide(folder).c_str(), nullptr));
    const std::string path = folder + "\\Ταινία 日本語 🎬.avi";
    const std::vector<uint8_t> bytes = Pattern(70000, 8);
    {
        auto sink = FileByteSink::Create(path);
        ASSERT_NE(sink, nullptr);
        ASSERT_TRUE(sink->Append(bytes.data(), bytes.size()));
        ASSERT_TRUE(sink->Close());
    }
    // The folder holds exactly that name, code unit for code unit.
    WIN32_FIND_DATAW found{};
    HANDLE search = ::FindFirstFileW(ToWide(folder + "\\*.avi").c_str(), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    ::FindClose(search);
    EXPECT_EQ(std::wstring(found.cFileName), ToWide(std::string("Ταινία 日本語 🎬.avi")));
    auto source = FileByteSource::Open(path);
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(Read(*source, 0, bytes.size()), bytes);
}

TEST(WindowsByteFiles, SinkSharesTheFileWithItsLockAndFollowsARename) {
    TempDir dir;
    const std::string path = dir.Path(".reframe-AbC123.avi"), renamed = dir.Path("final.avi");
    // The scratch file's lock: made first, held for the writer's whole life.
    HANDLE lock = ::CreateFileW(ToWide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    auto sink = FileByteSink::Create(path);
    ASSERT_NE(sink, nullptr);
    const std::vector<uint8_t> first = Pattern(200000, 9), second = Pattern(5000, 10);
    ASSERT_TRUE(sink->Append(first.data(), first.size()));
    // Renamed by its path while both handles are open; what follows lands in the same file.
    ASSERT_TRUE(::MoveFileExW(ToWide(path).c_str(), ToWide(renamed).c_str(), 0))
        << ::GetLastError();
    ASSERT_TRUE(sink->Append(second.data(), second.size()));
    ASSERT_TRUE(sink->WriteAt(10, second.data(), 100));
    ASSERT_TRUE(sink->Close());
    ::CloseHandle(lock);

    std::vector<uint8_t> expected = first;
    expected.insert(expected.end(), second.begin(), second.end());
    std::copy(second.begin(), second.begin() + 100, expected.begin() + 10);
    EXPECT_EQ(ReadWholeFile(renamed), expected);
    EXPECT_EQ(::GetFileAttributesW(ToWide(path).c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(WindowsByteFiles, SinkTruncatesALongerFileAndSourceReadsWhileOthersWrite) {
    TempDir dir;
    const std::string path = dir.Path("reused.bin");
    WriteWholeFile(path, Pattern(300000, 11));
    // A reader of the old file does not keep the sink out, nor the sink the reader.
    auto reader = FileByteSource::Open(path);
    ASSERT_NE(reader, nullptr);
    auto sink = FileByteSink::Create(path);
    ASSERT_NE(sink, nullptr);
    const std::vector<uint8_t> bytes = Pattern(1000, 12);
    ASSERT_TRUE(sink->Append(bytes.data(), bytes.size()));
    ASSERT_TRUE(sink->Close());
    EXPECT_EQ(ReadWholeFile(path), bytes);
    auto again = FileByteSource::Open(path);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->Size(), bytes.size());
}

}  // namespace
