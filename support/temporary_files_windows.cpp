// Scratch files on Windows. CreateFileW with CREATE_NEW makes the file and opens the handle
// that is its lock in one step, so the file never exists unlocked. The lock's share mode lets
// others read, write, rename and delete the file; what it refuses is an open that shares
// nothing. That open is how another run asks whether anyone still holds a scratch file: it
// succeeds only once every handle to the file is closed, and then the file is deleted through
// the very handle that found it unheld, so no writer can take it up in between.
#include "support/temporary_files.h"

#include <windows.h>
// After windows.h, whose types it uses.
#include <bcrypt.h>

#include "support/file_identity_windows.h"
#include "support/last_error_windows.h"
#include "support/temporary_name.h"
#include "support/unicode_text.h"

namespace {

constexpr int MAX_NAME_TRIES = 100;
constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::u16string RandomName() {
    unsigned char bytes[TEMPORARY_RANDOM_BYTES];
    if (BCryptGenRandom(nullptr, bytes, sizeof bytes, BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0) {
        // Without the system's randomness, the clock and our process id still make names
        // unlikely to meet; a name that is taken is tried again anyway.
        LARGE_INTEGER now{};
        QueryPerformanceCounter(&now);
        uint64_t seed = static_cast<uint64_t>(now.QuadPart) ^
                        (static_cast<uint64_t>(GetCurrentProcessId()) << 20);
        for (unsigned char& byte : bytes) {
            seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
            byte = static_cast<unsigned char>(seed >> 56);
        }
    }
    return TemporaryNameFrom(bytes);
}

}  // namespace

bool CreateTemporaryFile(const std::u16string& folder, TemporaryFile* file,
                         const TemporaryNameHook& beforeNaming) {
    *file = TemporaryFile{};
    for (int i = 0; i < MAX_NAME_TRIES; ++i) {
        std::u16string path = folder + RandomName();
        // Read and write access make the handle count in every share check, so that the
        // exclusive open of a clean-up fails while we hold it. Not inheritable: a child of
        // ours must not keep the lock alive after we are gone.
        HANDLE lock = CreateFileW(ToWide(path).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                  SHARE_ALL, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (lock == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
            SetErrnoFromLastError();
            return false;
        }
        if (beforeNaming) beforeNaming(path, lock);
        file->path = std::move(path);
        file->lock = lock;
        return true;
    }
    SetLastError(ERROR_FILE_EXISTS);
    SetErrnoFromLastError();
    return false;
}

void ReleaseTemporaryFile(TemporaryFile* file, bool remove) {
    if (file->lock != nullptr) {
        // Only while the name still leads to our file: it may have been renamed into place,
        // and another file may bear the name since.
        if (remove && !file->path.empty())
            DeleteIfNamesFile(ToWide(file->path).c_str(), file->lock);
        CloseHandle(file->lock);
    }
    *file = TemporaryFile{};
}

int RemoveStaleTemporaries(const std::u16string& folder) {
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileExW(ToWide(folder + u"*").c_str(), FindExInfoBasic, &found,
                                     FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) return 0;
    int removed = 0;
    do {
        // Folders and links bear no writer's data; they are never ours to remove.
        if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
            continue;
        const std::u16string name = TextFromWide(found.cFileName);
        if (!IsTemporaryName(name)) continue;
        // Shares nothing: fails while anyone, a live writer's lock above all, holds the file.
        HANDLE unheld = CreateFileW(ToWide(folder + name).c_str(), DELETE | FILE_READ_ATTRIBUTES, 0,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (unheld == INVALID_HANDLE_VALUE) continue;
        BY_HANDLE_FILE_INFORMATION info{};
        const bool plainFile = GetFileInformationByHandle(unheld, &info) &&
                               (info.dwFileAttributes &
                                (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
        if (plainFile && MarkForDeletion(unheld)) ++removed;
        CloseHandle(unheld);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return removed;
}
