// Row kernels for processors with AVX2, compiled per function so the rest of the program keeps
// the baseline instruction set; the driver calls them only after CpuHasAvx2().
#include "avi/scale_rows.h"

#if defined(REFRAME_SCALE_X86)

#include <immintrin.h>

#define REFRAME_AVX2 __attribute__((target("avx2")))

bool CpuHasAvx2() {
    return __builtin_cpu_supports("avx2");
}

namespace {

// Per 128-bit lane: 12 bytes of 4 pixels of 4 bytes (the fourth byte of each dropped), or
// 12 bytes of 2 pixels of 4 words; the last 4 bytes zero.
REFRAME_AVX2 inline __m256i DropFourthBytes() {
    return _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -128, -128, -128, -128,  //
                            0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -128, -128, -128, -128);
}
REFRAME_AVX2 inline __m256i DropFourthWords() {
    return _mm256_setr_epi8(0, 1, 2, 3, 4, 5, 8, 9, 10, 11, 12, 13, -128, -128, -128, -128,  //
                            0, 1, 2, 3, 4, 5, 8, 9, 10, 11, 12, 13, -128, -128, -128, -128);
}
// Joins the two lanes' 12 bytes into 24 contiguous ones.
REFRAME_AVX2 inline __m256i JoinLanes(__m256i v) {
    return _mm256_permutevar8x32_epi32(v, _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7));
}

REFRAME_AVX2 inline __m256i LoadTwo(const uint8_t* low, const uint8_t* high) {
    return _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(low))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(high)), 1);
}

REFRAME_AVX2 inline __m256i Load(const int16_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

}  // namespace

// Gathers 8 pixels at a time as 4-byte words and squeezes out the fourth bytes.
REFRAME_AVX2 void ScaleRowNearest_AVX2(const uint8_t* source, uint8_t* destination,
                                       const int32_t* map, int32_t width, int32_t sourceWidth) {
    int32_t x = 0;
    // Each gathered word must lie inside the row, and each 32-byte store inside the output row.
    for (; x + 11 <= width && map[x + 7] + 1 < sourceWidth; x += 8) {
        const __m256i index = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(map + x));
        const __m256i offset = _mm256_add_epi32(index, _mm256_slli_epi32(index, 1));
        const __m256i words =
            _mm256_i32gather_epi32(reinterpret_cast<const int*>(source), offset, 1);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(destination + 3 * x),
                            JoinLanes(_mm256_shuffle_epi8(words, DropFourthBytes())));
    }
    ScaleRowNearest_C(source, destination + 3 * x, map + x, width - x, sourceWidth);
}

// Four pixels per round, two per register: each lane turns 16 bytes at one pixel pair into the
// interleaved words (p[k].c, p[k + 1].c) that one multiply-add weighs.
REFRAME_AVX2 int32_t ScaleRowHorizontal_AVX2(const uint8_t* source, int16_t* destination,
                                             const ScaleFilter& f, int32_t begin, int32_t end) {
    const size_t size = f.destinationSize;
    const size_t lastStep = static_cast<size_t>(f.pairSteps - 1) * size;
    const int32_t limit = 3 * f.sourceSize - 16;
    const __m256i interleave =
        _mm256_setr_epi8(0, -128, 3, -128, 1, -128, 4, -128, 2, -128, 5, -128, -128, -128, -128,
                         -128, 0, -128, 3, -128, 1, -128, 4, -128, 2, -128, 5, -128, -128, -128,
                         -128, -128);
    constexpr int shift = SCALE_WEIGHT_BITS - SCALE_FRACTION_BITS;
    const __m256i half = _mm256_set1_epi32(1 << (shift - 1));
    const int32_t* offsets = f.pairOffset.data();
    const int16_t* vectors = f.pairVector.data();
    int32_t x = begin;
    for (; x + 4 <= end; x += 4) {
        if (offsets[lastStep + x + 3] > limit) break;
        __m256i sum01 = half, sum23 = half;
        for (int32_t s = 0; s < f.pairSteps; ++s) {
            const size_t e = s * size + x;
            const __m256i p01 = _mm256_shuffle_epi8(
                LoadTwo(source + offsets[e], source + offsets[e + 1]), interleave);
            const __m256i p23 = _mm256_shuffle_epi8(
                LoadTwo(source + offsets[e + 2], source + offsets[e + 3]), interleave);
            sum01 = _mm256_add_epi32(sum01, _mm256_madd_epi16(p01, Load(vectors + e * 8)));
            sum23 = _mm256_add_epi32(sum23, _mm256_madd_epi16(p23, Load(vectors + e * 8 + 16)));
        }
        // Lanes hold pixels 0 | 1 and 2 | 3; packing gives 0 2 | 1 3, the permute 0 1 2 3.
        __m256i packed = _mm256_packs_epi32(_mm256_srai_epi32(sum01, shift),
                                            _mm256_srai_epi32(sum23, shift));
        packed = _mm256_permute4x64_epi64(packed, 0xD8);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(destination + 3 * x),
                            JoinLanes(_mm256_shuffle_epi8(packed, DropFourthWords())));
    }
    return x - begin;
}

