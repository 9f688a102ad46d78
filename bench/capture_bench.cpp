// Capture speed against a simulated camera that delivers as fast as it can:
// single-capture latency and live-focus frame rate for two sensor sizes, with
// the share of each frame's time that the library spends on its request path
// and on unpacking, measured in the same run as the captures.
#include <benchmark/benchmark.h>

#include <algorithm>
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

using Ring = std::vector<std::vector<uint8_t>>;

// A live focus of the whole sensor into the ring, its frames counted; it is
// stopped by Stop or at the latest when it goes out of scope.
class LiveFocusRun {
  public:
    LiveFocusRun(bool packed, Ring &ring) {
        TQDEV_CAPTURE_PARAMS params =
            FullFrame(TQDEV_CAPTURE_LIVE_FOCUS, packed ? TQDEV_FLAG_PACKED_OUTPUT : 0);
        params.ring_size = static_cast<int32_t>(ring.size());
        for (size_t i = 0; i < ring.size(); ++i) {
            params.ring_buffers[i] = ring[i].data();
        }
        TQDEV_PROGRESS progress{};
        progress.Callback = FrameCounter::Report;
        progress.UserData = reinterpret_cast<uintptr_t>(&counter_);
        running_ = TqdevCaptureImage(0, &params, &progress) == TQDEV_RESULT_OK;
    }
    ~LiveFocusRun() { Stop(); }
    LiveFocusRun(const LiveFocusRun &) = delete;
    LiveFocusRun &operator=(const LiveFocusRun &) = delete;

    // False when live focus did not start or has ended.
    bool WaitBeyond(uint64_t seen) { return running_ && counter_.WaitBeyond(seen); }
    uint64_t Frames() {
        std::lock_guard<std::mutex> guard(counter_.lock);
        return counter_.frames;
    }
    void Stop() {
        if (running_) {
            TqdevCancelLiveFocus(0);
            counter_.WaitEnd();
            running_ = false;
        }
    }

  private:
    FrameCounter counter_;
    bool running_ = false;
};

// Seconds per frame over `frames` frames after the first; 0 when live focus
// did not run that long.
double LiveFocusSeconds(bool packed, uint64_t frames, Ring &ring) {
    LiveFocusRun run(packed, ring);
    if (!run.WaitBeyond(0)) {
        return 0;
    }
    Clock::time_point start = Clock::now();
    if (!run.WaitBeyond(frames)) {
        return 0;
    }
    return Seconds(Clock::now() - start) / static_cast<double>(frames);
}

void BM_LiveFocus(benchmark::State &state) {
    Camera camera(static_cast<uint32_t>(state.range(0)), static_cast<uint32_t>(state.range(1)));
    const bool packed = state.range(2) != 0;
    TQDEV_CAPTURE_PARAMS params =
        FullFrame(TQDEV_CAPTURE_LIVE_FOCUS, packed ? TQDEV_FLAG_PACKED_OUTPUT : 0);
    uint32_t bytes = 0;
    if (!camera.ok() || TqdevFrameSize(0, &params, &bytes) != TQDEV_RESULT_OK) {
        state.SkipWithError("no camera");
        return;
    }
    Ring ring(3, std::vector<uint8_t>(bytes));
    LiveFocusRun run(packed, ring);
    if (!run.WaitBeyond(0)) {
        state.SkipWithError("live focus did not start");
        return;
    }
    uint64_t seen = 1;
    Clock::time_point start = Clock::now();
    for (auto _ : state) {
        if (!run.WaitBeyond(seen)) {
            state.SkipWithError("live focus ended");
            break;
        }
        seen = run.Frames();
    }
    double frames = static_cast<double>(seen - 1);
    double perFrame = Seconds(Clock::now() - start) / (frames > 0 ? frames : 1);
    run.Stop();
    state.counters["frames_per_s"] = 1.0 / perFrame;
    // Each live-focus frame is one frame request; unpacked in place unless
    // the packed stream is asked for.
    ReportShares(state, perFrame, 1.0, !packed);
}

// Unpacked against packed live focus in turns of a few frames each, so that
// both meet the same load on the machine's shared memory bandwidth.
void BM_LiveFocusRatio(benchmark::State &state) {
    Camera camera(static_cast<uint32_t>(state.range(0)), static_cast<uint32_t>(state.range(1)));
    TQDEV_CAPTURE_PARAMS unpacked = FullFrame(TQDEV_CAPTURE_LIVE_FOCUS, 0);
    TQDEV_CAPTURE_PARAMS packed = FullFrame(TQDEV_CAPTURE_LIVE_FOCUS, TQDEV_FLAG_PACKED_OUTPUT);
    uint32_t unpackedBytes = 0;
    uint32_t packedBytes = 0;
    if (!camera.ok() || TqdevFrameSize(0, &unpacked, &unpackedBytes) != TQDEV_RESULT_OK ||
        TqdevFrameSize(0, &packed, &packedBytes) != TQDEV_RESULT_OK) {
        state.SkipWithError("no camera");
        return;
    }
    Ring ring(3, std::vector<uint8_t>(std::max(unpackedBytes, packedBytes)));
    constexpr uint64_t kFramesPerTurn = 20;
    double packedSeconds = 0;
    double unpackedSeconds = 0;
    double lowest = 1e9;
    double highest = 0;
    bool packedFirst = true;
    for (auto _ : state) {
        const double first = LiveFocusSeconds(packedFirst, kFramesPerTurn, ring);
        const double second = LiveFocusSeconds(!packedFirst, kFramesPerTurn, ring);
        const double p = packedFirst ? first : second;
        const double u = packedFirst ? second : first;
        packedFirst = !packedFirst;
        if (p <= 0 || u <= 0) {
            state.SkipWithError("live focus did not run");
            return;
        }
        packedSeconds += p;
        unpackedSeconds += u;
        lowest = std::min(lowest, p / u);
        highest = std::max(highest, p / u);
    }
    const double turns = static_cast<double>(state.iterations());
    state.counters["packed_fps"] = turns / packedSeconds;
    state.counters["unpacked_fps"] = turns / unpackedSeconds;
    state.counters["unpacked_vs_packed"] = packedSeconds / unpackedSeconds;
    state.counters["lowest_turn"] = lowest;
    state.counters["highest_turn"] = highest;
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

BENCHMARK(BM_LiveFocusRatio)
    ->ArgNames({"width", "height"})
    ->Args({4096, 3072})
    ->Args({8192, 6144})
    ->Iterations(10)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

BENCHMARK_MAIN();
