#include "convert/convert_job.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "avi/avi_file_record.h"
#include "avi/stream_converter.h"
#include "avifile/byte_source.h"
#include "convert/interrupt_cleanup.h"
#include "convert/path_parts.h"
#include "support/child_record.h"
#include "support/child_runner.h"
#include "support/durable_files.h"
#include "support/file_helpers.h"
#include "support/program_parameters.h"
#include "support/temporary_files.h"
#include "support/text_helpers.h"
#include "support/unicode_text.h"

namespace {

constexpr int SLOT_CONVERTED = 0;
constexpr int SLOT_COMPRESSED = 1;
constexpr int32_t POLL_INTERVAL_MS = 10;

ProgressReport* activeReport = nullptr;

int32_t ReportProgress(int32_t type, int32_t index, int32_t current, int32_t total) {
    if (activeReport != nullptr) activeReport->Stream(type, index, current, total);
    return 0;
}

std::string FolderOf(const std::string& path) {
    const size_t name = NameStartOf(path);
    return name == 0 ? std::string(".") + kPreferredSeparator : path.substr(0, name);
}

std::string NameOf(const std::string& path) {
    return path.substr(NameStartOf(path));
}

// The C library's word for the last failure, after a colon; nothing when the call that failed
// left no errno behind.
std::string Why() {
    return errno != 0 ? std::string(": ") + std::strerror(errno) : std::string();
}

bool ConvertsVideo(const AviFileRecord& source, const ConvertOptions& options) {
    if (options.dropVideo) return false;
    for (int32_t i = 0;
         i < STREAM_SLOT_COUNT && i < static_cast<int32_t>(source.fileInfo.dwStreams); ++i)
        if (source.slots[i].streamInfo.fccType == streamtypeVIDEO) return true;
    return false;
}

uint32_t EngineOptions(const ConvertOptions& options) {
    uint32_t word = 0;
    if (options.dropOther) word |= OPTION_NO_OTHER;
    if (options.average) word |= OPTION_ANTI_ALIAS;
    if (options.dropVideo) word |= OPTION_DROP_VIDEO;
    if (options.dropAudio) word |= OPTION_DROP_AUDIO;
    return word;
}

// Runs the compressor from our own folder on `input`, writing `output` (both in `folder`).
bool Compress(const ConvertOptions& options, const std::string& folder, const std::string& input,
              const std::string& output, ProgressReport& report, std::string* reason) {
    const std::u16string program = DirectoryPart(OwnExecutablePath()) + u"vidcrunch.exe";
    if (PathExists(program) == 0) {
        *reason = "can't compress: " + ToUtf8(program) + " is missing";
        return false;
    }
    // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) about "literal" + string here.
    std::string parameters = "\"";
    parameters += NameOf(input);
    parameters += "\" \"";
    parameters += NameOf(output);
    parameters += "\" /console /codec:" + options.codec;
    if (options.quality >= 0) parameters += " /quality:" + std::to_string(options.quality);
    if (options.threads > 0) parameters += " /threads:" + std::to_string(options.threads);
    auto* child =
        reinterpret_cast<ChildRecord*>(StartChild(program, FromUtf8(parameters), FromUtf8(folder),
                                                  CHILD_HIDE | CHILD_OPEN | CHILD_READ_OUTPUT));
    if (child == nullptr) {
        *reason = "can't start " + ToUtf8(program);
        return false;
    }
    StopOnInterrupt(static_cast<pid_t>(child->processId));
    while (ChildRunning(child) != 0) {
        // Only whole lines: a compressor that writes no line break must not stop the progress.
        std::u16string line;
        if (TakeChildLine(child, &line) != 0) {
            line = TrimSpaces(line);
            if (!line.empty())
                report.Compressing(TruncateToInt(static_cast<double>(TextToInt(line))));
        } else {
            Pause(POLL_INTERVAL_MS);
        }
    }
    StopOnInterrupt(0);
    const int32_t code = ChildExitCode(child);
    ReleaseChild(child);
    if (code != 0) {
        *reason = "the compressor failed (exit code " + std::to_string(code) + ")";
        return false;
    }
    if (IsReadableAvi(FromUtf8(output)) == 0) {
        *reason = "the compressor's copy does not open as an AVI file";
        return false;
    }
    return true;
}

// Gives `from` the name `to`: atomically replacing it with --overwrite, never otherwise. Either
// way the data is on the disk before the name changes, and the name is on the disk after.
bool PutInPlace(const std::string& from, const std::string& to, bool overwrite,
                std::string* reason) {
    errno = 0;
    if (overwrite ? ReplaceFileDurably(FromUtf8(from), FromUtf8(to)) != 0
                  : RenameFileDurably(FromUtf8(from), FromUtf8(to)) != 0)
        return true;
    // The rename never replaces: a name that is taken now was free when the checks ran.
    *reason = !overwrite && PathExists(FromUtf8(to)) != 0
                  ? "the destination appeared while converting; it was left alone"
                  : "can't put the result in place as " + QuotedName(to) + Why();
    return false;
}

class Conversion {
  public:
    Conversion(const ConvertOptions& options, const std::string& source,
               const std::string& destination, ProgressReport& report)
        : options_(options), source_(source), destination_(destination), report_(report) {}
    ~Conversion() {
        CloseAvi(sourceRecord_);
        CloseAvi(destinationRecord_);
        for (int slot : {SLOT_CONVERTED, SLOT_COMPRESSED}) ForgetOnInterrupt(slot);
        ReleaseTemporaryFile(&converted_, true);
        ReleaseTemporaryFile(&compressed_, true);
    }

