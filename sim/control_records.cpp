// Control API: reading and setting the camera's records.
#include <algorithm>
#include <cstring>

#include "control.h"

using namespace tqsim;

namespace {

template <typename T> int GetRecord(std::uint32_t id, T *out, T CameraRecords::*member) {
    if (out == nullptr) {
        return -1;
    }
    return WithCamera(id, [&](Camera &camera) {
        *out = camera.records.*member;
        return 0;
    });
}

template <typename T> int SetRecord(std::uint32_t id, const T *in, T CameraRecords::*member) {
    if (in == nullptr) {
        return -1;
    }
    return WithCamera(id, [&](Camera &camera) {
        camera.records.*member = *in;
        return 0;
    });
}

// Copies at most capacity entries of a list and stores its full count.
template <typename T>
int GetList(const std::vector<T> &list, T *out, std::uint32_t capacity, std::uint32_t *count) {
    const std::size_t copied = std::min<std::size_t>(capacity, list.size());
    if (copied != 0) {
        std::memcpy(out, list.data(), copied * sizeof(T));
    }
    *count = static_cast<std::uint32_t>(list.size());
    return 0;
}

} // namespace

extern "C" int TqsimGetCameraInfo(uint32_t id, TQDEV_CAMERA_INFO *info) {
    return GetRecord(id, info, &CameraRecords::info);
}
extern "C" int TqsimSetCameraInfo(uint32_t id, const TQDEV_CAMERA_INFO *info) {
    return SetRecord(id, info, &CameraRecords::info);
}
extern "C" int TqsimGetExtendedInfo(uint32_t id, TQDEV_EXTENDED_CAMERA_INFO *info) {
    return GetRecord(id, info, &CameraRecords::extended);
}
extern "C" int TqsimSetExtendedInfo(uint32_t id, const TQDEV_EXTENDED_CAMERA_INFO *info) {
    return SetRecord(id, info, &CameraRecords::extended);
}
extern "C" int TqsimGetDeviceState(uint32_t id, TQDEV_DEVICE_STATE *state) {
    return GetRecord(id, state, &CameraRecords::state);
}
extern "C" int TqsimSetDeviceState(uint32_t id, const TQDEV_DEVICE_STATE *state) {
    return SetRecord(id, state, &CameraRecords::state);
}
extern "C" int TqsimGetBayerPattern(uint32_t id, uint8_t *pattern) {
    return GetRecord(id, pattern, &CameraRecords::bayer);
}
extern "C" int TqsimSetBayerPattern(uint32_t id, uint8_t pattern) {
    return SetRecord(id, &pattern, &CameraRecords::bayer);
}
extern "C" int TqsimGetDarkLevel(uint32_t id, uint16_t *level) {
    return GetRecord(id, level, &CameraRecords::dark);
}
extern "C" int TqsimSetDarkLevel(uint32_t id, uint16_t level) {
    return SetRecord(id, &level, &CameraRecords::dark);
}

extern "C" int TqsimReadRegister(uint32_t id, uint32_t address, uint32_t *value) {
    if (value == nullptr) {
        return -1;
    }
    return WithCamera(id, [&](Camera &camera) {
        const auto it = camera.records.registers.find(address);
        *value = it == camera.records.registers.end() ? 0 : it->second;
        return 0;
    });
}

extern "C" int TqsimWriteRegister(uint32_t id, uint32_t address, uint32_t value) {
    return WithCamera(id, [&](Camera &camera) {
        camera.records.registers[address] = value;
        return 0;
    });
}

extern "C" int TqsimGetFlaws(uint32_t id, TQDEV_FLAW *entries, uint32_t capacity, uint32_t *count) {
    if (count == nullptr || (capacity != 0 && entries == nullptr)) {
        return -1;
    }
    return WithCamera(id, [&](Camera &camera) {
        return GetList(camera.records.flaws, entries, capacity, count);
    });
}

extern "C" int TqsimSetFlaws(uint32_t id, const TQDEV_FLAW *entries, uint32_t count) {
    if (count > TQSIM_FLAW_CAPACITY || (count != 0 && entries == nullptr)) {
        return -1;
    }
    return WithCamera(id, [&](Camera &camera) {
        camera.records.flaws.assign(entries, entries + count);
        return 0;
    });
}

extern "C" int TqsimGetMatrix(uint32_t id, float matrix[9]) {
    if (matrix == nullptr) {
        return -1;
    }
    return WithCamera(id, [&](Camera &camera) {
        std::memcpy(matrix, camera.records.matrix, sizeof camera.records.matrix);
        return 0;
    });
}

extern "C" int TqsimSetMatrix(uint32_t id, const float matrix[9]) {
    if (matrix == nullptr) {
        return -1;
    }
    return WithCamera(id, [&](Camera &camera) {
        std::memcpy(camera.records.matrix, matrix, sizeof camera.records.matrix);
        return 0;
    });
}

extern "C" int TqsimGetTapGains(uint32_t id, float *gains, uint32_t capacity, uint32_t *count) {
    if (count == nullptr || (capacity != 0 && gains == nullptr)) {
        return -1;
    }
    return WithCamera(id, [&](Camera &camera) {
        return GetList(camera.records.tapGains, gains, capacity, count);
    });
}

extern "C" int TqsimSetTapGains(uint32_t id, const float *gains, uint32_t count) {
    if (count > TQSIM_TAP_GAIN_MAX || (count != 0 && gains == nullptr)) {
        return -1;
    }
    return WithCamera(id, [&](Camera &camera) {
        camera.records.tapGains.assign(gains, gains + count);
        return 0;
    });
}

extern "C" int TqsimGetDriverPair(uint32_t id, uint32_t values[2]) {
    if (values == nullptr) {
        return -1;
    }
    return WithCamera(id, [&](Camera &camera) {
        std::memcpy(values, camera.records.driverPair, sizeof camera.records.driverPair);
        return 0;
    });
}

extern "C" int TqsimSetDriverPair(uint32_t id, const uint32_t values[2]) {
    if (values == nullptr) {
        return -1;
    }
    return WithCamera(id, [&](Camera &camera) {
        std::memcpy(camera.records.driverPair, values, sizeof camera.records.driverPair);
        return 0;
    });
}
