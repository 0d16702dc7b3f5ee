// Per-axis tables for the row kernels: exact tap weights, rounded to fixed point so that every
// destination pixel's weights still sum to exactly one.
#include "avi/scale_filter.h"

#include <algorithm>

namespace {

// Walks the taps of one destination pixel; `visit` gets (pixel, numerator) for each tap and
// the result is the denominator. Kept as a template so the tap count is not bounded.
template <typename Visit>
int64_t ForEachTap(int64_t source, int64_t destination, int64_t d, Visit visit) {
    if (source == destination) {
        visit(d, 1);
        return 1;
    }
    if (destination < source) {
        // Area average in units where destination pixel d spans [d * source, (d + 1) * source)
        // and source pixel k spans [k * destination, (k + 1) * destination).
        const int64_t begin = d * source;
        const int64_t end = begin + source;
        for (int64_t k = begin / destination; k * destination < end; ++k) {
            visit(k, std::min(end, (k + 1) * destination) - std::max(begin, k * destination));
        }
        return source;
    }
    // Bilinear at position / (2 * destination), clamped to the edge pixels.
    const int64_t position = (2 * d + 1) * source - destination;
    const int64_t scale = 2 * destination;
    if (position <= 0) {
        visit(0, 1);
        return 1;
    }
    const int64_t k = position / scale;
    if (k >= source - 1) {
        visit(source - 1, 1);
        return 1;
    }
    visit(k, scale - position % scale);
    visit(k + 1, position % scale);
    return scale;
}

// Rounds a running total of numerators to fixed point; differences of consecutive results are
// the tap weights, so they sum to exactly 1 << bits and each is off by less than one unit.
int64_t RoundedShare(int64_t cumulative, int64_t denominator, int bits) {
    return ((cumulative << (bits + 1)) + denominator) / (2 * denominator);
}

// Two destination pixels share one 16-byte read when both pairs lie within it: the second
// pixel's pair may start at most 3 pixels after the first's.
void BuildTwoTapBlocks(ScaleFilter& f) {
    const int32_t size = f.destinationSize;
    f.twoTap = f.pairSteps == 1;
    for (int32_t d = 1; f.twoTap && d < size; ++d) {
        if ((d & 1) && f.pairStart[d] - f.pairStart[d - 1] > 3) f.twoTap = false;
    }
    if (!f.twoTap) return;
    f.blockCount = ((size + 1) / 2 + 3) / 4 * 4;
    f.blockOffset.assign(f.blockCount, 0);
    f.blockFirst.assign(static_cast<size_t>(f.blockCount) * 16, -128);
    f.blockSecond.assign(static_cast<size_t>(f.blockCount) * 16, -128);
    f.blockFraction.assign(static_cast<size_t>(f.blockCount) * 8, 0);
    for (int32_t j = 0; 2 * j < size; ++j) {
        const size_t slot = BlockTableSlot(j);
        const int32_t base = f.pairStart[2 * j];
        f.blockOffset[slot] = 3 * base;
        for (int half = 0; half < 2 && 2 * j + half < size; ++half) {
            const int32_t d = 2 * j + half;
            const int32_t at = 3 * (f.pairStart[d] - base);
            for (int c = 0; c < 3; ++c) {
                // Word lanes 4 * half + c: the byte into the low half, zero into the high half.
                f.blockFirst[slot * 16 + 8 * half + 2 * c] = static_cast<int8_t>(at + c);
                f.blockSecond[slot * 16 + 8 * half + 2 * c] = static_cast<int8_t>(at + 3 + c);
                f.blockFraction[slot * 8 + 4 * half + c] = f.secondWeight15[d];
            }
        }
    }
}

}  // namespace

