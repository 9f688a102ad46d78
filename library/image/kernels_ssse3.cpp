// SSSE3 inner loops of the unpacker: one 12-byte group per shuffle.
#include "unpack_kernels.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#define TQDEV_SSSE3 __attribute__((target("ssse3")))

namespace {

// Gathers, per 16-bit lane, the two bytes that hold one sample: even samples
// are the low 12 bits of their lane, odd samples the high 12.
TQDEV_SSSE3 __m128i GroupShuffle(int shift) {
    return _mm_add_epi8(_mm_setr_epi8(3, 2, 2, 1, 0, 7, 7, 6, 5, 4, 4, 11, 10, 9, 9, 8),
                        _mm_set1_epi8(static_cast<char>(shift)));
}

// Keeps the low 12 bits of even lanes and the high 12 of odd lanes.
TQDEV_SSSE3 __m128i SelectSamples(__m128i lanes) {
    const __m128i scale = _mm_setr_epi16(16, 1, 16, 1, 16, 1, 16, 1);
    return _mm_srli_epi16(_mm_mullo_epi16(lanes, scale), 4);
}

TQDEV_SSSE3 void DecodeGroupsSsse3(const uint8_t *source, size_t groups, uint16_t *samples) {
    const __m128i shuffle = GroupShuffle(0);
    size_t i = 0;
    // A 16-byte load reads 4 bytes past its group, so the last group is
    // loaded from 4 bytes earlier instead.
    for (; i + 1 < groups; ++i) {
        const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i *>(source + 12 * i));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(samples + 8 * i),
                         SelectSamples(_mm_shuffle_epi8(raw, shuffle)));
    }
    if (i < groups && i > 0) {
        const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i *>(source + 12 * i - 4));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(samples + 8 * i),
                         SelectSamples(_mm_shuffle_epi8(raw, GroupShuffle(4))));
    } else if (i < groups) {
        ScalarUnpackKernels().decodeGroups(source, 1, samples);
    }
}

TQDEV_SSSE3 void SumPairsSsse3(const uint16_t *in, size_t count, uint16_t *out) {
    const __m128i ceiling = _mm_set1_epi16(4095);
    size_t k = 0;
    for (; k + 8 <= count; k += 8) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + 2 * k));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + 2 * k + 8));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + k),
                         _mm_min_epi16(_mm_hadd_epi16(a, b), ceiling));
    }
    ScalarUnpackKernels().sumPairs(in + 2 * k, count - k, out + k);
}

TQDEV_SSSE3 void KeepEvenSsse3(const uint16_t *in, size_t count, uint16_t *out) {
    const __m128i low = _mm_set1_epi32(0xFFFF);
    size_t k = 0;
    // Stop while a whole last pair is still ahead: in[2 x count - 1] may lie
    // outside the caller's samples.
    for (; k + 8 < count; k += 8) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + 2 * k));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + 2 * k + 8));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + k),
                         _mm_packs_epi32(_mm_and_si128(a, low), _mm_and_si128(b, low)));
    }
    ScalarUnpackKernels().keepEven(in + 2 * k, count - k, out + k);
}

TQDEV_SSSE3 void ReverseSsse3(const uint16_t *in, size_t count, uint16_t *out) {
    const __m128i reverse = _mm_setr_epi8(14, 15, 12, 13, 10, 11, 8, 9, 6, 7, 4, 5, 2, 3, 0, 1);
    size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + count - 8 - i));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), _mm_shuffle_epi8(v, reverse));
    }
    ScalarUnpackKernels().reverse(in, count - i, out + i);
}

// Loads each group from 4 bytes before it (the first group excepted), so
// that nothing past its 12 bytes is read: those may already hold pixels.
TQDEV_SSSE3 void DecodeGroupsBackwardSsse3(const uint8_t *source, size_t groups,
                                           uint16_t *samples) {
    const __m128i shifted = GroupShuffle(4);
    for (size_t i = groups; i-- > 1;) {
        const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i *>(source + 12 * i - 4));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(samples + 8 * i),
                         SelectSamples(_mm_shuffle_epi8(raw, shifted)));
    }
    if (groups > 0)
        ScalarUnpackKernels().decodeGroupsBackward(source, 1, samples);
}

} // namespace

const UnpackKernels *Ssse3UnpackKernels() {
    static constexpr UnpackKernels kernels{
        "ssse3",       DecodeGroupsSsse3, SumPairsSsse3,
        KeepEvenSsse3, ReverseSsse3,      DecodeGroupsBackwardSsse3,
        nullptr,       nullptr,           nullptr,
        nullptr,       nullptr,           nullptr,
        nullptr};
    return __builtin_cpu_supports("ssse3") ? &kernels : nullptr;
}

#else

const UnpackKernels *Ssse3UnpackKernels() {
    return nullptr;
}

#endif
