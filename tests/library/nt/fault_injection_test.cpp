// Injected platform failures during initialisation and enumeration: the
// result, the diagnostic, and nothing left behind.
#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "nt_test_support.h"
#include "request_codes.h"

namespace {

using FaultInjectionTest = LibraryFixture;

struct InitFault {
    const char *function;
    uint32_t nth;
    uint32_t result;
    const char *message; // appears in the diagnostics
};

// Initialisation with two cameras. Registry reads open the key once and
// query twice per value, in the order DeviceType, DeviceSubtype, DeviceName,
// SerialNumber, MajorVersion, ... DriverBuildDate; allocations are the
// detail buffer, the node, its path and one buffer per text value.
const InitFault kInitFaults[] = {
    {"CreateMutexA", 1, TQDEV_RESULT_SYSTEM_ERROR, " - CreateMutex\n"},
    {"SetupDiGetClassDevsA", 1, TQDEV_RESULT_SYSTEM_ERROR, " - SetupDiGetClassDevs"},
    {"SetupDiEnumDeviceInterfaces", 1, TQDEV_RESULT_SYSTEM_ERROR, " - SetupDiEnumDeviceInterfaces"},
    {"SetupDiEnumDeviceInterfaces", 2, TQDEV_RESULT_SYSTEM_ERROR, " - SetupDiEnumDeviceInterfaces"},
    {"SetupDiGetDeviceInterfaceDetailA", 1, TQDEV_RESULT_SYSTEM_ERROR,
     " - SetupDiGetDeviceInterfaceDetail(1)"},
    {"SetupDiGetDeviceInterfaceDetailA", 2, TQDEV_RESULT_SYSTEM_ERROR,
     " - SetupDiGetDeviceInterfaceDetail(2)"},
    {"SetupDiGetDeviceInterfaceDetailA", 4, TQDEV_RESULT_SYSTEM_ERROR,
     " - SetupDiGetDeviceInterfaceDetail(2)"},
    {"SetupDiOpenDevRegKey", 1, TQDEV_RESULT_SYSTEM_ERROR, " - SetupDiOpenDevRegKey"},
    {"SetupDiOpenDevRegKey", 5, TQDEV_RESULT_SYSTEM_ERROR, " - Can't read registry values\n"},
    {"SetupDiOpenDevRegKey", 9, TQDEV_RESULT_SYSTEM_ERROR, " - Invalid last value\n"},
    {"SetupDiOpenDevRegKey", 13, TQDEV_RESULT_SYSTEM_ERROR, " - SetupDiOpenDevRegKey"},
    {"RegQueryValueExA", 1, TQDEV_RESULT_SYSTEM_ERROR, " - RegQueryValueEx"},
    {"RegQueryValueExA", 6, TQDEV_RESULT_SYSTEM_ERROR, " - Can't read registry values\n"},
    {"RegQueryValueExA", 24, TQDEV_RESULT_SYSTEM_ERROR, " - Invalid last value\n"},
    {"HeapAlloc", 1, TQDEV_RESULT_OUT_OF_MEMORY, " - Unable to allocate memory\n"},
    {"HeapAlloc", 2, TQDEV_RESULT_OUT_OF_MEMORY, " - Could not allocate memory\n"},
    {"HeapAlloc", 3, TQDEV_RESULT_OUT_OF_MEMORY, " - Could not allocate memory\n"},
    {"HeapAlloc", 4, TQDEV_RESULT_SYSTEM_ERROR, " - Can't read registry values\n"},
    {"HeapAlloc", 9, TQDEV_RESULT_SYSTEM_ERROR, " - Invalid last value\n"},
    {"HeapAlloc", 10, TQDEV_RESULT_OUT_OF_MEMORY, " - Unable to allocate memory\n"},
    {"CreateThread", 1, TQDEV_RESULT_SYSTEM_ERROR, " - CreateThread\n"},
};

TEST_F(FaultInjectionTest, FailedInitialisationLeavesNothingBehind) {
    PlugCamera();
    PlugCamera();
    for (const InitFault &fault : kInitFaults) {
        SCOPED_TRACE(std::string(fault.function) + " #" + std::to_string(fault.nth));
        ASSERT_EQ(TqsimFailCall(fault.function, fault.nth, ERROR_ACCESS_DENIED), 0);
        debugPrintEnabled.store(1);
        CapturedOutput output;
        EXPECT_EQ(InitLibrary(), fault.result);
        output.Finish();
        debugPrintEnabled.store(0);
        TqsimClearFaults();
        EXPECT_NE(output.out.find(fault.message), std::string::npos) << output.out;
        EXPECT_EQ(TerminateLibrary(), TQDEV_RESULT_NOT_INITIALIZED);
        EXPECT_EQ(TqsimOpenHandleCount(), handles_);
        EXPECT_EQ(TqsimRunningThreadCount(), threads_);
        EXPECT_EQ(TqsimHeapBlockCount(), heapBlocks_);
        // The next initialisation starts afresh.
        ASSERT_EQ(InitLibrary(), TQDEV_RESULT_OK);
        EXPECT_EQ(ListedIndices(), (std::vector<uint32_t>{1, 0}));
        ASSERT_EQ(TerminateLibrary(), TQDEV_RESULT_OK);
    }
}

TEST_F(FaultInjectionTest, FailedSnapshotKeepsTheCountAndNoRecords) {
    InitWithCameras(2);
    PassesHeld held;
    ASSERT_EQ(TqsimFailCall("HeapAlloc", 1, 0), 0);
    debugPrintEnabled.store(1);
    CapturedOutput output;
    TQDEV_DEVICE_ARRAY array{};
    EXPECT_EQ(CreateDeviceArray(&array), TQDEV_RESULT_OUT_OF_MEMORY);
    output.Finish();
    debugPrintEnabled.store(0);
    EXPECT_EQ(array.DeviceCount, 2u);
    EXPECT_EQ(array.Devices, nullptr);
    // This message has no line end.
    EXPECT_EQ(output.out.substr(output.out.find(" - ")), " - Unable to allocate memory");
}

TEST_F(FaultInjectionTest, LostAdditionEventKeepsTheCamera) {
    InitWithCameras(2);
    PassesHeld held;
    PlugCamera();
    // Two detail buffers of known cameras, then the new camera's detail, node,
    // path and six texts; the twelfth allocation is its event.
    ASSERT_EQ(TqsimFailCall("HeapAlloc", 12, 0), 0);
    DeviceEvent *events = nullptr;
    EXPECT_EQ(EnumerateDevices(&events), TQDEV_RESULT_OUT_OF_MEMORY);
    EXPECT_EQ(events, nullptr);
    EXPECT_EQ(ListedIndices(), (std::vector<uint32_t>{2, 1, 0}));
}

TEST_F(FaultInjectionTest, LostRemovalEventStillRemovesTheCamera) {
    std::vector<uint32_t> cameras = InitWithCameras(3);
    ASSERT_EQ(OpenDevice(1), TQDEV_RESULT_OK);
    PassesHeld held;
    ASSERT_EQ(TqsimUnplugCamera(cameras[0]), 0);
    ASSERT_EQ(TqsimUnplugCamera(cameras[1]), 0);
    // One detail buffer for the camera still present, then the first removal
    // event (walking newest first: index 1); the second removal's event is kept.
    ASSERT_EQ(TqsimFailCall("HeapAlloc", 2, 0), 0);
    DeviceEvent *events = nullptr;
    EXPECT_EQ(EnumerateDevices(&events), TQDEV_RESULT_OUT_OF_MEMORY);
    ASSERT_NE(events, nullptr);
    EXPECT_EQ(events->event, TQDEV_EVENT_DEVICE_REMOVED);
    EXPECT_EQ(events->deviceIndex, 0u);
    EXPECT_EQ(events->next, nullptr);
    FreeMemory(events);
    EXPECT_EQ(ListedIndices(), std::vector<uint32_t>{2});
}

TEST_F(FaultInjectionTest, NotificationThreadSurvivesFailedPasses) {
    InitWithCameras(1);
    NotificationRecorder &recorder = NotificationRecorder::Instance();
    recorder.Clear();
    ASSERT_EQ(RegisterNotification(NotificationRecorder::Callback, 9), TQDEV_RESULT_OK);
    {
        PassesHeld held;
        // The next pass fails at its start; a later one finds the camera.
        ASSERT_EQ(TqsimFailCall("SetupDiGetClassDevsA", 1, ERROR_ACCESS_DENIED), 0);
        PlugCamera();
    }
    EXPECT_EQ(recorder.WaitFor(1), (std::vector<NotificationRecorder::Event>{{1, 1, 9}}));
}

struct ChannelFault {
    const char *function;
    uint32_t nth;
    uint32_t result;
    const char *message; // null: no diagnostic to look for
};

TEST_F(FaultInjectionTest, FailedOpenLeavesTheCameraClosed) {
    std::vector<uint32_t> cameras = InitWithCameras(1);
    const ChannelFault faults[] = {
        {"CreateFileA", 1, TQDEV_RESULT_OPEN_FAILED, " - CreateFile\n"},
        {"CreateEventA", 1, TQDEV_RESULT_SYSTEM_ERROR, " - CreateEvent\n"},
        {"CreateEventA", 2, TQDEV_RESULT_SYSTEM_ERROR, " - CreateEvent\n"},
        {"CreateThread", 1, TQDEV_RESULT_SYSTEM_ERROR, " - CreateThread\n"},
    };
    uint32_t handles = TqsimOpenHandleCount();
    uint32_t threads = TqsimRunningThreadCount();
    PassesHeld held;
    for (const ChannelFault &fault : faults) {
        SCOPED_TRACE(std::string(fault.function) + " #" + std::to_string(fault.nth));
        ASSERT_EQ(TqsimFailCall(fault.function, fault.nth, ERROR_ACCESS_DENIED), 0);
        debugPrintEnabled.store(1);
        CapturedOutput output;
        EXPECT_EQ(OpenDevice(0), fault.result);
        output.Finish();
        debugPrintEnabled.store(0);
        TqsimClearFaults();
        EXPECT_NE(output.out.find(fault.message), std::string::npos) << output.out;
        EXPECT_EQ(TqsimOpenHandleCount(), handles);
        EXPECT_EQ(TqsimRunningThreadCount(), threads);
        EXPECT_EQ(CloseDevice(0), TQDEV_RESULT_DEVICE_NOT_OPEN);
    }
    EXPECT_TRUE(CallLog(cameras[0]).empty());
    EXPECT_EQ(OpenDevice(0), TQDEV_RESULT_OK);
}

TEST_F(FaultInjectionTest, FailedSubmissionLeavesNothingAndCallsNothing) {
    std::vector<uint32_t> cameras = InitWithCameras(1);
    ASSERT_EQ(OpenDevice(0), TQDEV_RESULT_OK);
    // Allocations: the request, then its completion thread's entry. Events:
    // data, status, settings.
    const ChannelFault faults[] = {
        {"HeapAlloc", 1, TQDEV_RESULT_OUT_OF_MEMORY, nullptr},
        {"HeapAlloc", 2, TQDEV_RESULT_OUT_OF_MEMORY, nullptr},
        {"CreateEventA", 1, TQDEV_RESULT_SYSTEM_ERROR, " - CreateEvent"},
        {"CreateEventA", 2, TQDEV_RESULT_SYSTEM_ERROR, " - CreateEvent"},
        {"CreateEventA", 3, TQDEV_RESULT_SYSTEM_ERROR, " - CreateEvent"},
    };
    TQDEV_CAPTURE_SETTINGS settings{};
    TQDEV_FRAME_INFO frameInfo{};
    uint32_t handles = TqsimOpenHandleCount();
    uint32_t threads = TqsimRunningThreadCount();
    uint32_t blocks = TqsimHeapBlockCount();
    PassesHeld held;
    for (const ChannelFault &fault : faults) {
        SCOPED_TRACE(std::string(fault.function) + " #" + std::to_string(fault.nth));
        ASSERT_EQ(TqsimFailCall(fault.function, fault.nth, ERROR_NOT_ENOUGH_MEMORY), 0);
        Completions completions;
        debugPrintEnabled.store(1);
        CapturedOutput output;
        EXPECT_EQ(SubmitRequest(0, 6, &frameInfo, sizeof(frameInfo), Completions::Function,
                                &completions, &settings),
                  fault.result);
        output.Finish();
        debugPrintEnabled.store(0);
        TqsimClearFaults();
        if (fault.message != nullptr) {
            EXPECT_NE(output.out.find(fault.message), std::string::npos) << output.out;
        }
        EXPECT_EQ(PendingTransfers(cameras[0]), 0u);
        EXPECT_EQ(TqsimOpenHandleCount(), handles);
        EXPECT_EQ(TqsimRunningThreadCount(), threads);
        EXPECT_EQ(TqsimHeapBlockCount(), blocks);
        EXPECT_EQ(completions.Count(), 0u);
    }
    EXPECT_TRUE(CallLog(cameras[0]).empty());
}

TEST_F(FaultInjectionTest, FailedRegisterHoldSendsNothing) {
    std::vector<uint32_t> cameras = InitWithCameras(1);
    ASSERT_EQ(OpenDevice(0), TQDEV_RESULT_OK);
    // The call's context comes first; the camera's register lock is made on
    // its first register access, then taken: this thread's second wait, after
    // the library mutex. A lock that was not taken runs no pair.
    struct Case {
        ChannelFault fault;
        bool lockMade;
    };
    const Case cases[] = {
        {{"HeapAlloc", 1, TQDEV_RESULT_OUT_OF_MEMORY, " - Could not allocate memory\n"}, false},
        {{"HeapAlloc", 2, TQDEV_RESULT_SYSTEM_ERROR, " - Could not allocate memory\n"}, false},
        {{"CreateMutexA", 1, TQDEV_RESULT_SYSTEM_ERROR, " - CreateMutex\n"}, false},
        {{"WaitForSingleObject", 2, TQDEV_RESULT_SYSTEM_ERROR, " - WaitForSingleObject"}, true},
    };
    uint32_t handles = TqsimOpenHandleCount();
    uint32_t blocks = TqsimHeapBlockCount();
    PassesHeld held;
    for (const Case &c : cases) {
        const ChannelFault &fault = c.fault;
        SCOPED_TRACE(fault.function);
        ASSERT_EQ(TqsimFailCallOnThread(fault.function, fault.nth, ERROR_NOT_ENOUGH_MEMORY), 0);
        debugPrintEnabled.store(1);
        CapturedOutput output;
        EXPECT_EQ(TqdevWriteRegister(0, 5, 6), fault.result);
        output.Finish();
        debugPrintEnabled.store(0);
        TqsimClearFaults();
        EXPECT_NE(output.out.find(fault.message), std::string::npos) << output.out;
        EXPECT_EQ(TqsimOpenHandleCount(), handles + c.lockMade);
        EXPECT_EQ(TqsimHeapBlockCount(), blocks + c.lockMade);
        EXPECT_TRUE(CallLog(cameras[0]).empty());
    }
    EXPECT_EQ(TqdevWriteRegister(0, 5, 6), TQDEV_RESULT_OK);
}

TEST_F(FaultInjectionTest, FailedCompletionThreadWaitsForTheTakenTransfers) {
    std::vector<uint32_t> cameras = InitWithCameras(1);
    ASSERT_EQ(OpenDevice(0), TQDEV_RESULT_OK);
    ASSERT_EQ(TqsimHoldRequests(cameras[0], 1), 0);
    uint32_t blocks = TqsimHeapBlockCount();
    // Lets the driver serve the three transfers once it has taken them all.
    std::thread releaser([&cameras] {
        while (PendingTransfers(cameras[0]) < 3) {
            Sleep(1);
        }
        TqsimReleaseRequests(cameras[0]);
    });
    ASSERT_EQ(TqsimFailCall("CreateThread", 1, ERROR_NOT_ENOUGH_MEMORY), 0);
    Completions completions;
    TQDEV_CAPTURE_SETTINGS settings{};
    TQDEV_FRAME_INFO frameInfo{};
    debugPrintEnabled.store(1);
    CapturedOutput output;
    EXPECT_EQ(SubmitRequest(0, 6, &frameInfo, sizeof(frameInfo), Completions::Function,
                            &completions, &settings),
              TQDEV_RESULT_SYSTEM_ERROR);
    output.Finish();
    debugPrintEnabled.store(0);
    // Returned only once the driver was done with the request's blocks.
    EXPECT_EQ(PendingTransfers(cameras[0]), 0u);
    releaser.join();
    EXPECT_NE(output.out.find(" - CreateThread\n"), std::string::npos) << output.out;
    EXPECT_EQ(CallLog(cameras[0]).size(), 3u);
    EXPECT_EQ(TqsimHeapBlockCount(), blocks);
    EXPECT_EQ(completions.Count(), 0u);
}

// The failed wait for the status returns at once; the request is still the
// driver's until its status transfer has ended, so the completion comes only
// after that: the camera holds nothing any more when it is called.
TEST_F(FaultInjectionTest, FailedWaitForStatusIsDeliveredAsSystemError) {
    std::vector<uint32_t> cameras = InitWithCameras(1);
    ASSERT_EQ(OpenDevice(0), TQDEV_RESULT_OK);
    ASSERT_EQ(TqsimHoldRequests(cameras[0], 1), 0);
    ASSERT_EQ(TqsimFailCall("GetOverlappedResult", 1, ERROR_INVALID_PARAMETER), 0);
    struct Seen {
        uint32_t camera;
        std::atomic<uint32_t> pending{~0u};
        Completions completions;
        static void Function(const TQDEV_STATUS *status, void *data, void *context) {
            auto *self = static_cast<Seen *>(context);
            self->pending.store(PendingTransfers(self->camera));
            Completions::Function(status, data, &self->completions);
        }
    } seen;
    seen.camera = cameras[0];
    TQDEV_CAMERA_INFO info{};
    ASSERT_EQ(SubmitRequest(0, 2, &info, sizeof(info), Seen::Function, &seen, nullptr),
              TQDEV_RESULT_OK);
    ASSERT_EQ(PendingTransfers(cameras[0]), 2u);
    TqsimReleaseRequests(cameras[0]);
    std::vector<Completions::Record> done = seen.completions.WaitFor(1);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].status.word[0], TQDEV_RESULT_SYSTEM_ERROR);
    EXPECT_EQ(seen.pending.load(), 0u);
}

