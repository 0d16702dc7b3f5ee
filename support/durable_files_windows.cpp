// Durable renames on Windows: FlushFileBuffers puts a file's data on the disk, and
// MoveFileExW with MOVEFILE_WRITE_THROUGH returns only once the rename itself is on the disk.
// Windows has no way to flush a folder; the write-through rename is what records the new name.
#include "support/durable_files.h"

#include <windows.h>

#include "support/last_error_windows.h"
#include "support/unicode_text.h"

namespace {

// Moves from to to, flushing from's data first; false (errno set) on failure.
bool FlushThenMove(const std::u16string& from, const std::u16string& to, DWORD moveFlags) {
    if (from.empty() || to.empty()) return false;
    if (FlushFileToDisk(from) == 0) return false;
    if (MoveFileExW(ToWide(from).c_str(), ToWide(to).c_str(), moveFlags | MOVEFILE_WRITE_THROUGH))
        return true;
    SetErrnoFromLastError();
    return false;
}

}  // namespace

int FlushFileToDisk(const std::u16string& path) {
    if (path.empty()) return 0;
    // FlushFileBuffers needs write access. Every share is granted, so that the flush works
    // while the writer, or a scratch file's lock, still holds the file.
    HANDLE file = CreateFileW(ToWide(path).c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        SetErrnoFromLastError();
        return 0;
    }
    const bool flushed = FlushFileBuffers(file) != 0;
    if (!flushed) SetErrnoFromLastError();
    CloseHandle(file);
    return flushed ? 1 : 0;
}

int FlushFolderOf(const std::u16string& path) {
    // Nothing to flush: a name changes on the disk with the write-through move that made it.
    return path.empty() ? 0 : 1;
}

int ReplaceFileDurably(const std::u16string& from, const std::u16string& to) {
    // The file that replaces keeps its own security, as a new file in that folder would have.
    return FlushThenMove(from, to, MOVEFILE_REPLACE_EXISTING) ? 1 : 0;
}

int RenameFileDurably(const std::u16string& from, const std::u16string& to) {
    // Never replaces; across volumes the file is copied, and the copy written through as well.
    return FlushThenMove(from, to, MOVEFILE_COPY_ALLOWED) ? 1 : 0;
}
