// Unpacking and accumulation throughput of a 4096 x 3072 frame, each timed
// against memcpy of the same output bytes in the same run. The counter
// "vs_memcpy" is memcpy's time over the operation's time: 1.0 means the
// operation produces its pixels as fast as memcpy copies them.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "image_data.h"
#include "memcpy_ratio.h"
#include "unpack_kernels.h"

namespace {

constexpr int32_t kWidth = 4096, kHeight = 3072;

TQDEV_FRAME_INFO FrameInfo(uint32_t hb, uint32_t flags, uint32_t extFlags) {
    TQDEV_FRAME_INFO info{};
    info.line_width = kWidth;
    info.line_count = kHeight;
    info.width = kWidth;
    info.height = kHeight;
    info.h_binning = hb;
    info.v_binning = 1;
    info.flags = flags;
    info.ext_flags = extFlags;
    info.image_size = kWidth / hb * kHeight * 2;
    info.packed_size = kWidth * kHeight / 8 * 12;
    return info;
}

std::vector<uint8_t> PackedFrame() {
    std::mt19937 random(1);
    std::vector<uint16_t> samples(size_t{kWidth} * kHeight);
    for (auto &s : samples)
        s = static_cast<uint16_t>(random() & 0xFFF);
    std::vector<uint8_t> packed(samples.size() / 8 * 12);
    PackSamples(samples.data(), static_cast<uint32_t>(samples.size() * 2), packed.data());
    return packed;
}

const std::vector<uint8_t> &Packed() {
    static const std::vector<uint8_t> packed = PackedFrame();
    return packed;
}

void UnpackSeparate(benchmark::State &state, const UnpackKernels *kernels, uint32_t hb,
                    uint32_t flags, uint32_t extFlags) {
    if (kernels == nullptr) {
        state.SkipWithError("CPU lacks these instructions");
        return;
    }
    Packed(); // built once, outside the timing
    const TQDEV_FRAME_INFO info = FrameInfo(hb, flags, extFlags);
    std::vector<uint16_t> pixels(info.image_size / 2);
    RunAgainstMemcpy(
        state, info.image_size, [] {},
        [&] {
            UnpackFrameWith(*kernels, info, info.line_count, Packed().data(), pixels.data());
            benchmark::DoNotOptimize(pixels.data());
        });
}

void UnpackInPlace(benchmark::State &state, uint32_t hb) {
    Packed();
    const TQDEV_FRAME_INFO info = FrameInfo(hb, 0, 0);
    std::vector<uint8_t> buffer(std::max<size_t>(info.image_size, Packed().size()));
    RunAgainstMemcpy(
        state, info.image_size,
        [&] { std::memcpy(buffer.data(), Packed().data(), Packed().size()); },
        [&] {
            UnpackFrame(info, info.line_count, buffer.data(),
                        reinterpret_cast<uint16_t *>(buffer.data()));
            benchmark::DoNotOptimize(buffer.data());
        });
}

void Accumulate(benchmark::State &state) {
    const TQDEV_FRAME_INFO info = FrameInfo(1, 0, 0);
    const size_t count = info.image_size / 2;
    std::vector<uint16_t> frame(count, 7);
    std::vector<uint32_t> sums(count, 1);
    RunAgainstMemcpy(
        state, count * 4, [] {},
        [&] {
            AccumulateFrame(info, frame.data(), sums.data(), false);
            benchmark::DoNotOptimize(sums.data());
        });
}

void Average(benchmark::State &state) {
    const TQDEV_FRAME_INFO info = FrameInfo(1, 0, 0);
    const size_t count = info.image_size / 2;
    std::vector<uint32_t> sums(count, 4 * 2000 + 3);
    std::vector<uint16_t> result(count);
    RunAgainstMemcpy(
        state, count * 2, [] {},
        [&] { benchmark::DoNotOptimize(AverageFrames(info, sums.data(), result.data(), 4)); });
}

const UnpackKernels *Best() {
    return &BestUnpackKernels();
}
const UnpackKernels *Scalar() {
    return &ScalarUnpackKernels();
}

} // namespace

#define UNPACK(name, kernels, hb, flags, ext)                                                      \
    BENCHMARK_CAPTURE(UnpackSeparate, name, kernels, hb, flags, ext)                               \
        ->UseManualTime()                                                                          \
        ->Unit(benchmark::kMillisecond)

UNPACK(factor1, Best(), 1, 0, 0);
UNPACK(factor1_ssse3, Ssse3UnpackKernels(), 1, 0, 0);
UNPACK(factor1_scalar, Scalar(), 1, 0, 0);
UNPACK(factor2_sum, Best(), 2, 0, 0);
UNPACK(factor2_subsample, Best(), 2, 0, TQDEV_FRAME_EXT_SUBSAMPLE);
UNPACK(flip, Best(), 1, TQDEV_FRAME_FLIP, 0);
UNPACK(mirror, Best(), 1, TQDEV_FRAME_MIRROR, 0);
UNPACK(factor3_sum, Best(), 3, 0, 0);
BENCHMARK_CAPTURE(UnpackInPlace, factor1, 1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(UnpackInPlace, factor2_sum, 2)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(Accumulate)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(Average)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
