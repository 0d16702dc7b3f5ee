// Plain versions of the picture scaler's row kernels: the reference the vector ones match.
#include "avi/plane_rows.h"

#include <algorithm>

namespace {

// The vector kernel's tables: the pair weights packed, and the pairs by groups of 8.
void PackPairs(PlaneAxis& axis) {
    const ScaleFilter& f = axis.filter;
    const int32_t destination = f.destinationSize;
    axis.packedPairs.clear();
    axis.groupBase.clear();
    axis.groupIndex.clear();
    axis.groupOdd.clear();
    if (!f.paired || f.pairSteps != 1) return;
    axis.packedPairs.resize(static_cast<size_t>(destination));
    for (int32_t d = 0; d < destination; ++d) {
        const auto w0 = static_cast<uint16_t>(f.pairWeight[2 * static_cast<size_t>(d)]);
        const auto w1 = static_cast<uint16_t>(f.pairWeight[2 * static_cast<size_t>(d) + 1]);
        axis.packedPairs[static_cast<size_t>(d)] = w0 | (uint32_t{w1} << 16);
    }
    const int32_t groups = destination / 8;
    axis.groupBase.assign(static_cast<size_t>(groups), 0);
    axis.groupIndex.assign(static_cast<size_t>(groups) * 8, 0);
    axis.groupOdd.assign(static_cast<size_t>(groups) * 8, 0);
    for (int32_t g = 0; g < groups; ++g) {
        const int32_t base = f.pairStart[8 * static_cast<size_t>(g)];
        axis.groupBase[g] = base;
        for (int32_t i = 0; i < 8; ++i) {
            const int32_t offset = f.pairStart[8 * static_cast<size_t>(g) + i] - base;
            if (offset < 0 || offset > 14) {  // beyond one window: no groups
                axis.groupBase.clear();
                axis.groupIndex.clear();
                axis.groupOdd.clear();
                return;
            }
            axis.groupIndex[8 * static_cast<size_t>(g) + i] = offset >> 1;
            axis.groupOdd[8 * static_cast<size_t>(g) + i] = (offset & 1) ? -1 : 0;
        }
    }
}

}  // namespace

void BuildPlaneAxis(int32_t source, int32_t destination, PlaneAxis& axis) {
    BuildAveragingFilter(source, destination, axis.filter);
    PackPairs(axis);
}

void BuildChromaAxis(const PlaneAxis& luma, int shift, int32_t chromaSize, PlaneAxis& chroma) {
    const ScaleFilter& from = luma.filter;
    ScaleFilter& f = chroma.filter;
    const int32_t destination = from.destinationSize;
    f = ScaleFilter{};
    f.sourceSize = chromaSize;
    f.destinationSize = destination;
    f.wide = from.wide;
    f.start.assign(static_cast<size_t>(destination), 0);
    f.count.assign(static_cast<size_t>(destination), 0);
    for (int32_t d = 0; d < destination; ++d) {
        const int32_t first = from.start[d] >> shift;
        const int32_t last = (from.start[d] + from.count[d] - 1) >> shift;
        f.start[d] = first;
        f.count[d] = last - first + 1;
        f.maxTaps = std::max(f.maxTaps, f.count[d]);
    }
    const size_t stride = static_cast<size_t>(f.maxTaps);
    if (f.wide)
        f.weightWide.assign(stride * destination, 0);
    else
        f.weight14.assign(stride * destination, 0);
    // A chroma sample stands for the luma samples it is paired with, so it takes the sum of
    // their weights; the weights of each destination sample still add up to one exactly.
    for (int32_t d = 0; d < destination; ++d) {
        for (int32_t t = 0; t < from.count[d]; ++t) {
            const size_t to = d * stride + (((from.start[d] + t) >> shift) - f.start[d]);
            const size_t at = static_cast<size_t>(d) * from.maxTaps + t;
            if (f.wide)
                f.weightWide[to] += from.weightWide[at];
            else
                f.weight14[to] = static_cast<int16_t>(f.weight14[to] + from.weight14[at]);
        }
    }
    f.pairSteps = (f.maxTaps + 1) / 2;
    const int32_t window = 2 * f.pairSteps;
    f.paired = !f.wide && chromaSize >= window;
    if (f.paired) {
        f.pairStart.assign(static_cast<size_t>(destination), 0);
        f.pairWeight.assign(static_cast<size_t>(window) * destination, 0);
        for (int32_t d = 0; d < destination; ++d) {
            const int32_t start = std::min(f.start[d], chromaSize - window);
            f.pairStart[d] = start;
            for (int32_t t = 0; t < f.count[d]; ++t)
                f.pairWeight[d * static_cast<size_t>(window) + (f.start[d] + t - start)] =
                    f.weight14[d * stride + t];
        }
    }
    PackPairs(chroma);
}

