#include "ui/file_request.h"

#include <algorithm>

#include "support/file_helpers.h"
#include "support/path_parts.h"

namespace {

std::u16string Trimmed(const std::u16string& text) {
    const size_t first = text.find_first_not_of(u' ');
    if (first == std::u16string::npos) return std::u16string();
    const size_t last = text.find_last_not_of(u' ');
    return text.substr(first, last - first + 1);
}

std::vector<std::u16string> SplitAt(const std::u16string& text, char16_t separator) {
    std::vector<std::u16string> parts;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(separator, start);
        parts.push_back(
            text.substr(start, end == std::u16string::npos ? std::u16string::npos : end - start));
        if (end == std::u16string::npos) break;
        start = end + 1;
    }
    return parts;
}

// "*.avi" becomes "*.[aA][vV][iI]": file names on this system are case-sensitive, but a
// pattern is meant to find clip.AVI as well as clip.avi, in whichever dialog the desktop
// shows.
std::u16string CaseFreePattern(const std::u16string& pattern) {
    if (pattern == u"*.*" || pattern == u"*") return u"*";
    std::u16string result;
    for (char16_t c : pattern) {
        const bool lower = c >= u'a' && c <= u'z';
        const bool upper = c >= u'A' && c <= u'Z';
        if (lower || upper) {
            const char16_t small = lower ? c : static_cast<char16_t>(c - u'A' + u'a');
            const char16_t capital = static_cast<char16_t>(small - u'a' + u'A');
            result += u'[';
            result += small;
            result += capital;
            result += u']';
        } else {
            result += c;
        }
    }
    return result;
}

}  // namespace

int32_t IsValidFileName(const std::u16string& text) {
    if (text.empty()) return 0;
    const bool bad =
        std::any_of(text.begin(), text.end(), [](char16_t c) { return c < 0x20 || c == u'/'; });
    return bad ? 0 : 1;
}

std::u16string FolderOfChosenName(const std::u16string& path) {
    const size_t name = NameStartOf(path);
    if (name == 0) return std::u16string();
    return name == 1 ? std::u16string(u"/") : path.substr(0, name - 1);
}

int32_t ChosenNameHasFolder(const std::u16string& path) {
    return IsFolder(FolderOfChosenName(path));
}

void SplitDefaultPath(const std::u16string& defaultPath, std::u16string& folder,
                      std::u16string& fileName) {
    const size_t name = NameStartOf(defaultPath);
    if (name > 1) {
        folder = defaultPath.substr(0, name - 1);
        fileName = defaultPath.substr(name);
    } else {
        folder.clear();
        fileName = defaultPath;
    }
    if (IsValidFileName(fileName) == 0) fileName.clear();
}

void ConvertPatternText(const std::u16string& pattern, int32_t position,
                        std::vector<std::u16string>& nameFilters, int32_t& selectedFilter) {
    nameFilters.clear();
    selectedFilter = 0;
    if (pattern.empty()) return;
    const std::vector<std::u16string> items = SplitAt(pattern, u'|');
    for (size_t i = 0; i + 1 < items.size(); i += 2) {
        const bool wanted = position >= 0 && static_cast<size_t>(position) == i / 2;
        std::u16string patterns;
        for (const std::u16string& one : SplitAt(items[i + 1], u';')) {
            const std::u16string trimmed = Trimmed(one);
            if (trimmed.empty()) continue;
            if (!patterns.empty()) patterns += u' ';
            patterns += CaseFreePattern(trimmed);
        }
        if (patterns.empty()) continue;  // a pair without a pattern finds nothing
        if (wanted) selectedFilter = static_cast<int32_t>(nameFilters.size());
        nameFilters.push_back(items[i] + u" (" + patterns + u")");
    }
}
