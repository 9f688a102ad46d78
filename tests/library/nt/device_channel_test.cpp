// The device channel: open and close, the transfers of a request, the
// results of refused and failed transfers, cancel, and completions.
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "nt_test_support.h"
#include "request_codes.h"

namespace {

using DeviceChannelTest = LibraryFixture;

constexpr uint32_t kCameraInfo = 2;  // output, 220 bytes
constexpr uint32_t kWriteFlaws = 13; // input
constexpr uint32_t kIntegrationTime = 8;
constexpr uint32_t kFrameInfo = 6;

TQDEV_CAPTURE_SETTINGS SampleSettings() {
    TQDEV_CAPTURE_SETTINGS settings{};
    settings.mode = TQDEV_CAPTURE_SINGLE;
    settings.ticket = 0x5151;
    settings.setup_words[0] = 64;
    settings.setup_words[1] = 48;
    return settings;
}

// One request without settings, waited for: the submission's result, or the
// status the driver gave.
uint32_t RunRequest(uint32_t device, uint32_t request, void *data, uint32_t size) {
    Completions completions;
    uint32_t submitted =
        SubmitRequest(device, request, data, size, Completions::Function, &completions, nullptr);
    if (submitted != TQDEV_RESULT_OK) {
        return submitted;
    }
    std::vector<Completions::Record> done = completions.WaitFor(1);
    return done.size() == 1 ? done[0].status.word[0] : ~0u;
}

TEST_F(DeviceChannelTest, SecondOpenIsRefusedAndTheChannelKeepsWorking) {
    std::vector<uint32_t> cameras = InitWithCameras(1);
    ASSERT_EQ(OpenDevice(0), TQDEV_RESULT_OK);
    EXPECT_EQ(OpenDevice(0), TQDEV_RESULT_DEVICE_ALREADY_OPEN);
    Completions completions;
    TQDEV_CAMERA_INFO info{};
    ASSERT_EQ(SubmitRequest(0, kCameraInfo, &info, sizeof(info), Completions::Function,
                            &completions, nullptr),
              TQDEV_RESULT_OK);
    std::vector<Completions::Record> done = completions.WaitFor(1);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].status.word[0], TQDEV_RESULT_OK);
    EXPECT_EQ(done[0].data, &info);
    TQDEV_CAMERA_INFO expected{};
    ASSERT_EQ(TqsimGetCameraInfo(cameras[0], &expected), 0);
    EXPECT_EQ(std::memcmp(&info, &expected, sizeof(info)), 0);
    EXPECT_EQ(CloseDevice(0), TQDEV_RESULT_OK);
}

TEST_F(DeviceChannelTest, ClosedCameraRefusesEveryOperationWithoutDriverCalls) {
    std::vector<uint32_t> cameras = InitWithCameras(2);
    ASSERT_EQ(OpenDevice(1), TQDEV_RESULT_OK);
    ASSERT_EQ(CloseDevice(1), TQDEV_RESULT_OK);
    Completions completions;
    for (uint32_t device : {0u, 1u}) {
        SCOPED_TRACE(device);
        EXPECT_EQ(CloseDevice(device), TQDEV_RESULT_DEVICE_NOT_OPEN);
        EXPECT_EQ(CancelDeviceIo(device), TQDEV_RESULT_DEVICE_NOT_OPEN);
        EXPECT_EQ(SubmitRequest(device, kCameraInfo, nullptr, 0, Completions::Function,
                                &completions, nullptr),
                  TQDEV_RESULT_DEVICE_NOT_OPEN);
        EXPECT_TRUE(CallLog(cameras[device]).empty());
    }
    EXPECT_EQ(completions.Count(), 0u);
    for (uint32_t device : {2u, 0xFFFFFFFFu}) {
        EXPECT_EQ(OpenDevice(device), TQDEV_RESULT_INVALID_DEVICE);
        EXPECT_EQ(CloseDevice(device), TQDEV_RESULT_INVALID_DEVICE);
        EXPECT_EQ(CancelDeviceIo(device), TQDEV_RESULT_INVALID_DEVICE);
    }
}

