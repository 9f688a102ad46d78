// Helpers of the device-access tests: holding enumeration passes off,
// completions recorded for inspection, and the simulator's call log.
#pragma once

#include <cstdint>
#include <source_location>
#include <vector>

#include "library_fixture.h"
#include "nt_internal.h"
#include "recorder.h"

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
        static_cast<Completions *>(context)->records_.Add({*status, data});
    }

    // Waits for count completions; returns those that arrived.
    std::vector<Record> WaitFor(size_t count,
                                std::source_location where = std::source_location::current()) {
        return records_.WaitFor(count, where);
    }

    size_t Count() { return records_.Count(); }

  private:
    testsupport::Recorder<Record> records_;
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

// Whether the open handles come back to `count`: handles of ended completion
// threads are closed by the next submission or notification pass.
inline bool HandlesReturnTo(uint32_t count,
                            std::source_location where = std::source_location::current()) {
    return testsupport::Eventually([count] { return TqsimOpenHandleCount() == count; },
                                   "the open handles to return", where);
}

inline uint32_t PendingTransfers(uint32_t camera) {
    uint32_t count = 0;
    EXPECT_EQ(TqsimPendingTransfers(camera, &count), 0);
    return count;
}
