// The frame scaler: stretches one decoded video frame, 24-bit device-independent bitmap rows,
// to the destination frame size, either keeping whole source pixels or averaging them.
#pragma once

#include <cstdint>

#include "avifile/avi_types.h"  // BITMAPINFOHEADER, BI_RGB

// Scales the rows at `pixels`, described by `sourceHeader`, into `output`, described by
// `destinationHeader`. Both sides are 24-bit BI_RGB rows: bottom row of the picture first, blue,
// green, red bytes, each row padded to a multiple of 4 bytes. Returns 0 always; a frame that
// can't be served leaves `output` as it was.
//
// antiAlias == 0 keeps whole source pixels (nearest neighbour). Destination column x takes
// source column floor((2x + 1) * sw / (2 * dw)), the pixel under its centre, and the same rule
// picks rows counted from the top of the picture. Every row uses the same column choice and
// the bytes are copied bit for bit.
//
// antiAlias != 0 averages, choosing the filter for each axis on its own:
//  - shrinking axis: the exact area average. Destination pixel d covers the source interval
//    [d * S / D, (d + 1) * S / D); each source pixel counts with the length it overlaps.
//  - enlarging axis: bilinear interpolation with pixel centres aligned, sampling source
//    position (d + 0.5) * S / D - 0.5; positions before the first or after the last pixel
//    centre take that edge pixel.
//  - axis of unchanged size: the pixels of that axis pass through.
// The result is the exact weighted sum of both axes' weights rounded to the nearest integer,
// halves upward. The optimised kernels compute it in fixed point and may differ from that
// exact value by 1 in a channel.
//
// When both sizes are unchanged the pixel bytes are copied as they are. In every case the
// padding bytes at the end of each destination row are set to 0.
//
// A frame can't be served, and `output` is not touched, when a pointer is null, either header
// is not 24-bit BI_RGB, a width or height is not positive or exceeds SCALE_MAX_DIMENSION, the
// destination's biSizeImage is smaller than its rows need, or working memory runs out.
int ScaleFrame(const uint8_t* pixels, uint8_t* output, const BITMAPINFOHEADER* sourceHeader,
               const BITMAPINFOHEADER* destinationHeader, int32_t antiAlias);

// ScaleFrame for the destination rows firstRow .. endRow - 1 only (stored order, bottom row 0;
// the range is clipped to the frame). Each row comes out exactly as ScaleFrame makes it, so
// threads that take disjoint bands of one frame together give ScaleFrame's result.
int ScaleFrameRows(const uint8_t* pixels, uint8_t* output, const BITMAPINFOHEADER* sourceHeader,
                   const BITMAPINFOHEADER* destinationHeader, int32_t antiAlias, int32_t firstRow,
                   int32_t endRow);

// Largest width or height the scaler serves; it keeps every fixed-point product in 64 bits.
constexpr int32_t SCALE_MAX_DIMENSION = 1 << 24;

// Which kernels ScaleFrame uses. Tests force the slower ones to compare them with the fast
// ones; a level the processor lacks falls back to the best one it has.
constexpr int SCALE_KERNELS_REFERENCE = 0;  // straightforward exact arithmetic, slow
constexpr int SCALE_KERNELS_PORTABLE = 1;   // fixed-point row kernels in plain C++
constexpr int SCALE_KERNELS_SSE2 = 2;       // x86-64 baseline vector kernels
constexpr int SCALE_KERNELS_AVX2 = 3;       // 256-bit vector kernels
constexpr int SCALE_KERNELS_BEST = 100;     // the best the processor supports (the default)

// Selects the kernels for later calls and returns the level actually in force.
int SetScaleKernels(int kernels);
int GetScaleKernels();
