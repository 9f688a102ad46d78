// Requests pending in the driver, ended by the library's cancel, close,
// termination and by unplugging the camera; none of them stalls.
#include <thread>

#include "overlapped_call.h"
#include "wine_support.h"

namespace wine {
namespace {

class Endings : public WineFixture {
  protected:
    // Starts a capture that the driver holds, and waits until its three
    // transfers are pending there.
    void StartHeldCapture(uint32_t device, RawHandle &control) {
        ASSERT_EQ(control.Control(TQCAM_CONTROL_HOLD, 1), 0u);
        const uint32_t before = control.Counters().pending;
        params_ = Window(TQDEV_CAPTURE_SINGLE, 0);
        uint32_t size = 0;
        control.Control(TQCAM_CONTROL_HOLD, 0);
        ASSERT_EQ(TqdevFrameSize(device, &params_, &size), TQDEV_RESULT_OK);
        control.Control(TQCAM_CONTROL_HOLD, 1);
        image_.assign(size / 2, 0);
        params_.buffer = image_.data();
        ASSERT_EQ(TqdevCaptureImage(device, &params_, &progress_.record), TQDEV_RESULT_OK);
        ASSERT_TRUE(Eventually([&] { return control.Counters().pending >= before + 3; }));
    }

    TQDEV_CAPTURE_PARAMS params_{};
    std::vector<uint16_t> image_;
    Progress progress_;
};

struct EndingCase {
    const char *name;
    uint32_t (*end)(uint32_t device);
};

const EndingCase kEndings[] = {
    {"CancelIo", [](uint32_t d) { return TqdevCancelIo(d); }},
    {"CloseDevice", [](uint32_t d) { return TqdevCloseDevice(d); }},
    {"Terminate", [](uint32_t) { return TqdevTerminateLibrary(); }},
};

class EndedBy : public Endings, public ::testing::WithParamInterface<EndingCase> {};

TEST_P(EndedBy, PendingCaptureEndsCancelled) {
    ASSERT_EQ(TqdevOpenDevice(device_), TQDEV_RESULT_OK);
    StartHeldCapture(device_, *control_);
    const TQCAM_COUNTERS before = control_->Counters();
    EXPECT_EQ(GetParam().end(device_), TQDEV_RESULT_OK);
    // Closing and termination end the I/O thread and the transfers it
    // issued with it: they end cancelled like the others, never as a
    // descriptor that arrived empty.
    EXPECT_EQ(progress_.WaitResult(), TQDEV_RESULT_CANCELLED);
    EXPECT_TRUE(Eventually([&] { return control_->Counters().pending == 0; }));
    EXPECT_EQ(control_->Counters().pending_without_cancel, before.pending_without_cancel);
}

INSTANTIATE_TEST_SUITE_P(Wine, EndedBy, ::testing::ValuesIn(kEndings),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(Endings, SynchronousRequestEndedByCancelIoFromAnotherThread) {
    ASSERT_EQ(TqdevOpenDevice(device_), TQDEV_RESULT_OK);
    ASSERT_EQ(control_->Control(TQCAM_CONTROL_HOLD, 1), 0u);
    const uint32_t before = control_->Counters().pending;
    uint32_t result = 0xFFFFFFFF;
    std::thread caller([&] {
        TQDEV_CAMERA_INFO info{};
        result = TqdevCameraInfo(device_, &info);
    });
    ASSERT_TRUE(Eventually([&] { return control_->Counters().pending >= before + 2; }));
    EXPECT_EQ(TqdevCancelIo(device_), TQDEV_RESULT_OK);
    caller.join();
    EXPECT_EQ(result, TQDEV_RESULT_CANCELLED);
}

TEST_F(Endings, HeldRequestsAreServedOnceTheHoldEnds) {
    ASSERT_EQ(TqdevOpenDevice(device_), TQDEV_RESULT_OK);
    StartHeldCapture(device_, *control_);
    ASSERT_EQ(control_->Control(TQCAM_CONTROL_RELEASE), 0u);
    // Released: the descriptor is served, the frame request after it is held again.
    ASSERT_TRUE(Eventually([&] { return control_->Counters().served >= 1; }));
    ASSERT_EQ(control_->Control(TQCAM_CONTROL_HOLD, 0), 0u);
    EXPECT_EQ(progress_.WaitResult(), TQDEV_RESULT_OK);
    EXPECT_TRUE(MatchesModel(params_, 128, 24, params_.status6, image_.data()));
}

// A raw transfer cancelled by the system (CancelIoEx) ends through the
// driver's cancel routine and takes its request with it.
TEST_F(Endings, SystemCancelEndsThroughTheCancelRoutine) {
    RawHandle raw(path_, FILE_FLAG_OVERLAPPED);
    ASSERT_NE(raw.get(), INVALID_HANDLE_VALUE);
    ASSERT_EQ(control_->Control(TQCAM_CONTROL_HOLD, 1), 0u);
    const TQCAM_COUNTERS before = control_->Counters();
    testsupport::OverlappedCall call;
    TQDEV_CAMERA_INFO info{};
    EXPECT_EQ(call.Issue(raw.get(), 0xA3002914, nullptr, 0, &info, sizeof info),
              static_cast<DWORD>(ERROR_IO_PENDING));
    ASSERT_TRUE(CancelIoEx(raw.get(), &call.overlapped));
    EXPECT_EQ(call.Wait(raw.get()), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
    EXPECT_EQ(control_->Counters().ended_by_cancel_routine, before.ended_by_cancel_routine + 1);
}

// Unplugging a camera ends its pending capture with "device not found".
TEST_F(Endings, UnplugEndsThePendingCapture) {
    std::string instance;
    ASSERT_EQ(RunInstallTool("install 1", &instance), 0u);
    instance = instance.substr(0, instance.find_first_of("\r\n"));
    TQDEV_DEVICE_ARRAY array{};
    ASSERT_TRUE(Eventually([&] {
        TqdevCreateDeviceArray(&array);
        const uint32_t count = array.DeviceCount;
        TqdevDestroyDeviceArray(&array);
        return count >= 3;
    }));
    ASSERT_EQ(TqdevCreateDeviceArray(&array), TQDEV_RESULT_OK);
    const uint32_t device = array.Devices[0].DeviceIndex; // the newest
    const std::string serial = array.Devices[0].SerialNumber;
    TqdevDestroyDeviceArray(&array);
    std::string path;
    for (const DriverCamera &camera : DriverCameras()) {
        if (camera.serial == serial) {
            path = camera.path;
        }
    }
    ASSERT_FALSE(path.empty());
    ASSERT_EQ(TqdevOpenDevice(device), TQDEV_RESULT_OK);
    {
        RawHandle control(path);
        StartHeldCapture(device, control);
    }
    ASSERT_EQ(RunInstallTool("remove " + instance), 0u);
    EXPECT_EQ(progress_.WaitResult(), TQDEV_RESULT_DEVICE_NOT_FOUND);
}

} // namespace
} // namespace wine
