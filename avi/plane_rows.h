// Row kernels of the picture scaler, which stretches YUV planes before they become BGR: a pass
// across rows, a pass along the row and the conversion to BGR bytes. Each has a plain version
// and, on x86-64, an AVX2 one that gives the same values. As in the frame scaler, a vector
// kernel may stop short of the row's end, and its "any width" form (_Any_AVX2) finishes the row
// with the plain one; the scaler holds kernels of the types at the end, which do whole rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "avi/scale_filter.h"
#include "picture/yuv_picture.h"

// Samples between the passes carry this many fraction bits (0..255 becomes 0..16320), and
// those the conversion takes carry 3 (0..2040).
constexpr int PLANE_FRACTION_BITS = 6;

// One axis of a plane: the averaging filter and, for the vector kernel along the row, each
// destination sample's two weights packed into one 32-bit word (first in the low half).
struct PlaneAxis {
    ScaleFilter filter;
    std::vector<uint32_t> packedPairs;  // when filter.paired and filter.pairSteps == 1
    // The same pairs by groups of 8 destination samples, for a kernel that reads 17 samples
    // from groupBase[g] and picks each pair with a permute: pair i of group g starts at sample
    // groupBase[g] + 2 * groupIndex[8g + i] + (groupOdd[8g + i] ? 1 : 0). Filled when every
    // group's pairs start within 15 samples of each other.
    std::vector<int32_t> groupBase;
    std::vector<int32_t> groupIndex;
    std::vector<int32_t> groupOdd;  // -1 where the pair starts at an odd distance, else 0
};
// Throws std::bad_alloc when memory runs out.
void BuildPlaneAxis(int32_t source, int32_t destination, PlaneAxis& axis);
// The axis of a chroma plane with one sample per 2^shift luma samples, from the luma axis:
// each chroma sample weighs what the luma samples it goes with weigh together. So the chroma
// comes out as if it had been repeated to the luma's size and then filtered with the luma.
void BuildChromaAxis(const PlaneAxis& luma, int shift, int32_t chromaSize, PlaneAxis& chroma);

// Across rows: out[x] = the weighted sum of rows[t][x] over the taps of destination row d of
// `down`, with PLANE_FRACTION_BITS fraction bits, for x in [begin, width). Each tap's product
// is rounded on its own (exact sums for filters with wide weights). The vector version
// returns how many samples from 0 it did.
void PlaneRowVertical_C(const uint8_t* const* rows, const ScaleFilter& down, int32_t d,
                        uint16_t* out, int32_t begin, int32_t width);

// Rows the pass along the row reads hold this many samples past the source's width, which the
// vector kernel may read (and never uses).
constexpr int32_t PLANE_ROW_SLACK = 32;

// Along the row: out[x] = the weighted sum of in[] over the taps of destination sample x of
// `across`, rounded to 3 fraction bits, for x in [begin, end).
void PlaneRowHorizontal_C(const uint16_t* in, uint16_t* out, const PlaneAxis& across, int32_t begin,
                          int32_t end);

// Axes that keep every sample or average exact pairs (2d, 2d + 1), with the weights the
// averaging filter gives them, let a destination row be made in one pass with small integer
// sums, which give the two passes' values exactly.
constexpr int PLANE_AXIS_OTHER = 0;
constexpr int PLANE_AXIS_SAME = 1;
constexpr int PLANE_AXIS_HALF = 2;
int PlaneAxisKind(const ScaleFilter& f);

// The conversion of `width` samples of three rows (3 fraction bits) to BGR bytes, from `begin`.
void ConvertYuvRow_C(const uint16_t* y, const uint16_t* u, const uint16_t* v, uint8_t* bgr,
                     const YuvToBgr& k, int32_t begin, int32_t width);

#if defined(__x86_64__)
#define REFRAME_PLANE_X86 1
int32_t PlaneRowVertical_AVX2(const uint8_t* const* rows, const ScaleFilter& down, int32_t d,
                              uint16_t* out, int32_t width);
