#include "avifile/decoder/comb_detector.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// The frame is judged in blocks, so that one small moving thing counts as much as it should
// against a large still background. Measured on 720x576 DV (testsrc2 moving, woven into
// fields either way; the same shot progressive; fine stripes and small text panning): in
// combed frames 23 or more blocks fit one pairing by more than 2:1 and one at most the other;
// in progressive ones at most one block does, and stripes none.
constexpr int kBlock = 32;
constexpr int kRatio = 2;         // how much better one pairing must fit, in a block
constexpr int kFloor = 4;         // and by at least this much a pixel: noise is not evidence
constexpr int kBlocksNeeded = 3;  // blocks for a verdict
constexpr int kOneSidedness = 4;  // and at least this many times those for the other order
// A combed block's own lines fit between each other about as badly as the better pairing's
// (both are half a frame's motion apart). A progressive block's own lines fit far better (its
// fields are one moment): sharp text moving up or down can make one pairing fit twice as well
// as the other by chance, but never as well as the block itself, so such a block is no
// evidence.
constexpr int kOwnShare = 2;  // own misfit times this must reach the better pairing's

// How badly `line` fits between `up` and `down`: |(up + down) / 2 - line| summed along a row,
// the mean rounded up as the processor's byte average rounds it. Judging needs no more
// precision than that, and the vector form of it is two instructions for 16 pixels.
uint32_t Misfit(const uint8_t* up, const uint8_t* down, const uint8_t* line, int count) {
    uint32_t sum = 0;
    int x = 0;
#if defined(__SSE2__)
    __m128i sums = _mm_setzero_si128();
    for (; x + 16 <= count; x += 16) {
        const __m128i mean =
            _mm_avg_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(up + x)),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(down + x)));
        sums = _mm_add_epi64(
            sums, _mm_sad_epu8(mean, _mm_loadu_si128(reinterpret_cast<const __m128i*>(line + x))));
    }
    sum = static_cast<uint32_t>(_mm_cvtsi128_si32(sums) +
                                _mm_cvtsi128_si32(_mm_unpackhi_epi64(sums, sums)));
#endif
    for (; x < count; ++x)
        sum += static_cast<uint32_t>(std::abs(((up[x] + down[x] + 1) >> 1) - line[x]));
    return sum;
}

}  // namespace

FieldOrder DetectCombing(LumaPlane previous, LumaPlane current, LumaPlane next, int width,
                         int height) {
    if (width <= 0 || height < 8 || current.rows == nullptr) return FieldOrder::kProgressive;
    if (previous.rows == nullptr && next.rows == nullptr) return FieldOrder::kProgressive;
    const int columns = std::max(1, width / kBlock);
    const int bands = std::max(1, (height - 4) / kBlock);
    // Per block, the misfit of each pairing. The second field's lines are the ones that fit
    // when taken from the frame before (its second field is as near in time as the next
    // frame's first field), the first field's when taken from the frame after. So where the
    // top field came first, even lines from the next frame and odd ones from the previous fit;
    // where the bottom field did, the opposite. Without one neighbour each pairing keeps only
    // the lines the other one gives, which still tell the orders apart.
    std::vector<uint32_t> topFirst(static_cast<size_t>(columns)),
        bottomFirst(static_cast<size_t>(columns)), own(static_cast<size_t>(columns));
    int topBlocks = 0, bottomBlocks = 0;
    for (int band = 0; band < bands; ++band) {
        std::fill(topFirst.begin(), topFirst.end(), 0);
        std::fill(bottomFirst.begin(), bottomFirst.end(), 0);
        std::fill(own.begin(), own.end(), 0);
        const int firstRow = 2 + band * kBlock;
        const int endRow = band + 1 == bands ? height - 2 : firstRow + kBlock;
        int rowsCounted = 0;  // for each pairing
        for (int y = firstRow; y < endRow; ++y) {
            const uint8_t* up = current.rows + (y - 1) * current.stride;
            const uint8_t* down = current.rows + (y + 1) * current.stride;
            const bool even = (y & 1) == 0;
            // Line y taken from a neighbour, block by block, into the pairing that takes it.
            auto add = [&](LumaPlane neighbour, std::vector<uint32_t>& side) {
                if (neighbour.rows == nullptr) return;
                const uint8_t* line = neighbour.rows + y * neighbour.stride;
                for (int column = 0; column < columns; ++column) {
                    const int x = column * kBlock;
                    side[column] += Misfit(up + x, down + x, line + x,
                                           column + 1 == columns ? width - x : kBlock);
                }
            };
            add(previous, even ? bottomFirst : topFirst);
            add(next, even ? topFirst : bottomFirst);
            add(current, own);
            ++rowsCounted;
        }
        const int64_t ownRows = rowsCounted;
        // Without one neighbour, each pairing has only every other line of those looked at.
        if (previous.rows == nullptr || next.rows == nullptr) rowsCounted /= 2;
        for (int column = 0; column < columns; ++column) {
            const int count = column + 1 == columns ? width - column * kBlock : kBlock;
            const int64_t floor = int64_t{kFloor} * count * rowsCounted;
            const int64_t top = topFirst[column], bottom = bottomFirst[column];
            // Per line, so that a pairing short of a neighbour compares alike.
            const bool ownAsBad =
                kOwnShare * int64_t{own[column]} * rowsCounted >= std::min(top, bottom) * ownRows;
            // The pairing that fits is the one with the smaller misfit.
            if (ownAsBad && bottom - top > floor && bottom > kRatio * top) ++topBlocks;
            if (ownAsBad && top - bottom > floor && top > kRatio * bottom) ++bottomBlocks;
        }
    }
    if (topBlocks >= kBlocksNeeded && topBlocks >= kOneSidedness * bottomBlocks)
        return FieldOrder::kTopFirst;
    if (bottomBlocks >= kBlocksNeeded && bottomBlocks >= kOneSidedness * topBlocks)
        return FieldOrder::kBottomFirst;
    return FieldOrder::kProgressive;
}
