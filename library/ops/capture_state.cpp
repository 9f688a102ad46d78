// Where a capture named by its ticket stands: queued, with the driver,
// finishing in the library, or complete.
#include <atomic>

#include "tqdev_lib_internal.h"

namespace {

// The driver's answer to the capture-state request.
struct DriverCaptureState {
    int32_t ticket; // the ticket the driver is working on
    int32_t state;  // the driver's state word for it
};

} // namespace

uint32_t GetCaptureState(uint32_t device, int32_t ticket, int32_t *state) {
    if (state == nullptr) {
        return TQDEV_RESULT_INVALID_PARAMETER;
    }
    DriverCaptureState driver{};
    uint32_t result = SyncRequest(device, kRequestCaptureState, &driver, sizeof driver);
    uint32_t lastIssued = 0;
    if (result == TQDEV_RESULT_OK) {
        result = LastCaptureTicket(device, &lastIssued);
    }
    if (result != TQDEV_RESULT_OK) {
        return result;
    }
    // Tickets compare as signed numbers: -1 stands before the first one.
    if (ticket > static_cast<int32_t>(lastIssued)) {
        return TQDEV_RESULT_INVALID_PARAMETER;
    }
    if (ticket <= lastCompletedTicket.load(std::memory_order_relaxed)) {
        *state = TQDEV_CAPTURE_STATE_COMPLETE;
    } else if (ticket < driver.ticket) {
        *state = TQDEV_CAPTURE_STATE_FINISHING;
    } else if (ticket == driver.ticket) {
        *state = driver.state;
    } else {
        *state = TQDEV_CAPTURE_STATE_QUEUED;
    }
    return TQDEV_RESULT_OK;
}
