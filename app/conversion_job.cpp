#include "app/conversion_job.h"

#include <cstdint>

#include "app/compressor_handoff.h"
#include "app/progress_display.h"
#include "app/shell_state.h"
#include "avi/stream_converter.h"
#include "support/durable_files.h"
#include "support/file_helpers.h"
#include "support/temporary_files.h"
#include "support/text_helpers.h"
#include "support/unicode_text.h"
#include "ui/requesters.h"
#include "ui/window_toolkit.h"

namespace {

// The paths must name two different files. Besides equal texts, two texts can name one file
// (relative and absolute, a link to the source): truncating the destination would then
// destroy the source while it is being read.
bool PathsAreValid() {
    if (TextEquals(Shell.SourcePath, u"")) return false;
    if (TextEquals(Shell.DestinationPath, u"")) return false;
    if (TextEquals(Shell.SourcePath, Shell.DestinationPath)) return false;
    return NameSameFile(Shell.SourcePath, Shell.DestinationPath) == 0;
}

// Whether the job would decode any video stream of the open source into frames.
bool ConvertsVideo(const AviFileRecord& source, uint32_t options) {
    if (options & OPTION_NO_VIDEO) return false;
    const DWORD streams = source.fileInfo.dwStreams;
    for (DWORD i = 0; i < streams && i < static_cast<DWORD>(STREAM_SLOT_COUNT); ++i)
        if (source.slots[i].streamInfo.fccType == streamtypeVIDEO) return true;
    return false;
}

uint32_t OptionsFromBoxes() {
    uint32_t options = 0;
    if (GetControlState(NoVideoStreamsBox) != 0) options += OPTION_NO_VIDEO;
    if (GetControlState(NoAudioStreamsBox) != 0) options += OPTION_NO_AUDIO;
    if (GetControlState(NoOtherStreamsBox) != 0) options += OPTION_NO_OTHER;
    if (GetControlState(AntiAliasingBox) != 0) options += OPTION_ANTI_ALIAS;
    return options;
}

}  // namespace

void RunConversionJob() {
    Shell.SourcePath = GetControlText(SourceField);
    Shell.DestinationPath = GetControlText(DestinationField);
    if (!PathsAreValid()) {
        ShowMessage(u"ERROR", u"Enter a valid filename for the source and destination files.");
        return;
    }
    const FileStamp sourceBefore = StampOf(Shell.SourcePath);
    if (OpenSourceAvi(Shell.SourcePath, Shell.SourceRecord) == 0) {
        ShowMessage(u"ERROR", u"Not a valid avi file!");
        return;
    }
    // Only the low 32 bits of what the fields hold are kept; the converter checks the sizes.
    const auto width =
        static_cast<DWORD>(static_cast<uint64_t>(TextToInt(GetControlText(WidthField))));
    const auto height =
        static_cast<DWORD>(static_cast<uint64_t>(TextToInt(GetControlText(HeightField))));
    Shell.JobOptions = OptionsFromBoxes();
    // A frame size of 0 (or one that is negative or too large for a frame, as pasted digits
    // can give) would write video streams without frames: refused before the destination is
    // created, so an existing file of that name stays as it is.
    // The sides count as the converter reads them: signed.
    if (FrameFitsOneSample(static_cast<int32_t>(width), static_cast<int32_t>(height)) == 0 &&
        ConvertsVideo(Shell.SourceRecord, Shell.JobOptions)) {
        CloseAvi(Shell.SourceRecord);
        ShowMessage(u"ERROR", u"Enter the width and height of the new frames.");
        return;
    }

    // The result is written under a scratch name beside the destination and takes the
    // destination's name only once it is whole and on the disk: a crash or a kill never leaves
    // half a file there, nor costs the file that stood there before.
    const std::string folder = ToUtf8(DirectoryPart(Shell.DestinationPath));
    TemporaryFile scratch;
    bool created = ResultMayTakeName(Shell.DestinationPath) != 0;
    if (created) {
        // What killed jobs left in this folder goes first, before it piles up.
        RemoveStaleTemporaries(folder);
        created = CreateTemporaryFile(folder, &scratch) &&
                  CreateDestinationAvi(FromUtf8(scratch.path), Shell.DestinationRecord) != 0;
    }
    if (!created) {
        // A missing or read-only folder, a name that is a folder or a device: nothing was
        // written, and whatever stands at the destination stays as it is.
        ReleaseTemporaryFile(&scratch, true);
        CloseAvi(Shell.SourceRecord);
        ShowMessage(u"ERROR", u"Couldn't create the destination file!");
        return;
    }
    Shell.DestinationRecord.fileInfo.dwWidth = width;
    Shell.DestinationRecord.fileInfo.dwHeight = height;

    const int undecodable =
        ConvertStreams(Shell.SourceRecord, Shell.DestinationRecord, Shell.JobOptions, OnProgress);

    // What was written is not passed off as a conversion of the source, and not compressed:
    // - it could not be written whole (a full disk, an I/O error);
    // - the source was cut short or rewritten while it was read (frames missing or mixed,
    //   which nothing else would point out);
    // - a video stream came out empty because not one of its frames could be decoded.
    const bool failed = AVIFileHasFailed(Shell.DestinationRecord.fileHandle) != 0;
    CloseAvi(Shell.DestinationRecord);
    const char16_t* problem = nullptr;
    if (failed || AVIFileLastCloseResult() != AVIERR_OK)
        problem = u"Couldn't write the destination file!";
    else if (!(StampOf(Shell.SourcePath) == sourceBefore))
        problem = u"The source file changed during the conversion!";
    else if (undecodable > 0)
        problem = u"Couldn't decode the video of the source file!";
    else if (ReplaceFileDurably(FromUtf8(scratch.path), Shell.DestinationPath) == 0)
        problem = u"Couldn't write the destination file!";
    ReleaseTemporaryFile(&scratch, problem != nullptr);
    if (problem != nullptr) {
        ShowMessage(u"ERROR", problem);
        CloseAvi(Shell.SourceRecord);
        return;
    }

    RunCompressor();
    // Closed while compressing: the user wants to quit, not to read that the job is over.
    if (Shell.QuitRequested == 0) ShowMessage(u"Information", u"Finished.");
    CloseAvi(Shell.SourceRecord);
}
