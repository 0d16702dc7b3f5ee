// AVX2 versions of the picture scaler's row kernels, compiled per function so that the rest of
// the program keeps the baseline instruction set; the scaler calls them only after
// CpuHasAvx2(). Each gives exactly the values of its plain version.
#include "avi/plane_rows.h"

#if defined(REFRAME_PLANE_X86)

#include <immintrin.h>

#define REFRAME_AVX2 __attribute__((target("avx2")))

namespace {

// For the three 16-byte chunks of 16 BGR pixels: which byte of the blue, green and red
// vectors goes where (-128 leaves a zero for the other two to fill).
struct InterleaveMasks {
    alignas(16) int8_t mask[3][3][16];  // [chunk][channel][byte]
    constexpr InterleaveMasks() : mask{} {
        for (int chunk = 0; chunk < 3; ++chunk) {
            for (int channel = 0; channel < 3; ++channel) {
                for (int b = 0; b < 16; ++b) {
                    const int at = 16 * chunk + b;
                    mask[chunk][channel][b] =
                        static_cast<int8_t>(at % 3 == channel ? at / 3 : -128);
                }
            }
        }
    }
};
constexpr InterleaveMasks kInterleave;

REFRAME_AVX2 inline __m128i Mask(int chunk, int channel) {
    return _mm_load_si128(reinterpret_cast<const __m128i*>(kInterleave.mask[chunk][channel]));
}

// 16 words of values 0..255 to 16 bytes, in order.
REFRAME_AVX2 inline __m128i PackBytes(__m256i words) {
    return _mm_packus_epi16(_mm256_castsi256_si128(words), _mm256_extracti128_si256(words, 1));
}

}  // namespace

namespace {

// 16 samples with 7 fraction bits times a weight, rounded: 6 fraction bits.
REFRAME_AVX2 inline __m256i Term(const uint8_t* row, __m256i weight) {
    const __m256i samples =
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row)));
    return _mm256_mulhrs_epi16(_mm256_slli_epi16(samples, 7), weight);
}

}  // namespace

REFRAME_AVX2 int32_t PlaneRowVertical_AVX2(const uint8_t* const* rows, const ScaleFilter& down,
                                           int32_t d, uint16_t* out, int32_t width) {
    if (down.wide) return 0;
    const int32_t taps = down.count[d];
    const int16_t* weights = down.weight14.data() + static_cast<size_t>(d) * down.maxTaps;
    int32_t x = 0;
    if (taps == 2) {
        // The common case (shrinking by less than half, or enlarging) without the tap loop.
        const __m256i w0 = _mm256_set1_epi16(weights[0]), w1 = _mm256_set1_epi16(weights[1]);
        const uint8_t* a = rows[0];
        const uint8_t* b = rows[1];
        for (; x + 16 <= width; x += 16) {
            const __m256i sum = _mm256_add_epi16(Term(a + x, w0), Term(b + x, w1));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x), sum);
        }
        return x;
    }
    __m256i w[SCALE_MAX_NARROW_TAPS];
    for (int32_t t = 0; t < taps; ++t) w[t] = _mm256_set1_epi16(weights[t]);
    for (; x + 16 <= width; x += 16) {
        __m256i sum = Term(rows[0] + x, w[0]);
        for (int32_t t = 1; t < taps; ++t) sum = _mm256_add_epi16(sum, Term(rows[t] + x, w[t]));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x), sum);
    }
    return x;
}

namespace {

// Group g's 8 sample pairs, weighed: 32-bit sums.
REFRAME_AVX2 inline __m256i WeighGroup(const uint16_t* in, const PlaneAxis& across, int32_t g) {
    const uint16_t* from = in + across.groupBase[g];
    const size_t at = 8 * static_cast<size_t>(g);
    // Words 2j, 2j + 1 of `even` and words 2j + 1, 2j + 2 of `odd` sit in 32-bit element j,
    // so one permute of each brings every pair to its output's element.
    const __m256i even = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from));
    const __m256i odd = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + 1));
    const __m256i index =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(across.groupIndex.data() + at));
    const __m256i which =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(across.groupOdd.data() + at));
    const __m256i pairs = _mm256_blendv_epi8(_mm256_permutevar8x32_epi32(even, index),
                                             _mm256_permutevar8x32_epi32(odd, index), which);
    const __m256i weights =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(across.packedPairs.data() + at));
    return _mm256_madd_epi16(pairs, weights);
}

}  // namespace

