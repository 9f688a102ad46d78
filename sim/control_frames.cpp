// Control API: the frame model for tests, and the camera's frame state,
// timing and delivery.
#include "control.h"

using namespace tqsim;

extern "C" uint16_t TqsimPatternSample(uint32_t line, uint32_t column, uint32_t frame,
                                       uint32_t seed) {
    return tqsim::PatternSample(line, column, frame, seed);
}

extern "C" uint32_t TqsimDeriveFrameInfo(const TQSIM_CAMERA_CONFIG *config,
                                         const TQDEV_CAPTURE_SETTINGS *settings,
                                         TQDEV_FRAME_INFO *info) {
    if (config == nullptr || settings == nullptr || info == nullptr) {
        return TQDEV_RESULT_INVALID_PARAMETER;
    }
    FrameGeometry frame{};
    const std::uint32_t result = DeriveFrame(*settings, SensorOf(*config), &frame);
    if (result == TQDEV_RESULT_OK) {
        *info = frame.info;
    }
    return result;
}

extern "C" uint16_t TqsimExpectedPixel(const TQSIM_CAMERA_CONFIG *config,
                                       const TQDEV_CAPTURE_SETTINGS *settings, uint32_t frame,
                                       uint32_t row, uint32_t column) {
    if (config == nullptr || settings == nullptr) {
        return 0;
    }
    FrameGeometry geometry{};
    if (DeriveFrame(*settings, SensorOf(*config), &geometry) != TQDEV_RESULT_OK) {
        return 0;
    }
    const FrameStamp stamp = {frame, config->seed, settings->ticket, 0};
    return ImagePixel(geometry, row, column, stamp);
}

extern "C" int TqsimFrameCount(uint32_t id, uint32_t *count) {
    if (count == nullptr) {
        return -1;
    }
    return WithCamera(id, [&](Camera &camera) {
        *count = camera.core.frames_delivered;
        return 0;
    });
}

extern "C" int TqsimCaptureState(uint32_t id, int32_t *ticket, int32_t *state) {
    if (ticket == nullptr || state == nullptr) {
        return -1;
    }
    return WithCamera(id, [&](Camera &camera) {
        *ticket = camera.core.state_ticket;
        *state = camera.core.state_word;
        return 0;
    });
}

extern "C" int TqsimSetTiming(uint32_t id, uint32_t frame_period_us, uint32_t exposure_us) {
    return ChangeCamera(id, [&](Camera &camera) {
        camera.config.frame_period_us = frame_period_us;
        camera.core.sensor.frame_period_us = frame_period_us;
        camera.config.exposure_us = exposure_us;
        camera.core.sensor.exposure_us = exposure_us;
        return 0;
    });
}

extern "C" int TqsimSetDelivery(uint32_t id, uint32_t deliver_unpacked) {
    return WithCamera(id, [&](Camera &camera) {
        camera.config.deliver_unpacked = deliver_unpacked != 0 ? 1 : 0;
        camera.core.sensor.deliver_unpacked = camera.config.deliver_unpacked;
        return 0;
    });
}

extern "C" int TqsimGetConfig(uint32_t id, TQSIM_CAMERA_CONFIG *config) {
    if (config == nullptr) {
        return -1;
    }
    return WithCamera(id, [&](Camera &camera) {
        *config = camera.config;
        return 0;
    });
}
