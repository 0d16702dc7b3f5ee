// The optimised scaler: walks the destination rows, works out which source rows each needs,
// and hands single rows to the kernels chosen for the processor.
#include <cstring>
#include <new>
#include <vector>

#include "avi/frame_scaler.h"
#include "avi/scale_job.h"
#include "avi/scale_rows.h"

namespace {

struct Kernels {
    NearestRowFn nearest = ScaleRowNearest_C;
    HorizontalRowFn horizontal = nullptr;  // vector kernel for paired filters, or none
    HorizontalRowFn horizontalTwoTap = nullptr;  // for two-tap filters, or none
    VerticalRowFn vertical = nullptr;      // vector kernel for paired filters, or none
};

Kernels ChooseKernels(int level) {
    Kernels k;
#if defined(REFRAME_SCALE_X86)
    if (level >= SCALE_KERNELS_SSE2) {
        k.horizontal = ScaleRowHorizontal_SSE2;
        k.vertical = ScaleRowVertical_SSE2;
    }
    if (level >= SCALE_KERNELS_AVX2) {
        k.nearest = ScaleRowNearest_AVX2;
        k.horizontal = ScaleRowHorizontal_AVX2;
        k.horizontalTwoTap = ScaleRowHorizontalTwoTap_AVX2;
        k.vertical = ScaleRowVertical_AVX2;
    }
#else
    (void)level;
#endif
    return k;
}

void ScaleNearest(const ScaleJob& job, const Kernels& kernels) {
    std::vector<int32_t> columns, rows;
    BuildNearestMap(job.sourceWidth, job.destinationWidth, columns);
    BuildNearestMap(job.sourceHeight, job.destinationHeight, rows);
    const size_t rowBytes = 3 * static_cast<size_t>(job.destinationWidth);
    int32_t previous = -1;
    for (int32_t y = 0; y < job.destinationHeight; ++y) {
        // Rows are stored bottom first, but the centre rule counts from the top of the picture.
        const int32_t row = job.sourceHeight - 1 - rows[job.destinationHeight - 1 - y];
        uint8_t* out = job.destination + y * job.destinationStride;
        if (row == previous) {
            // A repeated source row comes out the same: copy the row just made.
            std::memcpy(out, out - job.destinationStride, rowBytes);
        } else {
            kernels.nearest(job.source + row * job.sourceStride, out, columns.data(),
                            job.destinationWidth, job.sourceWidth);
        }
        previous = row;
    }
}

// Every frame of a stream has the same sizes, so each thread keeps the tables of its last frame
// (one per axis) instead of working them out again for each one.
const ScaleFilter& AveragingFilter(int axis, int32_t source, int32_t destination) {
    thread_local ScaleFilter last[2];
    ScaleFilter& f = last[axis];
    if (f.sourceSize == source && f.destinationSize == destination && !f.start.empty()) return f;
    try {
        BuildAveragingFilter(source, destination, f);
    } catch (...) {
        f = ScaleFilter{};  // never leave half-built tables for the next frame
        throw;
    }
    return f;
}

void ScaleAveraged(const ScaleJob& job, const Kernels& kernels) {
    const ScaleFilter& across = AveragingFilter(0, job.sourceWidth, job.destinationWidth);
    const ScaleFilter& down = AveragingFilter(1, job.sourceHeight, job.destinationHeight);
    HorizontalRowFn horizontal = across.paired ? kernels.horizontal : nullptr;
    if (across.twoTap && kernels.horizontalTwoTap) horizontal = kernels.horizontalTwoTap;
    const VerticalRowFn vertical = down.paired && kernels.vertical ? kernels.vertical
                                                                   : ScaleRowVertical_C;
    const bool window = vertical != ScaleRowVertical_C;

    // Horizontally averaged source rows, kept in a ring: the rows one output row needs form a
    // window that only moves forward, so each source row is averaged once.
    const int32_t ringSize = window ? 2 * down.pairSteps : down.maxTaps;
    const size_t ringStride = IntermediateValues(job.destinationWidth);
    std::vector<int16_t> ring(ringStride * ringSize);
    std::vector<int32_t> ringRow(ringSize, -1);
    std::vector<const int16_t*> rows(ringSize);

    for (int32_t y = 0; y < job.destinationHeight; ++y) {
        const int32_t first = window ? down.pairStart[y] : down.start[y];
        const int32_t taps = window ? 2 * down.pairSteps : down.count[y];
        for (int32_t t = 0; t < taps; ++t) {
            const int32_t row = first + t;
            const int32_t slot = row % ringSize;
            int16_t* line = ring.data() + slot * ringStride;
            if (ringRow[slot] != row) {
                const uint8_t* in = job.source + row * job.sourceStride;
                int32_t done = horizontal ? horizontal(in, line, across, 0, job.destinationWidth) : 0;
                ScaleRowHorizontal_C(in, line, across, done, job.destinationWidth);
                ringRow[slot] = row;
            }
            rows[t] = line;
        }
        vertical(rows.data(), down, y, job.destination + y * job.destinationStride,
                 job.destinationWidth);
    }
}

}  // namespace

bool ScaleImageFast(const ScaleJob& job, int level) {
    const Kernels kernels = ChooseKernels(level);
    try {
        if (job.average) {
            ScaleAveraged(job, kernels);
        } else {
            ScaleNearest(job, kernels);
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}
