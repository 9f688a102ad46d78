// The sensor and records a freshly plugged camera starts with, from its
// config, by the shared core's defaults.
#include <algorithm>
#include <cstring>

#include "sim_camera.h"

namespace tqsim {

void InitRecords(Camera &camera) {
    const TQSIM_CAMERA_CONFIG &config = camera.config;
    TQCORE_SENSOR sensor{};
    sensor.width = config.sensor_width;
    sensor.height = config.sensor_height;
    sensor.capability_flags = config.capability_flags;
    sensor.seed = config.seed;
    sensor.frame_period_us = config.frame_period_us;
    sensor.exposure_us = config.exposure_us;
    sensor.deliver_unpacked = config.deliver_unpacked;
    const TQSIM_REGISTRY_VALUE &serial = config.registry[3];
    if (serial.present) {
        const char *text = reinterpret_cast<const char *>(serial.data);
        std::memcpy(sensor.serial, text, strnlen(text, std::min<std::size_t>(serial.size, 39)));
    }
    TqcoreInitCamera(&camera.core, &sensor);
}

} // namespace tqsim
