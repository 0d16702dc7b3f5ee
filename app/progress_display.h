// The shell's progress report during a conversion: names the stream in the status line, moves
// the progress bar to the share of the stream that is done, and lets the window handle one
// pending event so it stays responsive.
#pragma once

#include <cstdint>
#include <string>

// Status lines are written only for the first positions of a stream; later calls only move
// the bar, which keeps long videos from repainting the text on every frame.
constexpr int32_t STATUS_LIMIT = 255;

int32_t OnProgress(int32_t streamType, int32_t streamIndex, int32_t current, int32_t total);

// "Processing stream #<index>" and the suffix for the stream's kind.
std::u16string StatusTextFor(int32_t streamType, int32_t streamIndex);
// The bar position for `current` of `total`: 100 / total * current, truncated toward zero.
int32_t ProgressPercentage(int32_t current, int32_t total);
