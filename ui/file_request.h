// What a file dialog is opened with, worked out from the callers' arguments: the starting
// folder and file name from the default path, and the name filters from the pattern text.
// Kept apart from the dialog itself so that the rules can be checked without one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct FileRequest {
    int32_t save = 0;  // 1: save dialog, 0: open dialog
    std::u16string title;
    std::u16string folder;                    // empty: the dialog's own choice
    std::u16string fileName;                  // empty: no name filled in
    std::vector<std::u16string> nameFilters;  // "AVI (*.[aA][vV][iI])", "All Files (*)"
    int32_t selectedFilter = 0;               // index into nameFilters
};

// 1 when `text` can be a file name on this system: not empty, no '/' and no control
// character (the only characters a Linux file name cannot hold, plus the ones no one
// can type into a dialog's name field).
int32_t IsValidFileName(const std::u16string& text);

// Splits at the last '/' that is not the first character: folder before it, file name
// after it. Without such a slash the whole text is the file name. A file name that
// IsValidFileName rejects is dropped; the folder stays.
void SplitDefaultPath(const std::u16string& defaultPath, std::u16string& folder,
                      std::u16string& fileName);

// Turns "label|pattern|label|pattern..." into name filters. Patterns match regardless of
// letter case, several patterns in one pair are separated by ';', and "*.*" means every
// file. A position outside the list selects the first pair.
void ConvertPatternText(const std::u16string& pattern, int32_t position,
                        std::vector<std::u16string>& nameFilters, int32_t& selectedFilter);

// The folder a chosen name lies in: everything before its last '/', or "/" for a name at the
// top. A name without a slash lies in no named folder and gives empty text.
std::u16string FolderOfChosenName(const std::u16string& path);

// 1 when the folder of `path` exists and is a folder: both dialogs accept only such names.
int32_t ChosenNameHasFolder(const std::u16string& path);

FileRequest PrepareFileRequest(int32_t save, const std::u16string& title,
                               const std::u16string& defaultPath, const std::u16string& pattern,
                               int32_t position);
