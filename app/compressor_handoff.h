// Hands the finished, uncompressed destination to the companion compressor, shows its
// progress, and when it succeeds puts the compressed copy in the destination's place.
#pragma once

#include <string>

#include "job/job_request.h"

void RunCompressor();

// Tells the user what became of the compression, when it did not succeed: the compressor
// could not be started, or it failed and the uncompressed file was kept.
void ShowCompressorProblem(JobProblem problem);

// The compressor program: beside our own executable.
std::u16string CompressorProgramPath();

// Test programs put a stand-in compressor in its place; an empty path restores the real one.
void SetCompressorProgramForTests(const std::u16string& path);
