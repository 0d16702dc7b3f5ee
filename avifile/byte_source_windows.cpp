// The disk side of FileByteSource on Windows: CreateFileW and ReadFile at an offset.
#include <windows.h>

#include <algorithm>
#include <cerrno>

#include "avifile/byte_source.h"
#include "support/unicode_text.h"

namespace {

// ReadFile counts in a DWORD; larger reads go in parts.
constexpr size_t kLargestRead = size_t{1} << 30;

HANDLE HandleOf(intptr_t file) {
    return reinterpret_cast<HANDLE>(file);
}

// The C library's name for why CreateFileW failed, as open(2) gives it on Linux.
int ErrnoFor(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_NETPATH:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:  // another program holds it without FILE_SHARE_READ
        case ERROR_LOCK_VIOLATION:
            return EACCES;
        default:
            return EIO;
    }
}

}  // namespace

std::unique_ptr<FileByteSource> FileByteSource::Open(const std::string& utf8Path) {
    // Others may go on writing, renaming or deleting the file while we read it, as on Linux:
    // a source being copied in, or one the user moves away, must not fail their work.
    HANDLE file =
        ::CreateFileW(ToWide(utf8Path).c_str(), GENERIC_READ,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        errno = ErrnoFor(::GetLastError());
        return nullptr;
    }
    // NUL, CON, COM1 and pipes open like files, but have no size and no end we could trust;
    // a folder does not open at all without FILE_FLAG_BACKUP_SEMANTICS.
    LARGE_INTEGER size{};
    if (::GetFileType(file) != FILE_TYPE_DISK || !::GetFileSizeEx(file, &size) ||
        size.QuadPart < 0) {
        ::CloseHandle(file);
        errno = ENODEV;
        return nullptr;
    }
    return std::unique_ptr<FileByteSource>(
        new FileByteSource(reinterpret_cast<intptr_t>(file), static_cast<uint64_t>(size.QuadPart)));
}

FileByteSource::~FileByteSource() {
    ::CloseHandle(HandleOf(file_));
}

bool FileByteSource::ReadFully(uint64_t offset, uint8_t* buffer, size_t count) {
    while (count > 0) {
        // An offset in the OVERLAPPED record makes the read positioned on a handle opened
        // without FILE_FLAG_OVERLAPPED too: it waits until done, and threads that read at once
        // never move each other's position.
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        const auto want = static_cast<DWORD>(std::min(count, kLargestRead));
        DWORD got = 0;
        // Past the end ReadFile fails with ERROR_HANDLE_EOF or reads nothing: both are short.
        if (!::ReadFile(HandleOf(file_), buffer, want, &got, &at) || got == 0) return false;
        buffer += got;
        offset += got;
        count -= got;
    }
    return true;
}
