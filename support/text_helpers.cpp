#include "support/text_helpers.h"

#include <algorithm>

std::u16string IntToText(int64_t value) {
    if (value == 0) return u"0";
    // Work on the unsigned magnitude so the most negative value needs no special case.
    uint64_t magnitude = static_cast<uint64_t>(value);
    if (value < 0) magnitude = 0 - magnitude;
    char16_t digits[20];
    int count = 0;
    while (magnitude != 0) {
        digits[count++] = static_cast<char16_t>(u'0' + magnitude % 10);
        magnitude /= 10;
    }
    std::u16string text;
    text.reserve(count + 1);
    if (value < 0) text.push_back(u'-');
    while (count > 0) text.push_back(digits[--count]);
    return text;
}

namespace {

// Value of c as a digit of base, or -1 when it is none.
int DigitValue(char16_t c, unsigned base) {
    int digit = -1;
    if (c >= u'0' && c <= u'9')
        digit = c - u'0';
    else if (c >= u'A' && c <= u'F')
        digit = c - u'A' + 10;
    else if (c >= u'a' && c <= u'f')
        digit = c - u'a' + 10;
    return digit >= 0 && static_cast<unsigned>(digit) < base ? digit : -1;
}

}  // namespace

int64_t TextToInt(const std::u16string& text) {
    size_t i = 0;
    const size_t n = text.size();
    while (i < n && (text[i] == u' ' || text[i] == u'\t')) ++i;
    bool negative = false;
    if (i < n && (text[i] == u'-' || text[i] == u'+')) {
        negative = text[i] == u'-';
        ++i;
    }
    unsigned base = 10;
    if (i < n && text[i] == u'$') {
        base = 16;
        ++i;
    } else if (i < n && text[i] == u'%') {
        base = 2;
        ++i;
    }
    // Unsigned arithmetic wraps by definition; the final conversion back is modular in C++20.
    uint64_t value = 0;
    for (; i < n; ++i) {
        const int digit = DigitValue(text[i], base);
        if (digit < 0) break;
        value = value * base + static_cast<uint64_t>(digit);
    }
    if (negative) value = 0 - value;
    return static_cast<int64_t>(value);
}

int32_t TruncateToInt(double value) {
    constexpr double kTwoTo63 = 9223372036854775808.0;
    int64_t whole;
    if (value != value) {
        whole = 0;  // NaN
    } else if (value >= kTwoTo63) {
        whole = INT64_MAX;
    } else if (value < -kTwoTo63) {
        whole = INT64_MIN;
    } else {
        whole = static_cast<int64_t>(value);  // in range: truncates toward zero
    }
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(whole)));
}

std::u16string TrimSpaces(const std::u16string& text) {
    const size_t first = text.find_first_not_of(u' ');
    if (first == std::u16string::npos) return {};
    const size_t last = text.find_last_not_of(u' ');
    return text.substr(first, last - first + 1);
}

int TextEquals(const std::u16string& a, const std::u16string& b) {
    return a == b ? 1 : 0;
}

std::u16string ReplaceAll(const std::u16string& text, const std::u16string& find,
                          const std::u16string& replacement) {
    if (find.empty()) return text;
    // Count first so the result is built in one allocation of the exact size.
    size_t occurrences = 0;
    for (size_t at = text.find(find); at != std::u16string::npos;
         at = text.find(find, at + find.size())) {
        ++occurrences;
    }
    if (occurrences == 0) return text;
    std::u16string result;
    result.reserve(text.size() - occurrences * find.size() + occurrences * replacement.size());
    size_t copied = 0;
    for (size_t at = text.find(find); at != std::u16string::npos; at = text.find(find, copied)) {
        result.append(text, copied, at - copied);
        result.append(replacement);
        copied = at + find.size();
    }
    result.append(text, copied, std::u16string::npos);
    return result;
}

namespace {

bool IsSeparator(char16_t c) {
    return c == u'/' || c == u'\\';
}

size_t PartStart(const std::u16string& path) {
    return !path.empty() && path[0] == u'"' ? 1 : 0;
}

}  // namespace

std::u16string DirectoryPart(const std::u16string& path) {
    const size_t start = PartStart(path);
    size_t end = 0;
    for (size_t i = 0; i < path.size() && path[i] != u'|'; ++i) {
        if (IsSeparator(path[i])) end = i + 1;
    }
    if (end <= start) return {};
    return path.substr(start, end - start);
}

std::u16string FilePart(const std::u16string& path) {
    size_t start = PartStart(path);
    for (size_t i = 0; i < path.size(); ++i) {
        if (IsSeparator(path[i])) start = std::max(start, i + 1);
    }
    const size_t quote = path.find(u'"', start);
    const size_t end = quote == std::u16string::npos ? path.size() : quote;
    return path.substr(start, end - start);
}
