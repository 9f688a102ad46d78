// Helpers of the device-access tests: holding enumeration passes off,
// completions recorded for inspection, and the simulator's call log.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "library_fixture.h"
#include "nt_internal.h"

// Keeps enumeration passes (and their platform calls) from running while a
// test rearranges cameras or injects a failure into the next platform call.
struct PassesHeld {
    PassesHeld() { LockLibrary(); }
    ~PassesHeld() { UnlockLibrary(); }
};

// Collects the completions of submitted requests.
class Completions {
  public:
    struct Record {
        TQDEV_STATUS status;
        void *data;
    };

    static void Function(const TQDEV_STATUS *status, void *data, void *context) {
        auto *self = static_cast<Completions *>(context);
        std::lock_guard<std::mutex> lock(self->mutex_);
        self->records_.push_back({*status, data});
        self->arrived_.notify_all();
    }

    // Waits (bounded) for count completions; returns those that arrived.
    std::vector<Record> WaitFor(size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        arrived_.wait_for(lock, std::chrono::seconds(10), [&] { return records_.size() >= count; });
        return records_;
    }

    size_t Count() {
        std::lock_guard<std::mutex> lock(mutex_);
        return records_.size();
    }

  private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<Record> records_;
};

inline std::vector<TQSIM_CALL_RECORD> CallLog(uint32_t camera) {
    uint32_t count = 0;
    EXPECT_EQ(TqsimCallCount(camera, &count), 0);
    std::vector<TQSIM_CALL_RECORD> calls(count);
    for (uint32_t i = 0; i < count; ++i) {
        EXPECT_EQ(TqsimGetCall(camera, i, &calls[i]), 0);
    }
    return calls;
}

// Whether the open handles come back to `count` within a few poll periods:
// handles of ended completion threads are closed by the next submission or
// notification pass.
inline bool HandlesReturnTo(uint32_t count) {
    for (int i = 0; i < 200 && TqsimOpenHandleCount() != count; ++i) {
        Sleep(10);
    }
    return TqsimOpenHandleCount() == count;
}

inline uint32_t PendingTransfers(uint32_t camera) {
    uint32_t count = 0;
    EXPECT_EQ(TqsimPendingTransfers(camera, &count), 0);
    return count;
}