REFRAME_AVX2 int32_t PlaneRowHorizontal_AVX2(const uint16_t* in, uint16_t* out,
                                             const PlaneAxis& across) {
    if (across.groupBase.empty()) return 0;
    constexpr int shift = SCALE_WEIGHT_BITS + PLANE_FRACTION_BITS - 3;
    const __m256i round = _mm256_set1_epi32(1 << (shift - 1));
    const auto groups = static_cast<int32_t>(across.groupBase.size());
    int32_t g = 0;
    for (; g + 2 <= groups; g += 2) {
        const __m256i r0 =
            _mm256_srai_epi32(_mm256_add_epi32(WeighGroup(in, across, g), round), shift);
        const __m256i r1 =
            _mm256_srai_epi32(_mm256_add_epi32(WeighGroup(in, across, g + 1), round), shift);
        // The pack interleaves the lanes of its two inputs; one permute puts them in order.
        const __m256i packed =
            _mm256_permute4x64_epi64(_mm256_packus_epi32(r0, r1), _MM_SHUFFLE(3, 1, 2, 0));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 8 * g), packed);
    }
    return 8 * g;
}

// With weights of exactly one or one half, the passes' roundings all fall on whole units: a
// sample kept on both axes becomes 8s, a pair 4(a + b) and four samples 2(a + b + c + d).
REFRAME_AVX2 int32_t PlaneRowBox_AVX2(const uint8_t* row0, const uint8_t* row1, int across,
                                      uint16_t* out, int32_t width) {
    int32_t x = 0;
    if (across == PLANE_AXIS_HALF) {
        const __m256i ones = _mm256_set1_epi8(1);
        for (; x + 16 <= width; x += 16) {
            // The pairs' sums, 16 of them, in order: each lane adds its own 16 bytes in pairs.
            __m256i sum = _mm256_maddubs_epi16(
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row0 + 2 * x)), ones);
            if (row1)
                sum = _mm256_add_epi16(
                    sum,
                    _mm256_maddubs_epi16(
                        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row1 + 2 * x)), ones));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x),
                                _mm256_slli_epi16(sum, row1 ? 1 : 2));
        }
        return x;
    }
    for (; x + 16 <= width; x += 16) {
        __m256i sum =
            _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row0 + x)));
        if (row1)
            sum = _mm256_add_epi16(
                sum,
                _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row1 + x))));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x),
                            _mm256_slli_epi16(sum, row1 ? 2 : 3));
    }
    return x;
}

REFRAME_AVX2 int32_t ConvertYuvRow_AVX2(const uint16_t* y, const uint16_t* u, const uint16_t* v,
                                        uint8_t* bgr, const YuvToBgr& k, int32_t width) {
    if (k.fullChroma) return 0;  // the plain kernel serves the 32-bit form
    const __m256i yOffset = _mm256_set1_epi16(k.yOffset);
    const __m256i yCoeff = _mm256_set1_epi16(k.yCoeff);
    const __m256i chromaOffset = _mm256_set1_epi16(1024);
    const __m256i ub = _mm256_set1_epi16(k.ubCoeff);
    const __m256i ug = _mm256_set1_epi16(k.ugCoeff);
    const __m256i vg = _mm256_set1_epi16(k.vgCoeff);
    const __m256i vr = _mm256_set1_epi16(k.vrCoeff);
    int32_t x = 0;
    for (; x + 16 <= width; x += 16) {
        const __m256i ys = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(y + x));
        const __m256i cb = _mm256_sub_epi16(
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(u + x)), chromaOffset);
        const __m256i cr = _mm256_sub_epi16(
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(v + x)), chromaOffset);
        const __m256i luma = _mm256_mulhi_epi16(_mm256_sub_epi16(ys, yOffset), yCoeff);
        const __m256i blue = _mm256_add_epi16(luma, _mm256_mulhi_epi16(cb, ub));
        const __m256i green = _mm256_add_epi16(
            luma, _mm256_add_epi16(_mm256_mulhi_epi16(cb, ug), _mm256_mulhi_epi16(cr, vg)));
        const __m256i red = _mm256_add_epi16(luma, _mm256_mulhi_epi16(cr, vr));
        const __m128i b = PackBytes(blue), g = PackBytes(green), r = PackBytes(red);
        for (int chunk = 0; chunk < 3; ++chunk) {
            const __m128i bytes = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(b, Mask(chunk, 0)),
                                                            _mm_shuffle_epi8(g, Mask(chunk, 1))),
                                               _mm_shuffle_epi8(r, Mask(chunk, 2)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(bgr + 3 * x + 16 * chunk), bytes);
        }
    }
    return x;
}

#endif
