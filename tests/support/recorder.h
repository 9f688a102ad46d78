// Waiting in tests: what callbacks report, recorded and awaited, and
// conditions polled until they hold. Every wait has the one time-out below,
// and a wait that runs out of it fails the test where it was called.
// Platform-free: shared by the simulator tests and the Wine suite.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <source_location>
#include <thread>
#include <utility>
#include <vector>

namespace testsupport {

// Only a lost event or a stuck thread reaches this; a loaded machine under a
// sanitizer or Wine does not.
inline constexpr std::chrono::seconds kPatience{20};

inline void FailWaiting(const char *what, const std::source_location &where) {
    ADD_FAILURE_AT(where.file_name(), static_cast<int>(where.line()))
        << "waited " << kPatience.count() << " s in vain for " << what;
}

// The entries callbacks report, in arrival order, for a test to wait on.
template <typename Entry> class Recorder {
  public:
    void Add(Entry entry) {
        std::lock_guard<std::mutex> lock(mutex_);
        entries_.push_back(std::move(entry));
        arrived_.notify_all();
    }

    // Wakes the waiters to test their condition again, for conditions on
    // state that changes along with the entries.
    void Notify() {
        std::lock_guard<std::mutex> lock(mutex_);
        arrived_.notify_all();
    }

    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        entries_.clear();
    }

    std::vector<Entry> Entries() {
        std::lock_guard<std::mutex> lock(mutex_);
        return entries_;
    }

    size_t Count() {
        std::lock_guard<std::mutex> lock(mutex_);
        return entries_.size();
    }

    // Waits until done(entries) holds; returns the entries that arrived. A
    // wait that times out fails the test.
    template <typename Done>
    std::vector<Entry> WaitUntil(Done done, const char *what = "recorded entries",
                                 std::source_location where = std::source_location::current()) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!arrived_.wait_for(lock, kPatience, [&] { return done(std::as_const(entries_)); })) {
            FailWaiting(what, where);
        }
        return entries_;
    }

    // Waits until count entries have arrived.
    std::vector<Entry> WaitFor(size_t count,
                               std::source_location where = std::source_location::current()) {
        return WaitUntil(
            [count](const std::vector<Entry> &entries) { return entries.size() >= count; },
            "a number of entries", where);
    }

  private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<Entry> entries_;
};

// Polls until the condition holds, for state nothing signals (counts of the
// simulator, another process, the driver). Whether it came to hold; a wait
// that times out fails the test.
template <typename Condition>
bool Eventually(Condition condition, const char *what = "a condition",
                std::source_location where = std::source_location::current()) {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            FailWaiting(what, where);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

} // namespace testsupport
