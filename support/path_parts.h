// Splitting a path into its folder and its file name. Linux separates folders with '/' alone (a
// backslash is an ordinary character of a name); Windows with '/' or '\', and a drive's ':'
// ends the folder part of "C:name" too.
#pragma once

#include <string>
#include <string_view>

#ifdef _WIN32
inline constexpr std::string_view kFolderSeparators = "/\\:";
inline constexpr std::u16string_view kFolderSeparators16 = u"/\\:";
inline constexpr char kPreferredSeparator = '\\';
#else
inline constexpr std::string_view kFolderSeparators = "/";
inline constexpr std::u16string_view kFolderSeparators16 = u"/";
inline constexpr char kPreferredSeparator = '/';
#endif

// The index where the file name of `path` starts (0 when it has no folder part).
inline size_t NameStartOf(std::string_view path) {
    const size_t separator = path.find_last_of(kFolderSeparators);
    return separator == std::string_view::npos ? 0 : separator + 1;
}
inline size_t NameStartOf(std::u16string_view path) {
    const size_t separator = path.find_last_of(kFolderSeparators16);
    return separator == std::u16string_view::npos ? 0 : separator + 1;
}

// The folder part of `path`, ending in its separator (empty when it has none). This, not the
// window's DirectoryPart (which takes both separators on every system), says where a file lies
// on this system.
inline std::u16string FolderPartOf(std::u16string_view path) {
    return std::u16string(path.substr(0, NameStartOf(path)));
}

// Whether `path` ends in a folder separator, so that a name may follow it directly.
inline bool EndsInSeparator(std::string_view path) {
    return !path.empty() && kFolderSeparators.find(path.back()) != std::string_view::npos;
}