// A failed wait is reported and not tried again: the caller gets 4 while the
// answer is still held, and its record is not written. What the completion
// may still write is the library's own, parked until termination (the
// fixture counts what is left).
TEST_F(FaultInjectionTest, FailedWaitOfASynchronousRequestIsReported) {
    std::vector<uint32_t> cameras = InitWithCameras(1);
    ASSERT_EQ(OpenDevice(0), TQDEV_RESULT_OK);
    ASSERT_EQ(TqsimHoldRequests(cameras[0], 1), 0);
    // This thread's fourth wait is the one for the answer: those before it
    // take the library mutex and hand the two transfers to the I/O thread.
    ASSERT_EQ(TqsimFailCallOnThread("WaitForSingleObject", 4, ERROR_INVALID_HANDLE), 0);
    debugPrintEnabled.store(1);
    CapturedOutput output;
    TQDEV_CAMERA_INFO info{};
    EXPECT_EQ(TqdevCameraInfo(0, &info), TQDEV_RESULT_SYSTEM_ERROR);
    output.Finish();
    debugPrintEnabled.store(0);
    EXPECT_NE(output.out.find(" - WaitForSingleObject"), std::string::npos) << output.out;
    EXPECT_EQ(PendingTransfers(cameras[0]), 2u);
    ASSERT_EQ(TqsimHoldRequests(cameras[0], 0), 0);
    ASSERT_EQ(TqsimReleaseRequests(cameras[0]), 0);
    const TQDEV_CAMERA_INFO untouched{};
    EXPECT_EQ(std::memcmp(&info, &untouched, sizeof info), 0);
    TQDEV_CAMERA_INFO expected{};
    ASSERT_EQ(TqsimGetCameraInfo(cameras[0], &expected), 0);
    EXPECT_EQ(TqdevCameraInfo(0, &info), TQDEV_RESULT_OK);
    EXPECT_EQ(std::memcmp(&info, &expected, sizeof info), 0);
}

