// The timing of the capture requests: the core says what a frame, clearing
// or homing does to the camera; the simulator waits out exposure, readout and
// frame period in real time, ending at once when the job is aborted.
#include <chrono>
#include <cstring>

#include "sim_camera.h"

namespace tqsim {
namespace {

using Clock = std::chrono::steady_clock;

// Waits until the deadline; false when the job was aborted meanwhile.
bool WaitUntil(Camera &camera, Job &job, std::unique_lock<std::mutex> &held,
               Clock::time_point deadline) {
    return !camera.changed.wait_until(held, deadline, [&] { return job.abortError != 0; });
}

// The pattern for these settings, prepared when the frame it serves differs
// from the last one's. Null when a pattern would not help.
const std::uint8_t *PatternFor(Camera &camera, const TQCORE_SENSOR &sensor,
                               const TQDEV_CAPTURE_SETTINGS &settings) {
    TQCORE_PATTERN_ID id{};
    TqcorePatternIdentity(&sensor, &settings, &id);
    if (id.bytes == 0) {
        return nullptr;
    }
    if (camera.pattern.empty() || std::memcmp(&id, &camera.patternId, sizeof id) != 0) {
        camera.pattern.assign(id.bytes, 0);
        TqcorePreparePattern(&sensor, &settings, camera.pattern.data());
        camera.patternId = id;
    }
    return camera.pattern.data();
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
            const TQCORE_SENSOR sensor = camera.core.sensor;
            // The buffer stays the caller's until the job completes, and the
            // pattern is the main lane's: the lock is not needed meanwhile.
            held.unlock();
            const std::uint8_t *pattern = PatternFor(camera, sensor, request.settings);
            const std::uint32_t bytes =
                TqcoreFillFrameFrom(&sensor, &request, number, dark, pattern);
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
