// Averaging row kernels for the x86-64 baseline (SSE2): 16-bit weights, 32-bit sums.
#include "avi/scale_rows.h"

#if defined(REFRAME_SCALE_X86)

#include <emmintrin.h>

#include <cstring>

namespace {

// Weighted sum of one step for one pixel: the 8 bytes at `in` are pixels k and k + 1 (and two
// more bytes); lanes 0..2 get w0 * p[k].c + w1 * p[k + 1].c, lane 3 gets 0 (zero weights).
inline __m128i PairSum(const uint8_t* in, const int16_t* weights) {
    const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(in));
    const __m128i words = _mm_unpacklo_epi8(bytes, _mm_setzero_si128());
    const __m128i pairs = _mm_unpacklo_epi16(words, _mm_srli_si128(words, 6));
    return _mm_madd_epi16(pairs, _mm_loadu_si128(reinterpret_cast<const __m128i*>(weights)));
}

inline __m128i Load(const int16_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// Writes 8 pixels held as 4 bytes each (low and high: pixels 0..3 and 4..7) as 3 bytes each.
// Each 4-byte store's last byte is rewritten by the next one, so the caller leaves room for one
// byte past the 8 pixels.
inline void StoreEightPixels(uint8_t* out, __m128i low, __m128i high) {
    for (int i = 0; i < 4; ++i) {
        const int32_t pixel = _mm_cvtsi128_si32(low);
        std::memcpy(out + 3 * i, &pixel, 4);
        low = _mm_srli_si128(low, 4);
    }
    for (int i = 4; i < 8; ++i) {
        const int32_t pixel = _mm_cvtsi128_si32(high);
        std::memcpy(out + 3 * i, &pixel, 4);
        high = _mm_srli_si128(high, 4);
    }
}

}  // namespace

int32_t ScaleRowHorizontal_SSE2(const uint8_t* source, int16_t* destination, const ScaleFilter& f,
                                int32_t begin, int32_t end) {
    const size_t stride = f.pairStride;
    const size_t lastStep = static_cast<size_t>(f.pairSteps - 1) * stride;
    const int32_t limit = 3 * f.sourceSize - 8;
    constexpr int shift = SCALE_WEIGHT_BITS - SCALE_FRACTION_BITS;
    const __m128i half = _mm_set1_epi32(1 << (shift - 1));
    int32_t x = begin;
    for (; x < end; ++x) {
        const size_t slot = PairTableSlot(x);
        if (f.pairOffset[lastStep + slot] > limit) break;
        __m128i sum = half;
        for (int32_t s = 0; s < f.pairSteps; ++s) {
            const size_t e = s * stride + slot;
            sum = _mm_add_epi32(sum, PairSum(source + f.pairOffset[e], &f.pairVector[e * 8]));
        }
        const __m128i packed = _mm_packs_epi32(_mm_srai_epi32(sum, shift), _mm_setzero_si128());
        _mm_storel_epi64(reinterpret_cast<__m128i*>(destination + 4 * IntermediateSlot(x)), packed);
    }
    return x - begin;
}

void ScaleRowVertical_SSE2(const int16_t* const* rows, const ScaleFilter& f, int32_t d,
                           uint8_t* destination, int32_t width) {
    const int32_t taps = 2 * f.pairSteps;
    const int16_t* w = &f.pairWeight[static_cast<size_t>(d) * taps];
    constexpr int shift = SCALE_WEIGHT_BITS + SCALE_FRACTION_BITS;
    const __m128i half = _mm_set1_epi32(1 << (shift - 1));
    for (int32_t x = 0; x < width; x += 8) {
        // The group's 32 values: pixels 0 1, 4 5, 2 3, 6 7.
        __m128i result[4];
        const size_t base = 4 * static_cast<size_t>(x);
        for (int q = 0; q < 4; ++q) {
            __m128i low = half, high = half;
            for (int32_t t = 0; t < taps; t += 2) {
                const __m128i weights = _mm_set1_epi32(static_cast<uint16_t>(w[t]) |
                                                       (static_cast<uint32_t>(w[t + 1]) << 16));
                const __m128i a = Load(rows[t] + base + 8 * q);
                const __m128i b = Load(rows[t + 1] + base + 8 * q);
                low = _mm_add_epi32(low, _mm_madd_epi16(_mm_unpacklo_epi16(a, b), weights));
                high = _mm_add_epi32(high, _mm_madd_epi16(_mm_unpackhi_epi16(a, b), weights));
            }
            result[q] = _mm_packs_epi32(_mm_srai_epi32(low, shift), _mm_srai_epi32(high, shift));
        }
        const __m128i first = _mm_packus_epi16(result[0], result[2]);
        const __m128i second = _mm_packus_epi16(result[1], result[3]);
        uint8_t* out = destination + 3 * static_cast<size_t>(x);
        if (x + 8 < width) {
            StoreEightPixels(out, first, second);
        } else {
            uint8_t group[8 * 3 + 1];
            StoreEightPixels(group, first, second);
            std::memcpy(out, group, 3 * static_cast<size_t>(width - x));
        }
    }
}

int32_t ScaleRowExactVertical_SSE2(const uint16_t* a, const uint16_t* b, int32_t wa, int32_t wb,
                                   int32_t total, uint8_t* destination, int32_t values) {
    if (total < 2) return 0;
    const __m128i va = _mm_set1_epi16(static_cast<int16_t>(wa));
    const __m128i vb = _mm_set1_epi16(static_cast<int16_t>(wb));
    const __m128i half = _mm_set1_epi16(static_cast<int16_t>(total / 2));
    const __m128i multiplier = _mm_set1_epi16(static_cast<int16_t>((65536 + total - 1) / total));
    int32_t x = 0;
    for (; x + 16 <= values; x += 16) {
        __m128i q[2];
        for (int h = 0; h < 2; ++h) {
            const __m128i sa = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + x + 8 * h));
            const __m128i sb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + x + 8 * h));
            const __m128i sum = _mm_add_epi16(
                _mm_add_epi16(_mm_mullo_epi16(sa, va), _mm_mullo_epi16(sb, vb)), half);
            q[h] = _mm_mulhi_epu16(sum, multiplier);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(destination + x), _mm_packus_epi16(q[0], q[1]));
    }
    return x;
}

#endif
