// The picture scaler: stretches a decoded YUV picture to a 24-bit BGR frame of another size,
// scaling the luma and chroma planes each on its own grid and converting only the destination's
// pixels, instead of converting the whole source picture first.
#pragma once

#include <cstddef>
#include <cstdint>

#include "picture/yuv_picture.h"

// Makes the destination rows firstRow .. endRow - 1 (stored order, bottom row 0; clipped to
// the frame) of a `width` x `height` bottom-up BGR frame at `output`, rows `stride` bytes apart,
// and clears each row's pad bytes up to `stride` (which must hold the row: 3 * width or more).
//
// Keeping whole pixels (average false), destination pixel (x, y) is the source pixel the frame
// scaler picks for it, converted as the frame decoder converts it: its luma sample, the chroma
// samples the decoder pairs with it, and the picture's YuvToBgr. So the result is byte for byte
// what converting the whole picture and then scaling the BGR frame gives.
//
// Averaging, each plane is stretched with the frame scaler's averaging rules (area average when
// shrinking, bilinear when enlarging, per axis) from its own size to the destination's, and the
// three samples of each pixel are converted; this differs from averaging converted pixels by
// rounding only.
//
// Returns false, with `output` untouched, when a size is not positive or exceeds
// SCALE_MAX_DIMENSION, or working memory runs out.
bool ScalePictureRows(const YuvPicture& picture, uint8_t* output, int32_t width, int32_t height,
                      ptrdiff_t stride, bool average, int32_t firstRow, int32_t endRow);
