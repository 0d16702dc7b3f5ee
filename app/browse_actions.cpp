#include "app/browse_actions.h"

#include <utility>

#include "app/shell_state.h"
#include "support/file_helpers.h"
#include "support/program_parameters.h"
#include "support/text_helpers.h"
#include "ui/requesters.h"
#include "ui/window_toolkit.h"

namespace {

constexpr int MAX_SUGGESTION_TRIES = 1000;

// Fills the width and height fields with the frame size of `path` when it opens as AVI;
// a file that isn't an AVI file leaves them without a word (the job will say so).
void FillSizesFrom(const std::u16string& path) {
    if (OpenSourceAvi(path, Shell.SourceRecord) == 0) return;
    SetControlText(WidthField,
                   IntToText(static_cast<int32_t>(Shell.SourceRecord.fileInfo.dwWidth)));
    SetControlText(HeightField,
                   IntToText(static_cast<int32_t>(Shell.SourceRecord.fileInfo.dwHeight)));
    CloseAvi(Shell.SourceRecord);
}

// The file name without its last extension.
std::u16string StemOf(const std::u16string& path) {
    std::u16string name = FilePart(path);
    const size_t dot = name.rfind(u'.');
    if (dot != std::u16string::npos && dot > 0) name.resize(dot);
    return name;
}

}  // namespace

void BrowseSource() {
    Shell.SourcePath = AskOpenFile(u"Source", GetControlText(SourceField), FileTypePattern, 0);
    if (TextEquals(Shell.SourcePath, u"")) return;  // cancelled: the field keeps its text
    SetControlText(SourceField, Shell.SourcePath);
    FillSizesFrom(Shell.SourcePath);
}

void BrowseDestination() {
    Shell.DestinationPath =
        AskSaveFile(u"Destination", GetControlText(DestinationField), FileTypePattern, 0);
    if (!TextEquals(Shell.DestinationPath, u""))
        SetControlText(DestinationField, Shell.DestinationPath);
}

std::u16string SuggestedDestination(const std::u16string& source) {
    const std::u16string base = DirectoryPart(source) + StemOf(source) + u"-resized";
    // An existing file would be overwritten by Start without a question, so only a free
    // name is offered.
    for (int n = 0; n < MAX_SUGGESTION_TRIES; ++n) {
        // Built by appends: GCC 12 warns falsely (-Wrestrict) on u"-" + text at -O3.
        std::u16string candidate = base;
        if (n > 0) {
            candidate += u'-';
            candidate += IntToText(n);
        }
        candidate += u".avi";
        if (PathExists(candidate) == 0) return candidate;
    }
    return u"";
}

void TakeDroppedFile() {
    const std::u16string file = DroppedFile();
    if (TextEquals(file, u"")) return;
    if (DroppedOnControl() == DestinationField) {
        Shell.DestinationPath = file;
        SetControlText(DestinationField, file);
        return;
    }
    Shell.SourcePath = file;
    SetControlText(SourceField, file);
    if (TextEquals(GetControlText(DestinationField), u"")) {
        const std::u16string suggestion = SuggestedDestination(file);
        if (!TextEquals(suggestion, u"")) SetControlText(DestinationField, suggestion);
    }
    FillSizesFrom(file);
}

void FillSizesFromCommandLineSource() {
    const std::u16string source = GetControlText(SourceField);
    if (!TextEquals(source, u"")) FillSizesFrom(source);
}

void RefuseCommandLineNamesThatAreNotText() {
    bool refused = false;
    // The window takes the first parameter as the source and the second as the destination.
    for (const auto& [index, field] : {std::pair{0, SourceField}, std::pair{1, DestinationField}}) {
        if (ParameterIsText(index) != 0) continue;
        SetControlText(field, u"");
        refused = true;
    }
    if (refused)
        ShowMessage(
            u"ERROR",
            u"A file name on the command line is not UTF-8 text; rename the file to open it.");
}
