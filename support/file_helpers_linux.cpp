#include "support/file_helpers.h"

#include "support/unicode_text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <ctime>
#include <vector>

std::u16string CurrentDirectory() {
    std::vector<char> buffer(4096);
    while (getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE) return {};
        buffer.resize(buffer.size() * 2);
    }
    std::u16string directory = FromUtf8(buffer.data());
    if (!directory.empty() && directory.back() != u'/') directory.push_back(u'/');
    return directory;
}

int RemoveFile(const std::u16string& path) {
    if (path.empty()) return 0;
    return unlink(ToUtf8(path).c_str()) == 0 ? 1 : 0;
}

namespace {

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

bool CopyContents(int from, int to) {
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const ssize_t got = read(from, buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (got == 0) return true;
        if (!WriteAll(to, buffer.data(), static_cast<size_t>(got))) return false;
    }
}

// Moves a regular file to another file system. The target is created exclusively, so an
// existing file is never overwritten, and it is only kept once the source is gone.
int MoveAcrossFileSystems(const std::string& from, const std::string& to) {
    const int source = open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (source < 0) return 0;
    struct stat info {};
    if (fstat(source, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(source);
        return 0;
    }
    const int target = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (target < 0) {
        close(source);
        return 0;
    }
    // A rename keeps the permissions and the modification time; so does this move.
    const struct timespec times[2] = {info.st_atim, info.st_mtim};
    bool ok = CopyContents(source, target) && fchmod(target, info.st_mode & 07777) == 0 &&
              futimens(target, times) == 0 && fsync(target) == 0;
    ok = close(target) == 0 && ok;
    close(source);
    if (ok && unlink(from.c_str()) == 0) return 1;
    unlink(to.c_str());
    return 0;
}

}  // namespace

int RenameFileTo(const std::u16string& oldPath, const std::u16string& newPath) {
    if (oldPath.empty() || newPath.empty()) return 0;
    const std::string from = ToUtf8(oldPath);
    const std::string to = ToUtf8(newPath);
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 1;
    if (errno == EXDEV) return MoveAcrossFileSystems(from, to);
    if (errno == EINVAL) {
        // The file system cannot rename without replacing; a hard link fails on an existing
        // name just the same.
        if (link(from.c_str(), to.c_str()) != 0) {
            return errno == EXDEV ? MoveAcrossFileSystems(from, to) : 0;
        }
        if (unlink(from.c_str()) == 0) return 1;
        unlink(to.c_str());
    }
    return 0;
}

void Pause(int32_t milliseconds) {
    if (milliseconds <= 0) return;
    struct timespec remaining {};
    remaining.tv_sec = milliseconds / 1000;
    remaining.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

int NameSameFile(const std::u16string& first, const std::u16string& second) {
    if (first.empty() || second.empty()) return 0;
    struct stat a {};
    struct stat b {};
    if (::stat(ToUtf8(first).c_str(), &a) != 0 || ::stat(ToUtf8(second).c_str(), &b) != 0) return 0;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino ? 1 : 0;
}

int PathExists(const std::u16string& path) {
    if (path.empty()) return 0;
    struct stat info {};
    return ::lstat(ToUtf8(path).c_str(), &info) == 0 ? 1 : 0;
}

FileStamp StampOf(const std::u16string& path) {
    struct stat info {};
    if (path.empty() || ::stat(ToUtf8(path).c_str(), &info) != 0) return {};
    FileStamp stamp;
    stamp.device = static_cast<uint64_t>(info.st_dev);
    stamp.inode = static_cast<uint64_t>(info.st_ino);
    stamp.size = static_cast<uint64_t>(info.st_size);
    stamp.changedSeconds = static_cast<int64_t>(info.st_mtim.tv_sec);
    stamp.changedNanoseconds = static_cast<int64_t>(info.st_mtim.tv_nsec);
    return stamp;
}

int IsFolder(const std::u16string& path) {
    if (path.empty()) return 0;
    struct stat info {};
    return ::stat(ToUtf8(path).c_str(), &info) == 0 && S_ISDIR(info.st_mode) ? 1 : 0;
}

int PathFitsFileSystem(const std::u16string& path) {
    const std::string bytes = ToUtf8(path);
    if (bytes.empty() || bytes.size() >= PATH_MAX) return 0;
    const size_t slash = bytes.find_last_of('/');
    const std::string name = slash == std::string::npos ? bytes : bytes.substr(slash + 1);
    const std::string folder = slash == std::string::npos ? std::string(".")
                               : slash == 0               ? std::string("/")
                                                          : bytes.substr(0, slash);
    long limit = pathconf(folder.c_str(), _PC_NAME_MAX);
    if (limit <= 0) limit = NAME_MAX;
    return name.size() <= static_cast<size_t>(limit) ? 1 : 0;
}

int IsSpecialFile(const std::u16string& path) {
    if (path.empty()) return 0;
    struct stat info {};
    return ::stat(ToUtf8(path).c_str(), &info) == 0 && !S_ISREG(info.st_mode) ? 1 : 0;
}

int ResultMayTakeName(const std::u16string& path) {
    if (PathFitsFileSystem(path) == 0 || IsSpecialFile(path) != 0) return 0;
    const std::string bytes = ToUtf8(path);
    struct stat info {};
    if (::stat(bytes.c_str(), &info) != 0) return errno == ENOENT ? 1 : 0;
    // A file the user made read-only stays theirs, as it did when results were written into it.
    return access(bytes.c_str(), W_OK) == 0 ? 1 : 0;
}
