// The compressor's progress on standard output: the percentage done as UTF-16LE decimal digits
// followed by CR LF, one line each time the whole percentage rises.
#pragma once

#include <cstdint>
#include <string>

// The bytes of one progress line for `percent` (clamped to 0..100).
std::string ProgressLine(int percent);

// What has been reported so far. `write` receives each line's bytes; null writes them to the
// standard output (WriteToStandardOutput).
struct ProgressReporter {
    int lastPercent = -1;
    void (*write)(const std::string& bytes) = nullptr;
};

// Reports `done` of `total` units of work. Prints a line only when the whole percentage rises,
// so a report never goes backwards. 100 is kept for ReportFinished: until the output is closed
// the work is not done, so this reports 99 at most.
void ReportProgress(ProgressReporter* reporter, int64_t done, int64_t total);

// Reports 100.
void ReportFinished(ProgressReporter* reporter);
