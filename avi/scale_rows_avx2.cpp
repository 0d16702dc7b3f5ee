// Row kernels for processors with AVX2, compiled per function so the rest of the program keeps
// the baseline instruction set; the driver calls them only after CpuHasAvx2().
#include "avi/scale_rows.h"

#if defined(REFRAME_SCALE_X86)

#include <immintrin.h>

#include <algorithm>
#include <cstring>

#define REFRAME_AVX2 __attribute__((target("avx2")))

bool CpuHasAvx2() {
    return __builtin_cpu_supports("avx2");
}

namespace {

// Per 128-bit lane: the 12 bytes of 4 pixels of 4 bytes, the fourth byte of each dropped.
REFRAME_AVX2 inline __m256i DropFourthBytes() {
    return _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -128, -128, -128, -128,  //
                            0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -128, -128, -128, -128);
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

namespace {

REFRAME_AVX2 inline __m128i Load16(const void* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

REFRAME_AVX2 inline void NearestChunk(const uint8_t* source, uint8_t* destination,
                                      const NearestChunks& c, int32_t i) {
    const uint8_t* in = source + c.offset[i];
    __m128i bytes;
    if (c.wide) {
        const int8_t* masks = c.shuffle.data() + 32 * i;
        bytes = _mm_or_si128(_mm_shuffle_epi8(Load16(in), Load16(masks)),
                             _mm_shuffle_epi8(Load16(in + 16), Load16(masks + 16)));
    } else {
        bytes = _mm_shuffle_epi8(Load16(in), Load16(c.shuffle.data() + 16 * i));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(destination + 16 * i), bytes);
}

// Shuffle masks of two chunks for one register: `half` 0 or 1 picks a wide chunk's half.
REFRAME_AVX2 inline __m256i Masks(const int8_t* shuffles, int32_t i, int stride, int half) {
    return LoadTwo(reinterpret_cast<const uint8_t*>(shuffles + stride * i + 16 * half),
                   reinterpret_cast<const uint8_t*>(shuffles + stride * (i + 1) + 16 * half));
}

}  // namespace

// Two chunks per register: both windows loaded, one shuffle (two and an OR for wide chunks),
// one 32-byte store. A row that starts half way into 32 bytes begins with one chunk alone, so
// that no store straddles two cache lines: the frame is written at the pace of the caches, and
// split stores cost twice.
REFRAME_AVX2 void ScaleRowNearestChunks_AVX2(const uint8_t* source, uint8_t* destination,
                                             const NearestChunks& c, const int32_t* map) {
    const int32_t* offsets = c.offset.data();
    const int8_t* shuffles = c.shuffle.data();
    const int32_t count = static_cast<int32_t>(c.offset.size());
    int32_t i = 0;
    if (count > 0 && (reinterpret_cast<uintptr_t>(destination) & 31) == 16) {
        NearestChunk(source, destination, c, 0);
        i = 1;
    }
    if (c.wide) {
        for (; i + 2 <= count; i += 2) {
            const uint8_t* first = source + offsets[i];
            const uint8_t* second = source + offsets[i + 1];
            const __m256i bytes = _mm256_or_si256(
                _mm256_shuffle_epi8(LoadTwo(first, second), Masks(shuffles, i, 32, 0)),
                _mm256_shuffle_epi8(LoadTwo(first + 16, second + 16), Masks(shuffles, i, 32, 1)));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(destination + 16 * i), bytes);
        }
    } else {
        for (; i + 2 <= count; i += 2) {
            const __m256i bytes = _mm256_shuffle_epi8(
                LoadTwo(source + offsets[i], source + offsets[i + 1]),
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(shuffles + 16 * i)));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(destination + 16 * i), bytes);
        }
    }
    if (i < count) NearestChunk(source, destination, c, i);
    // The pixel that the last chunk cut through is written again, whole.
    const int32_t x = 16 * count / 3;
    ScaleRowNearest_C(source, destination + 3 * x, map + x, c.destinationSize - x, c.sourceSize);
}

