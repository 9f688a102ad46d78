// The device channel: opening and closing a camera, its I/O thread, and the
// hand-off of one driver call at a time to that thread.
#include "nt_internal.h"
#include "request_codes.h"

namespace {

void CloseChannelHandles(DeviceNode *node) {
    if (node->fileHandle != INVALID_HANDLE_VALUE) {
        CloseHandle(node->fileHandle);
        node->fileHandle = INVALID_HANDLE_VALUE;
    }
    if (node->requestEvent != nullptr) {
        CloseHandle(node->requestEvent);
        node->requestEvent = nullptr;
    }
    if (node->doneEvent != nullptr) {
        CloseHandle(node->doneEvent);
        node->doneEvent = nullptr;
    }
}

HANDLE CreateHandOffEvent() {
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (event == nullptr) {
        DWORD error = GetLastError();
        TQDEV_REPORT_FAILED_CALL("CreateEvent\n", error);
    }
    return event;
}

uint32_t OpenChannel(DeviceNode *node) {
    if (node->fileHandle != INVALID_HANDLE_VALUE) {
        return TQDEV_RESULT_DEVICE_ALREADY_OPEN;
    }
    uint32_t result = TQDEV_RESULT_OK;
    node->fileHandle = CreateFileA(node->devicePath, GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_OVERLAPPED, nullptr);
    if (node->fileHandle == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        TQDEV_REPORT_FAILED_CALL("CreateFile\n", error);
        result = TQDEV_RESULT_OPEN_FAILED;
    } else if ((node->requestEvent = CreateHandOffEvent()) == nullptr ||
               (node->doneEvent = CreateHandOffEvent()) == nullptr) {
        result = TQDEV_RESULT_SYSTEM_ERROR;
    } else {
        node->stopFlag = 0;
        node->ioThread = CreateThread(nullptr, 0, DeviceThreadFunction, node, 0, nullptr);
        if (node->ioThread == nullptr) {
            DWORD error = GetLastError();
            TQDEV_REPORT_FAILED_CALL("CreateThread\n", error);
            result = TQDEV_RESULT_SYSTEM_ERROR;
        }
    }
    if (result != TQDEV_RESULT_OK) {
        CloseChannelHandles(node);
    }
    return result;
}

// A driver call refused at once: its error as a result code.
uint32_t IssueFailure(DWORD error) {
    TQDEV_REPORT_FAILED_CALL("DeviceIoControl", error);
    switch (error) {
    case ERROR_OPERATION_ABORTED:
        return TQDEV_RESULT_CANCELLED;
    case ERROR_NOACCESS:
        return TQDEV_RESULT_INVALID_BUFFER;
    case ERROR_DEVICE_REMOVED:
        TQDEV_DIAG("DeviceThreadFunction(TQDEV_RESULT_DEVICE_NOT_FOUND)\n");
        return TQDEV_RESULT_DEVICE_NOT_FOUND;
    default:
        TQDEV_DIAG("Invalid last value\n");
        return TQDEV_RESULT_SYSTEM_ERROR;
    }
}

} // namespace

uint32_t OpenDevice(uint32_t device) {
    return WithDevice(device, OpenChannel);
}

uint32_t CloseDevice(uint32_t device) {
    return WithDevice(device, [](DeviceNode *node) {
        if (node->fileHandle == INVALID_HANDLE_VALUE) {
            return TQDEV_RESULT_DEVICE_NOT_OPEN;
        }
        StopDeviceThread(node);
        return TQDEV_RESULT_OK;
    });
}

void StopDeviceThread(DeviceNode *node) {
    node->stopFlag = 1;
    SetEvent(node->requestEvent);
    WaitForSingleObject(node->ioThread, INFINITE);
    CloseHandle(node->ioThread);
    node->ioThread = nullptr;
    CloseChannelHandles(node);
}

DWORD WINAPI DeviceThreadFunction(LPVOID parameter) {
    MarkLibraryThread();
    auto *node = static_cast<DeviceNode *>(parameter);
    for (;;) {
        WaitForSingleObject(node->requestEvent, INFINITE);
        if (node->stopFlag != 0) {
            return 0;
        }
        DWORD bytes = 0;
        BOOL issued = DeviceIoControl(node->fileHandle, node->ioCode, node->inBuffer, node->inSize,
                                      node->outBuffer, node->outSize, &bytes, node->ioOverlapped);
        DWORD error = GetLastError();
        // Pending counts as issued: the outcome arrives through the OVERLAPPED.
        node->ioResult =
            issued || error == ERROR_IO_PENDING ? TQDEV_RESULT_OK : IssueFailure(error);
        SetEvent(node->doneEvent);
    }
}

uint32_t IssueDriverCall(DeviceNode *node, uint32_t code, void *buffer, uint32_t size,
                         OVERLAPPED *overlapped) {
    node->ioCode = code;
    if (IsOutputCode(code)) {
        node->inBuffer = nullptr;
        node->inSize = 0;
        node->outBuffer = buffer;
        node->outSize = size;
    } else {
        node->inBuffer = buffer;
        node->inSize = size;
        node->outBuffer = nullptr;
        node->outSize = 0;
    }
    node->ioOverlapped = overlapped;
    SetEvent(node->requestEvent);
    WaitForSingleObject(node->doneEvent, INFINITE);
    return node->ioResult;
}

namespace {

// The block of a cancel call: the driver writes it when it completes the
// call, so after a failed wait it is parked rather than freed.
struct CancelCall {
    ParkedRecord parked;
    OVERLAPPED block;
};

void ReleaseCancelCall(void *owner) {
    auto *call = static_cast<CancelCall *>(owner);
    CloseHandle(call->block.hEvent);
    FreeMemory(call);
}

} // namespace

uint32_t CancelDeviceIo(uint32_t device) {
    CancelCall *call = nullptr;
    uint32_t result = WithDevice(device, [&call](DeviceNode *node) {
        if (node->fileHandle == INVALID_HANDLE_VALUE) {
            return TQDEV_RESULT_DEVICE_NOT_OPEN;
        }
        auto *made = static_cast<CancelCall *>(AllocateZeroed(sizeof(CancelCall)));
        if (made == nullptr) {
            TQDEV_DIAG("Could not allocate memory\n");
            return TQDEV_RESULT_OUT_OF_MEMORY;
        }
        uint32_t issued = InitOverlapped(&made->block);
        if (issued == TQDEV_RESULT_OK) {
            issued = IssueDriverCall(node, kCancelCode, nullptr, 0, &made->block);
            if (issued != TQDEV_RESULT_OK) {
                CloseHandle(made->block.hEvent);
            }
        }
        if (issued != TQDEV_RESULT_OK) {
            FreeMemory(made);
            return issued;
        }
        call = made;
        return TQDEV_RESULT_OK;
    });
    if (result != TQDEV_RESULT_OK) {
        return result;
    }
    // The driver completes the cancel call once it has dealt with the
    // outstanding requests; its own status does not matter.
    if (!WaitSignalled(call->block.hEvent)) {
        ParkUntilTermination(&call->parked, ReleaseCancelCall, call);
        return TQDEV_RESULT_SYSTEM_ERROR;
    }
    ReleaseCancelCall(call);
    return TQDEV_RESULT_OK;
}
