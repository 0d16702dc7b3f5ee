// Row kernels of the frame scaler. Each sees one row (or the few rows one output row is made
// of) and the per-axis tables; the driver walks the image and picks a kernel per instruction set.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "avi/scale_filter.h"

// Intermediate rows of horizontally averaged pixels hold 4 values per pixel (blue, green, red,
// and 0), with SCALE_FRACTION_BITS fraction bits. Pixels come in groups of 8 stored in the order
// 0 1 4 5 2 3 6 7: the order AVX2 packing leaves them in and from which one in-lane pack
// restores 0..7. A row holds whole groups; the pixels past the width stay 0.
constexpr int32_t IntermediateSlot(int32_t x) {
    return (x & ~6) | ((x & 2) << 1) | ((x & 4) >> 1);
}
constexpr size_t IntermediateValues(int32_t width) {
    return 4 * static_cast<size_t>((width + 7) / 8 * 8);
}

// Every kernel comes in a plain version (_C) and, on x86-64, vector versions (_SSE2, _AVX2)
// that give the same values. A vector kernel may stop short of the row's end; its "any width"
// form (_Any_ plus the instruction set) runs it on what it takes and the plain one on the rest.
// The driver holds kernels of the types below, which always do the whole range they are given.

// Copies whole pixels: destination pixel x is source pixel map[x].
using NearestRowFn = void (*)(const uint8_t* source, uint8_t* destination, const int32_t* map,
                              int32_t width, int32_t sourceWidth);

// Averages along the row: fills destination pixels [begin, end) of an intermediate row from a
// row of source bytes. (The plain and vector versions return how many pixels from `begin` they
// did.)
using HorizontalRowFn = void (*)(const uint8_t* source, int16_t* destination,
                                 const ScaleFilter& filter, int32_t begin, int32_t end);

// Averages across rows: makes the `width` pixels of output row d from intermediate rows.
// The portable kernel reads rows[t] for the exact taps (start[d] + t); the vector kernels read
// the paired window (pairStart[d] + t).
using VerticalRowFn = void (*)(const int16_t* const* rows, const ScaleFilter& filter, int32_t d,
                               uint8_t* destination, int32_t width);

// Exact pass along a row: value o of the row (pixel o / 3, channel o % 3) becomes the integer
// weighted sum of its one or two source bytes, for o in [0, values). (The plain version fills
// the pixels that hold values [begin, end); the vector version fills values from
// filter.vectorBegin and returns where it stopped.)
using ExactHorizontalFn = void (*)(const uint8_t* source, uint16_t* destination,
                                   const ExactRowFilter& filter, int32_t values);
// Exact pass across rows: byte x = (wa * a[x] + wb * b[x]) / total, rounded to nearest with
// halves upward, for x in [0, values). (The plain version does [begin, values); the vector
// version returns how many it did from 0.)
using ExactVerticalFn = void (*)(const uint16_t* a, const uint16_t* b, int32_t wa, int32_t wb,
                                 int32_t total, uint8_t* destination, int32_t values);

void ScaleRowExactHorizontal_C(const uint8_t* source, uint16_t* destination,
                               const ExactRowFilter& filter, int32_t begin, int32_t end);
void ScaleRowExactVertical_C(const uint16_t* a, const uint16_t* b, int32_t wa, int32_t wb,
                             int32_t total, uint8_t* destination, int32_t begin, int32_t values);

void ScaleRowNearest_C(const uint8_t* source, uint8_t* destination, const int32_t* map,
                       int32_t width, int32_t sourceWidth);
int32_t ScaleRowHorizontal_C(const uint8_t* source, int16_t* destination, const ScaleFilter& filter,
                             int32_t begin, int32_t end);
void ScaleRowVertical_C(const int16_t* const* rows, const ScaleFilter& filter, int32_t d,
                        uint8_t* destination, int32_t width);

#if defined(__x86_64__)
#define REFRAME_SCALE_X86 1
int32_t ScaleRowHorizontal_SSE2(const uint8_t* source, int16_t* destination,
                                const ScaleFilter& filter, int32_t begin, int32_t end);
void ScaleRowVertical_SSE2(const int16_t* const* rows, const ScaleFilter& filter, int32_t d,
                           uint8_t* destination, int32_t width);
