// AVX2 inner loops of the unpacker: two 12-byte groups per shuffle.
#include <cstring>

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

// Decodes group p in the low half and group q in the high half; reads 16
// bytes from each.
TQDEV_AVX2 inline __m256i DecodeTwo(const uint8_t *p, const uint8_t *q, __m256i shuffle) {
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i *>(q));
    const __m256i raw = _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
    const __m256i scale = _mm256_setr_epi16(16, 1, 16, 1, 16, 1, 16, 1, 16, 1, 16, 1, 16, 1, 16, 1);
    return _mm256_srli_epi16(_mm256_mullo_epi16(_mm256_shuffle_epi8(raw, shuffle), scale), 4);
}

// Decodes groups p[0..11] and p[12..23]; reads p[0..27].
TQDEV_AVX2 inline __m256i DecodePair(const uint8_t *p, __m256i shuffle) {
    return DecodeTwo(p, p + 12, shuffle);
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

// Bins of 3 straight from registers: groups i, i + 1, i + 2 in the low halves
// and i + 3, i + 4, i + 5 in the high halves make 8 pixels per half; each
// pixel's three samples are picked out of the three vectors by shuffles.
TQDEV_AVX2 void DecodeSumTriplesAvx2(const uint8_t *source, size_t groups, uint16_t *out) {
    const __m256i shuffle = PairShuffle();
    const __m256i pick0a = _mm256_broadcastsi128_si256(_mm_setr_epi8(
        0, 1, 6, 7, 12, 13, -128, -128, -128, -128, -128, -128, -128, -128, -128, -128));
    const __m256i pick0b = _mm256_broadcastsi128_si256(_mm_setr_epi8(
        -128, -128, -128, -128, -128, -128, 2, 3, 8, 9, 14, 15, -128, -128, -128, -128));
    const __m256i pick0c = _mm256_broadcastsi128_si256(_mm_setr_epi8(
        -128, -128, -128, -128, -128, -128, -128, -128, -128, -128, -128, -128, 4, 5, 10, 11));
    const __m256i pick1a = _mm256_broadcastsi128_si256(_mm_setr_epi8(
        2, 3, 8, 9, 14, 15, -128, -128, -128, -128, -128, -128, -128, -128, -128, -128));
    const __m256i pick1b = _mm256_broadcastsi128_si256(_mm_setr_epi8(
        -128, -128, -128, -128, -128, -128, 4, 5, 10, 11, -128, -128, -128, -128, -128, -128));
    const __m256i pick1c = _mm256_broadcastsi128_si256(_mm_setr_epi8(
        -128, -128, -128, -128, -128, -128, -128, -128, -128, -128, 0, 1, 6, 7, 12, 13));
    const __m256i pick2a = _mm256_broadcastsi128_si256(_mm_setr_epi8(
        4, 5, 10, 11, -128, -128, -128, -128, -128, -128, -128, -128, -128, -128, -128, -128));
    const __m256i pick2b = _mm256_broadcastsi128_si256(_mm_setr_epi8(
        -128, -128, -128, -128, 0, 1, 6, 7, 12, 13, -128, -128, -128, -128, -128, -128));
    const __m256i pick2c = _mm256_broadcastsi128_si256(_mm_setr_epi8(
        -128, -128, -128, -128, -128, -128, -128, -128, -128, -128, 2, 3, 8, 9, 14, 15));
    const __m256i ceiling = _mm256_set1_epi16(4095);
    size_t i = 0;
    // The last load reads 4 bytes past group i + 5: keep one group in hand.
    for (; i + 7 <= groups; i += 6, source += 72, out += 16) {
        const __m256i a = DecodeTwo(source, source + 36, shuffle);
        const __m256i b = DecodeTwo(source + 12, source + 48, shuffle);
        const __m256i c = DecodeTwo(source + 24, source + 60, shuffle);
        __m256i sum = _mm256_shuffle_epi8(a, pick0a);
        sum = _mm256_add_epi16(sum, _mm256_shuffle_epi8(b, pick0b));
        sum = _mm256_add_epi16(sum, _mm256_shuffle_epi8(c, pick0c));
        sum = _mm256_add_epi16(sum, _mm256_shuffle_epi8(a, pick1a));
        sum = _mm256_add_epi16(sum, _mm256_shuffle_epi8(b, pick1b));
        sum = _mm256_add_epi16(sum, _mm256_shuffle_epi8(c, pick1c));
        sum = _mm256_add_epi16(sum, _mm256_shuffle_epi8(a, pick2a));
        sum = _mm256_add_epi16(sum, _mm256_shuffle_epi8(b, pick2b));
        sum = _mm256_add_epi16(sum, _mm256_shuffle_epi8(c, pick2c));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out), _mm256_min_epu16(sum, ceiling));
    }
    // The last units (at most 6 groups) through a small buffer.
    alignas(32) uint16_t samples[48];
    DecodeGroupsAvx2(source, groups - i, samples);
    for (size_t k = 0; k < 8 * (groups - i) / 3; ++k) {
        const unsigned sum = samples[3 * k] + samples[3 * k + 1] + samples[3 * k + 2];
        out[k] = static_cast<uint16_t>(sum < 4095 ? sum : 4095);
    }
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