void BuildAveragingFilter(int32_t source, int32_t destination, ScaleFilter& f) {
    f.sourceSize = source;
    f.destinationSize = destination;
    f.start.assign(destination, 0);
    f.count.assign(destination, 0);
    f.maxTaps = 0;
    for (int64_t d = 0; d < destination; ++d) {
        bool first = true;
        ForEachTap(source, destination, d, [&](int64_t k, int64_t) {
            if (first) f.start[d] = static_cast<int32_t>(k);
            first = false;
            ++f.count[d];
        });
        f.maxTaps = std::max(f.maxTaps, f.count[d]);
    }
    f.wide = f.maxTaps > SCALE_MAX_NARROW_TAPS;
    const size_t stride = f.maxTaps;
    f.weight14.assign(f.wide ? 0 : stride * destination, 0);
    f.weightWide.assign(f.wide ? stride * destination : 0, 0);

    f.pairSteps = (f.maxTaps + 1) / 2;
    const int32_t window = 2 * f.pairSteps;
    f.paired = !f.wide && source >= window;
    f.pairStart.assign(f.paired ? destination : 0, 0);
    f.pairWeight.assign(f.paired ? static_cast<size_t>(window) * destination : 0, 0);
    f.secondWeight15.assign(f.paired && window == 2 ? destination : 0, 0);

    for (int64_t d = 0; d < destination; ++d) {
        int64_t cumulative = 0, previous14 = 0, previousWide = 0;
        int t = 0;
        const int64_t denominator = ForEachTap(source, destination, d, [](int64_t, int64_t) {});
        const int32_t pairStart = f.paired ? std::min(f.start[d], source - window) : 0;
        if (f.paired) f.pairStart[d] = pairStart;
        ForEachTap(source, destination, d, [&](int64_t k, int64_t numerator) {
            cumulative += numerator;
            if (f.wide) {
                const int64_t now = RoundedShare(cumulative, denominator, SCALE_WIDE_WEIGHT_BITS);
                f.weightWide[d * stride + t] = static_cast<int32_t>(now - previousWide);
                previousWide = now;
            } else {
                const int64_t now = RoundedShare(cumulative, denominator, SCALE_WEIGHT_BITS);
                const auto w = static_cast<int16_t>(now - previous14);
                previous14 = now;
                f.weight14[d * stride + t] = w;
                if (f.paired) {
                    f.pairWeight[d * window + (k - pairStart)] = w;
                    if (window == 2 && k == pairStart + 1) {
                        const int64_t w15 = (numerator * 65536 + denominator) / (2 * denominator);
                        f.secondWeight15[d] = static_cast<int16_t>(std::min<int64_t>(w15, 32767));
                    }
                }
            }
            ++t;
        });
    }
    if (!f.paired) return;
    BuildTwoTapBlocks(f);
    f.pairStride = (destination + 7) / 8 * 8;
    f.pairOffset.assign(static_cast<size_t>(f.pairSteps) * f.pairStride, 0);
    f.pairVector.assign(static_cast<size_t>(f.pairSteps) * f.pairStride * 8, 0);
    for (int32_t s = 0; s < f.pairSteps; ++s) {
        for (int64_t d = 0; d < destination; ++d) {
            const size_t entry =
                static_cast<size_t>(s) * f.pairStride + PairTableSlot(static_cast<int32_t>(d));
            f.pairOffset[entry] = 3 * (f.pairStart[d] + 2 * s);
            for (int lane = 0; lane < 3; ++lane) {
                f.pairVector[entry * 8 + 2 * lane] = f.pairWeight[d * window + 2 * s];
                f.pairVector[entry * 8 + 2 * lane + 1] = f.pairWeight[d * window + 2 * s + 1];
            }
        }
    }
}

void BuildNearestMap(int32_t source, int32_t destination, std::vector<int32_t>& map) {
    map.resize(destination);
    for (int64_t d = 0; d < destination; ++d) {
        map[d] =
            static_cast<int32_t>((2 * d + 1) * source / (2 * static_cast<int64_t>(destination)));
    }
}

int32_t ExactScaleKind(int32_t source, int32_t destination) {
    const int64_t s = source, d = destination;
    if (s == d) return SCALE_EXACT_SAME;
    if (s == 2 * d) return SCALE_EXACT_HALF;
    if (2 * s == 3 * d) return SCALE_EXACT_TWO_THIRDS;
    if (2 * s == d) return SCALE_EXACT_DOUBLE;
    return SCALE_EXACT_NONE;
}

