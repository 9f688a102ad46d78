// Internal interface of module tqdev_lib: the synchronous request pattern, the
// request numbers it sends and the library-wide last completed ticket.
#pragma once

#include <atomic>
#include <cstdint>

#include "diagnostics.h"
#include "tqdev.h"
#include "tqdev_lib.h"
#include "tqdev_lib_nt.h"
#include "tqdev_protocol.h"

// Request numbers of the device channel, as the camera operations use them.
constexpr uint32_t kRequestFrameData = TQPROTO_REQUEST_FRAME_DATA;
constexpr uint32_t kRequestCaptureState = TQPROTO_REQUEST_CAPTURE_STATE;
constexpr uint32_t kRequestCameraInfo = TQPROTO_REQUEST_CAMERA_INFO;
constexpr uint32_t kRequestExtendedInfo = TQPROTO_REQUEST_EXTENDED_INFO;
constexpr uint32_t kRequestFrameInfo = TQPROTO_REQUEST_FRAME_INFO;
constexpr uint32_t kRequestIntegrationTime = TQPROTO_REQUEST_INTEGRATION_TIME;
constexpr uint32_t kRequestDeviceState = TQPROTO_REQUEST_DEVICE_STATE;
constexpr uint32_t kRequestClear = TQPROTO_REQUEST_CLEAR;
constexpr uint32_t kRequestFlawCount = TQPROTO_REQUEST_FLAW_COUNT;
constexpr uint32_t kRequestReadFlaws = TQPROTO_REQUEST_READ_FLAWS;
constexpr uint32_t kRequestWriteFlaws = TQPROTO_REQUEST_WRITE_FLAWS;
constexpr uint32_t kRequestReadMatrix = TQPROTO_REQUEST_READ_MATRIX;
constexpr uint32_t kRequestWriteMatrix = TQPROTO_REQUEST_WRITE_MATRIX;
constexpr uint32_t kRequestBayerPattern = TQPROTO_REQUEST_BAYER_PATTERN;
constexpr uint32_t kRequestWriteDark = TQPROTO_REQUEST_WRITE_DARK;
constexpr uint32_t kRequestReadDark = TQPROTO_REQUEST_READ_DARK;
constexpr uint32_t kRequestTapGain = TQPROTO_REQUEST_TAP_GAINS;
constexpr uint32_t kRequestDriverPair = TQPROTO_REQUEST_DRIVER_PAIR;
constexpr uint32_t kRequestHoming = TQPROTO_REQUEST_HOMING;
constexpr uint32_t kRequestRegisterAddress = TQPROTO_REQUEST_REGISTER_ADDRESS;
constexpr uint32_t kRequestRegisterValue = TQPROTO_REQUEST_REGISTER_VALUE;
constexpr uint32_t kRequestReadRegister = TQPROTO_REQUEST_READ_REGISTER;

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
