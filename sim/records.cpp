// The records a freshly plugged camera starts with, and their readers and
// writers for the control API.
#include <cstring>

#include "sim_camera.h"

namespace tqsim {
namespace {

void PutWord(std::uint8_t *bytes, std::size_t offset, std::uint32_t value) {
    std::memcpy(bytes + offset, &value, sizeof value);
}

// Copies a text of at most 39 characters into a 40-byte field.
void PutText(std::uint8_t *bytes, std::size_t offset, const char *text, std::size_t length) {
    std::memcpy(bytes + offset, text, length < 39 ? length : 39);
}

void InitCameraInfo(Camera &camera) {
    const TQSIM_CAMERA_CONFIG &config = camera.config;
    TQDEV_CAMERA_INFO &info = camera.records.info;
    PutWord(info.driver_data, 0, config.sensor_width);
    PutWord(info.driver_data, 4, config.sensor_height);
    PutWord(info.driver_data, 8, 12);
    PutWord(info.driver_data, 12, TQSIM_BINNING_MAX);
    PutText(info.driver_data, 16, "tqsim camera", 12);
    const TQSIM_REGISTRY_VALUE &serial = config.registry[3];
    if (serial.present) {
        PutText(info.driver_data, 56, reinterpret_cast<const char *>(serial.data),
                strnlen(reinterpret_cast<const char *>(serial.data), serial.size));
    }
    info.capability_flags = config.capability_flags;
}

void InitExtendedInfo(Camera &camera) {
    TQDEV_EXTENDED_CAMERA_INFO &extended = camera.records.extended;
    PutWord(extended.driver_data, 0, camera.config.sensor_width);
    PutWord(extended.driver_data, 4, camera.config.sensor_height);
    PutWord(extended.driver_data, 8, TQSIM_DARK_COLUMNS);
    PutWord(extended.driver_data, 12, 1);
    // The blocks that the library may overwrite carry a recognisable filler.
    std::memset(extended.xform_matrix, 0xA5, sizeof extended.xform_matrix);
    std::memset(&extended.average_dark, 0xA5, sizeof extended.average_dark);
    std::memset(extended.driver_pair, 0xA5, sizeof extended.driver_pair);
}

} // namespace

void InitRecords(Camera &camera) {
    camera.records = CameraRecords{};
    InitCameraInfo(camera);
    InitExtendedInfo(camera);
    PutWord(camera.records.state.driver_data, 0, 1);
    camera.records.driverPair[0] = camera.config.sensor_width;
    camera.records.driverPair[1] = camera.config.sensor_height;
}

} // namespace tqsim
