// Scratch files on Linux: the lock is flock(2) on the file's own descriptor, and the file is
// made without a name (O_TMPFILE) and linked in once locked.
#include "support/temporary_files.h"

#include "support/temporary_name.h"
#include "support/unicode_text.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <ctime>

namespace {

constexpr int MAX_NAME_TRIES = 100;
// A file made without O_TMPFILE has its name for a moment before it is locked; it is made
// with no permissions at all and given them only once locked. Such a file is left alone for
// this long, so that a run can't take another's file in that moment for a leftover.
constexpr time_t UNLOCKED_GRACE_SECONDS = 10;

std::string FolderForCalls(const std::u16string& folder) {
    return folder.empty() ? std::string("./") : ToUtf8(folder);
}

// A new scratch name in `folder`, as the program keeps it and as the system calls take it.
struct NewName {
    std::u16string text;
    std::string bytes;
};

std::u16string RandomName() {
    unsigned char bytes[TEMPORARY_RANDOM_BYTES];
    if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
        // Without the kernel's randomness, the clock and our pid still make names unlikely to
        // meet; a name that is taken is tried again anyway.
        struct timespec now {};
        clock_gettime(CLOCK_MONOTONIC, &now);
        uint64_t seed =
            static_cast<uint64_t>(now.tv_nsec) ^ (static_cast<uint64_t>(getpid()) << 20);
        for (unsigned char& byte : bytes) {
            seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
            byte = static_cast<unsigned char>(seed >> 56);
        }
    }
    return TemporaryNameFrom(bytes);
}

mode_t NewFileMode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

NewName NameIn(const std::u16string& folder) {
    std::u16string text = folder + RandomName();
    std::string bytes = ToUtf8(text);
    return {std::move(text), std::move(bytes)};
}

// The file is made without a name, locked, and then linked in: it never exists unlocked.
bool CreateUnnamedThenLink(const std::u16string& folder, TemporaryFile* file,
                           const TemporaryNameHook& beforeNaming, bool* unsupported) {
    const int fd = open(FolderForCalls(folder).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (fd < 0) {
        *unsupported = errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL;
        return false;
    }
    if (flock(fd, LOCK_EX) != 0) {
        const int error = errno;
        close(fd);
        errno = error;
        return false;
    }
    // linkat with AT_EMPTY_PATH needs a privilege; the /proc link of the descriptor does not.
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    for (int i = 0; i < MAX_NAME_TRIES; ++i) {
        NewName path = NameIn(folder);
        if (beforeNaming) beforeNaming(path.text, fd);
        if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.bytes.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            file->path = std::move(path.text);
            file->lock = fd;
            return true;
        }
        if (errno != EEXIST) break;
    }
    const int error = errno;
    close(fd);
    errno = error;
    *unsupported = error == ENOENT;  // no /proc
    return false;
}

bool CreateNamedThenLock(const std::u16string& folder, TemporaryFile* file,
                         const TemporaryNameHook& beforeNaming) {
    for (int i = 0; i < MAX_NAME_TRIES; ++i) {
        NewName path = NameIn(folder);
        const int fd = open(path.bytes.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return false;
        }
        if (flock(fd, LOCK_EX) != 0 || fchmod(fd, NewFileMode()) != 0) {
            const int error = errno;
            unlink(path.bytes.c_str());
            close(fd);
            errno = error;
            return false;
        }
        // Here the name came first; until this point the file has no permissions, which makes
        // the other runs leave it alone for a while.
        if (beforeNaming) beforeNaming(path.text, fd);
        file->path = std::move(path.text);
        file->lock = fd;
        return true;
    }
    errno = EEXIST;
    return false;
}

}  // namespace

bool CreateTemporaryFile(const std::u16string& folder, TemporaryFile* file,
                         const TemporaryNameHook& beforeNaming) {
    *file = TemporaryFile{};
    bool unsupported = false;
    if (CreateUnnamedThenLink(folder, file, beforeNaming, &unsupported)) return true;
    if (!unsupported) return false;
    return CreateNamedThenLock(folder, file, beforeNaming);
}

void ReleaseTemporaryFile(TemporaryFile* file, bool remove) {
    if (file->lock >= 0) {
        // Only while the name still leads to our file: it may have been renamed into place,
        // and another file may bear the name since.
        struct stat ours {};
        struct stat named {};
        const std::string path = ToUtf8(file->path);
        if (remove && !path.empty() && fstat(file->lock, &ours) == 0 &&
            lstat(path.c_str(), &named) == 0 && ours.st_dev == named.st_dev &&
            ours.st_ino == named.st_ino)
            unlink(path.c_str());
        close(file->lock);
    }
    *file = TemporaryFile{};
}

int RemoveStaleTemporaries(const std::u16string& folder) {
    DIR* directory = opendir(FolderForCalls(folder).c_str());
    if (directory == nullptr) return 0;
    const int folderFd = dirfd(directory);
    int removed = 0;
    while (const dirent* entry = readdir(directory)) {
        if (!IsTemporaryName(entry->d_name)) continue;
        const int fd = openat(folderFd, entry->d_name,
                              O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd < 0) continue;
        struct stat info {};
        // A writer that still lives holds the lock; a file not yet given its permissions may be
        // one that is about to be locked.
        const bool stale = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
                           flock(fd, LOCK_EX | LOCK_NB) == 0 &&
                           ((info.st_mode & 07777) != 0 ||
                            time(nullptr) - info.st_ctim.tv_sec > UNLOCKED_GRACE_SECONDS);
        struct stat named {};
        // Removed only while the name still leads to the file that was found unlocked.
        if (stale && fstatat(folderFd, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            named.st_dev == info.st_dev && named.st_ino == info.st_ino &&
            unlinkat(folderFd, entry->d_name, 0) == 0)
            ++removed;
        close(fd);
    }
    closedir(directory);
    return removed;
}
