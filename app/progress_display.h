// The shell's progress report during a job: names the stream in the status line, moves the
// progress bar to the share of the stream that is done or to the compressor's percentage, and
// lets the window handle one pending event so it stays responsive.
#pragma once

#include <cstdint>
#include <string>

#include "job/job_progress.h"

// Status lines are written only for the first positions of a stream; later calls only move
// the bar, which keeps long videos from repainting the text on every frame.
constexpr int32_t STATUS_LIMIT = 255;

int32_t OnProgress(int32_t streamType, int32_t streamIndex, int32_t current, int32_t total);

// "Processing stream #<index>" and the suffix for the stream's kind.
std::u16string StatusTextFor(int32_t streamType, int32_t streamIndex);
// The bar position for `current` of `total`: 100 / total * current, truncated toward zero.
int32_t ProgressPercentage(int32_t current, int32_t total);

// The window as a job's progress. The job ignores what the window did meanwhile, except a
// request to close it while the compressor runs: a compressor that never ends must not keep
// the user from quitting, so that close stops it and marks the program for quitting.
class WindowProgress : public JobProgress {
  public:
    void Stream(int32_t type, int32_t index, int32_t current, int32_t total) override;
    void CompressorStarted(uint32_t processId) override;
    void Compressing(int32_t percent) override;
    bool StopAsked() override;
    void CompressorEnded(bool stopped) override;
};
