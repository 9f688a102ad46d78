// Helpers of the camera-operation tests: one open camera, the driver's call
// log read back as numbered requests, and progress records to wait on.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <source_location>
#include <thread>
#include <vector>

#include "library_fixture.h"
#include "recorder.h"
#include "request_codes.h"
#include "tqdev.h"
#include "tqsim.h"

// One request of the call log: its number, the bytes of its data transfer
// and the settings sent ahead of it, if any.
struct LoggedRequest {
    uint32_t request;
    uint32_t size;
    std::optional<TQDEV_CAPTURE_SETTINGS> settings;
};

inline std::optional<uint32_t> RequestNumberOf(uint32_t code) {
    for (uint32_t request = 0; request < kRequestCount; ++request) {
        if (RequestCode(request) == code) {
            return request;
        }
    }
    return std::nullopt;
}

// The data transfers of a camera's log, with the settings sent ahead of them;
// status transfers and refused calls are left out.
inline std::vector<LoggedRequest> LoggedRequests(uint32_t camera) {
    uint32_t count = 0;
    EXPECT_EQ(TqsimCallCount(camera, &count), 0);
    std::vector<LoggedRequest> requests;
    std::optional<TQDEV_CAPTURE_SETTINGS> settings;
    for (uint32_t i = 0; i < count; ++i) {
        TQSIM_CALL_RECORD call{};
        EXPECT_EQ(TqsimGetCall(camera, i, &call), 0);
        if (call.refused_with != 0 || call.code == kStatusCode || call.code == kCancelCode) {
            continue;
        }
        if (call.code == kSettingsCode) {
            settings = call.settings;
            continue;
        }
        std::optional<uint32_t> request = RequestNumberOf(call.code);
        EXPECT_TRUE(request.has_value()) << "unknown code " << std::hex << call.code;
        requests.push_back({request.value_or(~0u), call.in_size + call.out_size, settings});
        settings.reset();
    }
    return requests;
}

inline std::vector<uint32_t> RequestNumbers(uint32_t camera) {
    std::vector<uint32_t> numbers;
    for (const LoggedRequest &request : LoggedRequests(camera)) {
        numbers.push_back(request.request);
    }
    return numbers;
}

// Waits until `count` status transfers of the camera have been issued: the
// requests before them are then wholly in the camera's hands.
inline bool WaitForStatusTransfers(uint32_t camera, size_t count,
                                   std::source_location where = std::source_location::current()) {
    return testsupport::Eventually(
        [&] {
            uint32_t calls = 0;
            TqsimCallCount(camera, &calls);
            size_t seen = 0;
            for (uint32_t i = 0; i < calls; ++i) {
                TQSIM_CALL_RECORD call{};
                if (TqsimGetCall(camera, i, &call) == 0 && call.code == kStatusCode &&
                    call.refused_with == 0) {
                    ++seen;
                }
            }
            return seen >= count;
        },
        "status transfers", where);
}

// Every completion of a progress record: its result, the record's fields as
// the callback found them, and the thread it ran on.
class ProgressLog {
  public:
    struct Entry {
        uint32_t result;
        uint32_t done;
        uint32_t percent;
        uint32_t recordResult;
        std::thread::id thread;
        uint32_t ringIndex; // of the watched capture record, as the callback found it
        uint32_t status6;
        uint32_t value; // the watched output word, as the callback found it
    };

    ProgressLog() {
        record.Callback = Callback;
        record.UserData = reinterpret_cast<uintptr_t>(this);
    }

    // Waits until count completions have arrived; returns them.
    std::vector<Entry> WaitFor(size_t count,
                               std::source_location where = std::source_location::current()) {
        return entries_.WaitFor(count, where);
    }

    // Waits for `count` completions or one that ends the operation.
    std::vector<Entry>
    WaitForReportsOrEnd(size_t count,
                        std::source_location where = std::source_location::current()) {
        return entries_.WaitUntil(
            [count](const std::vector<Entry> &entries) {
                return entries.size() >= count || Ended(entries);
            },
            "reports or the end", where);
    }

    // Waits for a completion with a result other than 0.
    std::vector<Entry> WaitForFinal(std::source_location where = std::source_location::current()) {
        return entries_.WaitUntil(Ended, "the final completion", where);
    }

    std::vector<Entry> Entries() { return entries_.Entries(); }

    // Completions that began while another of the same record was running.
    int Overlaps() const { return overlaps_.load(); }

    uint32_t Percent() { return std::atomic_ref<uint32_t>(record.Percent).load(); }
    uint32_t Done() { return std::atomic_ref<uint32_t>(record.Done).load(); }

    TQDEV_PROGRESS record{};
    const TQDEV_CAPTURE_PARAMS *params = nullptr; // snapshot at each completion
    const uint32_t *watched = nullptr;            // snapshot at each completion

  private:
    static bool Ended(const std::vector<Entry> &entries) {
        return !entries.empty() && entries.back().result != TQDEV_RESULT_OK;
    }

    static void TQDEV_CALL Callback(uint32_t result, uint64_t userData) {
        auto *log = reinterpret_cast<ProgressLog *>(static_cast<uintptr_t>(userData));
        if (log->inside_.exchange(true)) {
            log->overlaps_ += 1;
        }
        std::this_thread::yield(); // widen the window in which an overlap would show
        TQDEV_PROGRESS &record = log->record;
        Entry entry{result,
                    std::atomic_ref<uint32_t>(record.Done).load(),
                    std::atomic_ref<uint32_t>(record.Percent).load(),
                    std::atomic_ref<uint32_t>(record.Result).load(),
                    std::this_thread::get_id(),
                    log->params != nullptr ? log->params->ring_index : 0,
                    log->params != nullptr ? log->params->status6 : 0,
                    log->watched != nullptr ? *log->watched : 0};
        log->inside_.store(false);
        // Last: a waiter may drop the log as soon as the entry is in.
        log->entries_.Add(entry);
    }

    testsupport::Recorder<Entry> entries_;
    std::atomic<bool> inside_{false};
    std::atomic<int> overlaps_{0};
};

// A library with one open camera (device 0) and an empty call log.
class OpsFixture : public LibraryFixture {
  protected:
    void SetUp() override {
        LibraryFixture::SetUp();
        OpenCameras(1);
    }

    void OpenCameras(int count, const TQSIM_CAMERA_CONFIG *config = nullptr) {
        for (int i = 0; i < count; ++i) {
            cameras_.push_back(PlugCamera(config));
        }
        ASSERT_EQ(InitLibrary(), TQDEV_RESULT_OK);
        for (int i = 0; i < count; ++i) {
            ASSERT_EQ(TqdevOpenDevice(static_cast<uint32_t>(i)), TQDEV_RESULT_OK);
            TqsimClearCalls(cameras_[static_cast<size_t>(i)]);
        }
        idleThreads_ = TqsimRunningThreadCount();
    }

    uint32_t camera() const { return cameras_.front(); }

    std::vector<uint32_t> cameras_;
    uint32_t idleThreads_ = 0; // the library's own threads, no request under way
};
