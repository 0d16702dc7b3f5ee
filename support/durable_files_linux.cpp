#include "support/durable_files.h"

#include "support/file_helpers.h"
#include "support/path_parts.h"
#include "support/unicode_text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

namespace {

// Flushes what the descriptor opened, then closes it; false when either fails.
bool SyncAndClose(int fd) {
    if (fd < 0) return false;
    int result = 0;
    while ((result = fsync(fd)) != 0 && errno == EINTR) {
    }
    const int error = errno;
    const bool closed = close(fd) == 0;
    errno = error;
    return result == 0 && closed;
}

std::string FolderOf(const std::u16string& path) {
    const std::u16string folder = FolderPartOf(path);
    return folder.empty() ? std::string(".") : ToUtf8(folder);
}

}  // namespace

int FlushFileToDisk(const std::u16string& path) {
    if (path.empty()) return 0;
    // fsync flushes the file whatever the descriptor may do; reading is all we need to open it.
    return SyncAndClose(open(ToUtf8(path).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK))
               ? 1
               : 0;
}

int FlushFolderOf(const std::u16string& path) {
    if (path.empty()) return 0;
    return SyncAndClose(open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) ? 1 : 0;
}

int ReplaceFileDurably(const std::u16string& from, const std::u16string& to) {
    if (from.empty() || to.empty()) return 0;
    const std::string fromBytes = ToUtf8(from);
    const std::string toBytes = ToUtf8(to);
    struct stat replaced {};
    if (stat(toBytes.c_str(), &replaced) == 0 && S_ISREG(replaced.st_mode)) {
        // The owner first: changing it can clear the set-id bits that the mode then restores.
        // Only root may give a file away; anyone else keeps their own file, as a copy would.
        if (chown(fromBytes.c_str(), replaced.st_uid, replaced.st_gid) != 0 && errno != EPERM)
            return 0;
        if (chmod(fromBytes.c_str(), replaced.st_mode & 07777) != 0) return 0;
    }
    if (FlushFileToDisk(from) == 0) return 0;
    if (rename(fromBytes.c_str(), toBytes.c_str()) != 0) return 0;
    return FlushFolderOf(to);
}

int RenameFileDurably(const std::u16string& from, const std::u16string& to) {
    if (FlushFileToDisk(from) == 0) return 0;
    if (RenameFileTo(from, to) == 0) return 0;
    // Across file systems the copy was flushed by the move; the folders still need it.
    return FlushFolderOf(to) != 0 &&
                   (FolderPartOf(from) == FolderPartOf(to) || FlushFolderOf(from) != 0)
               ? 1
               : 0;
}