TEST_F(DeviceChannelTest, OperationsBeforeInitialisationReportNotInitialised) {
    EXPECT_EQ(OpenDevice(0), TQDEV_RESULT_NOT_INITIALIZED);
    EXPECT_EQ(CloseDevice(0), TQDEV_RESULT_NOT_INITIALIZED);
    EXPECT_EQ(CancelDeviceIo(0), TQDEV_RESULT_NOT_INITIALIZED);
    EXPECT_EQ(SubmitRequest(0, kCameraInfo, nullptr, 0, nullptr, nullptr, nullptr),
              TQDEV_RESULT_NOT_INITIALIZED);
}

TEST_F(DeviceChannelTest, RequestNumberOutsideTheTableSendsNothing) {
    std::vector<uint32_t> cameras = InitWithCameras(1);
    ASSERT_EQ(OpenDevice(0), TQDEV_RESULT_OK);
    Completions completions;
    TQDEV_CAPTURE_SETTINGS settings = SampleSettings();
    debugPrintEnabled.store(1);
    CapturedOutput output;
    uint32_t result =
        SubmitRequest(0, 25, nullptr, 0, Completions::Function, &completions, &settings);
    output.Finish();
    debugPrintEnabled.store(0);
    EXPECT_EQ(result, TQDEV_RESULT_SYSTEM_ERROR);
    EXPECT_NE(output.out.find(" - Invalid code 25\n"), std::string::npos) << output.out;
    EXPECT_TRUE(CallLog(cameras[0]).empty());
    EXPECT_EQ(completions.Count(), 0u);
    EXPECT_EQ(TqsimRunningThreadCount(), threads_ + 2); // notification and I/O threads only
}

TEST_F(DeviceChannelTest, TransfersGoOutInOrderWithTheBufferOnTheRightSide) {
    std::vector<uint32_t> cameras = InitWithCameras(1);
    ASSERT_EQ(OpenDevice(0), TQDEV_RESULT_OK);
    struct Case {
        uint32_t request;
        uint32_t size;
        bool withSettings;
    };
    const Case cases[] = {
        {kCameraInfo, sizeof(TQDEV_CAMERA_INFO), false},
        {kWriteFlaws, 2 * sizeof(TQDEV_FLAW), false},
        {kIntegrationTime, 0, false},
        {kFrameInfo, sizeof(TQDEV_FRAME_INFO), true},
    };
    TQDEV_CAPTURE_SETTINGS settings = SampleSettings();
    alignas(8) uint8_t buffer[512] = {};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.request);
        ASSERT_EQ(TqsimClearCalls(cameras[0]), 0);
        Completions completions;
        ASSERT_EQ(SubmitRequest(0, c.request, c.size != 0 ? buffer : nullptr, c.size,
                                Completions::Function, &completions,
                                c.withSettings ? &settings : nullptr),
                  TQDEV_RESULT_OK);
        ASSERT_EQ(completions.WaitFor(1).size(), 1u);
        std::vector<TQSIM_CALL_RECORD> calls = CallLog(cameras[0]);
        ASSERT_EQ(calls.size(), c.withSettings ? 3u : 2u);
        size_t next = 0;
        if (c.withSettings) {
            EXPECT_EQ(calls[0].code, kSettingsCode);
            EXPECT_EQ(calls[0].in_size, sizeof(settings));
            EXPECT_EQ(calls[0].out_size, 0u);
            ASSERT_EQ(calls[0].has_settings, 1u);
            EXPECT_EQ(std::memcmp(&calls[0].settings, &settings, sizeof(settings)), 0);
            next = 1;
        }
        const TQSIM_CALL_RECORD &data = calls[next];
        EXPECT_EQ(data.code, RequestCode(c.request));
        bool output = IsOutputCode(data.code);
        EXPECT_EQ(data.in_size, output ? 0u : c.size);
        EXPECT_EQ(data.out_size, output ? c.size : 0u);
        const TQSIM_CALL_RECORD &status = calls[next + 1];
        EXPECT_EQ(status.code, kStatusCode);
        EXPECT_EQ(status.in_size, 0u);
        EXPECT_EQ(status.out_size, sizeof(TQDEV_STATUS));
    }
}

