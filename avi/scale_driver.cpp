// The optimised scaler: walks the destination rows, works out which source rows each needs,
// and hands single rows to the kernels chosen for the processor.
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "avi/frame_scaler.h"
#include "avi/scale_job.h"
#include "avi/scale_rows.h"

namespace {

// The kernels for one processor level. The vector kernels along and across rows serve paired
// filters only; the plain ones serve every filter.
struct Kernels {
    NearestRowFn nearest = ScaleRowNearest_C;
    bool nearestChunks = false;  // ScaleRowNearestChunks_AVX2 where the tables allow
    HorizontalRowFn horizontal = ScaleRowHorizontal_Any_C;  // for paired filters
    HorizontalRowFn horizontalTwoTap = nullptr;   // for two-tap filters, where there is one
    VerticalRowFn vertical = ScaleRowVertical_C;  // for paired filters
    ExactHorizontalFn exactHorizontal = ScaleRowExactHorizontal_Any_C;
    ExactVerticalFn exactVertical = ScaleRowExactVertical_Any_C;
};

Kernels ChooseKernels(int level) {
    Kernels k;
#if defined(REFRAME_SCALE_X86)
    if (level >= SCALE_KERNELS_SSE2) {
        k.horizontal = ScaleRowHorizontalAny<ScaleRowHorizontal_SSE2>;
        k.vertical = ScaleRowVertical_SSE2;
        k.exactVertical = ScaleRowExactVerticalAny<ScaleRowExactVertical_SSE2>;
    }
    if (level >= SCALE_KERNELS_AVX2) {
        k.nearest = ScaleRowNearest_AVX2;
        k.nearestChunks = true;
        k.horizontal = ScaleRowHorizontalAny<ScaleRowHorizontal_AVX2>;
        k.horizontalTwoTap = ScaleRowHorizontalAny<ScaleRowHorizontalTwoTap_AVX2>;
        k.vertical = ScaleRowVertical_AVX2;
        k.exactHorizontal = ScaleRowExactHorizontalAny<ScaleRowExactHorizontal_AVX2>;
        k.exactVertical = ScaleRowExactVerticalAny<ScaleRowExactVertical_AVX2>;
    }
#else
    (void)level;
#endif
    return k;
}

void ScaleNearest(const ScaleJob& job, const Kernels& kernels) {
    // Every frame of a stream has the same sizes: each thread keeps its last frame's tables.
    thread_local std::vector<int32_t> columns;
    thread_local NearestChunks chunks;
    if (chunks.sourceSize != job.sourceWidth || chunks.destinationSize != job.destinationWidth) {
        try {
            BuildNearestMap(job.sourceWidth, job.destinationWidth, columns);
            BuildNearestChunks(columns, job.sourceWidth, chunks);
        } catch (...) {
            chunks = NearestChunks{};  // never leave half-built tables for the next frame
            throw;
        }
    }
    std::vector<int32_t> rows;
    BuildNearestMap(job.sourceHeight, job.destinationHeight, rows);
    const bool byChunks = kernels.nearestChunks && chunks.usable;
    const size_t rowBytes = 3 * static_cast<size_t>(job.destinationWidth);
    // Rows are stored bottom first, but the centre rule counts from the top of the picture.
    auto sourceRow = [&](int32_t y) {
        return job.sourceHeight - 1 - rows[job.destinationHeight - 1 - y];
    };
    for (int32_t y = job.firstRow; y < job.endRow; ++y) {
        const int32_t row = sourceRow(y);
        uint8_t* out = job.destination + y * job.destinationStride;
        const uint8_t* in = job.source + row * job.sourceStride;
        if (byChunks) {
            // Even a repeated row is made again: the kernel's aligned stores outpace a copy,
            // which has to read the row back as well (measured on 640x480 -> 1280x960).
            ScaleRowNearestChunks_AVX2(in, out, chunks, columns.data());
        } else if (y > job.firstRow && sourceRow(y - 1) == row) {
            // A repeated source row comes out the same: copy the row just made (in this band:
            // the row before the band may not be made yet).
            std::memcpy(out, out - job.destinationStride, rowBytes);
        } else {
            kernels.nearest(in, out, columns.data(), job.destinationWidth, job.sourceWidth);
        }
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
    HorizontalRowFn horizontal = across.paired ? kernels.horizontal : ScaleRowHorizontal_Any_C;
    if (across.twoTap && kernels.horizontalTwoTap != nullptr) horizontal = kernels.horizontalTwoTap;
    const VerticalRowFn vertical = down.paired ? kernels.vertical : ScaleRowVertical_C;
    const bool window = vertical != ScaleRowVertical_C;

    // Horizontally averaged source rows, kept in a ring: the rows one output row needs form a
    // window that only moves forward, so each source row is averaged once.
    const int32_t ringSize = window ? 2 * down.pairSteps : down.maxTaps;
    const size_t ringStride = IntermediateValues(job.destinationWidth);
    std::vector<int16_t> ring(ringStride * ringSize);
    std::vector<int32_t> ringRow(ringSize, -1);
    std::vector<const int16_t*> rows(ringSize);

    for (int32_t y = job.firstRow; y < job.endRow; ++y) {
        const int32_t first = window ? down.pairStart[y] : down.start[y];
        const int32_t taps = window ? 2 * down.pairSteps : down.count[y];
        for (int32_t t = 0; t < taps; ++t) {
            const int32_t row = first + t;
            const int32_t slot = row % ringSize;
            int16_t* line = ring.data() + slot * ringStride;
            if (ringRow[slot] != row) {
                horizontal(job.source + row * job.sourceStride, line, across, 0,
                           job.destinationWidth);
                ringRow[slot] = row;
            }
            rows[t] = line;
        }
        vertical(rows.data(), down, y, job.destination + y * job.destinationStride,
                 job.destinationWidth);
    }
}

// Halving, shrinking to two thirds, doubling or keeping the size on each axis: rows are summed
// along with small integer weights as they arrive, pairs of those sums are weighed across rows,
// and one exact division gives the rounded average. Returns false for other sizes.
bool ScaleExactly(const ScaleJob& job, const Kernels& kernels) {
    const int32_t downKind = ExactScaleKind(job.sourceHeight, job.destinationHeight);
    if (downKind == SCALE_EXACT_NONE) return false;
    thread_local ExactRowFilter across;
    if (across.sourceSize != job.sourceWidth || across.destinationSize != job.destinationWidth) {
        BuildExactRowFilter(job.sourceWidth, job.destinationWidth, across);
    }
    if (across.kind == SCALE_EXACT_NONE) return false;
    const int32_t total = ExactKindTotal(across.kind) * ExactKindTotal(downKind);
    const int32_t values = 3 * job.destinationWidth;

    // Two summed rows at most feed an output row and the pair only moves forward. The vector
    // kernel may write one value past its last lane: keep room for it.
    const size_t lineValues = static_cast<size_t>(values) + 16;
    std::vector<uint16_t> ring(2 * lineValues);
    int32_t ringRow[2] = {-1, -1};
    auto summedRow = [&](int32_t row) {
        uint16_t* line = ring.data() + (row % 2) * lineValues;
        if (ringRow[row % 2] != row) {
            kernels.exactHorizontal(job.source + row * job.sourceStride, line, across, values);
            ringRow[row % 2] = row;
        }
        return line;
    };
    for (int32_t y = job.firstRow; y < job.endRow; ++y) {
        const ExactTaps t = ExactAxisTaps(downKind, y, job.sourceHeight);
        const uint16_t* a = summedRow(t.first);
        const uint16_t* b = t.w1 ? summedRow(t.first + 1) : a;
        kernels.exactVertical(a, b, t.w0, t.w1, total, job.destination + y * job.destinationStride,
                              values);
    }
    return true;
}

}  // namespace

bool ScaleImageFast(const ScaleJob& job, int level) {
    const Kernels kernels = ChooseKernels(level);
    try {
        if (job.average) {
            if (!ScaleExactly(job, kernels)) ScaleAveraged(job, kernels);
        } else {
            ScaleNearest(job, kernels);
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}
