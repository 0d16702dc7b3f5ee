// Making a finished file survive a crash or a power loss: its data reaches the disk before it
// takes its final name, the name changes in one atomic step, and the folder that records the
// new name is flushed after it (on Windows the rename is written through instead, having no
// folder to flush). Paths are UTF-16, as the other file helpers take them.
#pragma once

#include <string>

// Flushes a file's data and size to the disk. Non-zero on success.
int FlushFileToDisk(const std::u16string& path);

// Flushes the folder holding `path`, so that a name made or changed in it is on the disk.
// Non-zero on success. On Windows there is no such flush and none is needed: every rename
// here is written through.
int FlushFolderOf(const std::u16string& path);

// Puts the file `from` in the place of `to` in one atomic step: at every moment `to` is either
// what it was or the whole new file. What stood at `to` goes; on Linux a regular file's
// permissions (and its owner, where we may set it) carry over to the file that replaces it.
// `from`'s data is flushed before and the folder after. Non-zero on success; on failure `from`
// keeps its name (unless only the last flush failed) and `to` is untouched.
int ReplaceFileDurably(const std::u16string& from, const std::u16string& to);

// Gives `from` the name `to` like RenameFileTo (never replacing an existing `to`), with the data
// flushed before and the folder after. Non-zero on success.
int RenameFileDurably(const std::u16string& from, const std::u16string& to);
