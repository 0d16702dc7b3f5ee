// Portable row kernels of the frame scaler: fixed point in plain C++, for any processor and
// for the ends of rows that the vector kernels leave.
#include <cstddef>
#include <cstring>

#include "avi/scale_rows.h"

namespace {

template <typename Weight, typename Sum, int Bits>
void AverageAlongRow(const uint8_t* source, int16_t* destination, const ScaleFilter& f,
                     const Weight* weights, int32_t begin, int32_t end) {
    constexpr int shift = Bits - SCALE_FRACTION_BITS;
    constexpr Sum half = Sum{1} << (shift - 1);
    for (int32_t x = begin; x < end; ++x) {
        const Weight* w = weights + static_cast<size_t>(x) * f.maxTaps;
        const uint8_t* in = source + 3 * static_cast<ptrdiff_t>(f.start[x]);
        Sum b = half, g = half, r = half;
        for (int32_t t = 0; t < f.count[x]; ++t) {
            b += static_cast<Sum>(w[t]) * in[3 * t];
            g += static_cast<Sum>(w[t]) * in[3 * t + 1];
            r += static_cast<Sum>(w[t]) * in[3 * t + 2];
        }
        int16_t* out = destination + 4 * static_cast<size_t>(IntermediateSlot(x));
        out[0] = static_cast<int16_t>(b >> shift);
        out[1] = static_cast<int16_t>(g >> shift);
        out[2] = static_cast<int16_t>(r >> shift);
        out[3] = 0;
    }
}

template <typename Weight, typename Sum, int Bits>
void AverageAcrossRows(const int16_t* const* rows, const Weight* w, int32_t taps,
                       uint8_t* destination, int32_t width) {
    constexpr int shift = Bits + SCALE_FRACTION_BITS;
    constexpr Sum half = Sum{1} << (shift - 1);
    for (int32_t x = 0; x < width; ++x) {
        const size_t at = 4 * static_cast<size_t>(IntermediateSlot(x));
        for (int c = 0; c < 3; ++c) {
            Sum sum = half;
            for (int32_t t = 0; t < taps; ++t) sum += static_cast<Sum>(w[t]) * rows[t][at + c];
            const Sum value = sum >> shift;
            destination[3 * static_cast<size_t>(x) + c] =
                static_cast<uint8_t>(value > 255 ? 255 : value);
        }
    }
}

}  // namespace

// Copies whole pixels four bytes at a time; the fourth byte is rewritten by the next pixel,
// and the last pixels, which could read or write past a row, go three bytes at a time.
void ScaleRowNearest_C(const uint8_t* source, uint8_t* destination, const int32_t* map,
                       int32_t width, int32_t sourceWidth) {
    int32_t x = 0;
    for (; x + 1 < width && map[x] + 1 < sourceWidth; ++x) {
        std::memcpy(destination + 3 * static_cast<ptrdiff_t>(x),
                    source + 3 * static_cast<ptrdiff_t>(map[x]), 4);
    }
    for (; x < width; ++x) {
        std::memcpy(destination + 3 * static_cast<ptrdiff_t>(x),
                    source + 3 * static_cast<ptrdiff_t>(map[x]), 3);
    }
}

int32_t ScaleRowHorizontal_C(const uint8_t* source, int16_t* destination, const ScaleFilter& f,
                             int32_t begin, int32_t end) {
    if (f.wide) {
        AverageAlongRow<int32_t, int64_t, SCALE_WIDE_WEIGHT_BITS>(source, destination, f,
                                                                  f.weightWide.data(), begin, end);
    } else {
        AverageAlongRow<int16_t, int32_t, SCALE_WEIGHT_BITS>(source, destination, f,
                                                             f.weight14.data(), begin, end);
    }
    return end - begin;
}

void ScaleRowVertical_C(const int16_t* const* rows, const ScaleFilter& f, int32_t d,
                        uint8_t* destination, int32_t width) {
    const size_t at = static_cast<size_t>(d) * f.maxTaps;
    if (f.wide) {
        AverageAcrossRows<int32_t, int64_t, SCALE_WIDE_WEIGHT_BITS>(rows, &f.weightWide[at],
                                                                    f.count[d], destination, width);
    } else {
        AverageAcrossRows<int16_t, int32_t, SCALE_WEIGHT_BITS>(rows, &f.weight14[at], f.count[d],
                                                               destination, width);
    }
}

