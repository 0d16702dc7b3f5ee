#include "support/crt_arguments.h"

std::u16string QuoteCrtArgument(std::u16string_view argument) {
    if (!argument.empty() && argument.find_first_of(u" \t\n\v\"") == std::u16string_view::npos)
        return std::u16string(argument);
    std::u16string quoted = u"\"";
    size_t backslashes = 0;
    for (char16_t c : argument) {
        if (c == u'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes count as escapes only before a quote: there they are doubled, and one
        // more escapes the quote itself. Elsewhere they stand as they are.
        quoted.append(c == u'"' ? backslashes * 2 + 1 : backslashes, u'\\');
        quoted += c;
        backslashes = 0;
    }
    quoted.append(backslashes * 2, u'\\');  // before the closing quote
    quoted += u'"';
    return quoted;
}

std::u16string JoinCrtArguments(const std::vector<std::u16string>& arguments) {
    std::u16string line;
    for (const std::u16string& argument : arguments) {
        if (!line.empty()) line += u' ';
        line += QuoteCrtArgument(argument);
    }
    return line;
}
