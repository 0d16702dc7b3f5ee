// The reference scaler: every destination value straight from its definition, in exact
// integer arithmetic. Slow, and kept that way so the optimised kernels have a fixed target.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "avi/scale_job.h"

namespace {

// The source pixels that feed one destination pixel along one axis, each with an integer
// weight; the value is sum(weight * pixel) / denominator.
struct Taps {
    std::vector<int32_t> index;
    std::vector<int64_t> weight;
    int64_t denominator = 1;
};

Taps AxisTaps(int64_t source, int64_t destination, int64_t d) {
    Taps taps;
    if (source == destination) {
        taps.index.push_back(static_cast<int32_t>(d));
        taps.weight.push_back(1);
    } else if (destination < source) {
        // Area: measured in units of 1 / (source * destination) of the picture, destination
        // pixel d spans [d * source, (d + 1) * source) and source pixel k spans
        // [k * destination, (k + 1) * destination).
        const int64_t begin = d * source;
        const int64_t end = begin + source;
        for (int64_t k = begin / destination; k * destination < end; ++k) {
            const int64_t low = std::max(begin, k * destination);
            const int64_t high = std::min(end, (k + 1) * destination);
            taps.index.push_back(static_cast<int32_t>(k));
            taps.weight.push_back(high - low);
        }
        taps.denominator = source;
    } else {
        // Bilinear: the sampling position (d + 0.5) * source / destination - 0.5 is
        // position / (2 * destination).
        const int64_t position = (2 * d + 1) * source - destination;
        const int64_t scale = 2 * destination;
        if (position <= 0) {
            taps.index.push_back(0);
            taps.weight.push_back(1);
        } else if (position / scale >= source - 1) {
            taps.index.push_back(static_cast<int32_t>(source - 1));
            taps.weight.push_back(1);
        } else {
            const int64_t k = position / scale;
            const int64_t fraction = position % scale;
            taps.index.push_back(static_cast<int32_t>(k));
            taps.weight.push_back(scale - fraction);
            taps.index.push_back(static_cast<int32_t>(k + 1));
            taps.weight.push_back(fraction);
            taps.denominator = scale;
        }
    }
    return taps;
}

// Pixel under the centre of destination pixel d, counted from the same edge.
int64_t NearestIndex(int64_t source, int64_t destination, int64_t d) {
    return (2 * d + 1) * source / (2 * destination);
}

}  // namespace

void ScaleImageReference(const ScaleJob& job) {
    const int64_t sw = job.sourceWidth, sh = job.sourceHeight;
    const int64_t dw = job.destinationWidth, dh = job.destinationHeight;
    for (int64_t y = job.firstRow; y < job.endRow; ++y) {
        uint8_t* out = job.destination + y * job.destinationStride;
        if (!job.average) {
            // Rows are stored bottom first but chosen counting from the top of the picture.
            const int64_t row = sh - 1 - NearestIndex(sh, dh, dh - 1 - y);
            const uint8_t* in = job.source + row * job.sourceStride;
            for (int64_t x = 0; x < dw; ++x) {
                const int64_t column = NearestIndex(sw, dw, x);
                for (int c = 0; c < 3; ++c) out[3 * x + c] = in[3 * column + c];
            }
            continue;
        }
        const Taps rows = AxisTaps(sh, dh, y);
        for (int64_t x = 0; x < dw; ++x) {
            const Taps columns = AxisTaps(sw, dw, x);
            const int64_t denominator = rows.denominator * columns.denominator;
            for (int c = 0; c < 3; ++c) {
                int64_t sum = 0;
                for (size_t j = 0; j < rows.index.size(); ++j) {
                    const uint8_t* in = job.source + rows.index[j] * job.sourceStride;
                    for (size_t k = 0; k < columns.index.size(); ++k) {
                        sum += rows.weight[j] * columns.weight[k] * in[3 * columns.index[k] + c];
                    }
                }
                // Nearest integer, halves upward.
                out[3 * x + c] = static_cast<uint8_t>((2 * sum + denominator) / (2 * denominator));
            }
        }
    }
}