    bool Run() {
        std::string reason;
        if (!Check(&reason) || !Convert(&reason)) return Fail(reason);
        TemporaryFile* keep = &converted_;
        if (options_.compress) {
            errno = 0;
            if (!MakeTemporary(SLOT_COMPRESSED, &compressed_))
                return Fail("can't write in " + QuotedName(folder_) + Why());
            if (Compress(options_, folder_, converted_.path, compressed_.path, report_, &reason)) {
                keep = &compressed_;
            } else {
                compressFailed_ = reason + "; the uncompressed file was kept";
            }
        }
        if (!PutInPlace(keep->path, destination_, options_.overwrite, &reason)) return Fail(reason);
        // The result bears its final name now: nothing of it is to be removed any more.
        ForgetOnInterrupt(keep == &converted_ ? SLOT_CONVERTED : SLOT_COMPRESSED);
        ReleaseTemporaryFile(keep, false);
        if (!compressFailed_.empty()) return Fail(compressFailed_);
        report_.Done(destination_);
        return true;
    }

  private:
    bool Fail(const std::string& reason) {
        report_.Failed(reason);
        return false;
    }

    // A scratch file beside the destination, known to the interrupt clean-up from the moment
    // it has a name.
    bool MakeTemporary(int slot, TemporaryFile* file) {
        // The lock's type is the platform's (a descriptor, a handle): passed on as it comes.
        return CreateTemporaryFile(folder_, file, [slot](const std::string& path, auto lock) {
            RemoveOnInterrupt(slot, path, lock);
        });
    }

