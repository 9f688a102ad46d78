// The device list: lookup, removal, the snapshot handed to the host, the
// notification registration and the per-camera ticket and live-focus state.
#include <cstring>

#include "nt_internal.h"

uint32_t FindDevice(uint32_t index, DeviceNode **node) {
    if (index >= libraryState.seenCount) {
        return TQDEV_RESULT_INVALID_DEVICE;
    }
    for (DeviceNode *candidate = libraryState.head; candidate != nullptr;
         candidate = candidate->next) {
        if (candidate->info.DeviceIndex == index) {
            *node = candidate;
            return TQDEV_RESULT_OK;
        }
    }
    TQDEV_DIAG("FindDevice(TQDEV_RESULT_DEVICE_NOT_FOUND)\n");
    return TQDEV_RESULT_DEVICE_NOT_FOUND;
}

void RemoveDevice(DeviceNode *node) {
    TQDEV_DIAG("Removing device\n");
    if (node->next != nullptr) {
        node->next->prev = node->prev;
    }
    if (node->prev != nullptr) {
        node->prev->next = node->next;
    } else {
        libraryState.head = node->next;
    }
    if (node->fileHandle != INVALID_HANDLE_VALUE) {
        StopDeviceThread(node);
    }
    FreeMemory(node->devicePath);
    FreeMemory(node);
    --libraryState.presentCount;
}

void RemoveAllDevices() {
    while (libraryState.head != nullptr) {
        RemoveDevice(libraryState.head);
    }
}

uint32_t CreateDeviceArray(TQDEV_DEVICE_ARRAY *array) {
    if (array == nullptr) {
        return TQDEV_RESULT_INVALID_PARAMETER;
    }
    std::memset(array, 0, sizeof(*array));
    if (!EnterLibrary()) {
        return TQDEV_RESULT_NOT_INITIALIZED;
    }
    LockLibrary();
    uint32_t result = TQDEV_RESULT_OK;
    array->DeviceCount = libraryState.presentCount;
    if (array->DeviceCount != 0) {
        auto *devices = static_cast<TQDEV_DEVICE_INFO *>(
            AllocateZeroed(uint64_t{array->DeviceCount} * sizeof(TQDEV_DEVICE_INFO)));
        if (devices == nullptr) {
            TQDEV_DIAG("Unable to allocate memory");
            result = TQDEV_RESULT_OUT_OF_MEMORY;
        } else {
            uint32_t slot = 0;
            for (DeviceNode *node = libraryState.head; node != nullptr; node = node->next) {
                devices[slot++] = node->info;
            }
            array->Devices = devices;
        }
    }
    UnlockLibrary();
    LeaveLibrary();
    return result;
}

uint32_t DestroyDeviceArray(TQDEV_DEVICE_ARRAY *array) {
    if (array == nullptr) {
        return TQDEV_RESULT_INVALID_PARAMETER;
    }
    FreeMemory(array->Devices);
    array->Devices = nullptr;
    return TQDEV_RESULT_OK;
}

uint32_t RegisterNotification(TQDEV_NOTIFY_CALLBACK callback, uint64_t userValue) {
    if (!EnterLibrary()) {
        return TQDEV_RESULT_NOT_INITIALIZED;
    }
    LockLibrary();
    libraryState.callback = callback;
    libraryState.userValue = userValue;
    UnlockLibrary();
    LeaveLibrary();
    return TQDEV_RESULT_OK;
}

uint32_t NextCaptureTicket(uint32_t device, uint32_t *ticket) {
    if (ticket == nullptr) {
        return TQDEV_RESULT_INVALID_PARAMETER;
    }
    return WithDevice(device, [ticket](DeviceNode *node) {
        *ticket = node->ticketCounter++;
        return TQDEV_RESULT_OK;
    });
}

uint32_t LastCaptureTicket(uint32_t device, uint32_t *ticket) {
    if (ticket == nullptr) {
        return TQDEV_RESULT_INVALID_PARAMETER;
    }
    return WithDevice(device, [ticket](DeviceNode *node) {
        *ticket = node->ticketCounter - 1;
        return TQDEV_RESULT_OK;
    });
}

uint32_t SetLiveFocus(uint32_t device) {
    return WithDevice(device, [](DeviceNode *node) {
        node->liveFocus = 1;
        return TQDEV_RESULT_OK;
    });
}

uint32_t ClearLiveFocus(uint32_t device) {
    return WithDevice(device, [](DeviceNode *node) {
        node->liveFocus = 0;
        return TQDEV_RESULT_OK;
    });
}

int32_t IsLiveFocus(uint32_t device) {
    int32_t liveFocus = 0;
    WithDevice(device, [&liveFocus](DeviceNode *node) {
        liveFocus = node->liveFocus;
        return TQDEV_RESULT_OK;
    });
    return liveFocus;
}
