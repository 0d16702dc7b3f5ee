// The picture scaler: per destination row, the planes' samples are picked or averaged (across
// rows first, over the source's width, then along the row) and the row is converted.
#include "avi/picture_scaler.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "avi/frame_scaler.h"
#include "avi/plane_rows.h"

namespace {

// The kernels for the processor. The one-pass kernel serves planes whose axes keep or halve
// the size; where there is none, two passes do.
struct Kernels {
    PlaneVerticalFn vertical = PlaneRowVertical_Any_C;
    PlaneHorizontalFn horizontal = PlaneRowHorizontal_Any_C;
    ConvertYuvRowFn convert = ConvertYuvRow_Any_C;
    PlaneBoxFn box = nullptr;
};

Kernels ChooseKernels() {
    Kernels k;
#if defined(REFRAME_PLANE_X86)
    if (GetScaleKernels() >= SCALE_KERNELS_AVX2) {
        k.vertical = PlaneRowVertical_Any_AVX2;
        k.horizontal = PlaneRowHorizontal_Any_AVX2;
        k.convert = ConvertYuvRow_Any_AVX2;
        k.box = PlaneRowBox_Any_AVX2;
    }
#endif
    return k;
}

// Per-thread tables and rows. Every frame of a stream has the same sizes, so the tables are
// made once per stream, not per frame or per band.
struct PlaneTables {
    int32_t sourceWidth = -1, sourceHeight = -1, width = -1, height = -1;
    bool average = false;
    PlaneAxis across, down;
    int acrossKind = PLANE_AXIS_OTHER;  // of the averaging filters
    int downKind = PLANE_AXIS_OTHER;
    std::vector<int32_t> columns, rows;  // keeping whole pixels: source column and row
};

void Classify(PlaneTables& t) {
    t.acrossKind = PlaneAxisKind(t.across.filter);
    t.downKind = PlaneAxisKind(t.down.filter);
}

// Makes the tables for these sizes unless they are made already; true when they were made now.
bool Prepare(PlaneTables& t, int32_t sourceWidth, int32_t sourceHeight, int32_t width,
             int32_t height, bool average) {
    if (t.sourceWidth == sourceWidth && t.sourceHeight == sourceHeight && t.width == width &&
        t.height == height && t.average == average)
        return false;
    t.sourceWidth = -1;  // never leave half-built tables for the next frame
    if (average) {
        BuildPlaneAxis(sourceWidth, width, t.across);
        BuildPlaneAxis(sourceHeight, height, t.down);
        Classify(t);
    } else {
        BuildNearestMap(sourceWidth, width, t.columns);
        BuildNearestMap(sourceHeight, height, t.rows);
    }
    t.sourceWidth = sourceWidth;
    t.sourceHeight = sourceHeight;
    t.width = width;
    t.height = height;
    t.average = average;
    return true;
}

// The two passes over the rows `taps` of destination row `d`: across them, then along the row.
void BothPasses(const std::vector<const uint8_t*>& taps, const PlaneTables& t, int32_t d,
                std::vector<uint16_t>& across, uint16_t* out, const Kernels& k) {
    k.vertical(taps.data(), t.down.filter, d, across.data(), t.sourceWidth);
    k.horizontal(across.data(), out, t.across, t.width);
}

// One plane's destination row `d` (counted from the top), averaged, with 3 fraction bits. The
// samples of a packed plane (step above 1) are first gathered into rows of their own.
void AverageRow(const uint8_t* plane, int stride, int step, const PlaneTables& t, int32_t d,
                std::vector<const uint8_t*>& taps, std::vector<uint8_t>& gathered,
                std::vector<uint16_t>& across, uint16_t* out, const Kernels& k) {
    const ScaleFilter& down = t.down.filter;
    const int32_t count = down.count[d];
    if (step != 1) {
        const auto width = static_cast<size_t>(t.sourceWidth);
        for (int32_t i = 0; i < count; ++i) {
            const uint8_t* from = plane + static_cast<ptrdiff_t>(down.start[d] + i) * stride;
            uint8_t* to = gathered.data() + i * width;
            for (size_t x = 0; x < width; ++x) to[x] = from[x * step];
            taps[i] = to;
        }
        BothPasses(taps, t, d, across, out, k);
        return;
    }
    for (int32_t i = 0; i < count; ++i)
        taps[i] = plane + static_cast<ptrdiff_t>(down.start[d] + i) * stride;
    if (k.box != nullptr && t.acrossKind != PLANE_AXIS_OTHER && t.downKind != PLANE_AXIS_OTHER) {
        // Whole and half steps on both axes: one pass.
        k.box({taps.data(), t.across, t.acrossKind, down, t.downKind, d, t.sourceWidth},
              across.data(), out, t.width);
        return;
    }
    BothPasses(taps, t, d, across, out, k);
}

}  // namespace

