#include "app/conversion_job.h"

#include <cstdint>

#include "app/compressor_handoff.h"
#include "app/progress_display.h"
#include "app/shell_state.h"
#include "avi/stream_converter.h"
#include "job/conversion_job.h"
#include "support/text_helpers.h"
#include "ui/requesters.h"
#include "ui/window_toolkit.h"

namespace {

uint32_t OptionsFromBoxes() {
    uint32_t options = 0;
    if (GetControlState(NoVideoStreamsBox) != 0) options += OPTION_NO_VIDEO;
    if (GetControlState(NoAudioStreamsBox) != 0) options += OPTION_NO_AUDIO;
    if (GetControlState(NoOtherStreamsBox) != 0) options += OPTION_NO_OTHER;
    if (GetControlState(AntiAliasingBox) != 0) options += OPTION_ANTI_ALIAS;
    return options;
}

// The message for a job that stopped before its result was in place; null for none.
const char16_t* MessageFor(JobProblem problem) {
    switch (problem) {
        case JobProblem::PathMissing:
        case JobProblem::SameFile:
            return u"Enter a valid filename for the source and destination files.";
        case JobProblem::SourceMissing:
        case JobProblem::SourceIsFolder:
        case JobProblem::SourceNotRegular:
        case JobProblem::SourceUnreadable:
        case JobProblem::NotAvi:
            return u"Not a valid avi file!";
        case JobProblem::NoFrameSize:
        case JobProblem::FrameTooLarge:
            return u"Enter the width and height of the new frames.";
        // A missing or read-only folder, a name that is a folder or a device: nothing was
        // written, and whatever stands at the destination stays as it is.
        case JobProblem::DestinationIsFolder:
        case JobProblem::DestinationNotRegular:
        case JobProblem::DestinationExists:
        case JobProblem::DestinationReadOnly:
        case JobProblem::NameTooLong:
        case JobProblem::CantCreate:
            return u"Couldn't create the destination file!";
        case JobProblem::CantWrite:
        case JobProblem::DestinationAppeared:
        case JobProblem::CantPutInPlace:
            return u"Couldn't write the destination file!";
        case JobProblem::SourceChanged:
            return u"The source file changed during the conversion!";
        case JobProblem::Undecodable:
            return u"Couldn't decode the video of the source file!";
        default:
            return nullptr;
    }
}

}  // namespace

void RunConversionJob() {
    Shell.SourcePath = GetControlText(SourceField);
    Shell.DestinationPath = GetControlText(DestinationField);
    Shell.JobOptions = OptionsFromBoxes();
    JobRequest request;
    request.source = Shell.SourcePath;
    request.destination = Shell.DestinationPath;
    // Only the low 32 bits of what the fields hold are kept; the job checks the sizes as the
    // converter reads them: signed.
    request.width = static_cast<int32_t>(
        static_cast<DWORD>(static_cast<uint64_t>(TextToInt(GetControlText(WidthField)))));
    request.height = static_cast<int32_t>(
        static_cast<DWORD>(static_cast<uint64_t>(TextToInt(GetControlText(HeightField)))));
    request.sizeRule = SizeRule::AsGiven;
    request.options = Shell.JobOptions;
    request.overwrite = true;
    request.keepReadOnly = true;
    request.compress = CompressStep::AfterPlacing;
    request.compressorProgram = CompressorProgramPath();

    WindowProgress progress;
    const JobOutcome outcome = RunJob(request, progress);
    if (const char16_t* message = MessageFor(outcome.problem)) {
        ShowMessage(u"ERROR", message);
        return;
    }
    ShowCompressorProblem(outcome.problem);
    // Closed while compressing: the user wants to quit, not to read that the job is over.
    if (Shell.QuitRequested == 0) ShowMessage(u"Information", u"Finished.");
}
