// Completion of the caller's progress record.
#include <atomic>

#include "tqdev_lib_internal.h"

void CompleteProgress(TQDEV_PROGRESS *progress, uint32_t result) {
    if (progress == nullptr) {
        return;
    }
    TQDEV_PROGRESS_CALLBACK callback = progress->Callback;
    uint64_t userData = progress->UserData;
    // Done last, with release: a caller polling Done from another thread then
    // sees Percent and Result final.
    std::atomic_ref<uint32_t>(progress->Percent).store(100, std::memory_order_relaxed);
    std::atomic_ref<uint32_t>(progress->Result).store(result, std::memory_order_relaxed);
    std::atomic_ref<uint32_t>(progress->Done).store(1, std::memory_order_release);
    if (callback != nullptr) {
        callback(result, userData);
    }
}
