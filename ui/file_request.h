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
    std::u16string folder;    // empty: the dialog's own choice
    std::u16string fileName;  // empty: no name filled in
    // Linux: Qt's name filters, "AVI (*.[aA][vV][iI])", "All Files (*)"; selectedFilter is an
    // index into them. Windows: the items of the platform's filter list in order (label,
    // pattern, label, pattern, ...); selectedFilter is the zero-based pair to preselect.
    std::vector<std::u16string> nameFilters;
    int32_t selectedFilter = 0;
};

// 1 when `text` can be a file name on this system: not empty and no control character (no
// one can type those into a dialog's name field), and on Linux no '/', on Windows none of
// " \ / : * ? < > |.
int32_t IsValidFileName(const std::u16string& text);

// Splits at the last path separator ('/' on Linux, '\' on Windows) that is not the first
// character: folder before it, file name after it. Without such a separator the whole text is
// the file name. A file name that IsValidFileName rejects is dropped; the folder stays.
void SplitDefaultPath(const std::u16string& defaultPath, std::u16string& folder,
                      std::u16string& fileName);

// Turns "label|pattern|label|pattern..." into name filters. Linux: patterns match regardless
// of letter case, several patterns in one pair are separated by ';', and "*.*" means every
// file; a position outside the list selects the first pair. Windows: the items as they stand
// (the platform's dialog reads them by the same rules), and the position as given.
void ConvertPatternText(const std::u16string& pattern, int32_t position,
                        std::vector<std::u16string>& nameFilters, int32_t& selectedFilter);

#ifndef _WIN32
// Qt's dialog takes names in folders that do not exist; these two let the caller refuse them.
// (The Windows dialogs refuse them themselves.)

// The folder a chosen name lies in: everything before its last '/', or "/" for a name at the
// top. A name without a slash lies in no named folder and gives empty text.
std::u16string FolderOfChosenName(const std::u16string& path);

// 1 when the folder of `path` exists and is a folder: both dialogs accept only such names.
int32_t ChosenNameHasFolder(const std::u16string& path);
#endif

FileRequest PrepareFileRequest(int32_t save, const std::u16string& title,
                               const std::u16string& defaultPath, const std::u16string& pattern,
                               int32_t position);