// After a partial issue the library waits for the transfers the driver took;
// should that wait fail, the request stays the library's until termination
// rather than being freed under the driver.
TEST_F(FaultInjectionTest, FailedWaitForATakenTransferKeepsTheRequest) {
    std::vector<uint32_t> cameras = InitWithCameras(1);
    ASSERT_EQ(OpenDevice(0), TQDEV_RESULT_OK);
    ASSERT_EQ(TqsimRefuseCall(cameras[0], kStatusCode, ERROR_NOACCESS), 0);
    // Waits of this thread: the library mutex, the hand-offs of the data, the
    // status and the cancel, then the cancel's end and the data's end.
    ASSERT_EQ(TqsimFailCallOnThread("WaitForSingleObject", 6, ERROR_INVALID_HANDLE), 0);
    uint32_t blocks = TqsimHeapBlockCount();
    Completions completions;
    TQDEV_CAMERA_INFO info{};
    debugPrintEnabled.store(1);
    CapturedOutput output;
    EXPECT_EQ(
        SubmitRequest(0, 2, &info, sizeof(info), Completions::Function, &completions, nullptr),
        TQDEV_RESULT_INVALID_BUFFER);
    output.Finish();
    debugPrintEnabled.store(0);
    EXPECT_NE(output.out.find(" - WaitForSingleObject"), std::string::npos) << output.out;
    EXPECT_EQ(TqsimHeapBlockCount(), blocks + 1); // the request, kept
    EXPECT_EQ(completions.Count(), 0u);
    ASSERT_EQ(TerminateLibrary(), TQDEV_RESULT_OK);
    EXPECT_EQ(TqsimHeapBlockCount(), heapBlocks_);
}

