// Windows only: which file a handle or a name leads to (volume serial number and file index,
// what an inode number is on Linux), and deleting a file only while its name leads to the file
// that one of our handles holds.
#pragma once

#include <windows.h>

// Opens path for questions about it only (no data access, so that it conflicts with no one's
// share mode), folders included; links are followed unless followLinks is false.
// INVALID_HANDLE_VALUE when it cannot be opened.
HANDLE OpenForQuery(const wchar_t* path, bool followLinks);

// Whether both handles hold one and the same file. false when either cannot be asked.
bool SameFile(HANDLE first, HANDLE second);

// Marks the file that handle holds (opened with DELETE access) to be deleted: its name goes
// at once where the file system allows it, else as the last handle to it closes.
bool MarkForDeletion(HANDLE handle);

// Deletes the file at path only when it is the very file that ours holds: the name may have
// been given to another file since, or ours taken elsewhere under another name.
bool DeleteIfNamesFile(const wchar_t* path, HANDLE ours);
