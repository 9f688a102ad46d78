// Synchronous camera operations: one request (or a short chain) each, the
// caller's thread waiting for every answer.
#include <cstring>

#include "tqdev_lib_internal.h"

void SyncCompletion(const TQDEV_STATUS *status, void * /*data*/, void *context) {
    auto *sync = static_cast<SyncContext *>(context);
    SyncEvent event = sync->event;
    sync->result = status->word[0];
    // The waiting caller may return and drop the context once this is set.
    SetSyncEvent(event);
}

SyncEvent CreateWaitEvent() {
    SyncEvent event = CreateSyncEvent();
    if (event == nullptr) {
        TQDEV_DIAG("Can't allocate event\n");
    }
    return event;
}

uint32_t SubmitAndWait(SyncEvent event, uint32_t device, uint32_t request, void *data,
                       uint32_t size, const TQDEV_CAPTURE_SETTINGS *settings) {
    SyncContext sync{TQDEV_RESULT_OK, event};
    uint32_t result = SubmitRequest(device, request, data, size, SyncCompletion, &sync, settings);
    if (result != TQDEV_RESULT_OK) {
        return result;
    }
    if (WaitSyncEvent(event) != TQDEV_RESULT_OK) {
        return TQDEV_RESULT_SYSTEM_ERROR;
    }
    return sync.result;
}

uint32_t SyncRequest(uint32_t device, uint32_t request, void *data, uint32_t size,
                     const TQDEV_CAPTURE_SETTINGS *settings) {
    SyncEvent event = CreateWaitEvent();
    if (event == nullptr) {
        return TQDEV_RESULT_SYSTEM_ERROR;
    }
    uint32_t result = SubmitAndWait(event, device, request, data, size, settings);
    CloseSyncEvent(event);
    return result;
}

uint32_t CameraInfo(uint32_t device, TQDEV_CAMERA_INFO *info) {
    if (info == nullptr) {
        return TQDEV_RESULT_INVALID_PARAMETER;
    }
    return SyncRequest(device, kRequestCameraInfo, info, sizeof *info);
}

uint32_t GetDeviceState(uint32_t device, TQDEV_DEVICE_STATE *state) {
    if (state == nullptr) {
        return TQDEV_RESULT_INVALID_PARAMETER;
    }
    return SyncRequest(device, kRequestDeviceState, state, sizeof *state);
}

namespace {

// Selects the register, then sends the second request on the same event; the
// second is not sent when selecting fails. The camera is held for both.
uint32_t RegisterAccess(uint32_t device, uint32_t reg, uint32_t request, uint32_t *value) {
    SyncEvent event = CreateWaitEvent();
    if (event == nullptr) {
        return TQDEV_RESULT_SYSTEM_ERROR;
    }
    CameraHold hold = nullptr;
    uint32_t result = HoldCamera(device, &hold);
    if (result == TQDEV_RESULT_OK) {
        uint32_t address = reg;
        result = SubmitAndWait(event, device, kRequestRegisterAddress, &address, sizeof address);
        if (result == TQDEV_RESULT_OK) {
            result = SubmitAndWait(event, device, request, value, sizeof *value);
        }
        ReleaseCamera(hold);
    }
    CloseSyncEvent(event);
    return result;
}

} // namespace

uint32_t WriteRegister(uint32_t device, uint32_t reg, uint32_t value) {
    uint32_t copy = value;
    return RegisterAccess(device, reg, kRequestRegisterValue, &copy);
}

uint32_t ReadRegister(uint32_t device, uint32_t reg, uint32_t *value) {
    if (value == nullptr) {
        return TQDEV_RESULT_INVALID_PARAMETER;
    }
    return RegisterAccess(device, reg, kRequestReadRegister, value);
}

uint32_t WriteXFormMatrix(uint32_t device, const float *matrix) {
    if (matrix == nullptr) {
        return TQDEV_RESULT_INVALID_PARAMETER;
    }
    float block[9];
    std::memcpy(block, matrix, sizeof block);
    return SyncRequest(device, kRequestWriteMatrix, block, sizeof block);
}

uint32_t WriteBayerPattern(uint32_t device, uint8_t pattern) {
    uint8_t copy = pattern;
    return SyncRequest(device, kRequestBayerPattern, &copy, sizeof copy);
}

uint32_t WriteAverageDark(uint32_t device, uint16_t level) {
    uint16_t copy = level;
    return SyncRequest(device, kRequestWriteDark, &copy, sizeof copy);
}

uint32_t WriteTapGain(uint32_t device, int32_t count, const float *gains) {
    // A negative count has no byte size; gains must exist when there are any.
    if (count < 0 || (count > 0 && gains == nullptr)) {
        return TQDEV_RESULT_INVALID_PARAMETER;
    }
    uint64_t bytes = static_cast<uint64_t>(count) * sizeof(float);
    // A byte size beyond 32 bits cannot be one request; cut short, it would
    // send part of the gains and report success.
    if (bytes > UINT32_MAX) {
        return TQDEV_RESULT_INVALID_PARAMETER;
    }
    return SyncRequest(device, kRequestTapGain, const_cast<float *>(gains),
                       static_cast<uint32_t>(bytes));
}