TEST_F(DeviceChannelTest, DriverStatusReachesTheCompletionUnchanged) {
    std::vector<uint32_t> cameras = InitWithCameras(1);
    ASSERT_EQ(OpenDevice(0), TQDEV_RESULT_OK);
    const uint32_t words[6] = {11, 22, 33, 44, 55, 66};
    ASSERT_EQ(TqsimScriptResult(cameras[0], kCameraInfo, 0x12345), 0);
    ASSERT_EQ(TqsimScriptStatusWords(cameras[0], kCameraInfo, words), 0);
    Completions completions;
    TQDEV_CAMERA_INFO info{};
    ASSERT_EQ(SubmitRequest(0, kCameraInfo, &info, sizeof(info), Completions::Function,
                            &completions, nullptr),
              TQDEV_RESULT_OK);
    std::vector<Completions::Record> done = completions.WaitFor(1);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].status.word[0], 0x12345u);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(done[0].status.word[i + 1], words[i]) << i;
    }
}

TEST_F(DeviceChannelTest, NullCompletionStillRunsTheRequestToItsEnd) {
    std::vector<uint32_t> cameras = InitWithCameras(1);
    ASSERT_EQ(OpenDevice(0), TQDEV_RESULT_OK);
    TQDEV_CAMERA_INFO info{};
    ASSERT_EQ(SubmitRequest(0, kCameraInfo, &info, sizeof(info), nullptr, nullptr, nullptr),
              TQDEV_RESULT_OK);
    // Termination waits for the completion thread; the request is freed.
    ASSERT_EQ(TerminateLibrary(), TQDEV_RESULT_OK);
    EXPECT_EQ(TqsimHeapBlockCount(), heapBlocks_);
    EXPECT_EQ(TqsimRunningThreadCount(), threads_);
    EXPECT_EQ(CallLog(cameras[0]).size(), 2u);
}

struct RefusedCall {
    uint32_t code; // which transfer is refused
    uint32_t error;
    uint32_t result;
    const char *message;
    bool withSettings;
    bool cancelRefused; // the clean-up cancel is refused too
};

