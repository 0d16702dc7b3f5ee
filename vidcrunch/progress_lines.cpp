#include "vidcrunch/progress_lines.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

void WriteToStandardOutput(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(1, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    // Progress is advice to whoever reads it: a closed or broken pipe doesn't stop the work.
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

void Emit(ProgressReporter* reporter, int percent) {
  if (percent <= reporter->lastPercent) return;
  reporter->lastPercent = percent;
  std::string line = ProgressLine(percent);
  if (reporter->write) reporter->write(line);
  else WriteToStandardOutput(line);
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
    // Computed in steps that can't overflow for any count of frames or chunks.
    percent = static_cast<int>(clamped / total * 100 + (clamped % total) * 100 / total);
  }
  Emit(reporter, std::min(percent, 99));
}

void ReportFinished(ProgressReporter* reporter) { Emit(reporter, 100); }
