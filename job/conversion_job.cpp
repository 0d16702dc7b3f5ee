#include "job/conversion_job.h"

#include <cerrno>
#include <cstring>

#include "avi/avi_file_record.h"
#include "avi/picture_shape.h"
#include "avi/stream_converter.h"
#include "avifile/byte_source.h"
#include "job/compressor_run.h"
#include "job/frame_size.h"
#include "job/scratch_result.h"
#include "support/durable_files.h"
#include "support/file_helpers.h"
#include "support/path_parts.h"
#include "support/text_helpers.h"
#include "support/unicode_text.h"

namespace {

constexpr int MAX_NAME_TRIES = 1000;

// The stream converter reports through a plain function; it reaches the job's progress through
// the thread's own pointer, so that jobs on two threads each hear only of their own streams.
thread_local JobProgress* streamProgress = nullptr;

int32_t ReportStream(int32_t type, int32_t index, int32_t current, int32_t total) {
    if (streamProgress != nullptr) streamProgress->Stream(type, index, current, total);
    return 0;
}

// The C library's word for the last failure, after a colon; nothing when the call that failed
// left no errno behind.
std::string Why() {
    return errno != 0 ? std::string(": ") + std::strerror(errno) : std::string();
}

// Whether the job would decode any video stream of the open source into frames.
bool ConvertsVideo(const AviFileRecord& source, uint32_t options) {
    if ((options & (OPTION_NO_VIDEO | OPTION_DROP_VIDEO)) != 0) return false;
    for (int32_t i = 0;
         i < STREAM_SLOT_COUNT && i < static_cast<int32_t>(source.fileInfo.dwStreams); ++i)
        if (source.slots[i].streamInfo.fccType == streamtypeVIDEO) return true;
    return false;
}

// The pixel shape of the first video stream, which an aspect-keeping side follows.
PixelAspect FirstVideoPixelAspect(const AviFileRecord& source) {
    for (int32_t i = 0;
         i < STREAM_SLOT_COUNT && i < static_cast<int32_t>(source.fileInfo.dwStreams); ++i)
        if (source.slots[i].streamInfo.fccType == streamtypeVIDEO)
            return SourcePixelAspect(source.slots[i].streamHandle);
    return {};
}

// The copy's name by the plain rule, or with a number before its extension for the n-th
// alternative.
std::u16string CopyCandidate(const std::u16string& destination, int n) {
    const std::u16string folder = DirectoryPart(destination);
    const std::u16string file = FilePart(destination);
    std::u16string name = ReplaceAll(file, u".", u"2.");
    // Without a dot the plain rule would give the destination itself, and the compressor
    // would overwrite its own input.
    if (TextEquals(name, file)) name += u"2";
    if (n > 0) {
        const size_t dot = name.rfind(u'.');
        // Built by appends: GCC 12 warns falsely (-Wrestrict) on u"-" + text at -O3.
        std::u16string number(u"-");
        number += IntToText(n);
        name.insert(dot == std::u16string::npos ? name.size() : dot, number);
    }
    return folder + name;
}

// What a compressor's run that wrote `copy` came to: no problem when it started, was not
// stopped, ended with exit code 0 and left a copy that opens as an AVI file.
JobProblem JudgeCompressorRun(const CompressorRun& run, const std::u16string& program,
                              const std::u16string& copy, std::string* detail) {
    if (!run.started) {
        *detail = ToUtf8(program);
        return JobProblem::CompressorNotStarted;
    }
    if (run.stopped) return JobProblem::CompressStopped;
    if (run.exitCode != 0) {
        *detail = "the compressor failed (exit code " + std::to_string(run.exitCode) + ")";
        return JobProblem::CompressFailed;
    }
    if (IsReadableAvi(copy) == 0) {
        *detail = "the compressor's copy does not open as an AVI file";
        return JobProblem::CompressFailed;
    }
    return JobProblem::None;
}

class Job {
  public:
    Job(const JobRequest& request, JobProgress& progress)
        : request_(request), progress_(progress) {}
    ~Job() {
        CloseAvi(source_);
        CloseAvi(destination_);
        Forget(SCRATCH_CONVERTED);
        Forget(SCRATCH_COMPRESSED);
    }

    JobOutcome Run() {
        if (!Check() || !Convert()) return outcome_;
        ScratchResult* result = &converted_;
        if (request_.compress == CompressStep::BeforePlacing) {
            if (CompressScratch())
                result = &compressed_;
            else if (!outcome_.placed())  // no room for the copy: nothing is placed either
                return outcome_;
        }
        if (!Place(*result)) return outcome_;
        if (request_.compress == CompressStep::AfterPlacing) {
            const JobOutcome compressed = CompressBesideDestination(
                request_.destination, request_.compressor, Program(), progress_);
            outcome_.problem = compressed.problem;
            outcome_.detail = compressed.detail;
        }
        return outcome_;
    }

