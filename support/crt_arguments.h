// Quoting an argument list into one command line that the Microsoft C runtime (and
// CommandLineToArgvW) splits back into the very same arguments, as a program reading its
// arguments through main's or wmain's argv on Windows receives them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// One argument as it must stand in the command line: unchanged when it is not empty and holds
// no space, tab, line feed, vertical tab or double quote; else in double quotes, with each
// quote escaped by a backslash and the backslashes that precede a quote (or the closing one)
// doubled.
std::u16string QuoteCrtArgument(std::u16string_view argument);

// The arguments quoted and joined by single spaces. The first one is the program's name,
// which the runtime splits by a simpler rule: it must hold no double quote.
std::u16string JoinCrtArguments(const std::vector<std::u16string>& arguments);
