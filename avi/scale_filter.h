// Per-axis tables that drive the row kernels: which source pixels feed each destination pixel
// and with what fixed-point weights, worked out once per frame size.
#pragma once

#include <cstdint>
#include <vector>

// Weights sum to 1 << SCALE_WEIGHT_BITS for the kernels that use 16-bit weights, and to
// 1 << SCALE_WIDE_WEIGHT_BITS for the wide kernels that serve filters with many taps.
constexpr int SCALE_WEIGHT_BITS = 14;
constexpr int SCALE_WIDE_WEIGHT_BITS = 30;

// Filters with more taps than this lose too much to 16-bit weights; they take wide kernels.
constexpr int SCALE_MAX_NARROW_TAPS = 16;

// Intermediate rows hold values with this many fraction bits (0..255 becomes 0..32640).
constexpr int SCALE_FRACTION_BITS = 7;

struct ScaleFilter {
    int32_t sourceSize = 0;
    int32_t destinationSize = 0;
    int32_t maxTaps = 0;
    bool wide = false;  // maxTaps > SCALE_MAX_NARROW_TAPS: use weightWide

    // Exact taps: destination d reads count[d] pixels from start[d], with weights at
    // d * maxTaps (unused slots are 0).
    std::vector<int32_t> start;
    std::vector<int32_t> count;
    std::vector<int16_t> weight14;
    std::vector<int32_t> weightWide;

    // The same taps as a window of 2 * pairSteps pixels that stays inside the source, for the
    // vector kernels that take pixels two at a time; zero weights pad it. Usable only when
    // `paired` is true.
    bool paired = false;
    int32_t pairSteps = 0;
    std::vector<int32_t> pairStart;   // first pixel of each window
    std::vector<int16_t> pairWeight;  // d * 2 * pairSteps + tap
    // Step-major copies for horizontal vector kernels: entry s * destinationSize + d holds the
    // byte offset 3 * (pairStart[d] + 2 * s) and the weight pair of that step repeated 4 times.
    std::vector<int32_t> pairOffset;
    std::vector<int16_t> pairVector;
    // Weight of the window's second pixel in 1/32768ths when there are 2 taps at most.
    std::vector<int16_t> secondWeight15;
};

// Builds the averaging filter (identity, area average or bilinear) from `source` to
// `destination` pixels. Throws std::bad_alloc when memory runs out.
void BuildAveragingFilter(int32_t source, int32_t destination, ScaleFilter& filter);

// Source pixel for each destination pixel when keeping whole pixels, counted from the same edge.
void BuildNearestMap(int32_t source, int32_t destination, std::vector<int32_t>& map);