  private:
    bool Fail(JobProblem problem, std::string detail = {}) {
        outcome_.problem = problem;
        outcome_.detail = std::move(detail);
        return false;
    }
    void Forget(int slot) {
        if (request_.scratchHook) request_.scratchHook(slot, std::u16string(), NO_SCRATCH_LOCK);
    }
    bool MakeScratch(int slot, ScratchResult* scratch, bool clearStale) {
        TemporaryNameHook hook;
        if (request_.scratchHook)
            hook = [this, slot](const std::u16string& path, ScratchLock lock) {
                request_.scratchHook(slot, path, lock);
            };
        errno = 0;
        return scratch->Create(folder_, clearStale, hook);
    }

    bool Check() {
        const std::u16string& source = request_.source;
        const std::u16string& destination = request_.destination;
        if (source.empty() || destination.empty()) return Fail(JobProblem::PathMissing);
        if (IsFolder(source) != 0) return Fail(JobProblem::SourceIsFolder);
        // A pipe would hold the job up for as long as no one writes into it, and a device has
        // no end: only files are converted.
        if (IsSpecialFile(source) != 0) return Fail(JobProblem::SourceNotRegular);
        // Opened once now, so that a file we may not read is told as such rather than as "not
        // a valid AVI file"; the source refuses what is no disk file by itself too.
        errno = 0;
        if (FileByteSource::Open(ToUtf8(source)) == nullptr)
            return errno == ENOENT ? Fail(JobProblem::SourceMissing)
                                   : Fail(JobProblem::SourceUnreadable, Why());
        // Besides equal texts, two texts can name one file (relative and absolute, a link to
        // the source): truncating the destination would then destroy the source while it is
        // being read.
        if (TextEquals(source, destination) || NameSameFile(source, destination) != 0)
            return Fail(JobProblem::SameFile);
        sourceStamp_ = StampOf(source);
        if (OpenSourceAvi(source, source_) == 0) return Fail(JobProblem::NotAvi);
        if (!SettleSize()) return false;

        // What a link leads to decides; a dangling link is a name that is taken.
        if (IsFolder(destination) != 0) return Fail(JobProblem::DestinationIsFolder);
        // Replacing a device or a pipe with a file would take it away from everyone who uses
        // it (as root, /dev/null itself). On Windows NUL and CON are such names in any folder.
        if (IsSpecialFile(destination) != 0) return Fail(JobProblem::DestinationNotRegular);
        if (PathExists(destination) != 0) {
            if (!request_.overwrite) return Fail(JobProblem::DestinationExists);
            if (request_.keepReadOnly && ResultMayTakeName(destination) == 0)
                return Fail(JobProblem::DestinationReadOnly);
        }
        const std::u16string folder = FolderPartOf(destination);
        folder_ = folder;
        // Found out now rather than after the whole conversion, when the result is to be named.
        if (PathFitsFileSystem(destination) == 0 ||
            PathFitsFileSystem(folder + u".reframe-XXXXXX.avi") == 0)
            return Fail(JobProblem::NameTooLong);
        return true;
    }

    bool SettleSize() {
        int32_t width = request_.width, height = request_.height;
        const auto storedWidth = static_cast<int32_t>(source_.fileInfo.dwWidth);
        const auto storedHeight = static_cast<int32_t>(source_.fileInfo.dwHeight);
        std::string reason;
        if (request_.sizeRule == SizeRule::SourceSize) {
            width = storedWidth;
            height = storedHeight;
        } else if (request_.sizeRule == SizeRule::Resolve &&
                   ResolveFrameSize(
                       width, height, storedWidth, storedHeight,
                       width < 0 || height < 0 ? FirstVideoPixelAspect(source_) : PixelAspect{},
                       &width, &height, &reason) == 0) {
            return Fail(JobProblem::NoFrameSize, reason);
        }
        outcome_.width = width;
        outcome_.height = height;
        // A frame size of 0 (or one that is negative or too large for a frame, as pasted digits
        // can give) would write video streams without frames: refused before the destination
        // is created, so an existing file of that name stays as it is.
        if (ConvertsVideo(source_, request_.options) && FrameFitsOneSample(width, height) == 0)
            return width <= 0 || height <= 0 ? Fail(JobProblem::NoFrameSize)
                                             : Fail(JobProblem::FrameTooLarge);
        return true;
    }

