#include "support/file_identity_windows.h"

namespace {

constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// FileDispositionInfoEx and its flags (Windows 10 1607 and later) lie beyond what the headers
// offer for the _WIN32_WINNT we build for; the values are fixed by the system's interface.
constexpr auto DISPOSITION_INFO_EX = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr DWORD DISPOSITION_DELETE = 0x1;
constexpr DWORD DISPOSITION_POSIX_SEMANTICS = 0x2;

}  // namespace

HANDLE OpenForQuery(const wchar_t* path, bool followLinks) {
    DWORD flags = FILE_FLAG_BACKUP_SEMANTICS;  // needed to open a folder
    if (!followLinks) flags |= FILE_FLAG_OPEN_REPARSE_POINT;
    return CreateFileW(path, FILE_READ_ATTRIBUTES, SHARE_ALL, nullptr, OPEN_EXISTING, flags,
                       nullptr);
}

bool SameFile(HANDLE first, HANDLE second) {
    BY_HANDLE_FILE_INFORMATION a{};
    BY_HANDLE_FILE_INFORMATION b{};
    if (!GetFileInformationByHandle(first, &a) || !GetFileInformationByHandle(second, &b))
        return false;
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

bool MarkForDeletion(HANDLE handle) {
    // POSIX semantics take the name away now, even while others hold the file open (Windows 10
    // 1709 and later, on NTFS); elsewhere the plain disposition deletes it with its last handle.
    DWORD now = DISPOSITION_DELETE | DISPOSITION_POSIX_SEMANTICS;
    if (SetFileInformationByHandle(handle, DISPOSITION_INFO_EX, &now, sizeof now)) return true;
    FILE_DISPOSITION_INFO later{};
    later.DeleteFile = TRUE;
    return SetFileInformationByHandle(handle, FileDispositionInfo, &later, sizeof later) != 0;
}

bool DeleteIfNamesFile(const wchar_t* path, HANDLE ours) {
    if (path == nullptr || path[0] == L'\0' || ours == nullptr || ours == INVALID_HANDLE_VALUE)
        return false;
    // The deletion goes through the handle that was compared, so it can reach no other file.
    HANDLE named = CreateFileW(path, DELETE | FILE_READ_ATTRIBUTES, SHARE_ALL, nullptr,
                               OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (named == INVALID_HANDLE_VALUE) return false;
    const bool deleted = SameFile(named, ours) && MarkForDeletion(named);
    CloseHandle(named);
    return deleted;
}