// Samples 4..7 of a group and 0..3 of the next from the 16 bytes that start
// 4 bytes into the group, in both 128-bit halves.
TQDEV_AVX2 __m256i StraddleShuffle() {
    return _mm256_setr_epi8(1, 0, 0, 7, 6, 5, 5, 4, 11, 10, 10, 9, 8, 15, 15, 14, 1, 0, 0, 7, 6, 5,
                            5, 4, 11, 10, 10, 9, 8, 15, 15, 14);
}

TQDEV_AVX2 inline void StreamOneBlock(const uint8_t *bytes, uint16_t *block, __m256i shuffle) {
    const __m128i v = _mm256_castsi256_si128(DecodeTwo(bytes, bytes, shuffle));
    _mm_stream_si128(reinterpret_cast<__m128i *>(block), v);
}

// A store through the cache to a line that streaming stores also fill
// fetches that line from memory and splits its write: the edges of a
// streamed row go past the cache too, in 8-byte pieces.
void StoreStreaming(uint16_t *out, const uint16_t *samples, size_t count) {
    size_t k = 0;
    for (; k < count && reinterpret_cast<uintptr_t>(out + k) % 8 != 0; ++k)
        out[k] = samples[k];
    for (; k + 4 <= count; k += 4) {
        long long piece;
        std::memcpy(&piece, samples + k, sizeof piece);
        _mm_stream_si64(reinterpret_cast<long long *>(out + k), piece);
    }
    std::memcpy(out + k, samples + k, (count - k) * sizeof(uint16_t));
}

// decodeGroupsBackward storing past the cache. Streaming stores need aligned
// blocks: where the samples' 16-byte boundaries fall between groups a block
// is a group; where they fall mid-group (the camera's 4 dark columns put
// them there) a block straddles two groups. The groups no block covers whole
// are decoded first and stored last. In place nothing is read after a store
// has reached it: the bytes of a block end before the samples of the block
// above it start.
TQDEV_AVX2 void DecodeGroupsBackwardStreamingAvx2(const uint8_t *source, size_t groups,
                                                  uint16_t *samples) {
    const auto address = reinterpret_cast<uintptr_t>(samples);
    if (groups < 3 || address % 8 != 0) {
        DecodeGroupsBackwardAvx2(source, groups, samples);
        return;
    }
    const bool straddle = address % 16 != 0;
    uint16_t first[8], last[8];
    Ssse3UnpackKernels()->decodeGroups(source, 1, first);
    if (straddle)
        Ssse3UnpackKernels()->decodeGroups(source + 12 * (groups - 1), 1, last);
    // Block k holds samples [8k + shift, 8k + shift + 8), decoded from the 16
    // bytes at source + 12k + offset; blocks [lowest, end) are streamed.
    const size_t shift = straddle ? 4 : 0;
    const ptrdiff_t offset = straddle ? 4 : -4;
    const __m256i shuffle =
        straddle ? StraddleShuffle() : _mm256_add_epi8(PairShuffle(), _mm256_set1_epi8(4));
    const size_t lowest = straddle ? 0 : 1;
    size_t end = straddle ? groups - 1 : groups;
    auto bytes = [&](size_t k) { return source + static_cast<ptrdiff_t>(12 * k) + offset; };
    auto block = [&](size_t k) { return samples + 8 * k + shift; };
    // Pairs of blocks go out as 32-byte stores, which must be 32-byte aligned.
    if (end >= lowest + 4 && reinterpret_cast<uintptr_t>(block(end - 2)) % 32 != 0) {
        --end;
        StreamOneBlock(bytes(end), block(end), shuffle);
    }
    // Four blocks loaded before any of them is stored.
    for (; end >= lowest + 4; end -= 4) {
        const __m256i high = DecodeTwo(bytes(end - 2), bytes(end - 1), shuffle);
        const __m256i low = DecodeTwo(bytes(end - 4), bytes(end - 3), shuffle);
        _mm256_stream_si256(reinterpret_cast<__m256i *>(block(end - 2)), high);
        _mm256_stream_si256(reinterpret_cast<__m256i *>(block(end - 4)), low);
    }
    while (end > lowest) {
        --end;
        StreamOneBlock(bytes(end), block(end), shuffle);
    }
    StoreStreaming(samples, first, shift != 0 ? 4 : 8);
    if (straddle)
        StoreStreaming(samples + 8 * groups - 4, last + 4, 4);
}

// Streaming stores bypass the cache: frames larger than the cache would only
// push the packed data out of it.
template <bool kStream> TQDEV_AVX2 inline void Store(uint16_t *out, __m256i v) {
    if constexpr (kStream)
        _mm256_stream_si256(reinterpret_cast<__m256i *>(out), v);
    else
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out), v);
}

