// Averaging row kernels for the x86-64 baseline (SSE2): 16-bit weights, 32-bit sums.
#include "avi/scale_rows.h"

#if defined(REFRAME_SCALE_X86)

#include <emmintrin.h>

namespace {

// Weighted sum of one step for one pixel: the 8 bytes at `in` are pixels k and k + 1 (and two
// more bytes); lanes 0..2 get w0 * p[k].c + w1 * p[k + 1].c, lane 3 is unused.
inline __m128i PairSum(const uint8_t* in, const int16_t* weights) {
    const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(in));
    const __m128i words = _mm_unpacklo_epi8(bytes, _mm_setzero_si128());
    const __m128i pairs = _mm_unpacklo_epi16(words, _mm_srli_si128(words, 6));
    return _mm_madd_epi16(pairs, _mm_loadu_si128(reinterpret_cast<const __m128i*>(weights)));
}

}  // namespace

// Two pixels per round; each pixel is stored as 4 values whose last one the next store
// overwrites (the row's slack takes the final one).
int32_t ScaleRowHorizontal_SSE2(const uint8_t* source, int16_t* destination,
                                const ScaleFilter& f, int32_t begin, int32_t end) {
    const size_t size = f.destinationSize;
    const size_t lastStep = static_cast<size_t>(f.pairSteps - 1) * size;
    const int32_t limit = 3 * f.sourceSize - 8;
    const __m128i half = _mm_set1_epi32(1 << (SCALE_WEIGHT_BITS - SCALE_FRACTION_BITS - 1));
    int32_t x = begin;
    for (; x + 2 <= end; x += 2) {
        if (f.pairOffset[lastStep + x + 1] > limit) break;
        __m128i sum0 = half, sum1 = half;
        for (int32_t s = 0; s < f.pairSteps; ++s) {
            const size_t entry = s * size + x;
            sum0 = _mm_add_epi32(sum0, PairSum(source + f.pairOffset[entry],
                                               &f.pairVector[entry * 8]));
            sum1 = _mm_add_epi32(sum1, PairSum(source + f.pairOffset[entry + 1],
                                               &f.pairVector[(entry + 1) * 8]));
        }
        constexpr int shift = SCALE_WEIGHT_BITS - SCALE_FRACTION_BITS;
        const __m128i packed = _mm_packs_epi32(_mm_srai_epi32(sum0, shift),
                                               _mm_srai_epi32(sum1, shift));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(destination + 3 * x), packed);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(destination + 3 * x + 3),
                         _mm_unpackhi_epi64(packed, packed));
    }
    return x - begin;
}

void ScaleRowVertical_SSE2(const int16_t* const* rows, const ScaleFilter& f, int32_t d,
                           uint8_t* destination, int32_t count) {
    const int32_t taps = 2 * f.pairSteps;
    const int16_t* w = &f.pairWeight[static_cast<size_t>(d) * taps];
    constexpr int shift = SCALE_WEIGHT_BITS + SCALE_FRACTION_BITS;
    const __m128i half = _mm_set1_epi32(1 << (shift - 1));
    int32_t i = 0;
    for (; i + 16 <= count; i += 16) {
        __m128i sum[4] = {half, half, half, half};
        for (int32_t t = 0; t < taps; t += 2) {
            const __m128i weights = _mm_set1_epi32(static_cast<uint16_t>(w[t]) |
                                                   (static_cast<uint32_t>(w[t + 1]) << 16));
            for (int h = 0; h < 2; ++h) {
                const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[t] + i + 8 * h));
                const __m128i b =
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[t + 1] + i + 8 * h));
                sum[2 * h] = _mm_add_epi32(sum[2 * h], _mm_madd_epi16(_mm_unpacklo_epi16(a, b), weights));
                sum[2 * h + 1] =
                    _mm_add_epi32(sum[2 * h + 1], _mm_madd_epi16(_mm_unpackhi_epi16(a, b), weights));
            }
        }
        const __m128i low = _mm_packs_epi32(_mm_srai_epi32(sum[0], shift), _mm_srai_epi32(sum[1], shift));
        const __m128i high = _mm_packs_epi32(_mm_srai_epi32(sum[2], shift), _mm_srai_epi32(sum[3], shift));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(destination + i), _mm_packus_epi16(low, high));
    }
    for (; i < count; ++i) {
        int32_t sum = 1 << (shift - 1);
        for (int32_t t = 0; t < taps; ++t) sum += w[t] * rows[t][i];
        sum >>= shift;
        destination[i] = static_cast<uint8_t>(sum > 255 ? 255 : sum);
    }
}

#endif
