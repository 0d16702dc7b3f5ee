// Hands the finished, uncompressed destination to the companion compressor, shows its
// progress, and when it succeeds puts the compressed copy in the destination's place.
#pragma once

#include <string>

void RunCompressor();

// Where the compressor writes its copy of `destination`: beside it, with a 2 before every dot
// of the file name (a name without a dot gets the 2 at its end). When that name is taken
// (a user's own file, the source itself) a free one in the same folder is chosen.
std::u16string CompressedCopyPath(const std::u16string& destination);

// The compressor program: beside our own executable.
std::u16string CompressorProgramPath();

// Test programs put a stand-in compressor in its place; an empty path restores the real one.
void SetCompressorProgramForTests(const std::u16string& path);
