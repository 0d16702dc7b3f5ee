// Conversions between the program's UTF-16 texts and the UTF-8 byte strings that file names
// and the C library use. Invalid sequences become U+FFFD rather than being dropped silently.
#pragma once

#include <string>
#include <string_view>

std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view bytes);
// Whether `bytes` are UTF-8 text, so that FromUtf8 keeps them: a name with other bytes would
// come back from UTF-16 as another name, which could be another file.
bool IsUtf8Text(std::string_view bytes);

// A file name as messages show it: as it is when it is plain printable text, else in double
// quotes with C escapes (\n, \t, \", \\, \xHH for other control bytes and bytes that are
// not UTF-8), so that a name can never break a message into several lines.
std::string QuotedName(const std::string& name);

#ifdef _WIN32
// Windows names files in UTF-16 and its wchar_t is a UTF-16 code unit: the forms the W calls
// take, from the UTF-8 paths of the C++ side and from the program's UTF-16 texts.
std::wstring ToWide(std::string_view utf8);
std::wstring ToWide(std::u16string_view text);
std::string FromWide(std::wstring_view wide);
std::u16string TextFromWide(std::wstring_view wide);
#endif