bool ScalePictureRows(const YuvPicture& p, uint8_t* output, int32_t width, int32_t height,
                      ptrdiff_t stride, bool average, int32_t firstRow, int32_t endRow) {
    if (!output || !p.planes[0] || !p.planes[1] || !p.planes[2]) return false;
    if (p.width <= 0 || p.height <= 0 || width <= 0 || height <= 0 ||
        p.width > SCALE_MAX_DIMENSION || p.height > SCALE_MAX_DIMENSION ||
        width > SCALE_MAX_DIMENSION || height > SCALE_MAX_DIMENSION)
        return false;
    if (p.chromaShiftX < 0 || p.chromaShiftX > 2 || p.chromaShiftY < 0 || p.chromaShiftY > 2)
        return false;
    for (const int step : p.steps)
        if (step < 1 || step > 4) return false;
    // Chroma of packed planes is read with the chroma step: all chroma planes share it.
    if (p.steps[1] != p.steps[2]) return false;
    if (stride < 3 * static_cast<ptrdiff_t>(width)) return false;
    firstRow = std::max(firstRow, 0);
    endRow = std::min(endRow, height);
    if (firstRow >= endRow) return true;

    const int32_t chromaWidth = (p.width + (1 << p.chromaShiftX) - 1) >> p.chromaShiftX;
    const int32_t chromaHeight = (p.height + (1 << p.chromaShiftY) - 1) >> p.chromaShiftY;
    const Kernels k = ChooseKernels();
    const size_t rowBytes = 3 * static_cast<size_t>(width);
    try {
        thread_local PlaneTables luma, chroma;
        thread_local std::vector<uint16_t> y, u, v, across;
        thread_local std::vector<const uint8_t*> taps;
        thread_local std::vector<uint8_t> gathered;  // tap rows of packed planes
        // Chroma goes with the luma samples it is paired with: keeping whole pixels, each picked
        // luma sample brings its chroma; averaging, each chroma sample weighs as much as its
        // luma samples together.
        const bool lumaMade = Prepare(luma, p.width, p.height, width, height, average);
        if (average && (lumaMade || chroma.sourceWidth != chromaWidth ||
                        chroma.sourceHeight != chromaHeight)) {
            chroma.sourceWidth = -1;
            BuildChromaAxis(luma.across, p.chromaShiftX, chromaWidth, chroma.across);
            BuildChromaAxis(luma.down, p.chromaShiftY, chromaHeight, chroma.down);
            chroma.sourceWidth = chromaWidth;
            chroma.sourceHeight = chromaHeight;
            chroma.width = width;
            chroma.height = height;
            chroma.average = true;
            Classify(chroma);
        }
        // The vector kernels may store up to 15 samples past the width and read past it.
        const size_t widest = static_cast<size_t>(std::max(p.width, width)) + PLANE_ROW_SLACK;
        if (y.size() < widest) {
            y.assign(widest, 0);
            u.assign(widest, 0);
            v.assign(widest, 0);
            across.assign(widest, 0);
        }
        if (average) {
            const size_t most =
                static_cast<size_t>(std::max(luma.down.filter.maxTaps, chroma.down.filter.maxTaps));
            if (taps.size() < most) taps.resize(most);
            const bool packed = p.steps[0] != 1 || p.steps[1] != 1 || p.steps[2] != 1;
            if (packed && gathered.size() < most * static_cast<size_t>(p.width))
                gathered.resize(most * static_cast<size_t>(p.width));
        }

        for (int32_t row = firstRow; row < endRow; ++row) {
            const int32_t d = height - 1 - row;  // the tables count from the top
            uint8_t* out = output + static_cast<ptrdiff_t>(row) * stride;
            bool converted = false;  // the tail's rows come converted
            if (average) {
                AverageRow(p.planes[0], p.strides[0], p.steps[0], luma, d, taps, gathered, across,
                           y.data(), k);
                AverageRow(p.planes[1], p.strides[1], p.steps[1], chroma, d, taps, gathered, across,
                           u.data(), k);
                AverageRow(p.planes[2], p.strides[2], p.steps[2], chroma, d, taps, gathered, across,
                           v.data(), k);
            } else if (p.tail != nullptr && luma.rows[d] >= p.tailFirst) {
                // A row the decoder's conversion treats on its own: its pixels as converted.
                const uint8_t* from =
                    p.tail + static_cast<ptrdiff_t>(luma.rows[d] - p.tailFirst) * 3 * p.width;
                for (int32_t x = 0; x < width; ++x)
                    std::memcpy(out + 3 * x, from + 3 * static_cast<ptrdiff_t>(luma.columns[x]), 3);
                converted = true;
            } else {
                const int32_t r = luma.rows[d];
                const uint8_t* ys = p.planes[0] + static_cast<ptrdiff_t>(r) * p.strides[0];
                const ptrdiff_t chromaRow = static_cast<ptrdiff_t>(r >> p.chromaShiftY);
                const uint8_t* us = p.planes[1] + chromaRow * p.strides[1];
                const uint8_t* vs = p.planes[2] + chromaRow * p.strides[2];
                const ptrdiff_t lumaStep = p.steps[0], chromaStep = p.steps[1];
                for (int32_t x = 0; x < width; ++x) {
                    const int32_t c = luma.columns[x];
                    const ptrdiff_t chroma = (c >> p.chromaShiftX) * chromaStep;
                    y[x] = static_cast<uint16_t>(ys[c * lumaStep] << 3);
                    u[x] = static_cast<uint16_t>(us[chroma] << 3);
                    v[x] = static_cast<uint16_t>(vs[chroma] << 3);
                }
            }
            if (!converted) k.convert(y.data(), u.data(), v.data(), out, p.toBgr, width);
            if (static_cast<size_t>(stride) > rowBytes)
                std::memset(out + rowBytes, 0, static_cast<size_t>(stride) - rowBytes);
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}