int32_t ScaleRowExactVertical_SSE2(const uint16_t* a, const uint16_t* b, int32_t wa, int32_t wb,
                                   int32_t total, uint8_t* destination, int32_t values);

// Nearest-pixel row from 16-byte chunks (see NearestChunks); the pixels past the last whole
// chunk go as in ScaleRowNearest_C.
void ScaleRowNearestChunks_AVX2(const uint8_t* source, uint8_t* destination,
                                const NearestChunks& chunks, const int32_t* map);
void ScaleRowNearest_AVX2(const uint8_t* source, uint8_t* destination, const int32_t* map,
                          int32_t width, int32_t sourceWidth);
int32_t ScaleRowHorizontal_AVX2(const uint8_t* source, int16_t* destination,
                                const ScaleFilter& filter, int32_t begin, int32_t end);
int32_t ScaleRowHorizontalTwoTap_AVX2(const uint8_t* source, int16_t* destination,
                                      const ScaleFilter& filter, int32_t begin, int32_t end);
void ScaleRowVertical_AVX2(const int16_t* const* rows, const ScaleFilter& filter, int32_t d,
                           uint8_t* destination, int32_t width);
int32_t ScaleRowExactHorizontal_AVX2(const uint8_t* source, uint16_t* destination,
                                     const ExactRowFilter& filter);
int32_t ScaleRowExactVertical_AVX2(const uint16_t* a, const uint16_t* b, int32_t wa, int32_t wb,
                                   int32_t total, uint8_t* destination, int32_t values);
bool CpuHasAvx2();
#endif

// The plain kernels in the driver's types.
inline void ScaleRowHorizontal_Any_C(const uint8_t* source, int16_t* destination,
                                     const ScaleFilter& filter, int32_t begin, int32_t end) {
    ScaleRowHorizontal_C(source, destination, filter, begin, end);
}
inline void ScaleRowExactHorizontal_Any_C(const uint8_t* source, uint16_t* destination,
                                          const ExactRowFilter& filter, int32_t values) {
    ScaleRowExactHorizontal_C(source, destination, filter, 0, values);
}
inline void ScaleRowExactVertical_Any_C(const uint16_t* a, const uint16_t* b, int32_t wa,
                                        int32_t wb, int32_t total, uint8_t* destination,
                                        int32_t values) {
    ScaleRowExactVertical_C(a, b, wa, wb, total, destination, 0, values);
}

// "Any width" forms of the vector kernels.
template <int32_t (*Vector)(const uint8_t*, int16_t*, const ScaleFilter&, int32_t, int32_t)>
void ScaleRowHorizontalAny(const uint8_t* source, int16_t* destination, const ScaleFilter& filter,
                           int32_t begin, int32_t end) {
    const int32_t done = Vector(source, destination, filter, begin, end);
    ScaleRowHorizontal_C(source, destination, filter, begin + done, end);
}
template <int32_t (*Vector)(const uint8_t*, uint16_t*, const ExactRowFilter&)>
void ScaleRowExactHorizontalAny(const uint8_t* source, uint16_t* destination,
                                const ExactRowFilter& filter, int32_t values) {
    // The vector kernel does the middle of the row, from vectorBegin to where it stops; a row
    // shorter than one block gets no vector work at all.
    int32_t begin = 0, end = 0;
    if (filter.vector) {
        begin = std::min(filter.vectorBegin, values);
        end = std::max(begin, std::min(Vector(source, destination, filter), values));
    }
    ScaleRowExactHorizontal_C(source, destination, filter, 0, begin);
    ScaleRowExactHorizontal_C(source, destination, filter, end, values);
}
template <int32_t (*Vector)(const uint16_t*, const uint16_t*, int32_t, int32_t, int32_t, uint8_t*,
                            int32_t)>
void ScaleRowExactVerticalAny(const uint16_t* a, const uint16_t* b, int32_t wa, int32_t wb,
                              int32_t total, uint8_t* destination, int32_t values) {
    const int32_t done = Vector(a, b, wa, wb, total, destination, values);
    ScaleRowExactVertical_C(a, b, wa, wb, total, destination, done, values);
}
