// Conversions between the program's UTF-16 texts and the UTF-8 byte strings that file names
// and the C library use. Invalid sequences become U+FFFD rather than being dropped silently.
#pragma once

#include <string>
#include <string_view>

std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view bytes);
