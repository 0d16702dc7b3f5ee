// vidcrunch's start on Windows: a wide entry point (linked with -municode), whose parameters are
// split from the command line by the tool's own rule rather than by the C runtime's. The tool
// builds our command line by that rule ("input" "output" /console), and the runtime's rule
// would read a backslash before a quote as an escape: "C:\clips\" would swallow the quote.
#include <windows.h>

#include "support/program_parameters.h"
#include "support/unicode_text.h"
#include "vidcrunch/program_start.h"

int wmain(int, wchar_t**) {
    // Writing to a pipe whose reader has gone fails the write; there is no signal to ignore.
    const std::vector<std::u16string> tokens = SplitCommandLine(TextFromWide(::GetCommandLineW()));
    std::vector<std::string> arguments;
    // The first token is the program's own name.
    for (size_t i = 1; i < tokens.size(); ++i) arguments.push_back(ToUtf8(tokens[i]));
    return RunVidcrunch(arguments);
}
