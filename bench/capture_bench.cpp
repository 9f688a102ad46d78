// Capture speed against a simulated camera that delivers as fast as it can:
// single-capture latency and live-focus frame rate for two sensor sizes, with
// the share of each frame's time that the library spends on its request path
// and on unpacking, measured in the same run as the captures.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "image_data.h"
#include "tqdev.h"
#include "tqsim.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// One open camera with the given sensor, no frame pacing.
class Camera {
  public:
    Camera(uint32_t width, uint32_t height) {
        TqsimReset();
        TQSIM_CAMERA_CONFIG config;
        TqsimDefaultCamera(&config);
        config.sensor_width = width;
        config.sensor_height = height;
        ok_ = TqsimPlugCamera(&config, &camera_) == 0 && TqdevInitLibrary() == TQDEV_RESULT_OK &&
              TqdevOpenDevice(0) == TQDEV_RESULT_OK;
    }
    ~Camera() {
        TqdevTerminateLibrary();
        TqsimReset();
    }
    bool ok() const { return ok_; }

  private:
    uint32_t camera_ = 0;
    bool ok_ = false;
};

// The whole sensor; settings words 0 ask for the full window.
TQDEV_CAPTURE_PARAMS FullFrame(uint32_t mode, uint32_t flags) {
    TQDEV_CAPTURE_PARAMS params{};
    params.mode = mode;
    params.flags = flags;
    return params;
}

// Time of one round trip through the request path: a record-sized request
// that the camera answers without any frame work.
double RequestSeconds() {
    constexpr int kRounds = 50;
    TQDEV_DEVICE_STATE state;
    Clock::time_point start = Clock::now();
    for (int i = 0; i < kRounds; ++i) {
        TqdevGetDeviceState(0, &state);
    }
    return Seconds(Clock::now() - start) / kRounds;
}

// Time the library takes to unpack one frame of these settings, on a packed
// frame captured just now.
double UnpackSeconds() {
    TQDEV_CAPTURE_PARAMS params = FullFrame(TQDEV_CAPTURE_SINGLE, TQDEV_FLAG_PACKED_OUTPUT);
    uint32_t bytes = 0;
    TqdevFrameSize(0, &params, &bytes);
    std::vector<uint8_t> container(bytes);
    params.buffer = container.data();
    if (TqdevCaptureImage(0, &params, nullptr) != TQDEV_RESULT_OK) {
        return 0;
    }
    TQDEV_FRAME_INFO info{};
    const uint8_t *stream = ParseImageHeader(container.data(), &info);
    std::vector<uint16_t> pixels(info.image_size / 2 + 1);
    constexpr int kRounds = 5;
    Clock::time_point start = Clock::now();
    for (int i = 0; i < kRounds; ++i) {
        UnpackFrame(info, info.line_count - 1, stream, pixels.data());
        benchmark::DoNotOptimize(pixels.data());
    }
    return Seconds(Clock::now() - start) / kRounds;
}

// Splits a frame's time into the library's request path (requests per
// frame), its unpacking, and the rest, which is the simulator's own work.
void ReportShares(benchmark::State &state, double frameSeconds, double requestsPerFrame,
                  bool unpacks) {
    double request = RequestSeconds() * requestsPerFrame;
    double unpack = unpacks ? UnpackSeconds() : 0.0;
    state.counters["request_share"] = request / frameSeconds;
    state.counters["unpack_share"] = unpack / frameSeconds;
    state.counters["simulator_share"] = 1.0 - (request + unpack) / frameSeconds;
}

