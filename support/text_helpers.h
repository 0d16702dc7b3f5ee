// Small text and number operations the shell is written against: decimal text to and from
// numbers, trimming, comparing, replacing, and splitting a path into directory and file name.
// Every operation returns a new text and leaves its inputs alone; an absent text is empty.
#pragma once

#include <cstdint>
#include <string>

// Decimal text of value: a minus sign for negatives, no plus sign, no leading zeros.
std::u16string IntToText(int64_t value);

// Reads a number from the start of text: leading spaces and tabs, an optional sign, then
// "$" for hexadecimal, "%" for binary or decimal digits. Stops at the first character that is
// not a digit of the base. Overflow wraps around in 64 bits. Malformed text gives 0.
int64_t TextToInt(const std::u16string& text);

// Truncates toward zero to a 64-bit integer and returns its low 32 bits (99.9 -> 99,
// -0.5 -> 0, 2^32 + 5 -> 5). NaN gives 0. Values beyond the 64-bit range saturate first, so
// +inf and anything >= 2^63 give the low 32 bits of INT64_MAX (-1), and -inf and anything
// below -2^63 give those of INT64_MIN (0).
int32_t TruncateToInt(double value);

// Removes the spaces (U+0020 only) at both ends.
std::u16string TrimSpaces(const std::u16string& text);

// 1 when both texts hold the same code units, else 0.
int TextEquals(const std::u16string& a, const std::u16string& b);

// Replaces every non-overlapping occurrence of find, scanning left to right; the replacement
// is never rescanned. An empty find leaves the text as it is.
std::u16string ReplaceAll(const std::u16string& text, const std::u16string& find,
                          const std::u16string& replacement);

// The directory of path up to and including its last '/' or '\' (a '|' ends the search), or
// empty. An opening double quote is skipped.
std::u16string DirectoryPart(const std::u16string& path);

// The file name after the last '/' or '\' of path, up to a double quote or the end. An
// opening double quote is skipped.
std::u16string FilePart(const std::u16string& path);
