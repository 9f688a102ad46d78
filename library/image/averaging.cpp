// Summing unpacked frames into 32-bit sums and turning the sums into the
// rounded average image and its mean level (a mean of row means).
#include "image_data.h"

namespace {

// Division by the frame count as a multiply and shifts, exact for every
// 32-bit dividend, so the per-pixel loop vectorises (a hardware divide
// per pixel does not).
struct Divider {
    uint32_t multiplier;
    int shift; // -1: the divisor is 1
};

Divider MakeDivider(uint32_t divisor) {
    if (divisor == 1)
        return {0, -1};
    int log = 0; // ceil(log2(divisor)), at least 1
    while ((uint64_t{1} << log) < divisor)
        ++log;
    const uint64_t magic = (uint64_t{1} << 32) * ((uint64_t{1} << log) - divisor) / divisor + 1;
    return {static_cast<uint32_t>(magic), log - 1};
}

inline uint32_t Divide(uint32_t n, const Divider &divider) {
    const auto t = static_cast<uint32_t>((uint64_t{divider.multiplier} * n) >> 32);
    return (t + ((n - t) >> 1)) >> divider.shift;
}

// Element count of the unpacked image, 0 for an empty or nonsensical shape.
int64_t ElementCount(const FrameGeometry &geo) {
    return geo.m > 0 && geo.n > 0 ? int64_t{geo.m} * geo.n : 0;
}

} // namespace

void AccumulateFrame(const TQDEV_FRAME_INFO &info, const uint16_t *frame, uint32_t *sums,
                     bool first) {
    const int64_t count = ElementCount(DeriveGeometry(info));
    // Two plain loops rather than one with a branch, so both vectorise.
    if (first) {
        for (int64_t i = 0; i < count; ++i)
            sums[i] = frame[i];
    } else {
        for (int64_t i = 0; i < count; ++i)
            sums[i] += frame[i];
    }
}

namespace {

// Rows up to this wide add their 16-bit pixels in 32 bits without overflow.
constexpr int64_t kNarrowRow = (int64_t{1} << 32) / 65536;

// One row's pixels and their total, in a single pass. The total's type is
// the row's: 32 bits where it cannot overflow, so the loop stays vectorised.
template <typename Total>
[[gnu::always_inline]] inline Total AverageRow(const uint32_t *sums, uint16_t *row, int64_t n,
                                               uint32_t half, const Divider &divider) {
    Total total = 0;
    if (divider.shift < 0) {
        for (int64_t c = 0; c < n; ++c) {
            row[c] = static_cast<uint16_t>(sums[c]);
            total += row[c];
        }
    } else {
        for (int64_t c = 0; c < n; ++c) {
            const auto pixel = static_cast<uint16_t>(Divide(sums[c] + half, divider));
            row[c] = pixel;
            total += pixel;
        }
    }
    return total;
}

#if defined(__x86_64__) || defined(__i386__)
// The same loop in 256-bit vectors where the CPU has them.
__attribute__((target("avx2"))) uint32_t AverageRowAvx2(const uint32_t *sums, uint16_t *row,
                                                        int64_t n, uint32_t half,
                                                        const Divider &divider) {
    return AverageRow<uint32_t>(sums, row, n, half, divider);
}

bool HasAvx2() {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2;
}
#else
uint32_t AverageRowAvx2(const uint32_t *sums, uint16_t *row, int64_t n, uint32_t half,
                        const Divider &divider) {
    return AverageRow<uint32_t>(sums, row, n, half, divider);
}

bool HasAvx2() {
    return false;
}
#endif

int64_t AverageNarrowRow(const uint32_t *sums, uint16_t *row, int64_t n, uint32_t half,
                         const Divider &divider, bool avx2) {
    return avx2 ? AverageRowAvx2(sums, row, n, half, divider)
                : AverageRow<uint32_t>(sums, row, n, half, divider);
}

} // namespace

int32_t AverageFrames(const TQDEV_FRAME_INFO &info, const uint32_t *sums, uint16_t *result,
                      int32_t frameCount) {
    const FrameGeometry geo = DeriveGeometry(info);
    if (ElementCount(geo) == 0 || frameCount < 1)
        return 0;
    const auto frames = static_cast<uint32_t>(frameCount);
    const uint32_t half = frames / 2;
    const Divider divider = MakeDivider(frames);
    const bool avx2 = HasAvx2();
    int64_t total = 0;
    for (int64_t r = 0; r < geo.m; ++r) {
        const uint32_t *rowSums = sums + r * geo.n;
        uint16_t *row = result + r * geo.n;
        const int64_t rowTotal = geo.n <= kNarrowRow
                                     ? AverageNarrowRow(rowSums, row, geo.n, half, divider, avx2)
                                     : AverageRow<int64_t>(rowSums, row, geo.n, half, divider);
        total += (rowTotal + geo.n / 2) / geo.n;
    }
    return static_cast<int32_t>((total + geo.m / 2) / geo.m);
}