void BuildExactRowFilter(int32_t source, int32_t destination, ExactRowFilter& f) {
    f = ExactRowFilter{};
    f.kind = ExactScaleKind(source, destination);
    f.sourceSize = source;
    f.destinationSize = destination;
    if (f.kind == SCALE_EXACT_NONE) return;
    // Halving needs 17 bytes for 8 values at some phases, so its lanes make 7. A block of 3
    // lanes then covers whole pixels on both sides: 8 pixels (24 values) from 4, 8 or 12
    // source pixels for the others, 7 pixels from 14 for halving.
    f.laneWords = f.kind == SCALE_EXACT_HALF ? 7 : 8;
    const int32_t periodWords = 3 * f.laneWords;
    const int32_t periodPixels = periodWords / 3;
    const int32_t periodBytes = f.kind == SCALE_EXACT_SAME     ? 3 * periodPixels
                                : f.kind == SCALE_EXACT_HALF   ? 6 * periodPixels
                                : f.kind == SCALE_EXACT_DOUBLE ? 3 * periodPixels / 2
                                                               : 9 * periodPixels / 2;
    f.blockWords = 2 * periodWords;
    f.blockBytes = 2 * periodBytes;
    for (int32_t lane = 0; lane < 6; ++lane) {
        // Lanes 3..5 repeat lanes 0..2 one period on.
        const int32_t local = (lane % 3) * f.laneWords;
        const int32_t byteBase = (lane / 3) * periodBytes;
        int32_t lowest = 1 << 30, highest = -1;
        for (int32_t i = 0; i < f.laneWords; ++i) {
            const int32_t o = local + i;
            const ExactTaps t = ExactInteriorTaps(f.kind, o / 3);
            const int32_t at = byteBase + 3 * t.first + o % 3;
            lowest = std::min(lowest, at);
            highest = std::max(highest, t.w1 ? at + 3 : at);
        }
        if (highest - lowest >= 16) return;  // no vector form
        if (lowest < 0) f.vectorBegin = f.blockWords;
        f.laneOffset[lane] = lowest;
        f.laneWord[lane] = (lane / 3) * periodWords + local;
        for (int32_t i = 0; i < 8; ++i) {
            int8_t first = -128, second = -128, w0 = 0, w1 = 0;
            if (i < f.laneWords) {
                const int32_t o = local + i;
                const ExactTaps t = ExactInteriorTaps(f.kind, o / 3);
                const int32_t at = byteBase + 3 * t.first + o % 3 - lowest;
                first = static_cast<int8_t>(at);
                w0 = static_cast<int8_t>(t.w0);
                if (t.w1) {
                    second = static_cast<int8_t>(at + 3);
                    w1 = static_cast<int8_t>(t.w1);
                }
            }
            f.shuffle[lane][2 * i] = first;
            f.shuffle[lane][2 * i + 1] = second;
            f.weight[lane][2 * i] = w0;
            f.weight[lane][2 * i + 1] = w1;
        }
    }
    f.vector = true;
}

void BuildNearestChunks(const std::vector<int32_t>& map, int32_t source, NearestChunks& c) {
    const int32_t destination = static_cast<int32_t>(map.size());
    c.sourceSize = source;
    c.destinationSize = destination;
    c.usable = false;
    c.wide = false;
    const int64_t sourceBytes = 3 * static_cast<int64_t>(source);
    const int64_t count = 3 * static_cast<int64_t>(destination) / 16;
    auto from = [&](int64_t b) { return 3 * static_cast<int64_t>(map[b / 3]) + b % 3; };
    int64_t widest = 0;
    for (int64_t i = 0; i < count; ++i) {
        int64_t lowest = from(16 * i), highest = lowest;
        for (int64_t b = 16 * i; b < 16 * i + 16; ++b) {
            lowest = std::min(lowest, from(b));
            highest = std::max(highest, from(b));
        }
        widest = std::max(widest, highest - lowest + 1);
    }
    c.wide = widest > 16;
    const int64_t window = c.wide ? 32 : 16;
    if (widest > 32 || sourceBytes < window) return;
    const int64_t masks = c.wide ? 32 : 16;
    c.offset.assign(count, 0);
    c.shuffle.assign(masks * count, 0);
    for (int64_t i = 0; i < count; ++i) {
        int64_t lowest = from(16 * i);
        for (int64_t b = 16 * i; b < 16 * i + 16; ++b) lowest = std::min(lowest, from(b));
        // Near the row's end the window slides back so that the reads stay inside the row.
        const int64_t offset = std::min(lowest, sourceBytes - window);
        c.offset[i] = static_cast<int32_t>(offset);
        for (int64_t b = 0; b < 16; ++b) {
            const int64_t at = from(16 * i + b) - offset;
            if (c.wide) {
                c.shuffle[32 * i + b] = static_cast<int8_t>(at < 16 ? at : -128);
                c.shuffle[32 * i + 16 + b] = static_cast<int8_t>(at >= 16 ? at - 16 : -128);
            } else {
                c.shuffle[16 * i + b] = static_cast<int8_t>(at);
            }
        }
    }
    c.usable = true;
}
