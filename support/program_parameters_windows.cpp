// The program's start on Windows: the parameters come from the command-line text that
// GetCommandLineW gives, read afresh on every call, and the executable's path from
// GetModuleFileNameW.
#include "support/program_parameters.h"

#include <windows.h>

#include <string>

#include "support/unicode_text.h"

void SetProgramArguments(int, char**) {
    // The C runtime's argv holds the parameters in the ANSI code page, which loses every
    // character outside it; NextParameter reads the UTF-16 command line itself instead.
}

int32_t ParameterIsText(int32_t) {
    return 1;  // A UTF-16 command line holds nothing but text.
}

std::u16string NextParameter() {
    const wchar_t* commandLine = GetCommandLineW();
    if (commandLine == nullptr || parametersTaken < 0) return {};
    // Token 0 is the program's own name; parameter k is token k + 1.
    std::vector<std::u16string> tokens = SplitCommandLine(TextFromWide(commandLine));
    const size_t wanted = static_cast<size_t>(parametersTaken) + 1;
    if (wanted >= tokens.size()) return {};
    ++parametersTaken;
    return std::move(tokens[wanted]);
}

std::u16string OwnExecutablePath() {
    // MAX_PATH characters suffice but for a long-path folder; then the buffer grows until the
    // whole path fits (GetModuleFileNameW cuts it and fills the buffer when it does not).
    std::wstring buffer(MAX_PATH, L'\0');
    DWORD length = 0;
    for (;;) {
        length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return {};
        if (length < buffer.size()) break;
        if (buffer.size() >= 32768) return {};
        buffer.resize(buffer.size() * 2);
    }
    buffer.resize(length);
    // An executable started through its extended-length name reports it so; the plain form
    // names the same file and is what every path operation expects.
    if (buffer.starts_with(L"\\\\?\\UNC\\"))
        buffer.replace(0, 8, L"\\\\");
    else if (buffer.starts_with(L"\\\\?\\"))
        buffer.erase(0, 4);
    return TextFromWide(buffer);
}