// Eight pixels per round, two per register: each lane turns 16 bytes at one pixel pair into
// the interleaved words (p[k].c, p[k + 1].c) that one multiply-add weighs. Packing registers of
// pixels 0|4 and 1|5 gives 0 1 | 4 5, the intermediate row's own order.
REFRAME_AVX2 int32_t ScaleRowHorizontal_AVX2(const uint8_t* source, int16_t* destination,
                                             const ScaleFilter& f, int32_t begin, int32_t end) {
    if (begin % 8 != 0) return 0;
    const size_t stride = f.pairStride;
    const size_t lastStep = static_cast<size_t>(f.pairSteps - 1) * stride;
    const int32_t limit = 3 * f.sourceSize - 16;
    const __m256i interleave = _mm256_setr_epi8(
        0, -128, 3, -128, 1, -128, 4, -128, 2, -128, 5, -128, -128, -128, -128, -128, 0, -128, 3,
        -128, 1, -128, 4, -128, 2, -128, 5, -128, -128, -128, -128, -128);
    constexpr int shift = SCALE_WEIGHT_BITS - SCALE_FRACTION_BITS;
    const __m256i half = _mm256_set1_epi32(1 << (shift - 1));
    const int32_t* offsets = f.pairOffset.data();
    const int16_t* vectors = f.pairVector.data();
    int32_t x = begin;
    for (; x + 8 <= end; x += 8) {
        if (offsets[lastStep + x + 7] > limit) break;
        __m256i sum[4] = {half, half, half, half};
        for (int32_t s = 0; s < f.pairSteps; ++s) {
            const size_t e = s * stride + x;
            for (int p = 0; p < 4; ++p) {
                const __m256i pairs = _mm256_shuffle_epi8(
                    LoadTwo(source + offsets[e + 2 * p], source + offsets[e + 2 * p + 1]),
                    interleave);
                sum[p] = _mm256_add_epi32(
                    sum[p], _mm256_madd_epi16(pairs, Load(vectors + (e + 2 * p) * 8)));
            }
        }
        for (int p = 0; p < 4; ++p) sum[p] = _mm256_srai_epi32(sum[p], shift);
        int16_t* out = destination + 4 * static_cast<size_t>(x);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_packs_epi32(sum[0], sum[1]));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 16),
                            _mm256_packs_epi32(sum[2], sum[3]));
    }
    return x - begin;
}

// Two destination pixels per lane from one 16-byte read, for filters of at most two taps:
// value = first + (second - first) * fraction, in 1/32768ths.
REFRAME_AVX2 int32_t ScaleRowHorizontalTwoTap_AVX2(const uint8_t* source, int16_t* destination,
                                                   const ScaleFilter& f, int32_t begin,
                                                   int32_t end) {
    if (begin % 8 != 0) return 0;
    const int32_t limit = 3 * f.sourceSize - 16;
    // Local copies: the stores below may alias anything, which would reload these each round.
    const int32_t* offsets = f.blockOffset.data();
    const int8_t* firstMasks = f.blockFirst.data();
    const int8_t* secondMasks = f.blockSecond.data();
    const int16_t* fractions = f.blockFraction.data();
    int32_t x = begin;
    for (; x + 8 <= end; x += 8) {
        const int32_t j = x / 2;  // first of the group's 4 blocks, listed 0 2 1 3
        if (offsets[j + 3] > limit) break;
        int16_t* out = destination + 4 * static_cast<size_t>(x);
        for (int h = 0; h < 2; ++h) {
            const int32_t e = j + 2 * h;
            const __m256i bytes = LoadTwo(source + offsets[e], source + offsets[e + 1]);
            const __m256i first = _mm256_shuffle_epi8(
                bytes, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(firstMasks + e * 16)));
            const __m256i second = _mm256_shuffle_epi8(
                bytes, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(secondMasks + e * 16)));
            const __m256i step =
                _mm256_slli_epi16(_mm256_sub_epi16(second, first), SCALE_FRACTION_BITS);
            const __m256i value =
                _mm256_add_epi16(_mm256_slli_epi16(first, SCALE_FRACTION_BITS),
                                 _mm256_mulhrs_epi16(step, Load(fractions + e * 8)));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 16 * h), value);
        }
    }
    return x - begin;
}

