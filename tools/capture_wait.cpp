#include "capture_wait.h"

namespace {

void TQDEV_CALL OnProgress(uint32_t result, uint64_t user_data) {
    auto *wait = reinterpret_cast<CaptureWait *>(static_cast<uintptr_t>(user_data));
    // Notify under the lock: once the waiter sees the report, this thread no
    // longer touches the wait record.
    std::lock_guard lock(wait->mutex);
    if (wait->live && result == TQDEV_RESULT_OK) {
        if (++wait->reports.frames == wait->stopAtFrames) {
            TqdevCancelLiveFocus(wait->device);
        }
    } else {
        wait->reports.ended = true;
        wait->reports.finalResult = result;
    }
    wait->changed.notify_all();
}

} // namespace

void AttachProgress(TQDEV_PROGRESS &progress, CaptureWait &wait) {
    progress = TQDEV_PROGRESS{};
    progress.Callback = OnProgress;
    progress.UserData = reinterpret_cast<uintptr_t>(&wait);
}

CaptureReports WaitForEnd(CaptureWait &wait, std::chrono::milliseconds timeout,
                          uint32_t wakeAtFrames) {
    std::unique_lock lock(wait.mutex);
    wait.changed.wait_for(lock, timeout, [&] {
        return wait.reports.ended || (wakeAtFrames > 0 && wait.reports.frames >= wakeAtFrames);
    });
    return wait.reports;
}