// The completion thread's wait for a status transfer that failed fails as
// well: the failure is delivered at once, and the request the driver still
// holds stays the library's until termination.
TEST_F(FaultInjectionTest, FailedWaitOnTheCompletionThreadKeepsTheRequest) {
    std::vector<uint32_t> cameras = InitWithCameras(1);
    ASSERT_EQ(OpenDevice(0), TQDEV_RESULT_OK);
    ASSERT_EQ(TqsimHoldRequests(cameras[0], 1), 0);
    ASSERT_EQ(TqsimFailCall("GetOverlappedResult", 1, ERROR_INVALID_PARAMETER), 0);
    ASSERT_EQ(TqsimFailCallOnNextThread("WaitForSingleObject", 1, ERROR_INVALID_HANDLE), 0);
    Completions completions;
    TQDEV_CAMERA_INFO info{};
    ASSERT_EQ(
        SubmitRequest(0, 2, &info, sizeof(info), Completions::Function, &completions, nullptr),
        TQDEV_RESULT_OK);
    std::vector<Completions::Record> done = completions.WaitFor(1);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].status.word[0], TQDEV_RESULT_SYSTEM_ERROR);
    EXPECT_EQ(PendingTransfers(cameras[0]), 2u); // delivered while the driver holds it
    ASSERT_EQ(TerminateLibrary(), TQDEV_RESULT_OK);
    EXPECT_EQ(TqsimHeapBlockCount(), heapBlocks_);
}

