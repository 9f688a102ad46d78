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
struct SyncContext {
    uint32_t result;
    SyncEvent event;
};

// Completion of every synchronous request: stores status word 0, signals.
void SyncCompletion(const TQDEV_STATUS *status, void *data, void *context);

// The event of a synchronous call; null (after the diagnostic) on failure.
SyncEvent CreateWaitEvent();

// Sends one request and waits for its completion on the caller's event.
uint32_t SubmitAndWait(SyncEvent event, uint32_t device, uint32_t request, void *data,
                       uint32_t size, const TQDEV_CAPTURE_SETTINGS *settings = nullptr);

// One request with an event of its own: 4 when no event can be made.
uint32_t SyncRequest(uint32_t device, uint32_t request, void *data, uint32_t size,
                     const TQDEV_CAPTURE_SETTINGS *settings = nullptr);

// Ticket of the capture that passed through its end steps last, on any
// device; -1 before the first.
extern std::atomic<int32_t> lastCompletedTicket;

// The completion function of every request of a capture.
void TqdevCaptureImageCallback(const TQDEV_STATUS *status, void *data, void *context);
