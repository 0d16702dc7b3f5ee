// Scratch files that a result is written into before it takes its real name. Each is named
// `.reframe-XXXXXX.avi` and locked for as long as its writer lives, so a later run in the same
// folder can tell what a killed writer left behind from what a live one is still writing, and
// removes only the former.
//
// The lock is an open handle of the file: on Linux a descriptor holding flock(2); on Windows a
// handle whose share mode lets everyone read, write, rename and delete the file but refuses
// the exclusive open with which another run's clean-up asks whether anyone still holds it.
// Whoever else opens a scratch file on Windows (the byte writer among them) must share read,
// write and delete in the same way, or its open fails while the lock is held.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#ifdef _WIN32
using ScratchLock = void*;  // a HANDLE
inline constexpr ScratchLock NO_SCRATCH_LOCK = nullptr;
#else
using ScratchLock = int;  // a descriptor
inline constexpr ScratchLock NO_SCRATCH_LOCK = -1;
#endif

// Paths are the program's UTF-16 texts, as the file helpers take them: on Windows the
// system's own form, with no detour through UTF-8 that could change a name.
struct TemporaryFile {
    std::u16string path;  // empty when none is held
    ScratchLock lock = NO_SCRATCH_LOCK;
};

// Makes a new empty file in `folder` ("" or a path ending in its separator) with the
// permissions any new file gets, and holds its lock. No other run ever finds it unlocked: on
// Linux the name appears only once the file is locked; on Windows the file is created and
// locked by one call. false (errno set, `file` left empty) when it can't be made.
// `beforeNaming`, when given, learns each name and the lock so that a clean-up on an
// interrupt can know of the file from the first moment: on Linux just before the file may
// take that name, on Windows just after the call that made both.
using TemporaryNameHook = std::function<void(const std::u16string& path, ScratchLock lock)>;
bool CreateTemporaryFile(const std::u16string& folder, TemporaryFile* file,
                         const TemporaryNameHook& beforeNaming = {});

// Gives the lock up; removes the file first when `remove` is true (and it still bears its name).
// Safe on an empty record, and idempotent.
void ReleaseTemporaryFile(TemporaryFile* file, bool remove);

// Removes every scratch file in `folder` whose writer is gone. Gives the number removed.
int RemoveStaleTemporaries(const std::u16string& folder);

// Whether a file name (without folder) has the scratch files' form.
bool IsTemporaryName(std::string_view name);
bool IsTemporaryName(std::u16string_view name);