// After the refusal the driver holds nothing of the request, and the handle
// is back in step: the next request is answered as on a fresh handle, with
// its own status after its own data. When even the cancel is refused, the
// camera is closed (closing ends what the driver took) and opens again.
TEST_F(DeviceChannelTest, RefusedTransferFailsTheSubmissionAfterTheOthersEnded) {
    std::vector<uint32_t> cameras = InitWithCameras(1);
    ASSERT_EQ(OpenDevice(0), TQDEV_RESULT_OK);
    const uint32_t dataCode = RequestCode(kFrameInfo);
    const char *closing = " - Closing the device: its taken transfers could not be cancelled\n";
    const RefusedCall cases[] = {
        {dataCode, ERROR_NOACCESS, TQDEV_RESULT_INVALID_BUFFER, " - DeviceIoControl", true, false},
        {dataCode, ERROR_OPERATION_ABORTED, TQDEV_RESULT_CANCELLED, " - DeviceIoControl", true,
         false},
        {dataCode, ERROR_DEVICE_REMOVED, TQDEV_RESULT_DEVICE_NOT_FOUND,
         " - DeviceThreadFunction(TQDEV_RESULT_DEVICE_NOT_FOUND)\n", true, false},
        {dataCode, 31, TQDEV_RESULT_SYSTEM_ERROR, " - Invalid last value\n", true, false},
        {kSettingsCode, ERROR_NOACCESS, TQDEV_RESULT_INVALID_BUFFER, " - DeviceIoControl", true,
         false},
        {kStatusCode, ERROR_NOACCESS, TQDEV_RESULT_INVALID_BUFFER, " - DeviceIoControl", true,
         false},
        {kStatusCode, ERROR_NOACCESS, TQDEV_RESULT_INVALID_BUFFER, " - DeviceIoControl", false,
         false},
        // Every position where the driver took something, the cancel refused.
        {dataCode, ERROR_NOACCESS, TQDEV_RESULT_INVALID_BUFFER, closing, true, true},
        {kStatusCode, 31, TQDEV_RESULT_SYSTEM_ERROR, closing, true, true},
        {kStatusCode, 31, TQDEV_RESULT_SYSTEM_ERROR, closing, false, true},
    };
    TQDEV_CAPTURE_SETTINGS settings = SampleSettings();
    const uint32_t openHandles = TqsimOpenHandleCount();
    TQDEV_CAMERA_INFO freshInfo{};
    ASSERT_EQ(RunRequest(0, kCameraInfo, &freshInfo, sizeof freshInfo), TQDEV_RESULT_OK);
    for (const RefusedCall &c : cases) {
        SCOPED_TRACE(std::to_string(c.code) + " refused with " + std::to_string(c.error) +
                     (c.withSettings ? ", with settings" : "") +
                     (c.cancelRefused ? ", cancel refused" : ""));
        ASSERT_EQ(TqsimRefuseCall(cameras[0], c.code, c.error), 0);
        if (c.cancelRefused) {
            ASSERT_EQ(TqsimRefuseCall(cameras[0], kCancelCode, ERROR_NOACCESS), 0);
        }
        Completions completions;
        TQDEV_FRAME_INFO frameInfo{};
        debugPrintEnabled.store(1);
        CapturedOutput output;
        EXPECT_EQ(SubmitRequest(0, kFrameInfo, &frameInfo, sizeof(frameInfo), Completions::Function,
                                &completions, c.withSettings ? &settings : nullptr),
                  c.result);
        output.Finish();
        debugPrintEnabled.store(0);
        EXPECT_NE(output.out.find(c.message), std::string::npos) << output.out;
        EXPECT_EQ(PendingTransfers(cameras[0]), 0u);
        EXPECT_EQ(completions.Count(), 0u);
        if (c.cancelRefused) {
            TQDEV_CAMERA_INFO untouched{};
            EXPECT_EQ(RunRequest(0, kCameraInfo, &untouched, sizeof untouched),
                      TQDEV_RESULT_DEVICE_NOT_OPEN);
            ASSERT_EQ(OpenDevice(0), TQDEV_RESULT_OK);
        }
        EXPECT_TRUE(HandlesReturnTo(openHandles));
        TQDEV_CAMERA_INFO info{};
        EXPECT_EQ(RunRequest(0, kCameraInfo, &info, sizeof info), TQDEV_RESULT_OK);
        EXPECT_EQ(std::memcmp(&info, &freshInfo, sizeof info), 0);
        EXPECT_EQ(PendingTransfers(cameras[0]), 0u);
    }
}

TEST_F(DeviceChannelTest, FailedStatusTransferIsDeliveredAsResult) {
    std::vector<uint32_t> cameras = InitWithCameras(1);
    ASSERT_EQ(OpenDevice(0), TQDEV_RESULT_OK);
    struct Case {
        uint32_t error; // 0: the transfer ends with its outcome never written
        uint32_t result;
        const char *message;
    };
    const Case cases[] = {
        {ERROR_OPERATION_ABORTED, TQDEV_RESULT_CANCELLED, " - GetOverlappedResult"},
        {ERROR_DEVICE_REMOVED, TQDEV_RESULT_DEVICE_NOT_FOUND,
         " - CallbackThreadFunction(TQDEV_RESULT_DEVICE_NOT_FOUND)\n"},
        {ERROR_NOACCESS, TQDEV_RESULT_SYSTEM_ERROR, " - Invalid last value\n"},
        {31, TQDEV_RESULT_SYSTEM_ERROR, " - Invalid last value\n"},
        // Not a success with an unwritten status record; no call failed.
        {0, TQDEV_RESULT_CANCELLED, " - Status transfer ended without its status: cancelled\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.error);
        ASSERT_EQ(c.error != 0 ? TqsimFailStatusTransfer(cameras[0], c.error)
                               : TqsimLoseStatusOutcome(cameras[0]),
                  0);
        Completions completions;
        TQDEV_CAMERA_INFO info{};
        debugPrintEnabled.store(1);
        CapturedOutput output;
        ASSERT_EQ(SubmitRequest(0, kCameraInfo, &info, sizeof(info), Completions::Function,
                                &completions, nullptr),
                  TQDEV_RESULT_OK);
        std::vector<Completions::Record> done = completions.WaitFor(1);
        output.Finish();
        debugPrintEnabled.store(0);
        ASSERT_EQ(done.size(), 1u);
        EXPECT_EQ(done[0].status.word[0], c.result);
        EXPECT_NE(output.out.find(c.message), std::string::npos) << output.out;
        EXPECT_EQ(output.out.find("GetOverlappedResult") == std::string::npos, c.error == 0)
            << output.out;
    }
}

TEST_F(DeviceChannelTest, UnplugWhilePendingDeliversDeviceNotFound) {
    std::vector<uint32_t> cameras = InitWithCameras(1);
    ASSERT_EQ(OpenDevice(0), TQDEV_RESULT_OK);
    ASSERT_EQ(TqsimHoldRequests(cameras[0], 1), 0);
    Completions completions;
    TQDEV_CAMERA_INFO info{};
    ASSERT_EQ(SubmitRequest(0, kCameraInfo, &info, sizeof(info), Completions::Function,
                            &completions, nullptr),
              TQDEV_RESULT_OK);
    ASSERT_EQ(TqsimUnplugCamera(cameras[0]), 0);
    std::vector<Completions::Record> done = completions.WaitFor(1);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].status.word[0], TQDEV_RESULT_DEVICE_NOT_FOUND);
    // Refused by the removed device, or the camera has left the list.
    EXPECT_EQ(SubmitRequest(0, kCameraInfo, &info, sizeof(info), nullptr, nullptr, nullptr),
              TQDEV_RESULT_DEVICE_NOT_FOUND);
}

