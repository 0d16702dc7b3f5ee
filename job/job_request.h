// One conversion job as every program asks for it, and what became of it: the request names
// the files, the size, the engine's options and the compressor's settings; the outcome is a
// problem code and its detail, which each program words for its own users.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "avi/stream_converter.h"
#include "support/temporary_files.h"

// How the job finds the new frame size.
enum class SizeRule {
    AsGiven,     // width and height as they are (the window's typed digits)
    SourceSize,  // the source's stored frame size
    Resolve,     // pixels, or a side that keeps the source's shape (frame_size.h)
};

// When the compressor runs, if at all.
enum class CompressStep {
    None,
    // After the destination has taken its name: the compressor writes a copy beside it (a 2
    // before every dot of the name) from the full paths, in our current folder, and the copy
    // replaces the destination when it is whole. The window's hand-off.
    AfterPlacing,
    // Before: the conversion's scratch file is compressed into a second scratch file, named
    // relative to the destination's folder, which then takes the destination's name.
    BeforePlacing,
};

// What a caller may add to the compressor's command line; left out when empty, negative or 0.
struct CompressorSettings {
    std::u16string codec;  // /codec:
    int32_t quality = -1;  // /quality:
    int32_t threads = 0;   // /threads:
};

// The scratch files of a job, for a caller that must remove them on an interrupt.
constexpr int SCRATCH_CONVERTED = 0;
constexpr int SCRATCH_COMPRESSED = 1;
// Told of a scratch file the moment it has a name (and the lock that tells a live one from a
// dead run's), and with an empty path once the file is gone or bears the destination's name.
using ScratchHook = std::function<void(int slot, const std::u16string& path, ScratchLock lock)>;

struct JobRequest {
    std::u16string source;
    std::u16string destination;
    SizeRule sizeRule = SizeRule::AsGiven;
    int32_t width = 0;
    int32_t height = 0;
    uint32_t options = 0;  // the stream converter's OPTION_ word
    ConverterSettings engine;
    // Whether an existing destination may be replaced. A read-only one is refused too when
    // `keepReadOnly` is set (the window, which would otherwise truncate what it may not write).
    bool overwrite = false;
    bool keepReadOnly = false;
    CompressStep compress = CompressStep::None;
    CompressorSettings compressor;
    std::u16string compressorProgram;  // empty: vidcrunch.exe beside our own program
    ScratchHook scratchHook;
};

// What stopped a job, or what went wrong after its result was in place. The order of the
// checks is the order of this list.
enum class JobProblem {
    None,
    PathMissing,    // the source or the destination is empty text
    SourceMissing,  // nothing of that name
    SourceIsFolder,
    SourceNotRegular,  // a pipe, a device or a socket
    SourceUnreadable,  // detail: the system's reason
    SameFile,          // both names lead to one file
    NotAvi,
    NoFrameSize,  // detail: why (a source without a size, a side that can't be kept)
    FrameTooLarge,
    DestinationIsFolder,
    DestinationNotRegular,
    DestinationExists,    // and overwrite was not asked for
    DestinationReadOnly,  // with keepReadOnly
    NameTooLong,
    CantCreate,           // the scratch file beside the destination; detail: the reason
    CantWrite,            // the disk filled up or failed while writing
    SourceChanged,        // rewritten or cut short while it was read
    Undecodable,          // a video stream of which not one frame decoded
    DestinationAppeared,  // the name was free at the start and is taken at the end
    CantPutInPlace,       // detail: the reason
    // The result is in place, uncompressed, when one of these is the outcome.
    CompressorMissing,     // detail: the program's path
    CompressorNotStarted,  // detail: the program's path
    CompressFailed,        // detail: why
    CompressStopped,       // the caller asked the compressor to stop
};

struct JobOutcome {
    JobProblem problem = JobProblem::None;
    std::string detail;
    int32_t width = 0, height = 0;  // the frame size the job settled on
    // Whether the destination holds the job's result (compressed or not).
    bool placed() const {
        return problem == JobProblem::None || problem >= JobProblem::CompressorMissing;
    }
};
