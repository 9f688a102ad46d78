// The simulated camera's frame synthesis against memcpy of the frame's bytes:
// the camera must make its frames faster than the library unpacks them, or
// every capture measures the simulator.
#include <benchmark/benchmark.h>

#include <vector>

#include "camera/frame_model.h"
#include "memcpy_ratio.h"

namespace {

tqsim::FrameGeometry Frame(std::uint32_t width, std::uint32_t height) {
    TQDEV_CAPTURE_SETTINGS settings{};
    settings.flags = TQDEV_FLAG_PACKED_OUTPUT;
    tqsim::FrameGeometry frame{};
    tqsim::DeriveFrame(settings, {width, height, 1000, false}, &frame);
    return frame;
}

// Frame after frame of one window: the pattern is prepared before the timing,
// as it is by the first frame of a capture.
void Prepared(benchmark::State &state, std::uint32_t width, std::uint32_t height) {
    const tqsim::FrameGeometry frame = Frame(width, height);
    const std::size_t bytes = tqsim::DeliveredBytes(frame);
    std::vector<std::uint8_t> storage(tqsim::PreparedStreamBytes(frame)), out(bytes);
    tqsim::PreparedStream prepared{storage.data(), storage.size(), {}};
    tqsim::FrameStamp stamp{0, 1, 7, 64};
    tqsim::WriteFramePrepared(frame, stamp, &prepared, out.data(), out.size());
    RunAgainstMemcpy(
        state, bytes, [&] { ++stamp.number; },
        [&] {
            tqsim::WriteFramePrepared(frame, stamp, &prepared, out.data(), out.size());
            benchmark::DoNotOptimize(out.data());
        });
}

// Every sample computed from the formula: frames the pattern does not cover
// (vertical binning, the camera's own unpacking) and the first frame.
void SampleBySample(benchmark::State &state, std::uint32_t width, std::uint32_t height) {
    const tqsim::FrameGeometry frame = Frame(width, height);
    const std::size_t bytes = tqsim::DeliveredBytes(frame);
    std::vector<std::uint8_t> out(bytes);
    tqsim::FrameStamp stamp{0, 1, 7, 64};
    RunAgainstMemcpy(
        state, bytes, [&] { ++stamp.number; },
        [&] {
            tqsim::WriteFrame(frame, stamp, out.data(), out.size());
            benchmark::DoNotOptimize(out.data());
        });
}

} // namespace

BENCHMARK_CAPTURE(Prepared, 4096x3072, 4096, 3072)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Prepared, 8192x6144, 8192, 6144)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(SampleBySample, 4096x3072, 4096, 3072)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

BENCHMARK_MAIN();
