// Internal interface of module tqdev_lib: the synchronous request pattern, the
// request numbers it sends and the library-wide last completed ticket.
#pragma once

#include <atomic>
#include <cstdint>

#include "diagnostics.h"
#include "tqdev.h"
#include "tqdev_lib.h"
#include "tqdev_lib_nt.h"

// Request numbers of the device channel, as the camera operations use them.
constexpr uint32_t kRequestFrameData = 0;
constexpr uint32_t kRequestCaptureState = 1;
constexpr uint32_t kRequestCameraInfo = 2;
constexpr uint32_t kRequestExtendedInfo = 3;
constexpr uint32_t kRequestFrameInfo = 6;
constexpr uint32_t kRequestIntegrationTime = 8;
constexpr uint32_t kRequestDeviceState = 9;
constexpr uint32_t kRequestClear = 10;
constexpr uint32_t kRequestFlawCount = 11;
constexpr uint32_t kRequestReadFlaws = 12;
constexpr uint32_t kRequestWriteFlaws = 13;
constexpr uint32_t kRequestReadMatrix = 14;
constexpr uint32_t kRequestWriteMatrix = 15;
constexpr uint32_t kRequestBayerPattern = 16;
constexpr uint32_t kRequestWriteDark = 17;
constexpr uint32_t kRequestReadDark = 18;
constexpr uint32_t kRequestTapGain = 19;
constexpr uint32_t kRequestDriverPair = 20;
constexpr uint32_t kRequestHoming = 21;
constexpr uint32_t kRequestRegisterAddress = 22;
constexpr uint32_t kRequestRegisterValue = 23;
constexpr uint32_t kRequestReadRegister = 24;

// One waiting call: the result of its request and the event that wakes it.
// On the heap: should the wait fail, the completion may still write it and
// signal the event, so it is parked rather than freed.
struct SyncContext {
    ParkedRecord parked;
    uint32_t result;
    SyncEvent event;
    bool waitFailed;
    // What the driver reads and writes goes through here when it fits, so
    // that it too is parked: a record on the caller's stack is not.
    TQDEV_CAPTURE_SETTINGS settings;
    alignas(8) uint8_t data[256];
};

// Completion of every synchronous request: stores status word 0, signals.
void SyncCompletion(const TQDEV_STATUS *status, void *data, void *context);

// The event of a call that waits; null (after the diagnostic) on failure.
SyncEvent CreateWaitEvent();

// A context with its event: null, after the diagnostic, when either cannot be
// made (*result then says which: 14 or 4).
SyncContext *NewSyncContext(uint32_t *result);
// Frees the context, or parks it when a wait on it failed.
void EndSyncContext(SyncContext *sync);

// Sends one request and waits for its completion on the context; data of up
// to 256 bytes and the settings travel in the context. After a failed wait
// (4) the context must not be used again, only ended.
uint32_t SubmitAndWait(SyncContext *sync, uint32_t device, uint32_t request, void *data,
                       uint32_t size, const TQDEV_CAPTURE_SETTINGS *settings = nullptr);

// One request with a context of its own.
uint32_t SyncRequest(uint32_t device, uint32_t request, void *data, uint32_t size,
                     const TQDEV_CAPTURE_SETTINGS *settings = nullptr);

// Ticket of the capture that passed through its end steps last, on any
// device; -1 before the first.
extern std::atomic<int32_t> lastCompletedTicket;

// The completion function of every request of a capture.
void TqdevCaptureImageCallback(const TQDEV_STATUS *status, void *data, void *context);