namespace {

// The block loop for lanes of LaneWords values, whose positions are then constants.
template <int LaneWords>
REFRAME_AVX2 inline void ExactBlocks(const uint8_t* in, uint16_t* out, const ExactRowFilter& f,
                                     int32_t blocks) {
    constexpr int32_t period = 3 * LaneWords;
    auto word = [](int lane) { return (lane / 3) * period + (lane % 3) * LaneWords; };
    __m256i shuffle[3], weight[3];
    for (int k = 0; k < 3; ++k) {
        shuffle[k] = LoadTwo(reinterpret_cast<const uint8_t*>(f.shuffle[2 * k]),
                             reinterpret_cast<const uint8_t*>(f.shuffle[2 * k + 1]));
        weight[k] = LoadTwo(reinterpret_cast<const uint8_t*>(f.weight[2 * k]),
                            reinterpret_cast<const uint8_t*>(f.weight[2 * k + 1]));
    }
    const ptrdiff_t o0 = f.laneOffset[0], o1 = f.laneOffset[1], o2 = f.laneOffset[2];
    const ptrdiff_t o3 = f.laneOffset[3], o4 = f.laneOffset[4], o5 = f.laneOffset[5];
    const ptrdiff_t step = f.blockBytes;
    for (int32_t n = 0; n < blocks; ++n, in += step, out += 2 * period) {
        const __m256i v[3] = {
            _mm256_maddubs_epi16(_mm256_shuffle_epi8(LoadTwo(in + o0, in + o1), shuffle[0]),
                                 weight[0]),
            _mm256_maddubs_epi16(_mm256_shuffle_epi8(LoadTwo(in + o2, in + o3), shuffle[1]),
                                 weight[1]),
            _mm256_maddubs_epi16(_mm256_shuffle_epi8(LoadTwo(in + o4, in + o5), shuffle[2]),
                                 weight[2])};
        for (int k = 0; k < 3; ++k) {
            if constexpr (LaneWords == 8) {
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + word(2 * k)), v[k]);
            } else {
                // Lanes of 7 values: each store's spare value is overwritten by the next.
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + word(2 * k)),
                                 _mm256_castsi256_si128(v[k]));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + word(2 * k + 1)),
                                 _mm256_extracti128_si256(v[k], 1));
            }
        }
    }
}

}  // namespace

// Two lanes per register, six per block: load, pair the bytes with one shuffle, weigh them with
// one multiply-add of unsigned bytes by small signed weights (sums stay far below 2^15).
REFRAME_AVX2 int32_t ScaleRowExactHorizontal_AVX2(const uint8_t* source, uint16_t* destination,
                                                  const ExactRowFilter& f) {
    if (!f.vector) return f.vectorBegin;
    const int32_t values = 3 * f.destinationSize;
    const int32_t bytes = 3 * f.sourceSize;
    int32_t reach = 0;
    for (int lane = 0; lane < 6; ++lane) reach = std::max(reach, f.laneOffset[lane] + 16);
    int32_t o = f.vectorBegin, b = f.vectorBegin ? f.blockBytes : 0;
    // Whole blocks whose values lie in the row and whose reads stay inside it.
    int32_t blocks = 0;
    if (o + f.blockWords <= values && b + reach <= bytes) {
        blocks = std::min((values - o) / f.blockWords, (bytes - b - reach) / f.blockBytes + 1);
    }
    if (f.laneWords == 8) {
        ExactBlocks<8>(source + b, destination + o, f, blocks);
    } else {
        ExactBlocks<7>(source + b, destination + o, f, blocks);
    }
    o += blocks * f.blockWords;
    b += blocks * f.blockBytes;
    // The block that reaches the row's end: its lanes one at a time while their reads fit.
    for (int lane = 0; lane < 6; ++lane) {
        const int32_t from = b + f.laneOffset[lane];
        const int32_t word = o + f.laneWord[lane];
        if (word + f.laneWords > values || from + 16 > bytes) return word;
        const __m128i v = _mm_maddubs_epi16(
            _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(source + from)),
                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(f.shuffle[lane]))),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(f.weight[lane])));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(destination + word), v);
    }
    return o + f.blockWords;
}