// Serves two-tap filters only (packedPairs filled); returns how many samples from 0 it did.
int32_t PlaneRowHorizontal_AVX2(const uint16_t* in, uint16_t* out, const PlaneAxis& across);
// One pass for axes of PLANE_AXIS_SAME or _HALF: destination samples from row0 (and row1 when
// `down` halves), `across` the kind along the row. Returns how many samples from 0 it did.
int32_t PlaneRowBox_AVX2(const uint8_t* row0, const uint8_t* row1, int across, uint16_t* out,
                         int32_t width);
int32_t ConvertYuvRow_AVX2(const uint16_t* y, const uint16_t* u, const uint16_t* v, uint8_t* bgr,
                           const YuvToBgr& k, int32_t width);
#endif

// The kernels as the scaler holds them.
using PlaneVerticalFn = void (*)(const uint8_t* const* rows, const ScaleFilter& down, int32_t d,
                                 uint16_t* out, int32_t width);
using PlaneHorizontalFn = void (*)(const uint16_t* in, uint16_t* out, const PlaneAxis& across,
                                   int32_t width);
using ConvertYuvRowFn = void (*)(const uint16_t* y, const uint16_t* u, const uint16_t* v,
                                 uint8_t* bgr, const YuvToBgr& k, int32_t width);
// Destination row d of a plane whose axes are both of PLANE_AXIS_SAME or _HALF kind, in one
// pass from the rows `taps` (`across` is scratch room for a plain finish).
struct PlaneBoxRow {
    const uint8_t* const* taps;
    const PlaneAxis& across;
    int acrossKind;
    const ScaleFilter& down;
    int downKind;
    int32_t d;
    int32_t sourceWidth;
};
using PlaneBoxFn = void (*)(const PlaneBoxRow& row, uint16_t* across, uint16_t* out, int32_t width);

inline void PlaneRowVertical_Any_C(const uint8_t* const* rows, const ScaleFilter& down, int32_t d,
                                   uint16_t* out, int32_t width) {
    PlaneRowVertical_C(rows, down, d, out, 0, width);
}
inline void PlaneRowHorizontal_Any_C(const uint16_t* in, uint16_t* out, const PlaneAxis& across,
                                     int32_t width) {
    PlaneRowHorizontal_C(in, out, across, 0, width);
}
inline void ConvertYuvRow_Any_C(const uint16_t* y, const uint16_t* u, const uint16_t* v,
                                uint8_t* bgr, const YuvToBgr& k, int32_t width) {
    ConvertYuvRow_C(y, u, v, bgr, k, 0, width);
}

#if defined(REFRAME_PLANE_X86)
inline void PlaneRowVertical_Any_AVX2(const uint8_t* const* rows, const ScaleFilter& down,
                                      int32_t d, uint16_t* out, int32_t width) {
    PlaneRowVertical_C(rows, down, d, out, PlaneRowVertical_AVX2(rows, down, d, out, width), width);
}
inline void PlaneRowHorizontal_Any_AVX2(const uint16_t* in, uint16_t* out, const PlaneAxis& across,
                                        int32_t width) {
    PlaneRowHorizontal_C(in, out, across, PlaneRowHorizontal_AVX2(in, out, across), width);
}
inline void ConvertYuvRow_Any_AVX2(const uint16_t* y, const uint16_t* u, const uint16_t* v,
                                   uint8_t* bgr, const YuvToBgr& k, int32_t width) {
    ConvertYuvRow_C(y, u, v, bgr, k, ConvertYuvRow_AVX2(y, u, v, bgr, k, width), width);
}
// The plain passes finish the row, from the first source sample the rest of it reads.
inline void PlaneRowBox_Any_AVX2(const PlaneBoxRow& row, uint16_t* across, uint16_t* out,
                                 int32_t width) {
    const uint8_t* row1 = row.downKind == PLANE_AXIS_HALF ? row.taps[1] : nullptr;
    const int32_t done = PlaneRowBox_AVX2(row.taps[0], row1, row.acrossKind, out, width);
    if (done == width) return;
    const int32_t from = row.acrossKind == PLANE_AXIS_HALF ? 2 * done : done;
    PlaneRowVertical_C(row.taps, row.down, row.d, across, from, row.sourceWidth);
    PlaneRowHorizontal_C(across, out, row.across, done, width);
}
#endif
