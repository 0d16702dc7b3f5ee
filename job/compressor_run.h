// Running the companion compressor: the command line every program gives it, the reading of
// its progress lines, and the watch over it until it ends.
#pragma once

#include <cstdint>
#include <string>

#include "job/job_progress.h"
#include "job/job_request.h"

// The compressor program: vidcrunch.exe beside our own executable.
std::u16string DefaultCompressorProgram();

// The compressor's parameter text: the input and the output in quotation marks, "/console",
// then each setting that is given. The text has no escapes, so a path holding a quotation mark
// can't be passed: the result is then empty.
std::u16string CompressorCommandLine(const std::u16string& input, const std::u16string& output,
                                     const CompressorSettings& settings);

// The percentage one progress line gives: the line without blanks at its ends, read as an
// integer (its longest valid start) and kept to 32 bits. false for an empty or blank line,
// which moves nothing.
bool CompressorPercent(const std::u16string& line, int32_t* percent);

struct CompressorRun {
    bool started = false;
    bool stopped = false;  // the progress asked for a stop and the compressor was ended
    int32_t exitCode = -1;
};

// Starts `program` with `parameters` in `folder` (empty: our current folder), hidden, its output
// in a pipe, and watches it until it has ended and its output is read: every whole line that
// has arrived goes to `progress` as a percentage, and between looks `progress` may ask for a
// stop. A compressor that writes no line break holds nothing up.
CompressorRun RunCompressorProgram(const std::u16string& program, const std::u16string& parameters,
                                   const std::u16string& folder, JobProgress& progress);
