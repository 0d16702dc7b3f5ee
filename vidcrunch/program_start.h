// vidcrunch's start, which each platform does its own way (program_start_linux.cpp,
// program_start_windows.cpp): the entry point gathers the arguments as UTF-8 and hands them to
// RunVidcrunch.
#pragma once

#include <string>
#include <vector>

// The whole program after its start: the arguments after the program's own name in, the exit
// code out (0 done, 1 compression failed, 2 bad arguments). In main.cpp.
int RunVidcrunch(const std::vector<std::string>& arguments);
