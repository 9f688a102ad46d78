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

namespace {

void ReleaseSyncContext(void *owner) {
    auto *sync = static_cast<SyncContext *>(owner);
    CloseSyncEvent(sync->event);
    FreeMemory(sync);
}

} // namespace

SyncContext *NewSyncContext(uint32_t *result) {
    auto *sync = static_cast<SyncContext *>(AllocateZeroed(sizeof(SyncContext)));
    if (sync == nullptr) {
        TQDEV_DIAG("Could not allocate memory\n");
        *result = TQDEV_RESULT_OUT_OF_MEMORY;
        return nullptr;
    }
    sync->event = CreateWaitEvent();
    if (sync->event == nullptr) {
        FreeMemory(sync);
        *result = TQDEV_RESULT_SYSTEM_ERROR;
        return nullptr;
    }
    *result = TQDEV_RESULT_OK;
    return sync;
}

void EndSyncContext(SyncContext *sync) {
    if (sync->waitFailed) {
        ParkUntilTermination(&sync->parked, ReleaseSyncContext, sync);
    } else {
        ReleaseSyncContext(sync);
    }
}

uint32_t SubmitAndWait(SyncContext *sync, uint32_t device, uint32_t request, void *data,
                       uint32_t size, const TQDEV_CAPTURE_SETTINGS *settings) {
    sync->result = TQDEV_RESULT_OK;
    void *buffer = data;
    if (data != nullptr && size <= sizeof sync->data) {
        std::memcpy(sync->data, data, size);
        buffer = sync->data;
    }
    if (settings != nullptr) {
        sync->settings = *settings;
        settings = &sync->settings;
    }
    uint32_t result = SubmitRequest(device, request, buffer, size, SyncCompletion, sync, settings);
    if (result != TQDEV_RESULT_OK) {
        return result;
    }
    if (WaitSyncEvent(sync->event) != TQDEV_RESULT_OK) {
        sync->waitFailed = true;
        return TQDEV_RESULT_SYSTEM_ERROR;
    }
    if (buffer != data && RequestReturnsData(request)) {
        std::memcpy(data, sync->data, size);
    }
    return sync->result;
}

uint32_t SyncRequest(uint32_t device, uint32_t request, void *data, uint32_t size,
                     const TQDEV_CAPTURE_SETTINGS *settings) {
    uint32_t result = TQDEV_RESULT_OK;
    SyncContext *sync = NewSyncContext(&result);
    if (sync == nullptr) {
        return result;
    }
    result = SubmitAndWait(sync, device, request, data, size, settings);
    EndSyncContext(sync);
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

// Selects the register, then sends the second request on the same context;
// the second is not sent when selecting fails. The camera is held for both.
uint32_t RegisterAccess(uint32_t device, uint32_t reg, uint32_t request, uint32_t *value) {
    uint32_t result = TQDEV_RESULT_OK;
    SyncContext *sync = NewSyncContext(&result);
    if (sync == nullptr) {
        return result;
    }
    CameraHold hold = nullptr;
    result = HoldCamera(device, &hold);
    if (result == TQDEV_RESULT_OK) {
        uint32_t address = reg;
        result = SubmitAndWait(sync, device, kRequestRegisterAddress, &address, sizeof address);
        if (result == TQDEV_RESULT_OK) {
            result = SubmitAndWait(sync, device, request, value, sizeof *value);
        }
        ReleaseCamera(hold);
    }
    EndSyncContext(sync);
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
