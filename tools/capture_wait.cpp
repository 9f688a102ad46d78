#include "capture_wait.h"

namespace {

void TQDEV_CALL OnProgress(uint32_t result, uint64_t user_data) {
    auto *wait = reinterpret_cast<CaptureWait *>(static_cast<uintptr_t>(user_data));
    // Notify under the lock: once the waiter sees the report, this thread no
    // longer touches the wait record.
    bool stop = false;
    uint32_t device = 0;
    {
        std::lock_guard lock(wait->mutex);
        if (wait->live && result == TQDEV_RESULT_OK) {
            ++wait->reports.frames;
            stop = wait->reports.frames == wait->stopAtFrame;
            device = wait->device;
        } else {
            wait->reports.ended = true;
            wait->reports.finalResult = result;
        }
        wait->changed.notify_all();
    }
    // Stopping here, not on the waiting thread, keeps a frame from completing
    // in between: exactly the frame in flight follows.
    if (stop) {
        TqdevCancelLiveFocus(device);
    }
}

} // namespace

void AttachProgress(TQDEV_PROGRESS &progress, CaptureWait &wait) {
    progress = TQDEV_PROGRESS{};
    progress.Callback = OnProgress;
    progress.UserData = reinterpret_cast<uintptr_t>(&wait);
}

CaptureReports WaitForEnd(CaptureWait &wait, std::chrono::milliseconds timeout) {
    std::unique_lock lock(wait.mutex);
    wait.changed.wait_for(lock, timeout, [&] { return wait.reports.ended; });
    return wait.reports;
}
