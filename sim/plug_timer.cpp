// The demo's plug timer and the simulator reset.
#include "sim_camera.h"

namespace tqsim {

namespace {

struct PlugTimer {
    std::mutex lock;
    std::condition_variable wake;
    std::thread thread;
    bool stop = false;
};

PlugTimer &TheTimer() {
    static PlugTimer *timer = new PlugTimer; // outlives exit-time destructors
    return *timer;
}

void Tick(std::uint32_t maxCameras) {
    std::uint32_t oldest = 0;
    std::size_t plugged = 0;
    if (OldestCamera(&oldest, &plugged) && plugged >= maxCameras) {
        TqsimUnplugCamera(oldest);
    } else {
        TqsimPlugCamera(nullptr, nullptr);
    }
}

void TimerLoop(std::uint32_t periodMs, std::uint32_t maxCameras) {
    PlugTimer &timer = TheTimer();
    std::unique_lock held(timer.lock);
    while (!timer.wake.wait_for(held, std::chrono::milliseconds(periodMs),
                                [&] { return timer.stop; })) {
        held.unlock();
        Tick(maxCameras);
        held.lock();
    }
}

void StopPlugTimer() {
    PlugTimer &timer = TheTimer();
    std::thread running;
    {
        std::lock_guard guard(timer.lock);
        timer.stop = true;
        running = std::move(timer.thread);
        timer.wake.notify_all();
    }
    if (running.joinable()) {
        running.join();
    }
}

} // namespace
} // namespace tqsim

using namespace tqsim;

extern "C" void TqsimStartPlugTimer(uint32_t period_ms, uint32_t max_cameras) {
    StopPlugTimer();
    if (period_ms == 0) {
        return;
    }
    PlugTimer &timer = TheTimer();
    std::lock_guard guard(timer.lock);
    timer.stop = false;
    timer.thread = std::thread(TimerLoop, period_ms, max_cameras);
}

extern "C" void TqsimReset(void) {
    StopPlugTimer();
    ForgetAllCameras();
    UnplugAllDevices();
    TqsimClearFaults();
}