TEST_F(DeviceChannelTest, CancelReturnsOnceTheDriverHasEndedEverything) {
    std::vector<uint32_t> cameras = InitWithCameras(1);
    ASSERT_EQ(OpenDevice(0), TQDEV_RESULT_OK);
    ASSERT_EQ(TqsimHoldRequests(cameras[0], 1), 0);
    Completions completions;
    TQDEV_CAMERA_INFO info[2] = {};
    for (TQDEV_CAMERA_INFO &record : info) {
        ASSERT_EQ(SubmitRequest(0, kCameraInfo, &record, sizeof(record), Completions::Function,
                                &completions, nullptr),
                  TQDEV_RESULT_OK);
    }
    EXPECT_EQ(PendingTransfers(cameras[0]), 4u);
    EXPECT_EQ(CancelDeviceIo(0), TQDEV_RESULT_OK);
    EXPECT_EQ(PendingTransfers(cameras[0]), 0u);
    std::vector<Completions::Record> done = completions.WaitFor(2);
    ASSERT_EQ(done.size(), 2u);
    for (const Completions::Record &record : done) {
        EXPECT_EQ(record.status.word[0], TQDEV_RESULT_CANCELLED);
    }
    std::vector<TQSIM_CALL_RECORD> calls = CallLog(cameras[0]);
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back().code, kCancelCode);
    EXPECT_EQ(calls.back().in_size + calls.back().out_size, 0u);
}

TEST_F(DeviceChannelTest, RefusedCancelReportsItsResult) {
    std::vector<uint32_t> cameras = InitWithCameras(1);
    ASSERT_EQ(OpenDevice(0), TQDEV_RESULT_OK);
    uint32_t handles = TqsimOpenHandleCount();
    ASSERT_EQ(TqsimRefuseCall(cameras[0], kCancelCode, ERROR_OPERATION_ABORTED), 0);
    EXPECT_EQ(CancelDeviceIo(0), TQDEV_RESULT_CANCELLED);
    EXPECT_EQ(TqsimOpenHandleCount(), handles);
}

TEST_F(DeviceChannelTest, ClosedCameraOpensAgain) {
    std::vector<uint32_t> cameras = InitWithCameras(1);
    ASSERT_EQ(OpenDevice(0), TQDEV_RESULT_OK);
    ASSERT_EQ(CloseDevice(0), TQDEV_RESULT_OK);
    ASSERT_EQ(OpenDevice(0), TQDEV_RESULT_OK);
    Completions completions;
    TQDEV_CAMERA_INFO info{};
    ASSERT_EQ(SubmitRequest(0, kCameraInfo, &info, sizeof(info), Completions::Function,
                            &completions, nullptr),
              TQDEV_RESULT_OK);
    ASSERT_EQ(completions.WaitFor(1).size(), 1u);
    EXPECT_EQ(completions.WaitFor(1)[0].status.word[0], TQDEV_RESULT_OK);
    std::vector<TQSIM_CALL_RECORD> calls = CallLog(cameras[0]);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].handle, 2u); // the second opening
}