namespace {

template <int32_t Kind>
void SumAlongRow(const uint8_t* source, uint16_t* destination, int32_t sourceSize, int32_t from,
                 int32_t to) {
    for (int32_t d = from; d < to; ++d) {
        const ExactTaps t = ExactAxisTaps(Kind, d, sourceSize);
        const uint8_t* in = source + 3 * static_cast<ptrdiff_t>(t.first);
        uint16_t* out = destination + 3 * static_cast<ptrdiff_t>(d);
        // The second pixel is read only when it counts: the last pixel of a row has none.
        if (t.w1 != 0) {
            for (int c = 0; c < 3; ++c)
                out[c] = static_cast<uint16_t>(t.w0 * in[c] + t.w1 * in[3 + c]);
        } else {
            for (int c = 0; c < 3; ++c) out[c] = static_cast<uint16_t>(t.w0 * in[c]);
        }
    }
}

}  // namespace

void ScaleRowExactHorizontal_C(const uint8_t* source, uint16_t* destination,
                               const ExactRowFilter& f, int32_t begin, int32_t end) {
    int32_t from = begin / 3;
    const int32_t to = (end + 2) / 3;
    switch (f.kind) {
        case SCALE_EXACT_SAME:
            for (ptrdiff_t o = 3 * static_cast<ptrdiff_t>(from); o < 3 * static_cast<ptrdiff_t>(to);
                 ++o) {
                destination[o] = source[o];
            }
            break;
        case SCALE_EXACT_HALF:
            for (ptrdiff_t d = from; d < to; ++d) {
                for (int c = 0; c < 3; ++c) {
                    destination[3 * d + c] =
                        static_cast<uint16_t>(source[6 * d + c] + source[6 * d + 3 + c]);
                }
            }
            break;
        case SCALE_EXACT_TWO_THIRDS:
            // Pixel pairs from 3 source pixels: 2 * p0 + p1 and p1 + 2 * p2.
            if (from % 2 != 0) {
                SumAlongRow<SCALE_EXACT_TWO_THIRDS>(source, destination, f.sourceSize, from,
                                                    from + 1);
                ++from;
            }
            for (; from + 2 <= to; from += 2) {
                const uint8_t* in = source + 9 * static_cast<ptrdiff_t>(from / 2);
                uint16_t* out = destination + 3 * static_cast<ptrdiff_t>(from);
                for (int c = 0; c < 3; ++c) {
                    out[c] = static_cast<uint16_t>(2 * in[c] + in[3 + c]);
                    out[3 + c] = static_cast<uint16_t>(in[3 + c] + 2 * in[6 + c]);
                }
            }
            SumAlongRow<SCALE_EXACT_TWO_THIRDS>(source, destination, f.sourceSize, from, to);
            break;
        case SCALE_EXACT_DOUBLE:
            SumAlongRow<SCALE_EXACT_DOUBLE>(source, destination, f.sourceSize, from, to);
            break;
        default:
            break;
    }
}

// Division by total as a multiply by ceil(2^16 / total) and a shift, as the vector kernels do:
// exact for every sum these rows can hold (at most 16 * 255 + 8).
void ScaleRowExactVertical_C(const uint16_t* a, const uint16_t* b, int32_t wa, int32_t wb,
                             int32_t total, uint8_t* destination, int32_t begin, int32_t values) {
    const uint32_t multiplier =
        (65536u + static_cast<uint32_t>(total) - 1) / static_cast<uint32_t>(total);
    const uint32_t half = static_cast<uint32_t>(total) / 2;
    const auto ua = static_cast<uint32_t>(wa), ub = static_cast<uint32_t>(wb);
    for (int32_t x = begin; x < values; ++x) {
        const uint32_t sum = ua * a[x] + ub * b[x] + half;
        destination[x] = static_cast<uint8_t>((sum * multiplier) >> 16);
    }
}
