// Unpacking and accumulation throughput of 4096 x 3072 frames (and of the
// camera's layout at 8192 x 6144), each timed against memcpy of the same
// output bytes in the same run. The counter
// "vs_memcpy" is memcpy's time over the operation's time: 1.0 means the
// operation produces its pixels as fast as memcpy copies them.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <random>
#include <tuple>
#include <vector>

#include "bench_support.h"
#include "image_data.h"
#include "unpack_kernels.h"

namespace {

// Where the window lies in the stream: the camera's own frames carry dark
// columns on the left and a reference line on top.
struct Layout {
    int32_t width, height, left, top;
    bool operator<(const Layout &o) const {
        return std::tie(width, height, left, top) < std::tie(o.width, o.height, o.left, o.top);
    }
};
constexpr Layout kPlain{4096, 3072, 0, 0};
constexpr Layout kCamera{4096, 3072, 4, 1};
constexpr Layout kCameraLarge{8192, 6144, 4, 1};
constexpr Layout kOddLeft{4096, 3072, 3, 1};

TQDEV_FRAME_INFO FrameInfo(const Layout &layout, uint32_t hb, uint32_t flags, uint32_t extFlags) {
    TQDEV_FRAME_INFO info{};
    info.line_width = layout.width + layout.left;
    info.line_count = layout.height + layout.top;
    info.left = layout.left;
    info.top = layout.top;
    info.width = static_cast<uint32_t>(layout.width);
    info.height = static_cast<uint32_t>(layout.height);
    info.h_binning = hb;
    info.v_binning = 1;
    info.flags = flags;
    info.ext_flags = extFlags;
    const FrameGeometry geo = DeriveGeometry(info);
    info.image_size = static_cast<uint32_t>(int64_t{geo.m} * geo.n * 2);
    info.packed_size = static_cast<uint32_t>(geo.total / 8 * 12);
    return info;
}

TQDEV_FRAME_INFO FrameInfo(uint32_t hb, uint32_t flags, uint32_t extFlags) {
    return FrameInfo(kPlain, hb, flags, extFlags);
}

std::vector<uint8_t> PackedFrame(const Layout &layout) {
    std::mt19937 random(1);
    const FrameGeometry geo = DeriveGeometry(FrameInfo(layout, 1, 0, 0));
    std::vector<uint16_t> samples(static_cast<size_t>(geo.total));
    for (auto &s : samples)
        s = static_cast<uint16_t>(random() & 0xFFF);
    std::vector<uint8_t> packed(samples.size() / 8 * 12);
    PackSamples(samples.data(), static_cast<uint32_t>(samples.size() * 2), packed.data());
    return packed;
}

const std::vector<uint8_t> &Packed(const Layout &layout = kPlain) {
    static std::map<Layout, std::vector<uint8_t>> frames;
    auto it = frames.find(layout);
    if (it == frames.end())
        it = frames.emplace(layout, PackedFrame(layout)).first;
    return it->second;
}

void UnpackSeparate(benchmark::State &state, const UnpackKernels *kernels, uint32_t hb,
                    uint32_t flags, uint32_t extFlags, Layout layout = kPlain) {
    if (kernels == nullptr) {
        state.SkipWithError("CPU lacks these instructions");
        return;
    }
    const std::vector<uint8_t> &packed = Packed(layout); // built once, outside the timing
    const TQDEV_FRAME_INFO info = FrameInfo(layout, hb, flags, extFlags);
    std::vector<uint16_t> pixels(info.image_size / 2);
    RunAgainstMemcpy(
        state, info.image_size, [] {},
        [&] {
            UnpackFrameWith(*kernels, info, info.line_count, packed.data(), pixels.data());
            benchmark::DoNotOptimize(pixels.data());
        });
}

// As a capture does it: the packed frame lands in the caller's buffer and is
// unpacked over itself, with the workspace made once beforehand.
void UnpackInPlace(benchmark::State &state, uint32_t hb, uint32_t flags, Layout layout) {
    const std::vector<uint8_t> &packed = Packed(layout);
    const TQDEV_FRAME_INFO info = FrameInfo(layout, hb, flags, 0);
    std::vector<uint8_t> buffer(std::max<size_t>(info.image_size, packed.size()));
    std::vector<uint8_t> kept(InPlaceWorkspaceBytes(info, info.line_count));
    const UnpackWorkspace workspace{kept.data(), kept.size(), nullptr, nullptr};
    RunAgainstMemcpy(
        state, info.image_size, [&] { std::memcpy(buffer.data(), packed.data(), packed.size()); },
        [&] {
            UnpackFrame(info, info.line_count, buffer.data(),
                        reinterpret_cast<uint16_t *>(buffer.data()), workspace);
            benchmark::DoNotOptimize(buffer.data());
        });
    state.counters["workspace_kib"] = static_cast<double>(kept.size()) / 1024;
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
UNPACK(factor4_sum, Best(), 4, 0, 0);
UNPACK(factor2_mirror, Best(), 2, TQDEV_FRAME_MIRROR, 0);

#define UNPACK_LAYOUT(name, hb, flags, layout)                                                     \
    BENCHMARK_CAPTURE(UnpackSeparate, name, Best(), hb, flags, 0, layout)                          \
        ->UseManualTime()                                                                          \
        ->Unit(benchmark::kMillisecond)

UNPACK_LAYOUT(camera_factor1, 1, 0, kCamera);
UNPACK_LAYOUT(camera_factor2, 2, 0, kCamera);
UNPACK_LAYOUT(odd_left_factor1, 1, 0, kOddLeft);
UNPACK_LAYOUT(camera_8192_factor1, 1, 0, kCameraLarge);

#define IN_PLACE(name, hb, flags, layout)                                                          \
    BENCHMARK_CAPTURE(UnpackInPlace, name, hb, flags, layout)                                      \
        ->UseManualTime()                                                                          \
        ->Unit(benchmark::kMillisecond)

IN_PLACE(factor1, 1, 0, kPlain);
IN_PLACE(factor2_sum, 2, 0, kPlain);
IN_PLACE(camera_factor1, 1, 0, kCamera);
IN_PLACE(camera_factor2, 2, 0, kCamera);
IN_PLACE(camera_8192_factor1, 1, 0, kCameraLarge);
IN_PLACE(camera_flip, 1, TQDEV_FRAME_FLIP, kCamera);
IN_PLACE(camera_mirror, 1, TQDEV_FRAME_MIRROR, kCamera);
BENCHMARK(Accumulate)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(Average)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
