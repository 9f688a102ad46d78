// The default camera and the registry overrides applied to a config before it
// is plugged.
#include <atomic>
#include <cstdio>
#include <cstring>

#include "sim_camera.h"

namespace tqsim {
namespace {

constexpr const char *kValueNames[TQSIM_REGISTRY_VALUE_COUNT] = TQPROTO_REGISTRY_NAMES;

TQSIM_REGISTRY_VALUE *FindValue(TQSIM_CAMERA_CONFIG *config, const char *name) {
    if (config == nullptr || name == nullptr) {
        return nullptr;
    }
    for (int i = 0; i < TQSIM_REGISTRY_VALUE_COUNT; ++i) {
        if (std::strcmp(kValueNames[i], name) == 0) {
            TQSIM_REGISTRY_VALUE &value = config->registry[i];
            value.name = kValueNames[i];
            return &value;
        }
    }
    return nullptr;
}

int StoreValue(TQSIM_CAMERA_CONFIG *config, const char *name, const void *data, std::size_t size) {
    TQSIM_REGISTRY_VALUE *value = FindValue(config, name);
    if (value == nullptr || size > TQSIM_REGISTRY_DATA_MAX || (size != 0 && data == nullptr)) {
        return -1;
    }
    std::memset(value->data, 0, sizeof value->data);
    if (size != 0) {
        std::memcpy(value->data, data, size);
    }
    value->size = static_cast<std::uint32_t>(size);
    value->present = 1;
    return 0;
}

} // namespace

SensorModel SensorOf(const TQSIM_CAMERA_CONFIG &config) {
    return {config.sensor_width, config.sensor_height, config.exposure_us,
            config.deliver_unpacked != 0};
}

} // namespace tqsim

using namespace tqsim;

extern "C" int TqsimSetRegistryNumber(TQSIM_CAMERA_CONFIG *config, const char *name,
                                      uint32_t value) {
    return StoreValue(config, name, &value, sizeof value);
}

extern "C" int TqsimSetRegistryText(TQSIM_CAMERA_CONFIG *config, const char *name,
                                    const char *text) {
    if (text == nullptr) {
        return -1;
    }
    return StoreValue(config, name, text, std::strlen(text) + 1);
}

extern "C" int TqsimSetRegistryRaw(TQSIM_CAMERA_CONFIG *config, const char *name, const void *data,
                                   uint32_t size) {
    return StoreValue(config, name, data, size);
}

extern "C" int TqsimRemoveRegistryValue(TQSIM_CAMERA_CONFIG *config, const char *name) {
    TQSIM_REGISTRY_VALUE *value = FindValue(config, name);
    if (value == nullptr) {
        return -1;
    }
    value->present = 0;
    value->size = 0;
    std::memset(value->data, 0, sizeof value->data);
    return 0;
}

extern "C" void TqsimDefaultCamera(TQSIM_CAMERA_CONFIG *config) {
    static std::atomic<std::uint32_t> serials{1};
    if (config == nullptr) {
        return;
    }
    std::memset(config, 0, sizeof *config);
    char serial[16];
    std::snprintf(serial, sizeof serial, "SIM%05u", serials.fetch_add(1) % 100000);
    for (int i = 0; i < TQSIM_REGISTRY_VALUE_COUNT; ++i) {
        TQCORE_REGISTRY_DEFAULT value{};
        TqcoreRegistryDefault(i, serial, &value);
        if (value.is_text != 0) {
            TqsimSetRegistryText(config, value.name, value.text);
        } else {
            TqsimSetRegistryNumber(config, value.name, value.number);
        }
    }
    TQCORE_SENSOR sensor{};
    TqcoreDefaultSensor(&sensor);
    config->sensor_width = sensor.width;
    config->sensor_height = sensor.height;
    config->capability_flags = sensor.capability_flags;
    config->seed = sensor.seed;
}
