#include "job/scratch_result.h"

#include <cerrno>

#include "support/durable_files.h"
#include "support/file_helpers.h"
#include "support/unicode_text.h"

ScratchResult::~ScratchResult() {
    Discard();
}

bool ScratchResult::Create(const std::u16string& folder, bool clearStale,
                           const TemporaryNameHook& hook) {
    Discard();
    if (clearStale) RemoveStaleTemporaries(folder);
    return CreateTemporaryFile(folder, &file_, hook);
}

ScratchResult::Placed ScratchResult::PutInPlace(const std::u16string& destination, bool replace) {
    const std::u16string& from = Path();
    errno = 0;
    if (replace ? ReplaceFileDurably(from, destination) != 0
                : RenameFileDurably(from, destination) != 0) {
        ReleaseTemporaryFile(&file_, false);
        return Placed::Done;
    }
    // The rename never replaces: a name that is taken now was free when the job began. The
    // failure's errno is kept for the caller's message.
    const int why = errno;
    const bool taken = !replace && PathExists(destination) != 0;
    errno = why;
    return taken ? Placed::NameTaken : Placed::Failed;
}

void ScratchResult::Discard() {
    ReleaseTemporaryFile(&file_, true);
}
