// The timing of the capture requests: the core says what a frame, clearing
// or homing does to the camera; the simulator waits out exposure, readout and
// frame period in real time, ending at once when the job is aborted.
#include <chrono>
#include <new>

#include "sim_camera.h"

namespace tqsim {
namespace {

using Clock = std::chrono::steady_clock;

// Waits until the deadline; false when the job was aborted meanwhile.
bool WaitUntil(Camera &camera, Job &job, std::unique_lock<std::mutex> &held,
               Clock::time_point deadline) {
    return !camera.changed.wait_until(held, deadline, [&] { return job.abortError != 0; });
}

// Writes the frame from the camera's prepared stream when no other frame is
// using it and there is room for it; the storage grows to the largest window.
std::uint32_t FillFrame(Camera &camera, const TQCORE_REQUEST &request, std::uint32_t number,
                        std::uint16_t dark) {
    const TQCORE_SENSOR &sensor = camera.core.sensor;
    std::unique_lock<std::mutex> owned(camera.patternLock, std::try_to_lock);
    if (!owned) {
        return TqcoreFillFrame(&sensor, &request, number, dark, nullptr);
    }
    const std::size_t needed = TqcorePatternBytes(&sensor, &request);
    if (needed > camera.patternBytes.size()) {
        try {
            camera.patternBytes.resize(needed);
        } catch (const std::bad_alloc &) {
            return TqcoreFillFrame(&sensor, &request, number, dark, nullptr);
        }
        camera.pattern = TQCORE_PATTERN{camera.patternBytes.data(), camera.patternBytes.size(), {}};
    }
    return TqcoreFillFrame(&sensor, &request, number, dark, &camera.pattern);
}

} // namespace

void ServeFrame(Camera &camera, Job &job, TQCORE_REQUEST &request,
                std::unique_lock<std::mutex> &held) {
    std::uint32_t exposureUs = 0;
    std::uint32_t periodUs = 0;
    if (TqcoreStartFrame(&camera.core, &request, &exposureUs, &periodUs) != TQDEV_RESULT_OK) {
        return;
    }
    const auto start = Clock::now();
    if (WaitUntil(camera, job, held, start + std::chrono::microseconds(exposureUs))) {
        TqcoreReadingOut(&camera.core, &request);
        if (WaitUntil(camera, job, held, start + std::chrono::microseconds(periodUs))) {
            const std::uint32_t number = camera.core.frames_delivered;
            const std::uint16_t dark = camera.core.records.dark;
            // The buffer stays the caller's until the job completes; the lock
            // is not needed while writing it.
            held.unlock();
            const std::uint32_t bytes = FillFrame(camera, request, number, dark);
            held.lock();
            if (job.abortError == 0) {
                TqcoreFrameDelivered(&camera.core, &request, bytes);
                return;
            }
        }
    }
    TqcoreAbortFrame(&camera.core, &request);
}

void ServePreparation(Camera &camera, Job &job, TQCORE_REQUEST &request,
                      std::unique_lock<std::mutex> &held) {
    const auto deadline =
        Clock::now() + std::chrono::microseconds(TqcorePreparePeriod(&camera.core));
    if (WaitUntil(camera, job, held, deadline)) {
        TqcoreFinishPrepare(&camera.core, &request);
    }
}

} // namespace tqsim
