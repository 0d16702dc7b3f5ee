#include "app/conversion_job.h"

#include "app/compressor_handoff.h"
#include "app/progress_display.h"
#include "app/shell_state.h"
#include "avi/stream_converter.h"
#include "support/file_helpers.h"
#include "support/text_helpers.h"
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
    // A frame size of 0 would write video streams of empty frames: refused before the
    // destination is created, so an existing file of that name stays as it is.
    if ((width == 0 || height == 0) && ConvertsVideo(Shell.SourceRecord, Shell.JobOptions)) {
        CloseAvi(Shell.SourceRecord);
        ShowMessage(u"ERROR", u"Enter the width and height of the new frames.");
        return;
    }

    if (CreateDestinationAvi(Shell.DestinationPath, Shell.DestinationRecord) == 0) {
        CloseAvi(Shell.SourceRecord);
        return;
    }
    Shell.DestinationRecord.fileInfo.dwWidth = width;
    Shell.DestinationRecord.fileInfo.dwHeight = height;

    ConvertStreams(Shell.SourceRecord, Shell.DestinationRecord, Shell.JobOptions, OnProgress);

    // A destination that could not be written whole (a full disk, an I/O error) must not be
    // passed off as finished: it is removed and the user told.
    const bool failed = AVIFileHasFailed(Shell.DestinationRecord.fileHandle) != 0;
    CloseAvi(Shell.DestinationRecord);
    if (failed || AVIFileLastCloseResult() != AVIERR_OK) {
        RemoveFile(Shell.DestinationPath);
        ShowMessage(u"ERROR", u"Couldn't write the destination file!");
        CloseAvi(Shell.SourceRecord);
        return;
    }

    RunCompressor();
    ShowMessage(u"Information", u"Finished.");
    CloseAvi(Shell.SourceRecord);
}