TEST_F(FaultInjectionTest, FailedCancelSetupSendsNothing) {
    std::vector<uint32_t> cameras = InitWithCameras(1);
    ASSERT_EQ(OpenDevice(0), TQDEV_RESULT_OK);
    uint32_t handles = TqsimOpenHandleCount();
    uint32_t blocks = TqsimHeapBlockCount();
    const ChannelFault faults[] = {
        {"HeapAlloc", 1, TQDEV_RESULT_OUT_OF_MEMORY, " - Could not allocate memory\n"},
        {"CreateEventA", 1, TQDEV_RESULT_SYSTEM_ERROR, " - CreateEvent"},
    };
    PassesHeld held;
    for (const ChannelFault &fault : faults) {
        SCOPED_TRACE(fault.function);
        ASSERT_EQ(TqsimFailCall(fault.function, fault.nth, ERROR_NOT_ENOUGH_MEMORY), 0);
        debugPrintEnabled.store(1);
        CapturedOutput output;
        EXPECT_EQ(CancelDeviceIo(0), fault.result);
        output.Finish();
        debugPrintEnabled.store(0);
        EXPECT_NE(output.out.find(fault.message), std::string::npos) << output.out;
        EXPECT_EQ(TqsimOpenHandleCount(), handles);
        EXPECT_EQ(TqsimHeapBlockCount(), blocks);
        EXPECT_TRUE(CallLog(cameras[0]).empty());
    }
}

// The cancel's block is written by the driver when it ends the call: after a
// failed wait it is kept until termination, and the caller gets 4.
TEST_F(FaultInjectionTest, FailedWaitForTheCancelKeepsItsBlock) {
    std::vector<uint32_t> cameras = InitWithCameras(1);
    ASSERT_EQ(OpenDevice(0), TQDEV_RESULT_OK);
    uint32_t blocks = TqsimHeapBlockCount();
    // Waits of this thread: the library mutex, the hand-off, the cancel's end.
    ASSERT_EQ(TqsimFailCallOnThread("WaitForSingleObject", 3, ERROR_INVALID_HANDLE), 0);
    EXPECT_EQ(CancelDeviceIo(0), TQDEV_RESULT_SYSTEM_ERROR);
    EXPECT_EQ(TqsimHeapBlockCount(), blocks + 1);
    ASSERT_EQ(TerminateLibrary(), TQDEV_RESULT_OK);
    EXPECT_EQ(TqsimHeapBlockCount(), heapBlocks_);
}

} // namespace
