// Running vidcrunch.exe on Windows as the tool does: one command line, standard output in a pipe
// read as raw bytes, standard error in another. Kept apart from the AVI library's headers, whose
// Windows-named types would clash with <windows.h>.
#pragma once

#include <string>

struct WindowsRun {
    unsigned long exitCode = 0xFFFFFFFF;  // unknown until the program has ended
    std::string out;                      // standard output, byte for byte
    std::string err;
};

// Starts `program` (quoted) with `parameters` after one blank, waits for its end and gives what
// it wrote. With `closeOutputAtOnce`, our end of the output pipe is closed right after the
// start, so every write the program makes to it fails.
WindowsRun RunWindowsProgram(const std::u16string& program, const std::u16string& parameters,
                             bool closeOutputAtOnce = false);
