// File and process-environment operations the shell uses: the current directory, deleting
// and renaming files, and pausing the thread. Paths are UTF-16; they cross to the OS as UTF-8
// on Linux and unchanged on Windows. Failures show only in the result (0 or an empty text).
#pragma once

#include <cstdint>
#include <string>

// The current working directory ending in its separator ('/'; '\\' on Windows), or empty
// when it cannot be read.
std::u16string CurrentDirectory();

// Deletes the file at path: non-zero on success, else 0. An empty path gives 0.
int RemoveFile(const std::u16string& path);

// Gives the file oldPath the name newPath, in the same or another directory or file system.
// Never replaces an existing newPath. Across file systems the file is copied, synced and then
// the original deleted; if any step fails the copy is removed and the original kept.
// Non-zero when the file now bears the new name, else 0. An empty path on either side gives 0.
int RenameFileTo(const std::u16string& oldPath, const std::u16string& newPath);

// Sleeps the calling thread for the given time, resuming after signals. 0 or less: no wait.
void Pause(int32_t milliseconds);

// 1 when both paths name one existing file (the same path written two ways, a link to it, or
// a hard link), else 0. Decides by the file's identity (device and inode; volume serial and
// file index on Windows), not by the texts.
int NameSameFile(const std::u16string& first, const std::u16string& second);

// 1 when a file (or anything else) exists at path, else 0. Links are not followed, so a
// dangling link counts as existing: its name is taken.
int PathExists(const std::u16string& path);

// 1 when path names a folder (following links), else 0.
int IsFolder(const std::u16string& path);

// 1 when a file could bear the name `path`: the whole path within the system's limit and its
// last part within what its folder's file system allows; else 0. Only the length is judged.
int PathFitsFileSystem(const std::u16string& path);

// 1 when a file exists at path (following links) and is not a regular file: a folder, a
// device (NUL, CON, COM1 on Windows), a pipe or a socket, which a result must never replace.
// Else 0.
int IsSpecialFile(const std::u16string& path);

// 1 when a finished result may take the name `path`: nothing stands there, or a regular file
// that we may write (as we could truncate it; on Windows one without the read-only
// attribute), and the name fits its file system. Else 0.
int ResultMayTakeName(const std::u16string& path);

// What tells whether a file's contents were changed or replaced: its identity, size and last
// change. Two stamps of one unchanged file are equal; a missing file gives the zero stamp.
struct FileStamp {
    uint64_t device = 0, inode = 0, size = 0;
    int64_t changedSeconds = 0, changedNanoseconds = 0;
    bool operator==(const FileStamp&) const = default;
};
FileStamp StampOf(const std::u16string& path);
