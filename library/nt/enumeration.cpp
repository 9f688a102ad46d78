// The enumeration pass: brings the device list in step with the present
// interfaces of the camera interface class.
#include <cstring>

#include "nt_internal.h"

namespace {

// The detail header the system expects on x86-64: the size field, padded.
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 8);
static_assert(sizeof(SP_DEVINFO_DATA) == 32 && sizeof(SP_DEVICE_INTERFACE_DATA) == 32);

const GUID kCameraInterfaceClass = {
    0x4ACC4CE4, 0x6A08, 0x4A8C, {0xAB, 0x7A, 0xFC, 0xBD, 0x87, 0x7B, 0x16, 0xA8}};

uint32_t PushEvent(DeviceEvent **events, uint32_t event, uint32_t deviceIndex) {
    auto *entry = static_cast<DeviceEvent *>(AllocateZeroed(sizeof(DeviceEvent)));
    if (entry == nullptr) {
        return TQDEV_RESULT_OUT_OF_MEMORY;
    }
    entry->event = event;
    entry->deviceIndex = deviceIndex;
    entry->next = *events;
    *events = entry;
    return TQDEV_RESULT_OK;
}

// Fetches the interface's path and device information record; the caller
// releases *detail.
uint32_t GetInterfaceDetail(HDEVINFO set, SP_DEVICE_INTERFACE_DATA *interfaceData,
                            SP_DEVINFO_DATA *deviceInfo,
                            SP_DEVICE_INTERFACE_DETAIL_DATA_A **detail) {
    DWORD required = 0;
    BOOL sized =
        SetupDiGetDeviceInterfaceDetailA(set, interfaceData, nullptr, 0, &required, nullptr);
    DWORD error = GetLastError();
    if (sized || error != ERROR_INSUFFICIENT_BUFFER) {
        TQDEV_REPORT_FAILED_CALL("SetupDiGetDeviceInterfaceDetail(1)", error);
        return TQDEV_RESULT_SYSTEM_ERROR;
    }
    DWORD size = required > sizeof(**detail) ? required : DWORD{sizeof(**detail)} + 1;
    auto *buffer = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A *>(AllocateZeroed(size));
    if (buffer == nullptr) {
        TQDEV_DIAG("Unable to allocate memory\n");
        return TQDEV_RESULT_OUT_OF_MEMORY;
    }
    buffer->cbSize = sizeof(*buffer);
    deviceInfo->cbSize = sizeof(*deviceInfo);
    if (!SetupDiGetDeviceInterfaceDetailA(set, interfaceData, buffer, size, nullptr, deviceInfo)) {
        error = GetLastError();
        TQDEV_REPORT_FAILED_CALL("SetupDiGetDeviceInterfaceDetail(2)", error);
        FreeMemory(buffer);
        return TQDEV_RESULT_SYSTEM_ERROR;
    }
    *detail = buffer;
    return TQDEV_RESULT_OK;
}

// Marks the camera with this path present, or adds it as a new camera.
uint32_t MarkOrAddDevice(HDEVINFO set, SP_DEVINFO_DATA *deviceInfo, const char *path,
                         DeviceEvent **events) {
    for (DeviceNode *node = libraryState.head; node != nullptr; node = node->next) {
        if (std::strcmp(node->devicePath, path) == 0) {
            node->presentMark = 1;
            return TQDEV_RESULT_OK;
        }
    }
    TQDEV_DIAG("Device %s not on device list, adding...\n", path);
    auto *node = static_cast<DeviceNode *>(AllocateZeroed(sizeof(DeviceNode)));
    if (node == nullptr) {
        TQDEV_DIAG("Could not allocate memory\n");
        return TQDEV_RESULT_OUT_OF_MEMORY;
    }
    uint32_t result = InitDeviceNode(node, set, deviceInfo, path);
    if (result != TQDEV_RESULT_OK) {
        FreeMemory(node);
        return result;
    }
    ++libraryState.seenCount;
    node->next = libraryState.head;
    if (node->next != nullptr) {
        node->next->prev = node;
    }
    libraryState.head = node;
    ++libraryState.presentCount;
    if (events != nullptr) {
        result = PushEvent(events, TQDEV_EVENT_DEVICE_ADDED, node->info.DeviceIndex);
    }
    return result;
}

uint32_t AddPresentDevices(HDEVINFO set, DeviceEvent **events) {
    for (DWORD member = 0;; ++member) {
        SP_DEVICE_INTERFACE_DATA interfaceData{};
        interfaceData.cbSize = sizeof(interfaceData);
        if (!SetupDiEnumDeviceInterfaces(set, nullptr, &kCameraInterfaceClass, member,
                                         &interfaceData)) {
            DWORD error = GetLastError();
            if (error == ERROR_NO_MORE_ITEMS) {
                return TQDEV_RESULT_OK;
            }
            TQDEV_REPORT_FAILED_CALL("SetupDiEnumDeviceInterfaces", error);
            return TQDEV_RESULT_SYSTEM_ERROR;
        }
        SP_DEVINFO_DATA deviceInfo{};
        SP_DEVICE_INTERFACE_DETAIL_DATA_A *detail = nullptr;
        uint32_t result = GetInterfaceDetail(set, &interfaceData, &deviceInfo, &detail);
        if (result == TQDEV_RESULT_OK) {
            result = MarkOrAddDevice(set, &deviceInfo, detail->DevicePath, events);
            FreeMemory(detail);
        }
        if (result != TQDEV_RESULT_OK) {
            return result;
        }
    }
}

uint32_t RemoveVanishedDevices(DeviceEvent **events) {
    uint32_t result = TQDEV_RESULT_OK;
    DeviceNode *next = nullptr;
    for (DeviceNode *node = libraryState.head; node != nullptr; node = next) {
        next = node->next;
        if (node->presentMark != 0) {
            continue;
        }
        if (events != nullptr && PushEvent(events, TQDEV_EVENT_DEVICE_REMOVED,
                                           node->info.DeviceIndex) != TQDEV_RESULT_OK) {
            result = TQDEV_RESULT_OUT_OF_MEMORY;
        }
        RemoveDevice(node);
    }
    return result;
}

} // namespace

uint32_t EnumerateDevices(DeviceEvent **events) {
    if (events != nullptr) {
        *events = nullptr;
    }
    for (DeviceNode *node = libraryState.head; node != nullptr; node = node->next) {
        node->presentMark = 0;
    }
    HDEVINFO set = SetupDiGetClassDevsA(&kCameraInterfaceClass, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE || set == nullptr) {
        DWORD error = GetLastError();
        TQDEV_REPORT_FAILED_CALL("SetupDiGetClassDevs", error);
        return TQDEV_RESULT_SYSTEM_ERROR;
    }
    uint32_t result = AddPresentDevices(set, events);
    // A pass that ended early has not seen every camera: nothing is removed.
    if (result == TQDEV_RESULT_OK) {
        result = RemoveVanishedDevices(events);
    }
    SetupDiDestroyDeviceInfoList(set);
    return result;
}
