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

// A frame as the camera lays it out: `left` dark columns before the window
// and `top` reference lines above it (a status line below).
struct Layout {
    int32_t width, height, left, top;
};
constexpr Layout kAligned{4096, 3072, 0, 0};
constexpr Layout kCamera{4096, 3072, 4, 1};
constexpr Layout kOddLeft{4096, 3072, 3, 1};
constexpr Layout kLargeCamera{8192, 6144, 4, 1};

TQDEV_FRAME_INFO FrameInfo(const Layout &layout, uint32_t hb, uint32_t flags, uint32_t extFlags) {
    TQDEV_FRAME_INFO info{};
    info.line_width = layout.left + layout.width;
    info.line_count = layout.height + 2 * layout.top;
    info.left = layout.left;
    info.top = layout.top;
    info.width = static_cast<uint32_t>(layout.width);
    info.height = static_cast<uint32_t>(layout.height);
    info.h_binning = hb;
    info.v_binning = 1;
    info.flags = flags;
    info.ext_flags = extFlags;
    info.image_size =
        static_cast<uint32_t>(layout.width) / hb * static_cast<uint32_t>(layout.height) * 2;
    info.packed_size = static_cast<uint32_t>(DeriveGeometry(info).total / 8 * 12);
    return info;
}

// Random samples enough for the largest frame; smaller frames take the start.
const std::vector<uint8_t> &Packed() {
    static const std::vector<uint8_t> packed = [] {
        std::mt19937 random(1);
        std::vector<uint16_t> samples(size_t{8200} * 6146);
        for (auto &s : samples)
            s = static_cast<uint16_t>(random() & 0xFFF);
        std::vector<uint8_t> bytes(samples.size() / 8 * 12);
        PackSamples(samples.data(), static_cast<uint32_t>(samples.size() * 2), bytes.data());
        return bytes;
    }();
    return packed;
}

void UnpackSeparate(benchmark::State &state, const UnpackKernels *kernels, Layout layout,
                    uint32_t hb, uint32_t flags, uint32_t extFlags) {
    if (kernels == nullptr) {
        state.SkipWithError("CPU lacks these instructions");
        return;
    }
    Packed(); // built once, outside the timing
    const TQDEV_FRAME_INFO info = FrameInfo(layout, hb, flags, extFlags);
    std::vector<uint16_t> pixels(info.image_size / 2);
    RunAgainstMemcpy(
        state, info.image_size, [] {},
        [&] {
            UnpackFrameWith(*kernels, info, info.line_count, Packed().data(), pixels.data());
            benchmark::DoNotOptimize(pixels.data());
        });
}

// The packed frame delivered into the image buffer it unpacks into.
void UnpackInPlace(benchmark::State &state, Layout layout, uint32_t hb, uint32_t flags,
                   uint32_t extFlags) {
    Packed();
    const TQDEV_FRAME_INFO info = FrameInfo(layout, hb, flags, extFlags);
    std::vector<uint8_t> buffer(std::max(info.image_size, info.packed_size));
    RunAgainstMemcpy(
        state, info.image_size,
        [&] { std::memcpy(buffer.data(), Packed().data(), info.packed_size); },
        [&] {
            if (UnpackFrame(info, info.line_count, buffer.data(),
                            reinterpret_cast<uint16_t *>(buffer.data())) != TQDEV_RESULT_OK)
                state.SkipWithError("unpacking failed");
            benchmark::DoNotOptimize(buffer.data());
        });
}

void Accumulate(benchmark::State &state) {
    const TQDEV_FRAME_INFO info = FrameInfo(kAligned, 1, 0, 0);
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

void Average(benchmark::State &state, int32_t frames) {
    const TQDEV_FRAME_INFO info = FrameInfo(kAligned, 1, 0, 0);
    const size_t count = info.image_size / 2;
    std::vector<uint32_t> sums(count, static_cast<uint32_t>(frames) * 2000 + 3);
    std::vector<uint16_t> result(count);
    RunAgainstMemcpy(
        state, count * 2, [] {},
        [&] { benchmark::DoNotOptimize(AverageFrames(info, sums.data(), result.data(), frames)); });
}

const UnpackKernels *Best() {
    return &BestUnpackKernels();
}
const UnpackKernels *Scalar() {
    return &ScalarUnpackKernels();
}

} // namespace

#define UNPACK(name, kernels, layout, hb, flags, ext)                                              \
    BENCHMARK_CAPTURE(UnpackSeparate, name, kernels, layout, hb, flags, ext)                       \
        ->UseManualTime()                                                                          \
        ->Unit(benchmark::kMillisecond)
#define IN_PLACE(name, layout, hb, flags, ext)                                                     \
    BENCHMARK_CAPTURE(UnpackInPlace, name, layout, hb, flags, ext)                                 \
        ->UseManualTime()                                                                          \
        ->Unit(benchmark::kMillisecond)

constexpr uint32_t kMirror = TQDEV_FRAME_MIRROR, kFlip = TQDEV_FRAME_FLIP;
constexpr uint32_t kSubsample = TQDEV_FRAME_EXT_SUBSAMPLE;

UNPACK(factor1, Best(), kAligned, 1, 0, 0);
UNPACK(factor1_ssse3, Ssse3UnpackKernels(), kAligned, 1, 0, 0);
UNPACK(factor1_scalar, Scalar(), kAligned, 1, 0, 0);
UNPACK(camera_factor1, Best(), kCamera, 1, 0, 0);
UNPACK(odd_left_factor1, Best(), kOddLeft, 1, 0, 0);
UNPACK(camera_8192_factor1, Best(), kLargeCamera, 1, 0, 0);
UNPACK(camera_factor2_sum, Best(), kCamera, 2, 0, 0);
UNPACK(camera_factor2_subsample, Best(), kCamera, 2, 0, kSubsample);
UNPACK(camera_factor2_mirror, Best(), kCamera, 2, kMirror, 0);
UNPACK(camera_factor3_sum, Best(), kCamera, 3, 0, 0);
UNPACK(camera_factor4_sum, Best(), kCamera, 4, 0, 0);
UNPACK(camera_flip, Best(), kCamera, 1, kFlip, 0);
UNPACK(camera_mirror, Best(), kCamera, 1, kMirror, 0);
IN_PLACE(factor1, kAligned, 1, 0, 0);
IN_PLACE(camera_factor1, kCamera, 1, 0, 0);
IN_PLACE(odd_left_factor1, kOddLeft, 1, 0, 0);
IN_PLACE(camera_8192_factor1, kLargeCamera, 1, 0, 0);
IN_PLACE(camera_factor2_sum, kCamera, 2, 0, 0);
IN_PLACE(camera_8192_factor2_sum, kLargeCamera, 2, 0, 0);
IN_PLACE(camera_factor2_subsample, kCamera, 2, 0, kSubsample);
IN_PLACE(camera_factor3_sum, kCamera, 3, 0, 0);
IN_PLACE(camera_factor4_sum, kCamera, 4, 0, 0);
IN_PLACE(camera_flip, kCamera, 1, kFlip, 0);
IN_PLACE(camera_mirror, kCamera, 1, kMirror, 0);
BENCHMARK(Accumulate)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Average, 4_frames, 4)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Average, 100_frames, 100)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
