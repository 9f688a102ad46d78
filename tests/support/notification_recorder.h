// Records the library's hot-plug notifications and lets a test wait for
// them. Platform-free: shared by the simulator tests and the Wine suite.
#pragma once

#include <algorithm>
#include <cstdint>
#include <source_location>
#include <tuple>
#include <vector>

#include "recorder.h"
#include "tqdev.h"

// Records notification callbacks and lets a test wait for a number of them.
class NotificationRecorder {
  public:
    using Event = std::tuple<uint32_t, uint32_t, uint64_t>; // event, device, user value

    static void TQDEV_CALL Callback(uint32_t event, uint32_t device, uint64_t userValue) {
        Instance().events_.Add({event, device, userValue});
    }

    static NotificationRecorder &Instance() {
        static NotificationRecorder recorder;
        return recorder;
    }

    void Clear() { events_.Clear(); }

    // Waits until count events have arrived; returns what arrived.
    std::vector<Event> WaitFor(size_t count,
                               std::source_location where = std::source_location::current()) {
        return events_.WaitFor(count, where);
    }

    // Waits until this event has arrived; returns what arrived.
    std::vector<Event> WaitForEvent(const Event &event,
                                    std::source_location where = std::source_location::current()) {
        return events_.WaitUntil(
            [&](const std::vector<Event> &events) {
                return std::find(events.begin(), events.end(), event) != events.end();
            },
            "a notification", where);
    }

  private:
    testsupport::Recorder<Event> events_;
};
