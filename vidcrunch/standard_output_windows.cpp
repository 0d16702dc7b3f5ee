// The progress lines to the standard output handle. A pipe or a file gets the UTF-16LE bytes
// as they are, through WriteFile (no C runtime text mode to turn LF into CR LF); a console gets
// the same code units as text, through WriteConsoleW, so a person running the compressor by
// hand reads digits rather than bytes with a zero between them.
#include <windows.h>

#include <algorithm>

#include "vidcrunch/standard_output.h"

void WriteToStandardOutput(const std::string& utf16leBytes) {
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    // Started without standard output (detached, or a GUI parent that gave none).
    if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
    DWORD mode = 0;
    if (::GetConsoleMode(out, &mode)) {
        std::wstring text;
        for (size_t i = 0; i + 1 < utf16leBytes.size(); i += 2)
            text.push_back(static_cast<wchar_t>(static_cast<uint8_t>(utf16leBytes[i]) |
                                                static_cast<uint8_t>(utf16leBytes[i + 1]) << 8));
        DWORD written = 0;
        ::WriteConsoleW(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    size_t done = 0;
    while (done < utf16leBytes.size()) {
        DWORD put = 0;
        const auto want = static_cast<DWORD>(std::min<size_t>(utf16leBytes.size() - done, 1 << 20));
        // A reader that closed its end gives ERROR_NO_DATA or ERROR_BROKEN_PIPE: the line is
        // dropped, as SIGPIPE ignored makes it on Linux.
        if (!::WriteFile(out, utf16leBytes.data() + done, want, &put, nullptr) || put == 0) return;
        done += put;
    }
}
