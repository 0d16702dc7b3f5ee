// What reframe-convert's start does differently on each platform. The entry point (main on
// Linux, wmain on Windows: program_start_linux.cpp, program_start_windows.cpp) hands the
// arguments as UTF-8 to RunConvertTool, which asks the console and the file system through the
// two functions below.
#pragma once

#include <string>
#include <vector>

// The whole program after its start: parses the arguments (after the program's own name),
// converts, and gives the exit code. In main.cpp.
int RunConvertTool(const std::vector<std::string>& arguments);

// Whether standard error is a terminal or console that a person watches, so that a progress
// bar redrawn in place is worth drawing there.
bool StandardErrorIsTerminal();

// Makes the folder `utf8Path`; true also when something bears the name already (what it is
// shows when the first file is written into it). false with the system's reason in `why`.
bool MakeOutputFolder(const std::string& utf8Path, std::string* why);
