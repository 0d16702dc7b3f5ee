// The file helpers on Windows: every name goes to a W call as UTF-16, as the program holds it,
// so names outside the ANSI code page work.
#include "support/file_helpers.h"

#include <windows.h>

#include <string>

#include "support/file_identity_windows.h"
#include "support/unicode_text.h"

namespace {

std::wstring Wide(const std::u16string& path) {
    return ToWide(path);
}

// The identity and state of what path leads to (links followed); false when it can't be opened.
bool QueryFile(const std::u16string& path, BY_HANDLE_FILE_INFORMATION* info, DWORD* type) {
    if (path.empty()) return false;
    HANDLE handle = OpenForQuery(Wide(path).c_str(), true);
    if (handle == INVALID_HANDLE_VALUE) return false;
    const bool ok = GetFileInformationByHandle(handle, info) != 0;
    if (type != nullptr) *type = GetFileType(handle);
    CloseHandle(handle);
    return ok;
}

// Whether the system takes path for a device: the reserved names (NUL, CON, COM1, whatever
// folder they stand in) and the \\.\ namespace become \\.\NAME as it makes the path full.
// Some of them, CON above all, refuse an open without read or write access.
bool NamesDevice(const std::wstring& path) {
    const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return false;
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
    return length > 0 && length < needed && full.starts_with(L"\\\\.\\");
}

}  // namespace

std::u16string CurrentDirectory() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
        if (length == 0) return {};
        if (length < buffer.size()) {
            buffer.resize(length);
            break;
        }
        buffer.resize(length);  // the size it needs, terminator included
    }
    // A drive's root (C:\) already ends in its backslash.
    if (buffer.back() != L'\\') buffer.push_back(L'\\');
    return TextFromWide(buffer);
}

int RemoveFile(const std::u16string& path) {
    if (path.empty()) return 0;
    return DeleteFileW(Wide(path).c_str()) ? 1 : 0;
}

int RenameFileTo(const std::u16string& oldPath, const std::u16string& newPath) {
    if (oldPath.empty() || newPath.empty()) return 0;
    // MoveFileW never replaces, and moves a file to another volume by copying it.
    return MoveFileW(Wide(oldPath).c_str(), Wide(newPath).c_str()) ? 1 : 0;
}

void Pause(int32_t milliseconds) {
    if (milliseconds <= 0) return;
    Sleep(static_cast<DWORD>(milliseconds));
}

int NameSameFile(const std::u16string& first, const std::u16string& second) {
    if (first.empty() || second.empty()) return 0;
    HANDLE a = OpenForQuery(Wide(first).c_str(), true);
    if (a == INVALID_HANDLE_VALUE) return 0;
    HANDLE b = OpenForQuery(Wide(second).c_str(), true);
    const bool same = b != INVALID_HANDLE_VALUE && SameFile(a, b);
    if (b != INVALID_HANDLE_VALUE) CloseHandle(b);
    CloseHandle(a);
    return same ? 1 : 0;
}

int PathExists(const std::u16string& path) {
    if (path.empty()) return 0;
    // The attributes are those of a link itself, so a dangling link counts as existing.
    if (GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES) return 1;
    switch (GetLastError()) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
        case ERROR_DIRECTORY:
            return 0;
        default:
            // Something stands there that won't be looked at (a file in use by the system):
            // its name is taken all the same.
            return 1;
    }
}

FileStamp StampOf(const std::u16string& path) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!QueryFile(path, &info, nullptr)) return {};
    FileStamp stamp;
    stamp.device = info.dwVolumeSerialNumber;
    stamp.inode = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    stamp.size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    // FILETIME counts 100 ns steps since 1601; the stamp counts from 1970 like the other side.
    const uint64_t ticks = (static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                           info.ftLastWriteTime.dwLowDateTime;
    constexpr int64_t TICKS_1601_TO_1970 = 116444736000000000LL;
    const int64_t since1970 = static_cast<int64_t>(ticks) - TICKS_1601_TO_1970;
    int64_t seconds = since1970 / 10000000;
    int64_t rest = since1970 % 10000000;
    if (rest < 0) {
        rest += 10000000;
        --seconds;
    }
    stamp.changedSeconds = seconds;
    stamp.changedNanoseconds = rest * 100;
    return stamp;
}

int IsFolder(const std::u16string& path) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!QueryFile(path, &info, nullptr)) return 0;
    return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? 1 : 0;
}

int PathFitsFileSystem(const std::u16string& path) {
    if (path.empty()) return 0;
    const std::wstring wide = Wide(path);
    // The length that counts is that of the full path the system will use. Without the
    // extended-length prefix it must stay below MAX_PATH; with it, below 32767.
    const DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return 0;
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) return 0;
    full.resize(length);
    const bool extended = full.starts_with(L"\\\\?\\");
    if (full.size() >= (extended ? 32767u : static_cast<size_t>(MAX_PATH))) return 0;

    const size_t separator = full.find_last_of(L"\\/");
    const std::wstring name = separator == std::wstring::npos ? full : full.substr(separator + 1);
    std::wstring volume(full.size() + 1, L'\0');
    DWORD nameLimit = 255;
    if (GetVolumePathNameW(full.c_str(), volume.data(), static_cast<DWORD>(volume.size()))) {
        DWORD limit = 0;
        if (GetVolumeInformationW(volume.c_str(), nullptr, 0, nullptr, &limit, nullptr, nullptr,
                                  0) &&
            limit > 0)
            nameLimit = limit;
    }
    return name.size() <= nameLimit ? 1 : 0;
}

int IsSpecialFile(const std::u16string& path) {
    // Devices and pipes open as what they are and are no disk files; a folder is one by its
    // attributes.
    BY_HANDLE_FILE_INFORMATION info{};
    DWORD type = FILE_TYPE_UNKNOWN;
    if (path.empty()) return 0;
    if (NamesDevice(Wide(path))) return 1;
    HANDLE handle = OpenForQuery(Wide(path).c_str(), true);
    if (handle == INVALID_HANDLE_VALUE) return 0;
    type = GetFileType(handle);
    const bool known = GetFileInformationByHandle(handle, &info) != 0;
    CloseHandle(handle);
    if (type != FILE_TYPE_DISK) return 1;
    return known && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? 1 : 0;
}

int ResultMayTakeName(const std::u16string& path) {
    if (PathFitsFileSystem(path) == 0 || IsSpecialFile(path) != 0) return 0;
    const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        // Nothing stands there (the folder may be missing too: then the writing fails later,
        // with its own message). Any other failure leaves the name's owner unknown.
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 1 : 0;
    }
    // A file the user made read-only stays theirs, as it did when results were written into it.
    return (attributes & FILE_ATTRIBUTE_READONLY) == 0 ? 1 : 0;
}
