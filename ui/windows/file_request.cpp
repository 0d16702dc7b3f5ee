// What the Windows file dialogs are opened with: the starting folder and name split from the
// default path at its last backslash, and the platform filter list's items from the pattern.
#include "ui/file_request.h"

#include <algorithm>

int32_t IsValidFileName(const std::u16string& text) {
    if (text.empty()) return 0;
    const std::u16string forbidden = u"\"\\/:*?<>|";
    const bool bad = std::any_of(text.begin(), text.end(), [&](char16_t c) {
        return c < 0x20 || forbidden.find(c) != std::u16string::npos;
    });
    return bad ? 0 : 1;
}

void SplitDefaultPath(const std::u16string& defaultPath, std::u16string& folder,
                      std::u16string& fileName) {
    // Only a backslash separates: a name written with forward slashes is no Windows name and
    // is emptied by the check below.
    const size_t backslash = defaultPath.rfind(u'\\');
    if (backslash != std::u16string::npos && backslash > 0) {
        folder = defaultPath.substr(0, backslash);
        fileName = defaultPath.substr(backslash + 1);
    } else {
        folder.clear();
        fileName = defaultPath;
    }
    if (IsValidFileName(fileName) == 0) fileName.clear();
}

void ConvertPatternText(const std::u16string& pattern, int32_t position,
                        std::vector<std::u16string>& nameFilters, int32_t& selectedFilter) {
    nameFilters.clear();
    selectedFilter = position;
    if (pattern.empty()) return;
    size_t start = 0;
    for (;;) {
        const size_t end = pattern.find(u'|', start);
        nameFilters.push_back(
            pattern.substr(start, end == std::u16string::npos ? end : end - start));
        if (end == std::u16string::npos) break;
        start = end + 1;
    }
}