REFRAME_AVX2 void ScaleRowVertical_AVX2(const int16_t* const* rows, const ScaleFilter& f,
                                        int32_t d, uint8_t* destination, int32_t count) {
    int32_t i = 0;
    if (f.pairSteps == 1) {
        // Two rows: a + (b - a) * fraction, with the fraction in 1/32768ths.
        const int16_t fraction = f.secondWeight15[d];
        const __m256i weight = _mm256_set1_epi16(fraction);
        const __m256i half = _mm256_set1_epi16(1 << (SCALE_FRACTION_BITS - 1));
        const int16_t* a = rows[0];
        const int16_t* b = rows[1];
        for (; i + 32 <= count; i += 32) {
            __m256i v[2];
            for (int h = 0; h < 2; ++h) {
                const __m256i va = Load(a + i + 16 * h);
                const __m256i vb = Load(b + i + 16 * h);
                const __m256i mixed =
                    _mm256_add_epi16(va, _mm256_mulhrs_epi16(_mm256_sub_epi16(vb, va), weight));
                v[h] = _mm256_srli_epi16(_mm256_add_epi16(mixed, half), SCALE_FRACTION_BITS);
            }
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(destination + i),
                                _mm256_permute4x64_epi64(_mm256_packus_epi16(v[0], v[1]), 0xD8));
        }
        for (; i < count; ++i) {
            const int32_t mixed = a[i] + (((b[i] - a[i]) * fraction + (1 << 14)) >> 15);
            destination[i] = static_cast<uint8_t>((mixed + (1 << (SCALE_FRACTION_BITS - 1))) >>
                                                  SCALE_FRACTION_BITS);
        }
        return;
    }

    const int32_t taps = 2 * f.pairSteps;
    const int16_t* w = &f.pairWeight[static_cast<size_t>(d) * taps];
    constexpr int shift = SCALE_WEIGHT_BITS + SCALE_FRACTION_BITS;
    const __m256i half = _mm256_set1_epi32(1 << (shift - 1));
    for (; i + 32 <= count; i += 32) {
        __m256i sum[4] = {half, half, half, half};
        for (int32_t t = 0; t < taps; t += 2) {
            const __m256i weights = _mm256_set1_epi32(static_cast<uint16_t>(w[t]) |
                                                      (static_cast<uint32_t>(w[t + 1]) << 16));
            for (int h = 0; h < 2; ++h) {
                const __m256i a = Load(rows[t] + i + 16 * h);
                const __m256i b = Load(rows[t + 1] + i + 16 * h);
                sum[2 * h] = _mm256_add_epi32(sum[2 * h],
                                              _mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), weights));
                sum[2 * h + 1] = _mm256_add_epi32(
                    sum[2 * h + 1], _mm256_madd_epi16(_mm256_unpackhi_epi16(a, b), weights));
            }
        }
        // Unpacking and packing stay within lanes, so each half comes back in order.
        const __m256i low = _mm256_packs_epi32(_mm256_srai_epi32(sum[0], shift),
                                               _mm256_srai_epi32(sum[1], shift));
        const __m256i high = _mm256_packs_epi32(_mm256_srai_epi32(sum[2], shift),
                                                _mm256_srai_epi32(sum[3], shift));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(destination + i),
                            _mm256_permute4x64_epi64(_mm256_packus_epi16(low, high), 0xD8));
    }
    for (; i < count; ++i) {
        int32_t sum = 1 << (shift - 1);
        for (int32_t t = 0; t < taps; ++t) sum += w[t] * rows[t][i];
        sum >>= shift;
        destination[i] = static_cast<uint8_t>(sum > 255 ? 255 : sum);
    }
}

#endif
