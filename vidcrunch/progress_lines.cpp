#include "vidcrunch/progress_lines.h"

#include <algorithm>

#include "vidcrunch/standard_output.h"

namespace {

void Emit(ProgressReporter* reporter, int percent) {
    if (percent <= reporter->lastPercent) return;
    reporter->lastPercent = percent;
    std::string line = ProgressLine(percent);
    if (reporter->write)
        reporter->write(line);
    else
        WriteToStandardOutput(line);
}

}  // namespace

std::string ProgressLine(int percent) {
    percent = std::clamp(percent, 0, 100);
    std::string digits = std::to_string(percent) + "\r\n";
    std::string bytes;
    for (char c : digits) {
        bytes.push_back(c);
        bytes.push_back('\0');
    }
    return bytes;
}

void ReportProgress(ProgressReporter* reporter, int64_t done, int64_t total) {
    int percent = 0;
    if (total > 0 && done > 0) {
        int64_t clamped = std::min(done, total);
        // In long double, which holds every 64-bit count exactly and can't overflow at * 100; the
        // quotient lies in 0..100, so the truncation is defined.
        long double share =
            static_cast<long double>(clamped) * 100.0L / static_cast<long double>(total);
        percent = static_cast<int>(share);
    }
    Emit(reporter, std::min(percent, 99));
}

void ReportFinished(ProgressReporter* reporter) {
    Emit(reporter, 100);
}