// Groups (4 pixels, 8 bytes each) to make before out + 4 x groups is 32-byte
// aligned; SIZE_MAX when it never is.
size_t GroupsBeforeAlignment(const uint16_t *out) {
    const auto address = reinterpret_cast<uintptr_t>(out);
    return address % 8 != 0 ? SIZE_MAX : (32 - address % 32) % 32 / 8;
}

// Pixels of groups [first, end) (at most 4) through a small buffer.
void SumPairsFew(const uint8_t *source, size_t first, size_t end, uint16_t *out) {
    uint16_t samples[32];
    Ssse3UnpackKernels()->decodeGroups(source + 12 * first, end - first, samples);
    Ssse3UnpackKernels()->sumPairs(samples, 4 * (end - first), out + 4 * first);
}

void KeepPhaseFew(const uint8_t *source, size_t first, size_t end, int phase, uint16_t *out) {
    uint16_t samples[32];
    Ssse3UnpackKernels()->decodeGroups(source + 12 * first, end - first, samples);
    for (size_t k = 0; k < 4 * (end - first); ++k)
        out[4 * first + k] = samples[2 * k + static_cast<size_t>(phase)];
}

// Groups from `first` on, 4 at a time while a group follows the last of
// them; returns the first group not made.
template <bool kStream>
TQDEV_AVX2 size_t SumPairsBlocks(const uint8_t *source, size_t first, size_t groups,
                                 uint16_t *out) {
    const __m256i shuffle = PairShuffle();
    const __m256i ones = _mm256_set1_epi16(1);
    const __m256i ceiling = _mm256_set1_epi16(4095);
    size_t i = first;
    for (; i + 5 <= groups; i += 4) {
        const __m256i a = _mm256_madd_epi16(DecodePair(source + 12 * i, shuffle), ones);
        const __m256i b = _mm256_madd_epi16(DecodePair(source + 12 * i + 24, shuffle), ones);
        const __m256i sums = _mm256_permute4x64_epi64(_mm256_packs_epi32(a, b), 0xD8);
        Store<kStream>(out + 4 * i, _mm256_min_epi16(sums, ceiling));
    }
    return i;
}

template <bool kStream>
TQDEV_AVX2 size_t KeepPhaseBlocks(const uint8_t *source, size_t first, size_t groups, int phase,
                                  uint16_t *out) {
    const __m256i shuffle = PairShuffle();
    const __m256i low = _mm256_set1_epi32(0xFFFF);
    const __m128i shift = _mm_cvtsi32_si128(16 * phase);
    size_t i = first;
    for (; i + 5 <= groups; i += 4) {
        const __m256i a = _mm256_srl_epi32(DecodePair(source + 12 * i, shuffle), shift);
        const __m256i b = _mm256_srl_epi32(DecodePair(source + 12 * i + 24, shuffle), shift);
        const __m256i kept = _mm256_packs_epi32(_mm256_and_si256(a, low), _mm256_and_si256(b, low));
        Store<kStream>(out + 4 * i, _mm256_permute4x64_epi64(kept, 0xD8));
    }
    return i;
}

TQDEV_AVX2 void DecodeSumPairsAvx2(const uint8_t *source, size_t groups, bool stream,
                                   uint16_t *out) {
    size_t i = 0;
    const size_t head = stream ? GroupsBeforeAlignment(out) : SIZE_MAX;
    if (head < groups) {
        SumPairsFew(source, 0, head, out);
        i = SumPairsBlocks<true>(source, head, groups, out);
    } else {
        i = SumPairsBlocks<false>(source, 0, groups, out);
    }
    SumPairsFew(source, i, groups, out);
}

TQDEV_AVX2 void DecodeKeepPhaseAvx2(const uint8_t *source, size_t groups, int phase, bool stream,
                                    uint16_t *out) {
    size_t i = 0;
    const size_t head = stream ? GroupsBeforeAlignment(out) : SIZE_MAX;
    if (head < groups) {
        KeepPhaseFew(source, 0, head, phase, out);
        i = KeepPhaseBlocks<true>(source, head, groups, phase, out);
    } else {
        i = KeepPhaseBlocks<false>(source, 0, groups, phase, out);
    }
    KeepPhaseFew(source, i, groups, phase, out);
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

void FinishStreamingAvx2() {
    _mm_sfence();
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
                                           DecodeReversedAvx2,
                                           FinishStreamingAvx2,
                                           DecodeSumTriplesAvx2,
                                           DecodeGroupsBackwardStreamingAvx2,
                                           StoreStreaming};
    // The tails fall back to the SSSE3 forms, which every AVX2 CPU has.
    return __builtin_cpu_supports("avx2") && Ssse3UnpackKernels() != nullptr ? &kernels : nullptr;
}

#else

const UnpackKernels *Avx2UnpackKernels() {
    return nullptr;
}

#endif