    bool Check(std::string* reason) {
        if (!IsUtf8Text(source_) || !IsUtf8Text(destination_)) {
            *reason = "the file name is not valid UTF-8 text; rename the file to convert it";
            return false;
        }
        const std::u16string source = FromUtf8(source_);
        const std::u16string destination = FromUtf8(destination_);
        if (IsFolder(source) != 0) {
            *reason = "is a folder, not a file";
            return false;
        }
        // A pipe would hold the batch up for as long as no one writes into it, and a device
        // has no end: only files are converted.
        if (IsSpecialFile(source) != 0) {
            *reason = "is not a regular file (a pipe, a device or a socket)";
            return false;
        }
        // Opened once now, so that a file we may not read is told as such rather than as
        // "not a valid AVI file"; the source refuses what is no disk file by itself too.
        errno = 0;
        if (FileByteSource::Open(source_) == nullptr) {
            *reason = errno == ENOENT ? std::string("no such file") : "can't read it" + Why();
            return false;
        }
        if (NameSameFile(source, destination) != 0) {
            *reason = "the destination " + QuotedName(destination_) + " is the source itself";
            return false;
        }
        // What a link leads to decides; a dangling link is a name that is taken.
        if (IsFolder(destination) != 0) {
            *reason = "the destination " + QuotedName(destination_) + " is a folder";
            return false;
        }
        // Replacing a device or a pipe with a file would take it away from everyone who uses
        // it (as root, /dev/null itself). On Windows NUL and CON are such names in any folder.
        if (IsSpecialFile(destination) != 0) {
            *reason = "the destination " + QuotedName(destination_) +
                      " is not a regular file (a device, a pipe or a socket); it was left alone";
            return false;
        }
        if (PathExists(destination) != 0 && !options_.overwrite) {
            *reason = "the destination " + QuotedName(destination_) +
                      " already exists (--overwrite replaces it)";
            return false;
        }
        folder_ = FolderOf(destination_);
        // Found out now rather than after the whole conversion, when the result is to be named.
        if (PathFitsFileSystem(destination) == 0 ||
            PathFitsFileSystem(FromUtf8(folder_ + ".reframe-XXXXXX.avi")) == 0) {
            *reason = "the destination name " + QuotedName(destination_) +
                      " is too long for its file system";
            return false;
        }
        sourceStamp_ = StampOf(source);
        if (OpenSourceAvi(source, sourceRecord_) == 0) {
            *reason = "not a valid AVI file";
            return false;
        }
        int32_t width = static_cast<int32_t>(sourceRecord_.fileInfo.dwWidth);
        int32_t height = static_cast<int32_t>(sourceRecord_.fileInfo.dwHeight);
        if (options_.sizeGiven && !ResolveFrameSize(options_.width, options_.height, width, height,
                                                    &width, &height, reason))
            return false;
        if (ConvertsVideo(sourceRecord_, options_)) {
            if (width <= 0 || height <= 0) {
                *reason = "the source's frame size is " + std::to_string(width) + " x " +
                          std::to_string(height) + "; give one with --size";
                return false;
            }
            if (FrameFitsOneSample(width, height) == 0) {
                *reason = "a frame of " + std::to_string(width) + " x " + std::to_string(height) +
                          " is too large for an AVI file";
                return false;
            }
        }
        width_ = width;
        height_ = height;
        return true;
    }

    bool Convert(std::string* reason) {
        // What killed runs left in this folder goes first, before it piles up.
        RemoveStaleTemporaries(folder_);
        errno = 0;
        if (!MakeTemporary(SLOT_CONVERTED, &converted_)) {
            *reason = "can't create a file in " + QuotedName(folder_) + Why();
            return false;
        }
        if (CreateDestinationAvi(FromUtf8(converted_.path), destinationRecord_) == 0) {
            *reason = "can't create a file in " + QuotedName(folder_);
            return false;
        }
        destinationRecord_.fileInfo.dwWidth = static_cast<DWORD>(width_);
        destinationRecord_.fileInfo.dwHeight = static_cast<DWORD>(height_);
        activeReport = &report_;
        const int undecodable = ConvertStreams(sourceRecord_, destinationRecord_,
                                               EngineOptions(options_), ReportProgress);
        activeReport = nullptr;
        const bool failed = AVIFileHasFailed(destinationRecord_.fileHandle) != 0;
        CloseAvi(destinationRecord_);
        if (failed || AVIFileLastCloseResult() != AVIERR_OK) {
            *reason =
                "couldn't write the destination (disk full or an I/O error); nothing was left "
                "behind";
            return false;
        }
        if (!(StampOf(FromUtf8(source_)) == sourceStamp_)) {
            *reason = "the source changed while it was converted; nothing was left behind";
            return false;
        }
        if (undecodable > 0) {
            *reason = "couldn't decode the video of the source file (no frame of it could be read)";
            return false;
        }
        return true;
    }

    const ConvertOptions& options_;
    const std::string& source_;
    const std::string& destination_;
    ProgressReport& report_;
    AviFileRecord sourceRecord_, destinationRecord_;
    std::string folder_, compressFailed_;
    TemporaryFile converted_, compressed_;
    int32_t width_ = 0, height_ = 0;
    FileStamp sourceStamp_;
};

}  // namespace

bool ConvertFile(const ConvertOptions& options, const std::string& source,
                 const std::string& destination, ProgressReport& report) {
    Conversion conversion(options, source, destination, report);
    return conversion.Run();
}
