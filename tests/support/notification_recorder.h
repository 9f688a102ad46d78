// Records the library's hot-plug notifications and lets a test wait for
// them. Platform-free: shared by the simulator tests and the Wine suite.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <tuple>
#include <vector>

#include "tqdev.h"

// Records notification callbacks and lets a test wait for a number of them.
class NotificationRecorder {
  public:
    using Event = std::tuple<uint32_t, uint32_t, uint64_t>; // event, device, user value

    static void TQDEV_CALL Callback(uint32_t event, uint32_t device, uint64_t userValue) {
        Instance().Record(event, device, userValue);
    }

    static NotificationRecorder &Instance() {
        static NotificationRecorder recorder;
        return recorder;
    }

    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.clear();
    }

    // Waits (bounded, so that a missing event fails instead of hanging) until
    // count events have arrived; returns what arrived.
    std::vector<Event> WaitFor(size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        arrived_.wait_for(lock, std::chrono::seconds(10), [&] { return events_.size() >= count; });
        return events_;
    }

    // Waits (bounded) until this event has arrived; returns what arrived.
    std::vector<Event> WaitForEvent(const Event &event) {
        std::unique_lock<std::mutex> lock(mutex_);
        arrived_.wait_for(lock, std::chrono::seconds(10), [&] {
            return std::find(events_.begin(), events_.end(), event) != events_.end();
        });
        return events_;
    }

  private:
    void Record(uint32_t event, uint32_t device, uint64_t userValue) {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.emplace_back(event, device, userValue);
        arrived_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<Event> events_;
};
