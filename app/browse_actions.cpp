#include "app/browse_actions.h"

#include "app/shell_state.h"
#include "support/text_helpers.h"
#include "ui/requesters.h"
#include "ui/window_toolkit.h"

void BrowseSource() {
    Shell.SourcePath = AskOpenFile(u"Source", GetControlText(SourceField), FileTypePattern, 0);
    if (TextEquals(Shell.SourcePath, u"")) return;  // cancelled: the field keeps its text
    SetControlText(SourceField, Shell.SourcePath);
    // A file that isn't an AVI file stays in the field without a word; the job will say so.
    if (OpenSourceAvi(Shell.SourcePath, Shell.SourceRecord) == 0) return;
    SetControlText(WidthField,
                   IntToText(static_cast<int32_t>(Shell.SourceRecord.fileInfo.dwWidth)));
    SetControlText(HeightField,
                   IntToText(static_cast<int32_t>(Shell.SourceRecord.fileInfo.dwHeight)));
    CloseAvi(Shell.SourceRecord);
}

void BrowseDestination() {
    Shell.DestinationPath =
        AskSaveFile(u"Destination", GetControlText(DestinationField), FileTypePattern, 0);
    if (!TextEquals(Shell.DestinationPath, u"")) SetControlText(DestinationField, Shell.DestinationPath);
}
