// Reading the integration time, waiting or with a progress record.
#include <atomic>

#include "tqdev_lib_internal.h"

namespace {

struct IntegrationTimeContext {
    ParkedRecord parked; // when the caller's wait failed
    uint32_t result;
    SyncEvent event;          // synchronous form only
    uint32_t *value;          // the caller's output word
    TQDEV_PROGRESS *progress; // asynchronous form only
};

void IntegrationTimeCompletion(const TQDEV_STATUS *status, void * /*data*/, void *context) {
    auto *request = static_cast<IntegrationTimeContext *>(context);
    request->result = status->word[0];
    // The driver's word 2 is stored whatever its result says.
    *request->value = status->word[2];
    CompleteProgress(request->progress, status->word[0]);
    SyncEvent event = request->event;
    if (event != nullptr) {
        SetSyncEvent(event); // the waiting caller frees the context
    } else {
        FreeMemory(request);
    }
}

void ReleaseParkedRequest(void *owner) {
    auto *request = static_cast<IntegrationTimeContext *>(owner);
    CloseSyncEvent(request->event);
    FreeMemory(request);
}

uint32_t PrepareCompletion(IntegrationTimeContext *request, TQDEV_PROGRESS *progress) {
    if (progress != nullptr) {
        request->progress = progress;
        std::atomic_ref<uint32_t>(progress->Done).store(0, std::memory_order_relaxed);
        std::atomic_ref<uint32_t>(progress->Percent).store(0, std::memory_order_relaxed);
        return TQDEV_RESULT_OK;
    }
    request->event = CreateWaitEvent();
    return request->event != nullptr ? TQDEV_RESULT_OK : TQDEV_RESULT_SYSTEM_ERROR;
}

} // namespace

uint32_t GetIntegrationTime(uint32_t device, uint32_t *value, const uint32_t *guard,
                            TQDEV_PROGRESS *progress) {
    uint32_t result = TQDEV_RESULT_OK;
    if (value == nullptr || guard == nullptr || *guard != 0) {
        result = TQDEV_RESULT_INVALID_PARAMETER;
    }
    IntegrationTimeContext *request = nullptr;
    if (result == TQDEV_RESULT_OK) {
        request = static_cast<IntegrationTimeContext *>(AllocateZeroed(sizeof *request));
        result =
            request != nullptr ? PrepareCompletion(request, progress) : TQDEV_RESULT_OUT_OF_MEMORY;
    }
    if (result == TQDEV_RESULT_OK) {
        request->value = value;
        result = SubmitRequest(device, kRequestIntegrationTime, nullptr, 0,
                               IntegrationTimeCompletion, request, nullptr);
    }
    if (result == TQDEV_RESULT_OK) {
        if (progress != nullptr) {
            return TQDEV_RESULT_OK; // the completion frees the context
        }
        result = WaitSyncEvent(request->event);
        if (result != TQDEV_RESULT_OK) {
            // The completion may still come and use the context.
            ParkUntilTermination(&request->parked, ReleaseParkedRequest, request);
            request = nullptr;
        } else {
            result = request->result;
        }
    }
    if (request != nullptr) {
        if (request->event != nullptr) {
            CloseSyncEvent(request->event);
        }
        FreeMemory(request);
    }
    CompleteProgress(progress, result);
    return result;
}
