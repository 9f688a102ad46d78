// Control API: reading and setting the camera's records.
#include <algorithm>
#include <cstring>

#include "control.h"

using namespace tqsim;

namespace {

template <typename T> int GetRecord(std::uint32_t id, T *out, T TQCORE_RECORDS::*member) {
    if (out == nullptr) {
        return -1;
    }
    return WithCamera(id, [&](Camera &camera) {
        *out = camera.core.records.*member;
        return 0;
    });
}

template <typename T> int SetRecord(std::uint32_t id, const T *in, T TQCORE_RECORDS::*member) {
    if (in == nullptr) {
        return -1;
    }
    return WithCamera(id, [&](Camera &camera) {
        camera.core.records.*member = *in;
        return 0;
    });
}

// Copies at most capacity entries of a list and stores its full count.
template <typename T>
int GetList(const T *list, std::uint32_t size, T *out, std::uint32_t capacity,
            std::uint32_t *count) {
    const std::size_t copied = std::min<std::size_t>(capacity, size);
    if (copied != 0) {
        std::memcpy(out, list, copied * sizeof(T));
    }
    *count = size;
    return 0;
}

} // namespace

extern "C" int TqsimGetCameraInfo(uint32_t id, TQDEV_CAMERA_INFO *info) {
    return GetRecord(id, info, &TQCORE_RECORDS::info);
}
extern "C" int TqsimSetCameraInfo(uint32_t id, const TQDEV_CAMERA_INFO *info) {
    return SetRecord(id, info, &TQCORE_RECORDS::info);
}
extern "C" int TqsimGetExtendedInfo(uint32_t id, TQDEV_EXTENDED_CAMERA_INFO *info) {
    return GetRecord(id, info, &TQCORE_RECORDS::extended);
}
extern "C" int TqsimSetExtendedInfo(uint32_t id, const TQDEV_EXTENDED_CAMERA_INFO *info) {
    return SetRecord(id, info, &TQCORE_RECORDS::extended);
}
extern "C" int TqsimGetDeviceState(uint32_t id, TQDEV_DEVICE_STATE *state) {
    return GetRecord(id, state, &TQCORE_RECORDS::state);
}
extern "C" int TqsimSetDeviceState(uint32_t id, const TQDEV_DEVICE_STATE *state) {
    return SetRecord(id, state, &TQCORE_RECORDS::state);
}
extern "C" int TqsimGetBayerPattern(uint32_t id, uint8_t *pattern) {
    return GetRecord(id, pattern, &TQCORE_RECORDS::bayer);
}
extern "C" int TqsimSetBayerPattern(uint32_t id, uint8_t pattern) {
    return SetRecord(id, &pattern, &TQCORE_RECORDS::bayer);
}
extern "C" int TqsimGetDarkLevel(uint32_t id, uint16_t *level) {
    return GetRecord(id, level, &TQCORE_RECORDS::dark);
}
extern "C" int TqsimSetDarkLevel(uint32_t id, uint16_t level) {
    return SetRecord(id, &level, &TQCORE_RECORDS::dark);
}

extern "C" int TqsimReadRegister(uint32_t id, uint32_t address, uint32_t *value) {
    if (value == nullptr) {
        return -1;
    }
    return WithCamera(id, [&](Camera &camera) {
        *value = TqcoreRegisterValue(&camera.core.records, address);
        return 0;
    });
}

extern "C" int TqsimWriteRegister(uint32_t id, uint32_t address, uint32_t value) {
    return WithCamera(id, [&](Camera &camera) {
        return TqcoreStoreRegister(&camera.core.records, address, value);
    });
}

extern "C" int TqsimGetFlaws(uint32_t id, TQDEV_FLAW *entries, uint32_t capacity, uint32_t *count) {
    if (count == nullptr || (capacity != 0 && entries == nullptr)) {
        return -1;
    }
    return WithCamera(id, [&](Camera &camera) {
        const TQCORE_RECORDS &records = camera.core.records;
        return GetList(records.flaws, records.flaw_count, entries, capacity, count);
    });
}

extern "C" int TqsimSetFlaws(uint32_t id, const TQDEV_FLAW *entries, uint32_t count) {
    if (count > TQSIM_FLAW_CAPACITY || (count != 0 && entries == nullptr)) {
        return -1;
    }
    return WithCamera(id, [&](Camera &camera) {
        if (count != 0) {
            std::memcpy(camera.core.records.flaws, entries, count * sizeof(TQDEV_FLAW));
        }
        camera.core.records.flaw_count = count;
        return 0;
    });
}

extern "C" int TqsimGetMatrix(uint32_t id, float matrix[9]) {
    if (matrix == nullptr) {
        return -1;
    }
    return WithCamera(id, [&](Camera &camera) {
        std::memcpy(matrix, camera.core.records.matrix, sizeof camera.core.records.matrix);
        return 0;
    });
}

extern "C" int TqsimSetMatrix(uint32_t id, const float matrix[9]) {
    if (matrix == nullptr) {
        return -1;
    }
    return WithCamera(id, [&](Camera &camera) {
        std::memcpy(camera.core.records.matrix, matrix, sizeof camera.core.records.matrix);
        return 0;
    });
}

extern "C" int TqsimGetTapGains(uint32_t id, float *gains, uint32_t capacity, uint32_t *count) {
    if (count == nullptr || (capacity != 0 && gains == nullptr)) {
        return -1;
    }
    return WithCamera(id, [&](Camera &camera) {
        const TQCORE_RECORDS &records = camera.core.records;
        return GetList(records.tap_gains, records.tap_gain_count, gains, capacity, count);
    });
}

extern "C" int TqsimSetTapGains(uint32_t id, const float *gains, uint32_t count) {
    if (count > TQSIM_TAP_GAIN_MAX || (count != 0 && gains == nullptr)) {
        return -1;
    }
    return WithCamera(id, [&](Camera &camera) {
        if (count != 0) {
            std::memcpy(camera.core.records.tap_gains, gains, count * sizeof(float));
        }
        camera.core.records.tap_gain_count = count;
        return 0;
    });
}

extern "C" int TqsimGetDriverPair(uint32_t id, uint32_t values[2]) {
    if (values == nullptr) {
        return -1;
    }
    return WithCamera(id, [&](Camera &camera) {
        std::memcpy(values, camera.core.records.driver_pair,
                    sizeof camera.core.records.driver_pair);
        return 0;
    });
}

extern "C" int TqsimSetDriverPair(uint32_t id, const uint32_t values[2]) {
    if (values == nullptr) {
        return -1;
    }
    return WithCamera(id, [&](Camera &camera) {
        std::memcpy(camera.core.records.driver_pair, values,
                    sizeof camera.core.records.driver_pair);
        return 0;
    });
}
