// reframe-convert's start on Windows: a wide entry point (linked with -municode), so that
// names outside the ANSI code page arrive whole, and a console that shows UTF-8.
#include <windows.h>

#include "convert/program_start.h"
#include "support/unicode_text.h"

namespace {

// The system's own words for an error, without the line break it ends them with.
std::string SystemMessage(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message(text != nullptr ? text : L"", length);
    if (text != nullptr) ::LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                                message.back() == L' ' || message.back() == L'.'))
        message.pop_back();
    if (message.empty()) return "error " + std::to_string(error);
    return FromWide(message);
}

}  // namespace

bool StandardErrorIsTerminal() {
    // Only a console has a mode; a pipe or a file given as standard error has none.
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

bool MakeOutputFolder(const std::string& utf8Path, std::string* why) {
    if (::CreateDirectoryW(ToWide(utf8Path).c_str(), nullptr)) return true;
    const DWORD error = ::GetLastError();
    if (error == ERROR_ALREADY_EXISTS) return true;
    *why = SystemMessage(error);
    return false;
}

int wmain(int argc, wchar_t** argv) {
    // Names and messages go out as UTF-8 bytes; the console shows them right only in its UTF-8
    // code page. The console is shared with the shell that started us, so its page goes back.
    const UINT consolePage = ::GetConsoleOutputCP();
    ::SetConsoleOutputCP(CP_UTF8);
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) arguments.push_back(FromWide(argv[i]));
    const int code = RunConvertTool(arguments);
    if (consolePage != 0) ::SetConsoleOutputCP(consolePage);
    return code;
}
