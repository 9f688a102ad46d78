// AVX2 inner loops of the unpacker: two 12-byte groups per shuffle.
#include "unpack_kernels.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#define TQDEV_AVX2 __attribute__((target("avx2")))

namespace {

// Per 16-bit lane the two bytes of one sample (see the SSSE3 form), the same
// pattern in both 128-bit halves, each half holding one group.
TQDEV_AVX2 __m256i PairShuffle() {
    return _mm256_setr_epi8(3, 2, 2, 1, 0, 7, 7, 6, 5, 4, 4, 11, 10, 9, 9, 8, 3, 2, 2, 1, 0, 7, 7,
                            6, 5, 4, 4, 11, 10, 9, 9, 8);
}

// Decodes groups p[0..11] and p[12..23]; reads p[0..27].
TQDEV_AVX2 inline __m256i DecodePair(const uint8_t *p, __m256i shuffle) {
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 12));
    const __m256i raw = _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
    const __m256i scale = _mm256_setr_epi16(16, 1, 16, 1, 16, 1, 16, 1, 16, 1, 16, 1, 16, 1, 16, 1);
    return _mm256_srli_epi16(_mm256_mullo_epi16(_mm256_shuffle_epi8(raw, shuffle), scale), 4);
}

TQDEV_AVX2 void DecodeGroupsAvx2(const uint8_t *source, size_t groups, uint16_t *samples) {
    const __m256i shuffle = PairShuffle();
    size_t i = 0;
    // Each pair reads 4 bytes past its second group: keep one group in hand.
    for (; i + 5 <= groups; i += 4) {
        const __m256i a = DecodePair(source + 12 * i, shuffle);
        const __m256i b = DecodePair(source + 12 * i + 24, shuffle);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(samples + 8 * i), a);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(samples + 8 * i + 16), b);
    }
    for (; i + 3 <= groups; i += 2)
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(samples + 8 * i),
                            DecodePair(source + 12 * i, shuffle));
    Ssse3UnpackKernels()->decodeGroups(source + 12 * i, groups - i, samples + 8 * i);
}

TQDEV_AVX2 void SumPairsAvx2(const uint16_t *in, size_t count, uint16_t *out) {
    const __m256i ceiling = _mm256_set1_epi16(4095);
    size_t k = 0;
    for (; k + 16 <= count; k += 16) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(in + 2 * k));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(in + 2 * k + 16));
        // hadd works within 128-bit halves: put the four quarters back in order.
        const __m256i sums = _mm256_permute4x64_epi64(_mm256_hadd_epi16(a, b), 0xD8);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + k), _mm256_min_epi16(sums, ceiling));
    }
    Ssse3UnpackKernels()->sumPairs(in + 2 * k, count - k, out + k);
}

TQDEV_AVX2 void KeepEvenAvx2(const uint16_t *in, size_t count, uint16_t *out) {
    const __m256i low = _mm256_set1_epi32(0xFFFF);
    size_t k = 0;
    for (; k + 16 < count; k += 16) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(in + 2 * k));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(in + 2 * k + 16));
        const __m256i packed =
            _mm256_packs_epi32(_mm256_and_si256(a, low), _mm256_and_si256(b, low));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + k),
                            _mm256_permute4x64_epi64(packed, 0xD8));
    }
    Ssse3UnpackKernels()->keepEven(in + 2 * k, count - k, out + k);
}

TQDEV_AVX2 void ReverseAvx2(const uint16_t *in, size_t count, uint16_t *out) {
    const __m256i reverse = _mm256_setr_epi8(14, 15, 12, 13, 10, 11, 8, 9, 6, 7, 4, 5, 2, 3, 0, 1,
                                             14, 15, 12, 13, 10, 11, 8, 9, 6, 7, 4, 5, 2, 3, 0, 1);
    size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m256i v =
            _mm256_loadu_si256(reinterpret_cast<const __m256i *>(in + count - 16 - i));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + i),
                            _mm256_permute4x64_epi64(_mm256_shuffle_epi8(v, reverse), 0x4E));
    }
    Ssse3UnpackKernels()->reverse(in, count - i, out + i);
}

// DecodePair loading from 4 bytes before each group; reads p[-4..23] and
// nothing after the two groups.
TQDEV_AVX2 inline __m256i DecodePairFromBefore(const uint8_t *p) {
    const __m256i shuffle = _mm256_add_epi8(PairShuffle(), _mm256_set1_epi8(4));
    return DecodePair(p - 4, shuffle);
}

