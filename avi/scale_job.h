// One frame-scaling task after its headers have been checked: the geometry that the reference
// and the optimised scalers share.
#pragma once

#include <cstddef>
#include <cstdint>

struct ScaleJob {
    const uint8_t* source;
    ptrdiff_t sourceStride;  // bytes from one stored row to the next
    int32_t sourceWidth;
    int32_t sourceHeight;
    uint8_t* destination;
    ptrdiff_t destinationStride;
    int32_t destinationWidth;
    int32_t destinationHeight;
    bool average;  // false: nearest pixel; true: area average / bilinear per axis
    // The destination rows to make, in stored order: a band of the frame, so that several
    // threads can share one frame. Every row comes out the same whichever band makes it.
    int32_t firstRow;
    int32_t endRow;
};

// Scales with exact integer arithmetic, one destination value at a time.
void ScaleImageReference(const ScaleJob& job);

// Scales with the row kernels of `kernels` (a SCALE_KERNELS_ level other than the reference).
// Returns false, with nothing written, when working memory can't be had.
bool ScaleImageFast(const ScaleJob& job, int kernels);
