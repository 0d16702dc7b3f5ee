// A result written under a scratch name beside its destination. It takes the destination's
// name only once it is whole and on the disk, so a crash or a kill never leaves half a file
// under that name, nor costs the file that stood there before. Every program's job and the
// compressor write their results this way.
#pragma once

#include <string>

#include "support/temporary_files.h"

class ScratchResult {
  public:
    ScratchResult() = default;
    ScratchResult(const ScratchResult&) = delete;
    ScratchResult& operator=(const ScratchResult&) = delete;
    ~ScratchResult();  // a file that never took its name is removed

    // Makes a new scratch file in `folder` ("" or a path ending in its separator); with
    // `clearStale`, first removes what killed runs left there, before it piles up. false (errno
    // set) when the file can't be made. `hook` learns its name the moment it has one.
    bool Create(const std::u16string& folder, bool clearStale, const TemporaryNameHook& hook = {});

    const std::u16string& Path() const { return file_.path; }  // empty when none is held

    enum class Placed { Done, NameTaken, Failed };
    // Gives the file the name `destination`: atomically replacing what stands there when
    // `replace` is set, never otherwise (NameTaken when the name was taken meanwhile). The
    // data is on the disk before the name changes and the name after. A placed file is let go.
    Placed PutInPlace(const std::u16string& destination, bool replace);

    // Removes the file now.
    void Discard();

  private:
    TemporaryFile file_;
};
