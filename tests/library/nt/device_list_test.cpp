// The device list: initialisation and termination, the snapshot, hot-plug
// events, registry values and the per-camera ticket and live-focus state.
#include <cstring>
#include <string>

#include "nt_test_support.h"

namespace {

using DeviceListTest = LibraryFixture;
using Event = NotificationRecorder::Event;

constexpr uint64_t kUserValue = 0x1122334455667788ull;

TEST_F(DeviceListTest, CallsBeforeInitialisationReportNotInitialised) {
    TQDEV_DEVICE_ARRAY array;
    std::memset(&array, 0xAB, sizeof(array));
    EXPECT_EQ(CreateDeviceArray(&array), TQDEV_RESULT_NOT_INITIALIZED);
    EXPECT_EQ(array.DeviceCount, 0u);
    EXPECT_EQ(array.reserved, 0u);
    EXPECT_EQ(array.Devices, nullptr);

    uint32_t ticket = 7;
    EXPECT_EQ(TerminateLibrary(), TQDEV_RESULT_NOT_INITIALIZED);
    EXPECT_EQ(RegisterNotification(NotificationRecorder::Callback, 1),
              TQDEV_RESULT_NOT_INITIALIZED);
    EXPECT_EQ(NextCaptureTicket(0, &ticket), TQDEV_RESULT_NOT_INITIALIZED);
    EXPECT_EQ(LastCaptureTicket(0, &ticket), TQDEV_RESULT_NOT_INITIALIZED);
    EXPECT_EQ(SetLiveFocus(0), TQDEV_RESULT_NOT_INITIALIZED);
    EXPECT_EQ(ClearLiveFocus(0), TQDEV_RESULT_NOT_INITIALIZED);
    EXPECT_EQ(IsLiveFocus(0), 0);
    EXPECT_EQ(ticket, 7u);
}

TEST_F(DeviceListTest, NullRecordsAreRefusedAndNothingIsWritten) {
    InitWithCameras(1);
    EXPECT_EQ(CreateDeviceArray(nullptr), TQDEV_RESULT_INVALID_PARAMETER);
    EXPECT_EQ(DestroyDeviceArray(nullptr), TQDEV_RESULT_INVALID_PARAMETER);
    EXPECT_EQ(NextCaptureTicket(0, nullptr), TQDEV_RESULT_INVALID_PARAMETER);
    EXPECT_EQ(LastCaptureTicket(0, nullptr), TQDEV_RESULT_INVALID_PARAMETER);
    // The refused NextCaptureTicket did not use up ticket 0.
    uint32_t ticket = 99;
    EXPECT_EQ(NextCaptureTicket(0, &ticket), TQDEV_RESULT_OK);
    EXPECT_EQ(ticket, 0u);
}

TEST_F(DeviceListTest, SecondInitialisationDoesNothing) {
    InitWithCameras(1);
    uint32_t threads = TqsimRunningThreadCount();
    PlugCamera(); // would be found by a new inventory
    EXPECT_EQ(InitLibrary(), TQDEV_RESULT_OK);
    EXPECT_EQ(TqsimRunningThreadCount(), threads);
    // The second camera arrives through the notification thread only.
    NotificationRecorder::Instance().Clear();
    ASSERT_EQ(RegisterNotification(NotificationRecorder::Callback, 0), TQDEV_RESULT_OK);
    EXPECT_EQ(NotificationRecorder::Instance().WaitFor(1), (std::vector<Event>{{1, 1, 0}}));
}

TEST_F(DeviceListTest, NoCameraGivesAnEmptyArray) {
    ASSERT_EQ(InitLibrary(), TQDEV_RESULT_OK);
    TQDEV_DEVICE_ARRAY array{};
    EXPECT_EQ(CreateDeviceArray(&array), TQDEV_RESULT_OK);
    EXPECT_EQ(array.DeviceCount, 0u);
    EXPECT_EQ(array.Devices, nullptr);
    EXPECT_EQ(DestroyDeviceArray(&array), TQDEV_RESULT_OK);
}

TEST_F(DeviceListTest, CamerasAtInitialisationAreListedNewestFirstWithoutEvents) {
    TQSIM_CAMERA_CONFIG first;
    TqsimDefaultCamera(&first);
    ASSERT_EQ(TqsimSetRegistryText(&first, "DeviceName", "first camera"), 0);
    ASSERT_EQ(TqsimSetRegistryNumber(&first, "DeviceType", 0x31), 0);
    ASSERT_EQ(TqsimSetRegistryNumber(&first, "DriverMinorVersion", 0x77), 0);
    ASSERT_EQ(TqsimSetRegistryText(&first, "DriverBuildDate", "Jan  2 2020"), 0);
    PlugCamera(&first);
    PlugCamera();
    ASSERT_EQ(InitLibrary(), TQDEV_RESULT_OK);
    NotificationRecorder::Instance().Clear();
    ASSERT_EQ(RegisterNotification(NotificationRecorder::Callback, kUserValue), TQDEV_RESULT_OK);

    TQDEV_DEVICE_ARRAY array{};
    ASSERT_EQ(CreateDeviceArray(&array), TQDEV_RESULT_OK);
    ASSERT_EQ(array.DeviceCount, 2u);
    EXPECT_EQ(array.Devices[0].DeviceIndex, 1u);
    const TQDEV_DEVICE_INFO &info = array.Devices[1];
    EXPECT_EQ(info.DeviceIndex, 0u);
    EXPECT_STREQ(info.DeviceName, "first camera");
    EXPECT_EQ(info.DeviceType, 0x31u);
    EXPECT_EQ(info.DriverMinorVersion, 0x77u);
    EXPECT_STREQ(info.DriverBuildDate, "Jan  2 2020");
    EXPECT_STRNE(array.Devices[0].SerialNumber, info.SerialNumber);
    EXPECT_EQ(DestroyDeviceArray(&array), TQDEV_RESULT_OK);
    EXPECT_EQ(array.Devices, nullptr);
    EXPECT_EQ(array.DeviceCount, 2u);
    EXPECT_EQ(DestroyDeviceArray(&array), TQDEV_RESULT_OK); // null Devices: nothing to do

    // The first event is the camera plugged now, not those of the inventory.
    PlugCamera();
    EXPECT_EQ(NotificationRecorder::Instance().WaitFor(1),
              (std::vector<Event>{{1, 2, kUserValue}}));
}

TEST_F(DeviceListTest, UnplugAndReplugAreNotifiedAndChangeLookups) {
    std::vector<uint32_t> cameras = InitWithCameras(2);
    NotificationRecorder &recorder = NotificationRecorder::Instance();
    recorder.Clear();
    ASSERT_EQ(RegisterNotification(NotificationRecorder::Callback, kUserValue), TQDEV_RESULT_OK);

    TQSIM_CAMERA_CONFIG config;
    TqsimDefaultCamera(&config);
    ASSERT_EQ(TqsimUnplugCamera(cameras[0]), 0);
    EXPECT_EQ(recorder.WaitFor(1), (std::vector<Event>{{0, 0, kUserValue}}));
    uint32_t ticket = 0;
    EXPECT_EQ(NextCaptureTicket(0, &ticket), TQDEV_RESULT_DEVICE_NOT_FOUND);
    EXPECT_EQ(NextCaptureTicket(2, &ticket), TQDEV_RESULT_INVALID_DEVICE);
    EXPECT_EQ(OpenDevice(0), TQDEV_RESULT_DEVICE_NOT_FOUND);
    EXPECT_EQ(OpenDevice(2), TQDEV_RESULT_INVALID_DEVICE);
    EXPECT_EQ(ListedIndices(), std::vector<uint32_t>{1});

    PlugCamera(&config);
    EXPECT_EQ(recorder.WaitFor(2), (std::vector<Event>{{0, 0, kUserValue}, {1, 2, kUserValue}}));
    EXPECT_EQ(ListedIndices(), (std::vector<uint32_t>{2, 1}));
    EXPECT_EQ(NextCaptureTicket(2, &ticket), TQDEV_RESULT_OK);
}

TEST_F(DeviceListTest, OnePassReportsRemovalsAscendingThenAdditionsNewestFirst) {
    std::vector<uint32_t> cameras = InitWithCameras(6);
    NotificationRecorder &recorder = NotificationRecorder::Instance();
    recorder.Clear();
    ASSERT_EQ(RegisterNotification(NotificationRecorder::Callback, 5), TQDEV_RESULT_OK);
    {
        PassesHeld held;
        ASSERT_EQ(TqsimUnplugCamera(cameras[3]), 0);
        ASSERT_EQ(TqsimUnplugCamera(cameras[5]), 0);
        PlugCamera();
        PlugCamera();
    }
    EXPECT_EQ(recorder.WaitFor(4),
              (std::vector<Event>{{0, 3, 5}, {0, 5, 5}, {1, 7, 5}, {1, 6, 5}}));
}

TEST_F(DeviceListTest, RegistrationIsReplacedAndNullStopsDelivery) {
    InitWithCameras(0);
    NotificationRecorder &recorder = NotificationRecorder::Instance();
    recorder.Clear();
    ASSERT_EQ(RegisterNotification(NotificationRecorder::Callback, 1), TQDEV_RESULT_OK);
    ASSERT_EQ(RegisterNotification(NotificationRecorder::Callback, 2), TQDEV_RESULT_OK);
    uint32_t first = PlugCamera();
    EXPECT_EQ(recorder.WaitFor(1), (std::vector<Event>{{1, 0, 2}}));
    ASSERT_EQ(RegisterNotification(nullptr, 3), TQDEV_RESULT_OK);
    {
        PassesHeld held;
        ASSERT_EQ(TqsimUnplugCamera(first), 0);
        PlugCamera();
    }
    // Once a later pass has run, the earlier one has delivered (to nobody).
    ASSERT_TRUE(
        testsupport::Eventually([] { return ListedIndices() == std::vector<uint32_t>{1}; }));
    PlugCamera();
    ASSERT_TRUE(testsupport::Eventually([] {
        return ListedIndices() == std::vector<uint32_t>{2, 1};
    }));
    ASSERT_EQ(RegisterNotification(NotificationRecorder::Callback, 4), TQDEV_RESULT_OK);
    PlugCamera();
    std::vector<Event> events = recorder.WaitForEvent({1, 3, 4});
    EXPECT_EQ(events.front(), (Event{1, 0, 2}));
    EXPECT_EQ(events.back(), (Event{1, 3, 4}));
    for (const Event &event : events) {
        EXPECT_NE(std::get<0>(event), TQDEV_EVENT_DEVICE_REMOVED) << "delivered while unregistered";
        EXPECT_NE(std::get<1>(event), 1u) << "delivered while unregistered";
    }
}

TEST_F(DeviceListTest, LongTextsKeepTheirFirst39Characters) {
    const std::string name(50, 'n');
    TQSIM_CAMERA_CONFIG config;
    TqsimDefaultCamera(&config);
    ASSERT_EQ(TqsimSetRegistryText(&config, "DeviceName", name.c_str()), 0);
    // A text without terminator ends with its data.
    ASSERT_EQ(TqsimSetRegistryRaw(&config, "SerialNumber", "SN42", 4), 0);
    PlugCamera(&config);
    ASSERT_EQ(InitLibrary(), TQDEV_RESULT_OK);
    TQDEV_DEVICE_ARRAY array{};
    ASSERT_EQ(CreateDeviceArray(&array), TQDEV_RESULT_OK);
    ASSERT_EQ(array.DeviceCount, 1u);
    const TQDEV_DEVICE_INFO &info = array.Devices[0];
    EXPECT_EQ(std::string(info.DeviceName, sizeof(info.DeviceName)),
              name.substr(0, 39) + std::string(1, '\0'));
    EXPECT_EQ(std::string(info.SerialNumber, sizeof(info.SerialNumber)),
              "SN42" + std::string(36, '\0'));
    DestroyDeviceArray(&array);
}

TEST_F(DeviceListTest, CameraWithBadValueStaysOutAndBlocksThoseAfterIt) {
    uint32_t good = PlugCamera();
    ASSERT_EQ(InitLibrary(), TQDEV_RESULT_OK);
    TQSIM_CAMERA_CONFIG bad;
    TqsimDefaultCamera(&bad);
    const uint8_t eightBytes[8] = {1, 0, 0, 0, 0, 0, 0, 0};
    ASSERT_EQ(TqsimSetRegistryRaw(&bad, "MajorVersion", eightBytes, 8), 0);
    uint32_t badCamera = PlugCamera(&bad);
    PlugCamera(); // enumerated after the bad one
    ASSERT_EQ(TqsimUnplugCamera(good), 0);

    debugPrintEnabled.store(1);
    CapturedOutput output;
    DeviceEvent *events = nullptr;
    LockLibrary();
    uint32_t result = EnumerateDevices(&events);
    UnlockLibrary();
    output.Finish();
    debugPrintEnabled.store(0);
    EXPECT_EQ(result, TQDEV_RESULT_SYSTEM_ERROR);
    EXPECT_NE(output.out.find("Invalid reg entry size\n"), std::string::npos) << output.out;
    EXPECT_NE(output.out.find("Can't read registry values\n"), std::string::npos) << output.out;
    EXPECT_EQ(events, nullptr);
    // Nothing added after the bad camera, the unplugged one not removed.
    EXPECT_EQ(ListedIndices(), std::vector<uint32_t>{0});

    ASSERT_EQ(TqsimUnplugCamera(badCamera), 0);
    LockLibrary();
    result = EnumerateDevices(nullptr);
    UnlockLibrary();
    EXPECT_EQ(result, TQDEV_RESULT_OK);
    // The failed camera's index went to the next camera added.
    EXPECT_EQ(ListedIndices(), std::vector<uint32_t>{1});
}

TEST_F(DeviceListTest, BadValueAtInitialisationFailsItAndLeavesNothing) {
    PlugCamera();
    TQSIM_CAMERA_CONFIG bad;
    TqsimDefaultCamera(&bad);
    ASSERT_EQ(TqsimRemoveRegistryValue(&bad, "DriverBuildDate"), 0);
    uint32_t badCamera = PlugCamera(&bad);
    EXPECT_EQ(InitLibrary(), TQDEV_RESULT_SYSTEM_ERROR);
    EXPECT_EQ(TqsimHeapBlockCount(), heapBlocks_);
    TQDEV_DEVICE_ARRAY array{};
    EXPECT_EQ(CreateDeviceArray(&array), TQDEV_RESULT_NOT_INITIALIZED);
    ASSERT_EQ(TqsimUnplugCamera(badCamera), 0);
    ASSERT_EQ(InitLibrary(), TQDEV_RESULT_OK);
    EXPECT_EQ(ListedIndices(), std::vector<uint32_t>{0});
}

TEST_F(DeviceListTest, IndicesStartAtZeroAfterTerminateAndInit) {
    std::vector<uint32_t> cameras = InitWithCameras(2);
    ASSERT_EQ(OpenDevice(1), TQDEV_RESULT_OK); // termination closes it
    ASSERT_EQ(TqsimUnplugCamera(cameras[0]), 0);
    PlugCamera();
    ASSERT_EQ(TerminateLibrary(), TQDEV_RESULT_OK);
    EXPECT_EQ(TqsimOpenHandleCount(), handles_);
    EXPECT_EQ(TqsimRunningThreadCount(), threads_);
    EXPECT_EQ(TerminateLibrary(), TQDEV_RESULT_NOT_INITIALIZED);
    ASSERT_EQ(InitLibrary(), TQDEV_RESULT_OK);
    EXPECT_EQ(ListedIndices(), (std::vector<uint32_t>{1, 0}));
}

TEST_F(DeviceListTest, TicketsCountPerCameraAndWrap) {
    InitWithCameras(2);
    uint32_t ticket = 0;
    EXPECT_EQ(LastCaptureTicket(0, &ticket), TQDEV_RESULT_OK);
    EXPECT_EQ(ticket, 0xFFFFFFFFu);
    for (uint32_t expected : {0u, 1u}) {
        EXPECT_EQ(NextCaptureTicket(0, &ticket), TQDEV_RESULT_OK);
        EXPECT_EQ(ticket, expected);
    }
    EXPECT_EQ(LastCaptureTicket(0, &ticket), TQDEV_RESULT_OK);
    EXPECT_EQ(ticket, 1u);
    EXPECT_EQ(LastCaptureTicket(1, &ticket), TQDEV_RESULT_OK);
    EXPECT_EQ(ticket, 0xFFFFFFFFu);

    LockLibrary();
    DeviceNode *node = nullptr;
    ASSERT_EQ(FindDevice(1, &node), TQDEV_RESULT_OK);
    node->ticketCounter = 0xFFFFFFFF;
    UnlockLibrary();
    EXPECT_EQ(NextCaptureTicket(1, &ticket), TQDEV_RESULT_OK);
    EXPECT_EQ(ticket, 0xFFFFFFFFu);
    EXPECT_EQ(NextCaptureTicket(1, &ticket), TQDEV_RESULT_OK);
    EXPECT_EQ(ticket, 0u);
}

TEST_F(DeviceListTest, LiveFocusFlagPerCamera) {
    InitWithCameras(2);
    struct Step {
        uint32_t (*operation)(uint32_t);
        uint32_t device;
        uint32_t result;
        int32_t flag0;
        int32_t flag1;
    };
    const Step steps[] = {
        {SetLiveFocus, 1, TQDEV_RESULT_OK, 0, 1},
        {SetLiveFocus, 1, TQDEV_RESULT_OK, 0, 1},
        {SetLiveFocus, 0, TQDEV_RESULT_OK, 1, 1},
        {ClearLiveFocus, 1, TQDEV_RESULT_OK, 1, 0},
        {ClearLiveFocus, 0, TQDEV_RESULT_OK, 0, 0},
        {SetLiveFocus, 2, TQDEV_RESULT_INVALID_DEVICE, 0, 0},
        {ClearLiveFocus, 7, TQDEV_RESULT_INVALID_DEVICE, 0, 0},
    };
    for (const Step &step : steps) {
        EXPECT_EQ(step.operation(step.device), step.result);
        EXPECT_EQ(IsLiveFocus(0), step.flag0);
        EXPECT_EQ(IsLiveFocus(1), step.flag1);
    }
    EXPECT_EQ(IsLiveFocus(2), 0);
    EXPECT_EQ(IsLiveFocus(0xFFFFFFFF), 0);
}

} // namespace
