// Where the compressor's progress lines go: the bytes of each line (UTF-16LE), unchanged, to the
// standard output. Progress is advice to whoever reads it, so a reader that has gone away (a
// closed pipe) or no standard output at all never stops the compression.
#pragma once

#include <string>

// Writes `utf16leBytes` (an even count) to the standard output, as far as it is taken.
void WriteToStandardOutput(const std::string& utf16leBytes);
