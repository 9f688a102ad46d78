// The capture requests: frame descriptor (6), frame (0), clearing (10) and
// homing (21), with their timing and the capture state they leave behind;
// and the two queries that read that state, capture state (1) and
// integration time (8).
#include <algorithm>
#include <chrono>

#include "sim_camera.h"

namespace tqsim {
namespace {

using Clock = std::chrono::steady_clock;

std::uint32_t IntegrationTime(const Camera &camera) {
    return camera.haveExposure ? camera.lastExposureUs : camera.config.exposure_us;
}

// Waits until the deadline; false when the job was aborted meanwhile.
bool WaitUntil(Camera &camera, Job &job, std::unique_lock<std::mutex> &held,
               Clock::time_point deadline) {
    return !camera.changed.wait_until(held, deadline, [&] { return job.abortError != 0; });
}

void SetState(Camera &camera, std::uint32_t ticket, std::int32_t word) {
    camera.stateTicket = static_cast<std::int32_t>(ticket);
    camera.stateWord = word;
}

// Derives the frame of the settings sent with the request.
std::uint32_t FrameOf(Camera &camera, Job &job, FrameGeometry *frame) {
    if (!job.haveSettings) {
        return TQDEV_RESULT_INVALID_PARAMETER;
    }
    const std::uint32_t result = DeriveFrame(job.settingsRecord, SensorOf(camera.config), frame);
    if (result == TQDEV_RESULT_OK) {
        camera.haveExposure = true;
        camera.lastExposureUs = frame->exposureUs;
    }
    return result;
}

void SetWords(Camera &camera, Job &job, std::uint32_t ticket, std::uint32_t frameNumber) {
    TQDEV_STATUS &record = job.record;
    record.word[1] = ticket;
    record.word[2] = IntegrationTime(camera);
    record.word[3] = job.number;
    record.word[4] = job.dataBytes;
    record.word[6] = frameNumber;
}

void ServeDescriptor(Camera &camera, Job &job) {
    FrameGeometry frame{};
    std::uint32_t result = FrameOf(camera, job, &frame);
    if (result == TQDEV_RESULT_OK) {
        result = ReplyRecord(job, &frame.info, sizeof frame.info);
    }
    job.record.word[0] = result;
    if (result == TQDEV_RESULT_OK) {
        SetState(camera, job.settingsRecord.ticket, TQSIM_STATE_SET_UP);
        SetWords(camera, job, job.settingsRecord.ticket, camera.framesDelivered);
    }
}

// Exposes and reads out in real time; false when aborted meanwhile.
bool Expose(Camera &camera, Job &job, std::unique_lock<std::mutex> &held,
            const FrameGeometry &frame) {
    const auto start = Clock::now();
    const std::chrono::microseconds exposure(frame.exposureUs);
    const std::chrono::microseconds period(camera.config.frame_period_us);
    const std::uint32_t ticket = job.settingsRecord.ticket;
    SetState(camera, ticket, TQSIM_STATE_EXPOSING);
    if (!WaitUntil(camera, job, held, start + exposure)) {
        return false;
    }
    SetState(camera, ticket, TQSIM_STATE_READING_OUT);
    return WaitUntil(camera, job, held, start + std::max(exposure, period));
}

void ServeFrame(Camera &camera, Job &job, std::unique_lock<std::mutex> &held) {
    FrameGeometry frame{};
    std::uint32_t result = FrameOf(camera, job, &frame);
    const IoRequest &r = job.data.request;
    // The library sizes the buffer by what it asked for, not by what arrives.
    const std::uint32_t needed =
        frame.packedOutput ? frame.info.packed_size : frame.info.image_size;
    if (result == TQDEV_RESULT_OK && (r.out == nullptr || r.outSize < needed)) {
        result = TQDEV_RESULT_INVALID_BUFFER;
    }
    job.record.word[0] = result;
    if (result != TQDEV_RESULT_OK) {
        return;
    }
    const std::uint32_t ticket = job.settingsRecord.ticket;
    if (Expose(camera, job, held, frame)) {
        const FrameStamp stamp = {camera.framesDelivered, camera.config.seed, ticket,
                                  camera.records.dark};
        // The buffer stays the caller's until the job completes; the lock is
        // not needed while writing it.
        held.unlock();
        const std::size_t bytes =
            WriteFrame(frame, stamp, static_cast<std::uint8_t *>(r.out), r.outSize);
        held.lock();
        if (job.abortError == 0) {
            camera.framesDelivered++;
            SetState(camera, ticket, TQSIM_STATE_DELIVERED);
            job.dataBytes = static_cast<DWORD>(bytes);
            SetWords(camera, job, ticket, stamp.number);
            job.record.word[5] = frame.packedInPlace ? 1 : 0;
            return;
        }
    }
    SetState(camera, ticket, TQSIM_STATE_SET_UP);
}

// Clearing and homing take one frame period.
void ServePreparation(Camera &camera, Job &job, std::unique_lock<std::mutex> &held) {
    const auto deadline = Clock::now() + std::chrono::microseconds(camera.config.frame_period_us);
    if (WaitUntil(camera, job, held, deadline)) {
        SetWords(camera, job, static_cast<std::uint32_t>(camera.stateTicket),
                 camera.framesDelivered);
    }
}

} // namespace

void ServeCaptureRequest(Camera &camera, Job &job, std::unique_lock<std::mutex> &held) {
    switch (job.number) {
    case 6:
        ServeDescriptor(camera, job);
        break;
    case 0:
        ServeFrame(camera, job, held);
        break;
    default:
        ServePreparation(camera, job, held);
        break;
    }
}

void ServeCaptureState(Camera &camera, Job &job) {
    const std::int32_t reply[2] = {camera.stateTicket, camera.stateWord};
    job.record.word[0] = ReplyRecord(job, reply, sizeof reply);
}

void ServeIntegrationTime(Camera &camera, Job &job) {
    job.record.word[2] = IntegrationTime(camera);
}

} // namespace tqsim
