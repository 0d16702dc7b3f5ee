// Scratch files that a result is written into before it takes its real name. Each is named
// `.reframe-XXXXXX.avi` and locked for as long as its writer lives, so a later run in the same
// folder can tell what a killed writer left behind from what a live one is still writing, and
// removes only the former.
#pragma once

#include <functional>
#include <string>
#include <string_view>

struct TemporaryFile {
    std::string path;  // empty when none is held
    int lockDescriptor = -1;
};

// Makes a new empty file in `folder` ("" or a path ending in '/') with the permissions any new
// file gets, and holds its lock. The name appears only once the file is locked, so no other
// run ever finds it unlocked. false (errno set, `file` left empty) when it can't be made.
// `beforeNaming`, when given, learns each name and the file's descriptor just before the file
// may take that name, so that a clean-up on a signal can know of it from the first moment.
using TemporaryNameHook = std::function<void(const std::string& path, int descriptor)>;
bool CreateTemporaryFile(const std::string& folder, TemporaryFile* file,
                         const TemporaryNameHook& beforeNaming = {});

// Gives the lock up; removes the file first when `remove` is true (and it still bears its name).
// Safe on an empty record, and idempotent.
void ReleaseTemporaryFile(TemporaryFile* file, bool remove);

// Removes every scratch file in `folder` whose writer is gone. Gives the number removed.
int RemoveStaleTemporaries(const std::string& folder);

// Whether a file name (without folder) has the scratch files' form.
bool IsTemporaryName(std::string_view name);
