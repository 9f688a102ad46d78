// Enumeration through the real device installation services and registry,
// hot-plug while the library runs, and init/terminate cycles.
#include "notification_recorder.h"
#include "wine_support.h"

namespace wine {
namespace {

using Enumeration = WineFixture;

TEST_F(Enumeration, EveryCameraCarriesTheTwelveValues) {
    TQDEV_DEVICE_ARRAY array{};
    ASSERT_EQ(TqdevCreateDeviceArray(&array), TQDEV_RESULT_OK);
    ASSERT_GE(array.DeviceCount, 2u);
    for (uint32_t i = 0; i < array.DeviceCount; ++i) {
        const TQDEV_DEVICE_INFO &info = array.Devices[i];
        // Newest first.
        EXPECT_EQ(info.DeviceIndex, array.DeviceCount - 1 - i);
        EXPECT_EQ(info.DeviceType, 1u);
        EXPECT_EQ(info.DeviceSubtype, 2u);
        EXPECT_STREQ(info.DeviceName, "tqsim camera");
        EXPECT_EQ(std::string(info.SerialNumber).substr(0, 3), "TQW");
        EXPECT_EQ(std::strlen(info.SerialNumber), 8u);
        EXPECT_EQ(info.MajorVersion, 1u);
        EXPECT_EQ(info.MinorVersion, 3u);
        EXPECT_STREQ(info.VersionString, "1.03");
        EXPECT_STREQ(info.BuildDate, "2026-11-30");
        EXPECT_EQ(info.DriverMajorVersion, 2u);
        EXPECT_EQ(info.DriverMinorVersion, 5u);
        EXPECT_STREQ(info.DriverVersionString, "2.05");
        EXPECT_STREQ(info.DriverBuildDate, "2026-12-01");
    }
    EXPECT_NE(std::string(array.Devices[0].SerialNumber), array.Devices[1].SerialNumber);
    TqdevDestroyDeviceArray(&array);
}

TEST_F(Enumeration, InitialisingTwiceTakesNoNewInventory) {
    EXPECT_EQ(TqdevInitLibrary(), TQDEV_RESULT_OK);
    TQDEV_DEVICE_ARRAY array{};
    ASSERT_EQ(TqdevCreateDeviceArray(&array), TQDEV_RESULT_OK);
    EXPECT_EQ(array.Devices[0].DeviceIndex, array.DeviceCount - 1);
    TqdevDestroyDeviceArray(&array);
}

TEST(EnumerationUninitialised, CallsBeforeInitialisationSayNotInitialised) {
    TQDEV_DEVICE_ARRAY array{7, 0, nullptr};
    EXPECT_EQ(TqdevCreateDeviceArray(&array), TQDEV_RESULT_NOT_INITIALIZED);
    EXPECT_EQ(array.DeviceCount, 0u);
    EXPECT_EQ(TqdevTerminateLibrary(), TQDEV_RESULT_NOT_INITIALIZED);
    EXPECT_EQ(TqdevOpenDevice(0), TQDEV_RESULT_NOT_INITIALIZED);
    EXPECT_EQ(TqdevRegisterNotification(nullptr, 0), TQDEV_RESULT_NOT_INITIALIZED);
}

// Cycles of init, open, a request, close and terminate leave no thread or
// handle behind and restart the indices at 0.
TEST(EnumerationCycles, InitTerminateCyclesLeaveNothingBehind) {
    ASSERT_EQ(TqdevInitLibrary(), TQDEV_RESULT_OK);
    ASSERT_EQ(TqdevTerminateLibrary(), TQDEV_RESULT_OK);
    const uint32_t threads = ThreadCount();
    const DWORD handles = HandleCount();
    for (int cycle = 0; cycle < 3; ++cycle) {
        ASSERT_EQ(TqdevInitLibrary(), TQDEV_RESULT_OK);
        TQDEV_DEVICE_ARRAY array{};
        ASSERT_EQ(TqdevCreateDeviceArray(&array), TQDEV_RESULT_OK);
        ASSERT_GE(array.DeviceCount, 2u);
        EXPECT_EQ(array.Devices[array.DeviceCount - 1].DeviceIndex, 0u);
        TqdevDestroyDeviceArray(&array);
        ASSERT_EQ(TqdevOpenDevice(0), TQDEV_RESULT_OK);
        TQDEV_CAMERA_INFO info{};
        EXPECT_EQ(TqdevCameraInfo(0, &info), TQDEV_RESULT_OK);
        ASSERT_EQ(TqdevCloseDevice(0), TQDEV_RESULT_OK);
        ASSERT_EQ(TqdevTerminateLibrary(), TQDEV_RESULT_OK);
    }
    EXPECT_TRUE(Eventually([&] { return ThreadCount() <= threads; })) << ThreadCount();
    EXPECT_TRUE(Eventually([&] { return HandleCount() <= handles; })) << HandleCount();
}

TEST_F(Enumeration, HotPlugAddAndRemoveWhileTheLibraryRuns) {
    NotificationRecorder &recorder = NotificationRecorder::Instance();
    recorder.Clear();
    ASSERT_EQ(TqdevRegisterNotification(&NotificationRecorder::Callback, 42), TQDEV_RESULT_OK);
    TQDEV_DEVICE_ARRAY array{};
    ASSERT_EQ(TqdevCreateDeviceArray(&array), TQDEV_RESULT_OK);
    const uint32_t next = array.DeviceCount;
    TqdevDestroyDeviceArray(&array);

    std::string instance;
    ASSERT_EQ(RunInstallTool("install 1", &instance), 0u);
    instance = instance.substr(0, instance.find_first_of("\r\n"));
    const NotificationRecorder::Event added{TQDEV_EVENT_DEVICE_ADDED, next, 42};
    const auto arrived = recorder.WaitForEvent(added);
    ASSERT_NE(std::find(arrived.begin(), arrived.end(), added), arrived.end()) << "no add event";
    EXPECT_EQ(TqdevOpenDevice(next), TQDEV_RESULT_OK);
    TQDEV_CAMERA_INFO info{};
    EXPECT_EQ(TqdevCameraInfo(next, &info), TQDEV_RESULT_OK);

    ASSERT_EQ(RunInstallTool("remove " + instance), 0u);
    const NotificationRecorder::Event removed{TQDEV_EVENT_DEVICE_REMOVED, next, 42};
    const auto after = recorder.WaitForEvent(removed);
    ASSERT_NE(std::find(after.begin(), after.end(), removed), after.end()) << "no remove event";
    EXPECT_EQ(TqdevCameraInfo(next, &info), TQDEV_RESULT_DEVICE_NOT_FOUND);
    EXPECT_EQ(TqdevCameraInfo(next + 1, &info), TQDEV_RESULT_INVALID_DEVICE);
    TqdevRegisterNotification(nullptr, 0);
}

TEST(InstallTool, RefusesWhatItCannotDo) {
    EXPECT_EQ(RunInstallTool("remove ROOT\\TQCAM\\9999"), 1u);
    EXPECT_EQ(RunInstallTool("install zero"), 2u);
    EXPECT_EQ(RunInstallTool("frobnicate"), 2u);
    std::string listed;
    ASSERT_EQ(RunInstallTool("list", &listed), 0u);
    EXPECT_NE(listed.find("ROOT\\TQCAM\\"), std::string::npos) << listed;
}

} // namespace
} // namespace wine
