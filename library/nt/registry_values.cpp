// A new camera's identity and version values, read from its device key.
#include <cstddef>
#include <cstring>

#include "nt_internal.h"
#include "tqdev_protocol.h"

namespace {

constexpr uint32_t kTextField = 40;

constexpr const char *kRegistryNames[TQPROTO_REGISTRY_VALUE_COUNT] = TQPROTO_REGISTRY_NAMES;
constexpr int kRegistryTexts[TQPROTO_REGISTRY_VALUE_COUNT] = TQPROTO_REGISTRY_TEXTS;

// Where each value goes in the device record, in the values' order.
constexpr size_t kRegistryOffsets[TQPROTO_REGISTRY_VALUE_COUNT] = {
    offsetof(TQDEV_DEVICE_INFO, DeviceType),
    offsetof(TQDEV_DEVICE_INFO, DeviceSubtype),
    offsetof(TQDEV_DEVICE_INFO, DeviceName),
    offsetof(TQDEV_DEVICE_INFO, SerialNumber),
    offsetof(TQDEV_DEVICE_INFO, MajorVersion),
    offsetof(TQDEV_DEVICE_INFO, MinorVersion),
    offsetof(TQDEV_DEVICE_INFO, VersionString),
    offsetof(TQDEV_DEVICE_INFO, BuildDate),
    offsetof(TQDEV_DEVICE_INFO, DriverMajorVersion),
    offsetof(TQDEV_DEVICE_INFO, DriverMinorVersion),
    offsetof(TQDEV_DEVICE_INFO, DriverVersionString),
    offsetof(TQDEV_DEVICE_INFO, DriverBuildDate),
};

constexpr const char *kGroupFailures[] = {
    "Can't read registry values\n",
    "Can't read registry values\n",
    "Invalid last value\n",
};

// Each read opens the key anew; null when it cannot be opened (reported).
HKEY OpenDeviceKey(HDEVINFO set, SP_DEVINFO_DATA *deviceInfo) {
    HKEY key = SetupDiOpenDevRegKey(set, deviceInfo, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE || key == nullptr) {
        DWORD error = GetLastError();
        TQDEV_REPORT_FAILED_CALL("SetupDiOpenDevRegKey", error);
        return nullptr;
    }
    return key;
}

bool QueryValue(HKEY key, const char *name, void *data, DWORD *size) {
    LSTATUS status = RegQueryValueExA(key, name, nullptr, nullptr, static_cast<LPBYTE>(data), size);
    if (status != ERROR_SUCCESS) {
        TQDEV_REPORT_FAILED_CALL("RegQueryValueEx", static_cast<uint32_t>(status));
        return false;
    }
    return true;
}

bool ReadNumber(HDEVINFO set, SP_DEVINFO_DATA *deviceInfo, const char *name, uint32_t *field) {
    HKEY key = OpenDeviceKey(set, deviceInfo);
    if (key == nullptr) {
        return false;
    }
    DWORD size = 0;
    bool read = QueryValue(key, name, nullptr, &size);
    if (read && size != sizeof(uint32_t)) {
        TQDEV_DIAG("Invalid reg entry size\n");
        read = false;
    }
    read = read && QueryValue(key, name, field, &size);
    RegCloseKey(key);
    if (read) {
        TQDEV_DIAG("value: %d\n", static_cast<int>(*field));
    }
    return read;
}

bool ReadText(HDEVINFO set, SP_DEVINFO_DATA *deviceInfo, const char *name, char *field) {
    HKEY key = OpenDeviceKey(set, deviceInfo);
    if (key == nullptr) {
        return false;
    }
    DWORD size = 0;
    char *buffer = nullptr;
    bool read = QueryValue(key, name, nullptr, &size);
    if (read) {
        // An empty value still gets a buffer, so that its absence means failure.
        buffer = static_cast<char *>(AllocateZeroed(size != 0 ? size : 1));
        read = buffer != nullptr && QueryValue(key, name, buffer, &size);
    }
    RegCloseKey(key);
    if (read) {
        CopyText(field, buffer, size, kTextField);
        TQDEV_DIAG("value: %s\n", field);
    }
    FreeMemory(buffer);
    return read;
}

bool ReadField(HDEVINFO set, SP_DEVINFO_DATA *deviceInfo, size_t index, TQDEV_DEVICE_INFO *info) {
    auto *place = reinterpret_cast<unsigned char *>(info) + kRegistryOffsets[index];
    if (kRegistryTexts[index] != 0) {
        return ReadText(set, deviceInfo, kRegistryNames[index], reinterpret_cast<char *>(place));
    }
    return ReadNumber(set, deviceInfo, kRegistryNames[index], reinterpret_cast<uint32_t *>(place));
}

} // namespace

void CopyText(char *destination, const char *source, uint32_t sourceSize, uint32_t limit) {
    size_t length = strnlen(source, sourceSize);
    size_t count = length < limit - 1 ? length : limit - 1;
    std::memcpy(destination, source, count);
    destination[count] = '\0';
    destination[limit - 1] = '\0';
}

uint32_t InitDeviceNode(DeviceNode *node, HDEVINFO set, SP_DEVINFO_DATA *deviceInfo,
                        const char *path) {
    node->presentMark = 1;
    node->info.DeviceIndex = libraryState.seenCount;
    node->fileHandle = INVALID_HANDLE_VALUE;
    size_t length = std::strlen(path);
    node->devicePath = static_cast<char *>(AllocateZeroed(length + 1));
    if (node->devicePath == nullptr) {
        TQDEV_DIAG("Could not allocate memory\n");
        return TQDEV_RESULT_OUT_OF_MEMORY;
    }
    std::memcpy(node->devicePath, path, length + 1);
    // Read in this order, in three groups of four; the first failure ends it.
    for (size_t index = 0; index < TQPROTO_REGISTRY_VALUE_COUNT; ++index) {
        if (!ReadField(set, deviceInfo, index, &node->info)) {
            TQDEV_DIAG("%s", kGroupFailures[index / 4]);
            FreeMemory(node->devicePath);
            node->devicePath = nullptr;
            return TQDEV_RESULT_SYSTEM_ERROR;
        }
    }
    return TQDEV_RESULT_OK;
}