TQDEV_AVX2 void DecodeGroupsBackwardAvx2(const uint8_t *source, size_t groups, uint16_t *samples) {
    size_t i = groups;
    // Both pairs are loaded before either is stored.
    for (; i >= 5; i -= 4) {
        const __m256i high = DecodePairFromBefore(source + 12 * (i - 2));
        const __m256i low = DecodePairFromBefore(source + 12 * (i - 4));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(samples + 8 * (i - 2)), high);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(samples + 8 * (i - 4)), low);
    }
    Ssse3UnpackKernels()->decodeGroupsBackward(source, i, samples);
}

TQDEV_AVX2 void DecodeSumPairsAvx2(const uint8_t *source, size_t groups, uint16_t *out) {
    const __m256i shuffle = PairShuffle();
    const __m256i ones = _mm256_set1_epi16(1);
    const __m256i ceiling = _mm256_set1_epi16(4095);
    size_t i = 0;
    for (; i + 5 <= groups; i += 4) {
        const __m256i a = _mm256_madd_epi16(DecodePair(source + 12 * i, shuffle), ones);
        const __m256i b = _mm256_madd_epi16(DecodePair(source + 12 * i + 24, shuffle), ones);
        const __m256i sums = _mm256_permute4x64_epi64(_mm256_packs_epi32(a, b), 0xD8);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + 4 * i),
                            _mm256_min_epi16(sums, ceiling));
    }
    uint16_t rest[32];
    Ssse3UnpackKernels()->decodeGroups(source + 12 * i, groups - i, rest);
    Ssse3UnpackKernels()->sumPairs(rest, 4 * (groups - i), out + 4 * i);
}

TQDEV_AVX2 void DecodeKeepPhaseAvx2(const uint8_t *source, size_t groups, int phase,
                                    uint16_t *out) {
    const __m256i shuffle = PairShuffle();
    const __m256i low = _mm256_set1_epi32(0xFFFF);
    const __m128i shift = _mm_cvtsi32_si128(16 * phase);
    size_t i = 0;
    for (; i + 5 <= groups; i += 4) {
        const __m256i a = _mm256_srl_epi32(DecodePair(source + 12 * i, shuffle), shift);
        const __m256i b = _mm256_srl_epi32(DecodePair(source + 12 * i + 24, shuffle), shift);
        const __m256i kept = _mm256_packs_epi32(_mm256_and_si256(a, low), _mm256_and_si256(b, low));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + 4 * i),
                            _mm256_permute4x64_epi64(kept, 0xD8));
    }
    uint16_t rest[32];
    Ssse3UnpackKernels()->decodeGroups(source + 12 * i, groups - i, rest);
    for (size_t k = 0; k < 4 * (groups - i); ++k)
        out[4 * i + k] = rest[2 * k + static_cast<size_t>(phase)];
}

TQDEV_AVX2 void DecodeReversedAvx2(const uint8_t *source, size_t groups, uint16_t *outEnd) {
    const __m256i shuffle = PairShuffle();
    const __m256i reverse = _mm256_setr_epi8(14, 15, 12, 13, 10, 11, 8, 9, 6, 7, 4, 5, 2, 3, 0, 1,
                                             14, 15, 12, 13, 10, 11, 8, 9, 6, 7, 4, 5, 2, 3, 0, 1);
    size_t i = 0;
    for (; i + 3 <= groups; i += 2) {
        const __m256i v = _mm256_shuffle_epi8(DecodePair(source + 12 * i, shuffle), reverse);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(outEnd - 8 * (i + 2)),
                            _mm256_permute4x64_epi64(v, 0x4E));
    }
    uint16_t rest[16];
    Ssse3UnpackKernels()->decodeGroups(source + 12 * i, groups - i, rest);
    for (size_t k = 0; k < 8 * (groups - i); ++k)
        *(outEnd - 8 * i - 1 - k) = rest[k];
}

} // namespace

const UnpackKernels *Avx2UnpackKernels() {
    static constexpr UnpackKernels kernels{"avx2",
                                           DecodeGroupsAvx2,
                                           SumPairsAvx2,
                                           KeepEvenAvx2,
                                           ReverseAvx2,
                                           DecodeGroupsBackwardAvx2,
                                           DecodeSumPairsAvx2,
                                           DecodeKeepPhaseAvx2,
                                           DecodeReversedAvx2};
    // The tails fall back to the SSSE3 forms, which every AVX2 CPU has.
    return __builtin_cpu_supports("avx2") && Ssse3UnpackKernels() != nullptr ? &kernels : nullptr;
}

#else

const UnpackKernels *Avx2UnpackKernels() {
    return nullptr;
}

#endif