int PlaneAxisKind(const ScaleFilter& f) {
    if (f.wide) return PLANE_AXIS_OTHER;
    const int64_t source = f.sourceSize, destination = f.destinationSize;
    const bool same = source == destination && f.maxTaps == 1;
    const bool half = source == 2 * destination && f.maxTaps == 2;
    if (!same && !half) return PLANE_AXIS_OTHER;
    for (int32_t d = 0; d < f.destinationSize; ++d) {
        const size_t at = static_cast<size_t>(d) * f.maxTaps;
        const bool fits = same ? f.start[d] == d && f.count[d] == 1 && f.weight14[at] == 16384
                               : f.start[d] == 2 * d && f.count[d] == 2 && f.weight14[at] == 8192 &&
                                     f.weight14[at + 1] == 8192;
        if (!fits) return PLANE_AXIS_OTHER;
    }
    return same ? PLANE_AXIS_SAME : PLANE_AXIS_HALF;
}

void PlaneRowVertical_C(const uint8_t* const* rows, const ScaleFilter& down, int32_t d,
                        uint16_t* out, int32_t begin, int32_t width) {
    const int32_t taps = down.count[d];
    const size_t at = static_cast<size_t>(d) * down.maxTaps;
    if (down.wide) {
        constexpr int shift = SCALE_WIDE_WEIGHT_BITS - PLANE_FRACTION_BITS;
        for (int32_t x = begin; x < width; ++x) {
            int64_t sum = 0;
            for (int32_t t = 0; t < taps; ++t) sum += int64_t{down.weightWide[at + t]} * rows[t][x];
            out[x] = static_cast<uint16_t>((sum + (int64_t{1} << (shift - 1))) >> shift);
        }
        return;
    }
    // Each tap is rounded on its own, as a 16-bit rounding multiply gives it: the sample with
    // 7 fraction bits times the weight, over 2^15.
    for (int32_t x = begin; x < width; ++x) {
        int32_t sum = 0;
        for (int32_t t = 0; t < taps; ++t)
            sum += ((rows[t][x] << 7) * down.weight14[at + t] + (1 << 14)) >> 15;
        out[x] = static_cast<uint16_t>(sum);
    }
}

void PlaneRowHorizontal_C(const uint16_t* in, uint16_t* out, const PlaneAxis& across, int32_t begin,
                          int32_t end) {
    const ScaleFilter& f = across.filter;
    if (f.wide) {
        constexpr int shift = SCALE_WIDE_WEIGHT_BITS + PLANE_FRACTION_BITS - 3;
        for (int32_t d = begin; d < end; ++d) {
            const size_t at = static_cast<size_t>(d) * f.maxTaps;
            const uint16_t* from = in + f.start[d];
            int64_t sum = 0;
            for (int32_t t = 0; t < f.count[d]; ++t) sum += int64_t{f.weightWide[at + t]} * from[t];
            out[d] = static_cast<uint16_t>((sum + (int64_t{1} << (shift - 1))) >> shift);
        }
        return;
    }
    constexpr int shift = SCALE_WEIGHT_BITS + PLANE_FRACTION_BITS - 3;
    for (int32_t d = begin; d < end; ++d) {
        const size_t at = static_cast<size_t>(d) * f.maxTaps;
        const uint16_t* from = in + f.start[d];
        int32_t sum = 0;
        for (int32_t t = 0; t < f.count[d]; ++t) sum += f.weight14[at + t] * from[t];
        out[d] = static_cast<uint16_t>((sum + (1 << (shift - 1))) >> shift);
    }
}

void ConvertYuvRow_C(const uint16_t* y, const uint16_t* u, const uint16_t* v, uint8_t* bgr,
                     const YuvToBgr& k, int32_t begin, int32_t width) {
    for (int32_t x = begin; x < width; ++x) YuvToBgrPixel(k, y[x], u[x], v[x], bgr + 3 * x);
}