    bool Convert() {
        if (!MakeScratch(SCRATCH_CONVERTED, &converted_, true))
            return Fail(JobProblem::CantCreate, Why());
        if (CreateDestinationAvi(converted_.Path(), destination_) == 0)
            return Fail(JobProblem::CantCreate);
        destination_.fileInfo.dwWidth = static_cast<DWORD>(outcome_.width);
        destination_.fileInfo.dwHeight = static_cast<DWORD>(outcome_.height);
        JobProgress* const outer = streamProgress;
        streamProgress = &progress_;
        const int undecodable =
            ConvertStreams(source_, destination_, request_.options, ReportStream, request_.engine);
        streamProgress = outer;

        // What was written is not passed off as a conversion of the source, and not compressed:
        // - it could not be written whole (a full disk, an I/O error);
        // - the source was cut short or rewritten while it was read (frames missing or mixed,
        //   which nothing else would point out);
        // - a video stream came out empty because not one of its frames could be decoded.
        const bool failed = AVIFileHasFailed(destination_.fileHandle) != 0;
        CloseAvi(destination_);
        if (failed || AVIFileLastCloseResult() != AVIERR_OK) return Fail(JobProblem::CantWrite);
        if (!(StampOf(request_.source) == sourceStamp_)) return Fail(JobProblem::SourceChanged);
        if (undecodable > 0) return Fail(JobProblem::Undecodable);
        return true;
    }

    std::u16string Program() const {
        return request_.compressorProgram.empty() ? DefaultCompressorProgram()
                                                  : request_.compressorProgram;
    }

    // Compresses the conversion's scratch file into a second one. false, with the reason in
    // the outcome, leaves the uncompressed file to be placed.
    bool CompressScratch() {
        const std::u16string program = Program();
        if (PathExists(program) == 0) return Fail(JobProblem::CompressorMissing, ToUtf8(program));
        if (!MakeScratch(SCRATCH_COMPRESSED, &compressed_, false))
            return Fail(JobProblem::CantCreate, Why());
        const std::u16string input = converted_.Path();
        const std::u16string output = compressed_.Path();
        const CompressorRun run = RunCompressorProgram(
            program,
            CompressorCommandLine(input.substr(NameStartOf(input)),
                                  output.substr(NameStartOf(output)), request_.compressor),
            folder_, progress_);
        std::string detail;
        const JobProblem problem = JudgeCompressorRun(run, program, output, &detail);
        return problem == JobProblem::None || Fail(problem, detail);
    }

    bool Place(ScratchResult& result) {
        const int slot = &result == &converted_ ? SCRATCH_CONVERTED : SCRATCH_COMPRESSED;
        switch (result.PutInPlace(request_.destination, request_.overwrite)) {
            case ScratchResult::Placed::Done:
                // The result bears its final name now: nothing of it is to be removed any more.
                Forget(slot);
                return true;
            case ScratchResult::Placed::NameTaken:
                return Fail(JobProblem::DestinationAppeared);
            case ScratchResult::Placed::Failed:
                break;
        }
        return Fail(JobProblem::CantPutInPlace, Why());
    }

    const JobRequest& request_;
    JobProgress& progress_;
    JobOutcome outcome_;
    AviFileRecord source_, destination_;
    FileStamp sourceStamp_;
    std::u16string folder_;
    ScratchResult converted_, compressed_;
};

}  // namespace

JobOutcome RunJob(const JobRequest& request, JobProgress& progress) {
    Job job(request, progress);
    return job.Run();
}

JobOutcome CompressBesideDestination(const std::u16string& destination,
                                     const CompressorSettings& settings,
                                     const std::u16string& program, JobProgress& progress) {
    JobOutcome outcome;
    const std::u16string copy = CompressedCopyPath(destination);
    const std::u16string parameters =
        copy.empty() ? std::u16string() : CompressorCommandLine(destination, copy, settings);
    // Such a destination stays uncompressed, as one without a free name for the copy does.
    if (parameters.empty()) {
        outcome.problem = JobProblem::CompressFailed;
        outcome.detail = "no name for the compressed copy";
        return outcome;
    }
    const CompressorRun run =
        RunCompressorProgram(program, parameters, CurrentDirectory(), progress);
    outcome.problem = JudgeCompressorRun(run, program, copy, &outcome.detail);
    // The copy's name was free before the start, so whatever stands there now is the
    // compressor's. The uncompressed destination goes only when a readable copy replaces it, in
    // one step and with the copy's data on the disk first: at no moment, crash or power loss
    // included, is the destination missing or half written. Otherwise the copy goes (a stopped
    // compressor's is unfinished) and the uncompressed file stays.
    if (outcome.problem == JobProblem::None) {
        if (ReplaceFileDurably(copy, destination) != 0) return outcome;
        outcome.problem = JobProblem::CompressFailed;
        outcome.detail = "the compressed copy could not replace the destination";
    }
    if (run.started) RemoveFile(copy);
    return outcome;
}

std::u16string CompressedCopyPath(const std::u16string& destination) {
    for (int n = 0; n < MAX_NAME_TRIES; ++n) {
        std::u16string candidate = CopyCandidate(destination, n);
        if (PathExists(candidate) == 0) return candidate;
    }
    return u"";
}
