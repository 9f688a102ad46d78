// The simulated camera's frame synthesis against memcpy of the frame's bytes:
// a packed 4096 x 3072 frame made from the pattern prepared for its settings,
// and the same frame made sample by sample, as without a prepared pattern.
#include <vector>

#include "bench_support.h"
#include "camera/frame_model.h"

namespace {

void Synthesis(benchmark::State &state, bool prepared) {
    const tqsim::SensorModel sensor{4096, 3072, 1000, false};
    TQDEV_CAPTURE_SETTINGS settings{};
    settings.flags = TQDEV_FLAG_PACKED_OUTPUT;
    tqsim::FrameGeometry frame{};
    if (tqsim::DeriveFrame(settings, sensor, &frame) != 0) {
        state.SkipWithError("no frame");
        return;
    }
    constexpr std::uint32_t kSeed = 1;
    std::vector<std::uint8_t> pattern(tqsim::PatternBytes(frame));
    tqsim::PreparePattern(frame, kSeed, pattern.data());
    const std::size_t bytes = tqsim::DeliveredBytes(frame);
    std::vector<std::uint8_t> out(bytes);
    std::uint32_t number = 0;
    RunAgainstMemcpy(
        state, bytes, [] {},
        [&] {
            const tqsim::FrameStamp stamp{number++, kSeed, 1, 64};
            tqsim::WriteFrame(frame, stamp, out.data(), out.size(),
                              prepared ? pattern.data() : nullptr);
            benchmark::DoNotOptimize(out.data());
        });
}

} // namespace

BENCHMARK_CAPTURE(Synthesis, prepared_pattern, true)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Synthesis, sample_by_sample, false)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
