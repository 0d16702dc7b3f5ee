// The disk side of FileByteSink on Windows: CreateFileW and WriteFile / ReadFile at an offset.
#include <windows.h>

#include <algorithm>

#include "avifile/byte_sink.h"
#include "support/unicode_text.h"

namespace {

// WriteFile and ReadFile count in a DWORD; larger blocks go in parts.
constexpr size_t kLargestTransfer = size_t{1} << 30;

HANDLE HandleOf(intptr_t file) {
    return reinterpret_cast<HANDLE>(file);
}

OVERLAPPED At(uint64_t offset) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return at;
}

}  // namespace

std::unique_ptr<FileByteSink> FileByteSink::Create(const std::string& utf8Path) {
    // The scratch files we write into are held open by their lock handle, and are renamed by
    // path while we still write: every share mode, or the open (or the rename) fails.
    // OPEN_ALWAYS and a truncation, rather than CREATE_ALWAYS, keep an existing file's
    // attributes and identity, as O_TRUNC does.
    HANDLE file = ::CreateFileW(ToWide(utf8Path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    // NUL takes every byte and keeps none, CON and pipes can't be read back or patched: an AVI
    // file is written only to a disk file, where the headers completed at the end can go back.
    FILE_END_OF_FILE_INFO empty{};
    if (::GetFileType(file) != FILE_TYPE_DISK ||
        !::SetFileInformationByHandle(file, FileEndOfFileInfo, &empty, sizeof empty)) {
        ::CloseHandle(file);
        return nullptr;
    }
    return std::unique_ptr<FileByteSink>(new FileByteSink(reinterpret_cast<intptr_t>(file)));
}

FileByteSink::~FileByteSink() {
    if (file_ != kClosed) ::CloseHandle(HandleOf(file_));
}

bool FileByteSink::StoreAt(uint64_t offset, const uint8_t* data, size_t count) {
    while (count > 0) {
        // An offset in the OVERLAPPED record makes the write positioned on a handle opened
        // without FILE_FLAG_OVERLAPPED too; it returns when done. A full disk fails the call.
        OVERLAPPED at = At(offset);
        DWORD put = 0;
        if (!::WriteFile(HandleOf(file_), data,
                         static_cast<DWORD>(std::min(count, kLargestTransfer)), &put, &at) ||
            put == 0)
            return false;
        data += put;
        offset += put;
        count -= put;
    }
    return true;
}

// Windows gathers writes from several buffers (WriteFileGather) only on unbuffered handles with
// page-aligned memory, which a frame handed in by a caller is not: two writes, then.
bool FileByteSink::StoreTwoAt(uint64_t offset, const uint8_t* first, size_t firstCount,
                              const uint8_t* second, size_t secondCount) {
    return StoreAt(offset, first, firstCount) && StoreAt(offset + firstCount, second, secondCount);
}

bool FileByteSink::LoadAt(uint64_t offset, uint8_t* data, size_t count) {
    while (count > 0) {
        OVERLAPPED at = At(offset);
        DWORD got = 0;
        if (!::ReadFile(HandleOf(file_), data,
                        static_cast<DWORD>(std::min(count, kLargestTransfer)), &got, &at) ||
            got == 0)
            return false;
        data += got;
        offset += got;
        count -= got;
    }
    return true;
}

bool FileByteSink::Finish() {
    const HANDLE file = HandleOf(file_);
    file_ = kClosed;
    return ::CloseHandle(file) != 0;
}
