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
    // Step-major copies for horizontal vector kernels: entry s * pairStride +
    // PairTableSlot(d) holds the byte offset 3 * (pairStart[d] + 2 * s) and that step's weight
    // pair three times (for blue, green, red) followed by a zero pair.
    int32_t pairStride = 0;  // destinationSize rounded up to a multiple of 8
    std::vector<int32_t> pairOffset;
    std::vector<int16_t> pairVector;
    // Two-tap form for the horizontal kernel that serves two destination pixels per 16 source
    // bytes: block j (pixels 2j and 2j + 1) reads 16 bytes at blockOffset and picks each
    // pixel's first and second source pixel with two byte shuffles; blockFraction holds the
    // second pixel's weight in 1/32768ths per value. Tables list blocks in groups of 4 in the
    // order 0 2 1 3. Usable only when `twoTap` is true.
    bool twoTap = false;
    int32_t blockCount = 0;  // destinationSize / 2 rounded up to a multiple of 4
    std::vector<int32_t> blockOffset;
    std::vector<int8_t> blockFirst;      // 16 shuffle bytes per block
    std::vector<int8_t> blockSecond;     // 16 shuffle bytes per block
    std::vector<int16_t> blockFraction;  // 8 per block
    // Weight of the window's second pixel in 1/32768ths when there are 2 taps at most.
    std::vector<int16_t> secondWeight15;
};

// Within each group of 8 destination pixels the vector tables list pixels in the order
// 0 4 1 5 2 6 3 7, the order in which the AVX2 kernel pairs them in registers.
constexpr int32_t PairTableSlot(int32_t d) {
    return (d & ~7) | ((d & 3) << 1) | ((d & 4) >> 2);
}

// Within each group of 4 blocks of the two-tap tables the order is 0 2 1 3.
constexpr int32_t BlockTableSlot(int32_t j) {
    return (j & ~3) | ((j & 1) << 1) | ((j & 2) >> 1);
}

// Builds the averaging filter (identity, area average or bilinear) from `source` to
// `destination` pixels. Throws std::bad_alloc when memory runs out.
void BuildAveragingFilter(int32_t source, int32_t destination, ScaleFilter& filter);

// Source pixel for each destination pixel when keeping whole pixels, counted from the same edge.
void BuildNearestMap(int32_t source, int32_t destination, std::vector<int32_t>& map);

// Shrinking by exactly 2:1 or 3:2, doubling, or keeping the size weighs source pixels by whole,
// half or quarter pixels only. Scaled up, those weights are small integers (1 and 1 of 2;
// 2 and 1 of 3; 3 and 1 of 4; 1 of 1), so a weighted sum of bytes over both axes stays at most
// 16 * 255 and fits 16 bits without rounding: the result then needs one exact division.
constexpr int32_t SCALE_EXACT_NONE = 0;
constexpr int32_t SCALE_EXACT_SAME = 1;
constexpr int32_t SCALE_EXACT_HALF = 2;        // area: 2 source pixels per destination pixel
constexpr int32_t SCALE_EXACT_TWO_THIRDS = 3;  // area: 3 source pixels per 2 destination pixels
constexpr int32_t SCALE_EXACT_DOUBLE = 4;      // bilinear: 2 destination pixels per source pixel

// Which of the kinds above maps `source` to `destination` pixels, or SCALE_EXACT_NONE.
int32_t ExactScaleKind(int32_t source, int32_t destination);

// Sum of the weights of every destination pixel of an axis of `kind`.
constexpr int32_t ExactKindTotal(int32_t kind) {
    return kind == SCALE_EXACT_SAME         ? 1
           : kind == SCALE_EXACT_HALF       ? 2
           : kind == SCALE_EXACT_TWO_THIRDS ? 3
           : kind == SCALE_EXACT_DOUBLE     ? 4
                                            : 0;
}

// Destination pixel d of an axis of `kind` is w0 * p[first] + w1 * p[first + 1] over
// ExactKindTotal(kind); w1 is 0 where one pixel is taken whole.
struct ExactTaps {
    int32_t first, w0, w1;
};
// The taps away from the edges, which repeat along the axis. Doubling's first pixel reads
// pixel -1 and its last the pixel past the end: ExactAxisTaps holds those to the edge.
inline ExactTaps ExactInteriorTaps(int32_t kind, int32_t d) {
    if (kind == SCALE_EXACT_SAME) return {d, 1, 0};
    if (kind == SCALE_EXACT_HALF) return {2 * d, 1, 1};
    const int32_t m = d / 2;
    // Doubling samples source positions m - 1/4 (even d) and m + 1/4 (odd d).
    if (kind == SCALE_EXACT_DOUBLE) return d % 2 == 0 ? ExactTaps{m - 1, 1, 3} : ExactTaps{m, 3, 1};
    // Two thirds: even d covers 1.5 pixels from 3m, odd d 1.5 pixels ending at 3m + 3.
    return d % 2 == 0 ? ExactTaps{3 * m, 2, 1} : ExactTaps{3 * m + 1, 1, 2};
}
inline ExactTaps ExactAxisTaps(int32_t kind, int32_t d, int32_t source) {
    const ExactTaps t = ExactInteriorTaps(kind, d);
    if (t.first < 0) return {0, ExactKindTotal(kind), 0};
    if (t.w1 != 0 && t.first + 1 >= source) return {source - 1, ExactKindTotal(kind), 0};
    return t;
}

// Tables for the vector kernel of the exact horizontal pass. Each 128-bit lane loads 16 source
// bytes, pairs the two bytes every output value needs with one byte shuffle and weighs them
// with one multiply-add of bytes, giving laneWords values (7 or 8; a lane's store may spill
// one value into the next lane's). The lanes repeat every 6: a block reads blockBytes source
// bytes and makes blockWords values, lane l at laneOffset[l] and laneWord[l] from the block's
// start. The tables hold the interior taps; when the first block's would read before the row
// (doubling), the vector kernel starts at the second, value vectorBegin. Usable only when
// `vector` is true.
struct ExactRowFilter {
    int32_t kind = SCALE_EXACT_NONE;
    int32_t sourceSize = 0;
    int32_t destinationSize = 0;
    bool vector = false;
    int32_t laneWords = 0;
    int32_t blockWords = 0;
    int32_t blockBytes = 0;
    int32_t vectorBegin = 0;
    int32_t laneOffset[6] = {};
    int32_t laneWord[6] = {};
    int8_t shuffle[6][16] = {};
    int8_t weight[6][16] = {};
};

void BuildExactRowFilter(int32_t source, int32_t destination, ExactRowFilter& filter);

// Nearest-pixel rows made 16 bytes at a time: output bytes [16i, 16i + 16) are byte shuffles
// of the source bytes at offset[i]. When each 16 output bytes come from within 16 source bytes,
// as they always do when enlarging, one shuffle (shuffle[16i..]) of one window does; when they
// come from within 32, as when shrinking to half or more (`wide`), shuffle[32i..] picks from
// the first 16 bytes and shuffle[32i + 16..] from the next 16, each zeroing the other's bytes.
// The tables cover the row's whole 16-byte chunks; `usable` is false when some chunk needs
// more than 32 source bytes.
struct NearestChunks {
    int32_t sourceSize = 0;
    int32_t destinationSize = 0;
    bool usable = false;
    bool wide = false;
    std::vector<int32_t> offset;
    std::vector<int8_t> shuffle;
};

// Builds the chunks from the column map of BuildNearestMap. Throws std::bad_alloc when memory
// runs out.
void BuildNearestChunks(const std::vector<int32_t>& map, int32_t source, NearestChunks& chunks);