void BM_SingleCapture(benchmark::State &state) {
    Camera camera(static_cast<uint32_t>(state.range(0)), static_cast<uint32_t>(state.range(1)));
    bool packed = state.range(2) != 0;
    TQDEV_CAPTURE_PARAMS params =
        FullFrame(TQDEV_CAPTURE_SINGLE, packed ? TQDEV_FLAG_PACKED_OUTPUT : 0);
    uint32_t bytes = 0;
    if (!camera.ok() || TqdevFrameSize(0, &params, &bytes) != TQDEV_RESULT_OK) {
        state.SkipWithError("no camera");
        return;
    }
    std::vector<uint8_t> image(bytes);
    params.buffer = image.data();
    Clock::time_point start = Clock::now();
    for (auto _ : state) {
        if (TqdevCaptureImage(0, &params, nullptr) != TQDEV_RESULT_OK) {
            state.SkipWithError("capture failed");
            return;
        }
    }
    double perFrame = Seconds(Clock::now() - start) / static_cast<double>(state.iterations());
    state.counters["frames_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    // A single capture is a descriptor request and a frame request.
    ReportShares(state, perFrame, 2.0, !packed);
}

// Counts live-focus reports so the benchmark loop can wait for each frame.
struct FrameCounter {
    std::mutex lock;
    std::condition_variable arrived;
    uint64_t frames = 0;
    bool ended = false;

    static void TQDEV_CALL Report(uint32_t result, uint64_t user) {
        auto *counter = reinterpret_cast<FrameCounter *>(static_cast<uintptr_t>(user));
        std::lock_guard<std::mutex> guard(counter->lock);
        counter->frames += 1;
        counter->ended = counter->ended || result != TQDEV_RESULT_OK;
        counter->arrived.notify_all();
    }

    bool WaitBeyond(uint64_t seen) {
        std::unique_lock<std::mutex> guard(lock);
        arrived.wait(guard, [&] { return frames > seen || ended; });
        return !ended;
    }

    void WaitEnd() {
        std::unique_lock<std::mutex> guard(lock);
        arrived.wait(guard, [&] { return ended; });
    }
};

void BM_LiveFocus(benchmark::State &state) {
    Camera camera(static_cast<uint32_t>(state.range(0)), static_cast<uint32_t>(state.range(1)));
    const bool packed = state.range(2) != 0;
    TQDEV_CAPTURE_PARAMS params =
        FullFrame(TQDEV_CAPTURE_LIVE_FOCUS, packed ? TQDEV_FLAG_PACKED_OUTPUT : 0);
    params.ring_size = 3;
    uint32_t bytes = 0;
    if (!camera.ok() || TqdevFrameSize(0, &params, &bytes) != TQDEV_RESULT_OK) {
        state.SkipWithError("no camera");
        return;
    }
    std::vector<std::vector<uint8_t>> ring(3, std::vector<uint8_t>(bytes));
    for (int i = 0; i < 3; ++i) {
        params.ring_buffers[i] = ring[static_cast<size_t>(i)].data();
    }
    FrameCounter counter;
    TQDEV_PROGRESS progress{};
    progress.Callback = FrameCounter::Report;
    progress.UserData = reinterpret_cast<uintptr_t>(&counter);
    if (TqdevCaptureImage(0, &params, &progress) != TQDEV_RESULT_OK) {
        state.SkipWithError("live focus did not start");
        return;
    }
    uint64_t seen = 0;
    counter.WaitBeyond(seen);
    seen = 1;
    Clock::time_point start = Clock::now();
    for (auto _ : state) {
        if (!counter.WaitBeyond(seen)) {
            state.SkipWithError("live focus ended");
            break;
        }
        std::lock_guard<std::mutex> guard(counter.lock);
        seen = counter.frames;
    }
    double frames = static_cast<double>(seen - 1);
    double perFrame = Seconds(Clock::now() - start) / (frames > 0 ? frames : 1);
    TqdevCancelLiveFocus(0);
    counter.WaitEnd();
    state.counters["frames_per_s"] = 1.0 / perFrame;
    // Each live-focus frame is one frame request; unpacked in place unless
    // the packed stream is asked for.
    ReportShares(state, perFrame, 1.0, !packed);
}

BENCHMARK(BM_SingleCapture)
    ->ArgNames({"width", "height", "packed"})
    ->Args({1024, 1024, 0})
    ->Args({1024, 1024, 1})
    ->Args({4096, 3072, 0})
    ->Args({4096, 3072, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK(BM_LiveFocus)
    ->ArgNames({"width", "height", "packed"})
    ->Args({1024, 1024, 0})
    ->Args({4096, 3072, 0})
    ->Args({4096, 3072, 1})
    ->Args({8192, 6144, 0})
    ->Args({8192, 6144, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

BENCHMARK_MAIN();