// Division by total (2..16) as a multiply by ceil(2^16 / total) keeping the high half. The
// multiplier overshoots 2^16 / total by at most 8 / total, which stays under the 1 / total that
// would change a quotient for sums below 2^13; sums are at most 16 * 255 + 8.
REFRAME_AVX2 int32_t ScaleRowExactVertical_AVX2(const uint16_t* a, const uint16_t* b, int32_t wa,
                                                int32_t wb, int32_t total, uint8_t* destination,
                                                int32_t values) {
    if (total < 2) return 0;
    const __m256i va = _mm256_set1_epi16(static_cast<int16_t>(wa));
    const __m256i vb = _mm256_set1_epi16(static_cast<int16_t>(wb));
    const __m256i half = _mm256_set1_epi16(static_cast<int16_t>(total / 2));
    const __m256i multiplier = _mm256_set1_epi16(static_cast<int16_t>((65536 + total - 1) / total));
    int32_t x = 0;
    for (; x + 32 <= values; x += 32) {
        __m256i q[2];
        for (int h = 0; h < 2; ++h) {
            const __m256i sa = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + x + 16 * h));
            const __m256i sb = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + x + 16 * h));
            const __m256i sum = _mm256_add_epi16(
                _mm256_add_epi16(_mm256_mullo_epi16(sa, va), _mm256_mullo_epi16(sb, vb)), half);
            q[h] = _mm256_mulhi_epu16(sum, multiplier);
        }
        // Packing works per lane: restore the order of the four 8-byte quarters.
        const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(q[0], q[1]), 0xD8);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(destination + x), packed);
    }
    return x;
}

namespace {

// Writes 8 pixels from two registers of 16 words each in the intermediate order (0 1 | 4 5 and
// 2 3 | 6 7) as 24 bytes; `room` is how many bytes the row has left from `out`.
REFRAME_AVX2 inline void StoreEightPixels(uint8_t* out, __m256i first, __m256i second,
                                          size_t room) {
    const __m256i bytes =
        JoinLanes(_mm256_shuffle_epi8(_mm256_packus_epi16(first, second), DropFourthBytes()));
    if (room >= 32) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), bytes);
    } else {
        uint8_t group[32];
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(group), bytes);
        std::memcpy(out, group, room < 24 ? room : 24);
    }
}

}  // namespace

REFRAME_AVX2 void ScaleRowVertical_AVX2(const int16_t* const* rows, const ScaleFilter& f, int32_t d,
                                        uint8_t* destination, int32_t width) {
    const size_t bytes = 3 * static_cast<size_t>(width);
    if (f.pairSteps == 1) {
        // Two rows: a + (b - a) * fraction, with the fraction in 1/32768ths.
        const __m256i weight = _mm256_set1_epi16(f.secondWeight15[d]);
        const __m256i half = _mm256_set1_epi16(1 << (SCALE_FRACTION_BITS - 1));
        const int16_t* a = rows[0];
        const int16_t* b = rows[1];
        for (int32_t x = 0; x < width; x += 8) {
            __m256i v[2];
            for (int h = 0; h < 2; ++h) {
                const __m256i va = Load(a + 4 * static_cast<size_t>(x) + 16 * h);
                const __m256i vb = Load(b + 4 * static_cast<size_t>(x) + 16 * h);
                const __m256i mixed =
                    _mm256_add_epi16(va, _mm256_mulhrs_epi16(_mm256_sub_epi16(vb, va), weight));
                v[h] = _mm256_srli_epi16(_mm256_add_epi16(mixed, half), SCALE_FRACTION_BITS);
            }
            StoreEightPixels(destination + 3 * static_cast<size_t>(x), v[0], v[1], bytes - 3 * x);
        }
        return;
    }

    const int32_t taps = 2 * f.pairSteps;
    const int16_t* w = &f.pairWeight[static_cast<size_t>(d) * taps];
    constexpr int shift = SCALE_WEIGHT_BITS + SCALE_FRACTION_BITS;
    const __m256i half = _mm256_set1_epi32(1 << (shift - 1));
    for (int32_t x = 0; x < width; x += 8) {
        __m256i v[2];
        for (int h = 0; h < 2; ++h) {
            const size_t at = 4 * static_cast<size_t>(x) + 16 * h;
            __m256i low = half, high = half;
            for (int32_t t = 0; t < taps; t += 2) {
                const __m256i weights = _mm256_set1_epi32(static_cast<uint16_t>(w[t]) |
                                                          (static_cast<uint32_t>(w[t + 1]) << 16));
                const __m256i a = Load(rows[t] + at);
                const __m256i b = Load(rows[t + 1] + at);
                low =
                    _mm256_add_epi32(low, _mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), weights));
                high =
                    _mm256_add_epi32(high, _mm256_madd_epi16(_mm256_unpackhi_epi16(a, b), weights));
            }
            // Unpacking and packing stay within lanes, so the words come back in order.
            v[h] =
                _mm256_packs_epi32(_mm256_srai_epi32(low, shift), _mm256_srai_epi32(high, shift));
        }
        StoreEightPixels(destination + 3 * static_cast<size_t>(x), v[0], v[1], bytes - 3 * x);
    }
}

#endif
