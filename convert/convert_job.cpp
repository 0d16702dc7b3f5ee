#include "convert/convert_job.h"

#include "avi/stream_converter.h"
#include "convert/interrupt_cleanup.h"
#include "job/conversion_job.h"
#include "support/path_parts.h"
#include "support/unicode_text.h"

namespace {

uint32_t EngineOptions(const ConvertOptions& options) {
    uint32_t word = 0;
    if (options.dropOther) word |= OPTION_NO_OTHER;
    if (options.average) word |= OPTION_ANTI_ALIAS;
    if (options.dropVideo) word |= OPTION_DROP_VIDEO;
    if (options.dropAudio) word |= OPTION_DROP_AUDIO;
    return word;
}

// The job's progress as reframe-convert reports it; a running compressor is stopped with us
// when an interrupt ends the process.
class ConvertProgress : public JobProgress {
  public:
    explicit ConvertProgress(ProgressReport& report) : report_(report) {}
    void Stream(int32_t type, int32_t index, int32_t current, int32_t total) override {
        report_.Stream(type, index, current, total);
    }
    void CompressorStarted(uint32_t processId) override {
        StopOnInterrupt(static_cast<pid_t>(processId));
    }
    void Compressing(int32_t percent) override { report_.Compressing(percent); }
    void CompressorEnded(bool /*stopped*/) override { StopOnInterrupt(0); }

  private:
    ProgressReport& report_;
};

std::string FolderOf(const std::string& path) {
    const size_t name = NameStartOf(path);
    return name == 0 ? std::string(".") + kPreferredSeparator : path.substr(0, name);
}

// What went wrong, in reframe-convert's words.
std::string ReasonFor(const JobOutcome& outcome, const std::string& source,
                      const std::string& destination) {
    const std::string named = "the destination " + QuotedName(destination);
    const std::string size = std::to_string(outcome.width) + " x " + std::to_string(outcome.height);
    const std::string kept = "; the uncompressed file was kept";
    switch (outcome.problem) {
        case JobProblem::None:
        case JobProblem::CompressStopped:
            return {};
        case JobProblem::PathMissing:
            return source.empty() ? "no such file" : "the destination name is empty";
        case JobProblem::SourceMissing:
            return "no such file";
        case JobProblem::SourceIsFolder:
            return "is a folder, not a file";
        case JobProblem::SourceNotRegular:
            return "is not a regular file (a pipe, a device or a socket)";
        case JobProblem::SourceUnreadable:
            return "can't read it" + outcome.detail;
        case JobProblem::SameFile:
            return named + " is the source itself";
        case JobProblem::NotAvi:
            return "not a valid AVI file";
        case JobProblem::NoFrameSize:
            return !outcome.detail.empty()
                       ? outcome.detail
                       : "the source's frame size is " + size + "; give one with --size";
        case JobProblem::FrameTooLarge:
            return "a frame of " + size + " is too large for an AVI file";
        case JobProblem::DestinationIsFolder:
            return named + " is a folder";
        case JobProblem::DestinationNotRegular:
            return named +
                   " is not a regular file (a device, a pipe or a socket); it was left alone";
        case JobProblem::DestinationExists:
        case JobProblem::DestinationReadOnly:
            return named + " already exists (--overwrite replaces it)";
        case JobProblem::NameTooLong:
            return "the destination name " + QuotedName(destination) +
                   " is too long for its file system";
        case JobProblem::CantCreate:
            return "can't create a file in " + QuotedName(FolderOf(destination)) + outcome.detail;
        case JobProblem::CantWrite:
            return "couldn't write the destination (disk full or an I/O error); nothing was left "
                   "behind";
        case JobProblem::SourceChanged:
            return "the source changed while it was converted; nothing was left behind";
        case JobProblem::Undecodable:
            return "couldn't decode the video of the source file (no frame of it could be read)";
        case JobProblem::DestinationAppeared:
            return "the destination appeared while converting; it was left alone";
        case JobProblem::CantPutInPlace:
            return "can't put the result in place as " + QuotedName(destination) + outcome.detail;
        case JobProblem::CompressorMissing:
            return "can't compress: " + outcome.detail + " is missing" + kept;
        case JobProblem::CompressorNotStarted:
            return "can't start " + outcome.detail + kept;
        case JobProblem::CompressFailed:
            return outcome.detail + kept;
    }
    return "failed";
}

}  // namespace

bool ConvertFile(const ConvertOptions& options, const std::string& source,
                 const std::string& destination, ProgressReport& report) {
    if (!IsUtf8Text(source) || !IsUtf8Text(destination)) {
        report.Failed("the file name is not valid UTF-8 text; rename the file to convert it");
        return false;
    }
    JobRequest request;
    request.source = FromUtf8(source);
    request.destination = FromUtf8(destination);
    request.sizeRule = options.sizeGiven ? SizeRule::Resolve : SizeRule::SourceSize;
    request.width = options.width;
    request.height = options.height;
    request.options = EngineOptions(options);
    request.overwrite = options.overwrite;
    request.engine.threads = options.threads;
    request.engine.deinterlace = options.deinterlace;
    if (options.compress) {
        request.compress = CompressStep::BeforePlacing;
        request.compressor.codec = FromUtf8(options.codec);
        request.compressor.quality = options.quality;
        request.compressor.threads = options.threads;
    }
    // Each scratch file is known to the interrupt clean-up from the moment it has a name.
    request.scratchHook = [](int slot, const std::u16string& path, ScratchLock lock) {
        if (path.empty())
            ForgetOnInterrupt(slot);
        else
            RemoveOnInterrupt(slot, path, lock);
    };
    ConvertProgress progress(report);
    const JobOutcome outcome = RunJob(request, progress);
    if (outcome.problem != JobProblem::None) {
        report.Failed(ReasonFor(outcome, source, destination));
        return false;
    }
    report.Done(destination);
    return true;
}