// A completion that holds its thread until the test lets it go, and then
// tries to submit again.
struct BlockingCompletion {
    std::mutex mutex;
    std::condition_variable changed;
    bool released = false;
    bool timedOut = false;
    int calls = 0;
    std::vector<uint32_t> results;
    std::vector<uint32_t> resubmits;

    static void Function(const TQDEV_STATUS *status, void *, void *context) {
        auto *self = static_cast<BlockingCompletion *>(context);
        std::unique_lock<std::mutex> lock(self->mutex);
        if (!self->changed.wait_for(lock, testsupport::kPatience, [&] { return self->released; })) {
            self->timedOut = true;
        }
        self->results.push_back(status->word[0]);
        lock.unlock();
        uint32_t resubmit = SubmitRequest(0, kCameraInfo, nullptr, 0, nullptr, nullptr, nullptr);
        lock.lock();
        self->resubmits.push_back(resubmit);
        ++self->calls;
        self->changed.notify_all();
    }
};

TEST_F(DeviceChannelTest, CloseDoesNotWaitForOutstandingCompletions) {
    std::vector<uint32_t> cameras = InitWithCameras(1);
    ASSERT_EQ(OpenDevice(0), TQDEV_RESULT_OK);
    ASSERT_EQ(TqsimHoldRequests(cameras[0], 1), 0);
    BlockingCompletion completion;
    TQDEV_CAMERA_INFO info[2] = {};
    for (TQDEV_CAMERA_INFO &record : info) {
        ASSERT_EQ(SubmitRequest(0, kCameraInfo, &record, sizeof(record),
                                BlockingCompletion::Function, &completion, nullptr),
                  TQDEV_RESULT_OK);
    }
    // Returns while both completions are still blocked.
    ASSERT_EQ(CloseDevice(0), TQDEV_RESULT_OK);
    std::unique_lock<std::mutex> lock(completion.mutex);
    completion.released = true;
    completion.changed.notify_all();
    completion.changed.wait_for(lock, testsupport::kPatience,
                                [&] { return completion.calls == 2; });
    EXPECT_FALSE(completion.timedOut);
    EXPECT_EQ(completion.calls, 2);
    EXPECT_EQ(completion.results, (std::vector<uint32_t>{7, 7}));
    EXPECT_EQ(completion.resubmits, (std::vector<uint32_t>{10, 10}));
}

TEST_F(DeviceChannelTest, EndedCompletionThreadsLeaveNoHandleWithoutAFurtherSubmission) {
    InitWithCameras(1);
    ASSERT_EQ(OpenDevice(0), TQDEV_RESULT_OK);
    uint32_t handles = TqsimOpenHandleCount();
    Completions completions;
    TQDEV_CAMERA_INFO info[3]{};
    for (TQDEV_CAMERA_INFO &record : info) {
        ASSERT_EQ(SubmitRequest(0, kCameraInfo, &record, sizeof record, Completions::Function,
                                &completions, nullptr),
                  TQDEV_RESULT_OK);
    }
    ASSERT_EQ(completions.WaitFor(3).size(), 3u);
    EXPECT_TRUE(HandlesReturnTo(handles));
}

TEST_F(DeviceChannelTest, SyncEventsSignalAndWait) {
    SyncEvent event = CreateSyncEvent();
    ASSERT_NE(event, nullptr);
    EXPECT_NE(SetSyncEvent(event), 0u);
    EXPECT_EQ(WaitSyncEvent(event), WAIT_OBJECT_0);
    // Auto-reset: the wait used the signal up.
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    EXPECT_NE(CloseSyncEvent(event), 0u);

    ASSERT_EQ(TqsimFailCall("CreateEventA", 1, ERROR_NOT_ENOUGH_MEMORY), 0);
    debugPrintEnabled.store(1);
    CapturedOutput output;
    EXPECT_EQ(CreateSyncEvent(), nullptr);
    output.Finish();
    debugPrintEnabled.store(0);
    EXPECT_NE(output.out.find(" - CreateEvent"), std::string::npos);
}

} // namespace
