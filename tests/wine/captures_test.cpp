// Captures in the four modes through the real DLL, waiting and with
// progress, packed and unpacked, pixels held against the frame model.
#include "wine_support.h"

namespace wine {
namespace {

class Captures : public WineFixture {
  protected:
    void SetUp() override {
        WineFixture::SetUp();
        ASSERT_EQ(TqdevOpenDevice(device_), TQDEV_RESULT_OK);
    }

    uint32_t Size(const TQDEV_CAPTURE_PARAMS &params) {
        uint32_t size = 0;
        EXPECT_EQ(TqdevFrameSize(device_, &params, &size), TQDEV_RESULT_OK);
        return size;
    }

    // The number the next frame gets: a single capture reports its own.
    uint32_t NextFrame() {
        TQDEV_CAPTURE_PARAMS params = Window(TQDEV_CAPTURE_SINGLE, 0, 64, 8);
        std::vector<uint16_t> image(Size(params) / 2);
        params.buffer = image.data();
        EXPECT_EQ(TqdevCaptureImage(device_, &params, nullptr), TQDEV_RESULT_OK);
        return params.status6 + 1;
    }
};

TEST_F(Captures, SingleUnpackedWaiting) {
    TQDEV_CAPTURE_PARAMS params = Window(TQDEV_CAPTURE_SINGLE, 0);
    std::vector<uint16_t> image(Size(params) / 2, 0xEEEE);
    params.buffer = image.data();
    ASSERT_EQ(TqdevCaptureImage(device_, &params, nullptr), TQDEV_RESULT_OK);
    EXPECT_TRUE(MatchesModel(params, 128, 24, params.status6, image.data()));
    int32_t state = -1;
    ASSERT_EQ(TqdevGetCaptureState(device_, static_cast<int32_t>(params.ticket), &state),
              TQDEV_RESULT_OK);
    EXPECT_EQ(state, TQDEV_CAPTURE_STATE_COMPLETE);
}

TEST_F(Captures, SinglePackedWithProgressUnpacksToTheModel) {
    TQDEV_CAPTURE_PARAMS params = Window(TQDEV_CAPTURE_SINGLE, TQDEV_FLAG_PACKED_OUTPUT);
    std::vector<uint8_t> container(Size(params));
    params.buffer = container.data();
    Progress progress;
    ASSERT_EQ(TqdevCaptureImage(device_, &params, &progress.record), TQDEV_RESULT_OK);
    ASSERT_EQ(progress.WaitResult(), TQDEV_RESULT_OK);
    EXPECT_EQ(progress.record.Percent, 100u);
    uint32_t size = 0;
    ASSERT_EQ(TqdevUnpackImage(container.data(), nullptr, &size, 0), TQDEV_RESULT_OK);
    ASSERT_EQ(size, 128u * 24u * 2u);
    std::vector<uint16_t> pixels(size / 2);
    ASSERT_EQ(TqdevUnpackImage(container.data(), pixels.data(), &size, 0), TQDEV_RESULT_OK);
    EXPECT_TRUE(MatchesModel(params, 128, 24, params.status6, pixels.data()));
}

TEST_F(Captures, UnpackImageRefusesABrokenContainer) {
    std::vector<uint8_t> garbage(200, 0x5A);
    uint32_t size = 0;
    EXPECT_EQ(TqdevUnpackImage(garbage.data(), nullptr, &size, 0), TQDEV_RESULT_INVALID_PARAMETER);
    EXPECT_EQ(TqdevUnpackImage(nullptr, nullptr, &size, 0), TQDEV_RESULT_INVALID_PARAMETER);
}

TEST_F(Captures, AveragedFramesAreTheRoundedMean) {
    const uint32_t first = NextFrame();
    TQDEV_CAPTURE_PARAMS params = Window(TQDEV_CAPTURE_AVERAGED, 0);
    params.frame_count = 2;
    std::vector<uint16_t> image(Size(params) / 2);
    params.buffer = image.data();
    ASSERT_EQ(TqdevCaptureImage(device_, &params, nullptr), TQDEV_RESULT_OK);
    TQDEV_CAPTURE_SETTINGS settings{};
    settings.setup_words[0] = (4u << 16) | 8u;
    settings.setup_words[1] = (24u << 16) | 128u;
    settings.mode = TQDEV_CAPTURE_AVERAGED;
    tqsim::FrameGeometry frame{};
    ASSERT_EQ(tqsim::DeriveFrame(settings, {1024, 768, 0, false}, &frame), 0u);
    uint32_t wrong = 0;
    for (uint32_t r = 0; r < 24; ++r) {
        for (uint32_t c = 0; c < 128; ++c) {
            uint32_t sum = 0;
            for (uint32_t f = first; f < first + 2; ++f) {
                // Every frame of an average carries the capture's ticket.
                sum += tqsim::ImagePixel(frame, r, c, {f, 1, params.ticket, 0});
            }
            wrong += image[r * 128 + c] != (sum + 1) / 2;
        }
    }
    EXPECT_EQ(wrong, 0u);
}

TEST_F(Captures, SequenceFillsItsThreeBuffers) {
    const uint32_t first = NextFrame();
    TQDEV_CAPTURE_PARAMS params = Window(TQDEV_CAPTURE_SEQUENCE, 0, 64, 8);
    const uint32_t size = Size(params);
    std::vector<uint16_t> images[3];
    for (int i = 0; i < 3; ++i) {
        images[i].assign(size / 2, 0xEEEE);
        params.sequence_buffers[i] = images[i].data();
    }
    Progress progress;
    ASSERT_EQ(TqdevCaptureImage(device_, &params, &progress.record), TQDEV_RESULT_OK);
    ASSERT_EQ(progress.WaitResult(), TQDEV_RESULT_OK);
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_TRUE(MatchesModel(params, 64, 8, first + i, images[i].data())) << "buffer " << i;
    }
}

TEST_F(Captures, LiveFocusRunsUntilCancelled) {
    TQDEV_CAPTURE_PARAMS params = Window(TQDEV_CAPTURE_LIVE_FOCUS, 0, 64, 8);
    const uint32_t size = Size(params);
    std::vector<uint16_t> ring[2];
    for (int i = 0; i < 2; ++i) {
        ring[i].assign(size / 2, 0);
        params.ring_buffers[i] = ring[i].data();
    }
    params.ring_size = 2;
    Progress progress;
    ASSERT_EQ(TqdevCaptureImage(device_, &params, &progress.record), TQDEV_RESULT_OK);
    ASSERT_TRUE(progress.WaitCalls(3)) << "live focus delivered no frames";
    ASSERT_EQ(TqdevCancelLiveFocus(device_), TQDEV_RESULT_OK);
    // Every frame completes the record; the last completion carries the stop.
    EXPECT_TRUE(Eventually([&] {
        return reinterpret_cast<volatile uint32_t &>(progress.record.Result) ==
               TQDEV_RESULT_LIVE_FOCUS_STOPPED;
    }));
}

// A paced camera: while a frame is exposed the capture state says so, and
// the integration time is the exposure asked for.
TEST_F(Captures, PacedCaptureReportsItsState) {
    ASSERT_EQ(control_->Control(TQCAM_CONTROL_TIMING, 400000, 0), 0u);
    TQDEV_CAPTURE_PARAMS params = Window(TQDEV_CAPTURE_SINGLE, 0);
    params.extra_words[1] = 300000;
    std::vector<uint16_t> image(Size(params) / 2);
    params.buffer = image.data();
    Progress progress;
    ASSERT_EQ(TqdevCaptureImage(device_, &params, &progress.record), TQDEV_RESULT_OK);
    // The driver's own capture state (request 1 on our handle): exposing.
    int32_t reply[2] = {};
    ASSERT_TRUE(Eventually([&] {
        TQDEV_STATUS status{};
        return control_->Call(0xA300293C, nullptr, 0, reply, sizeof reply) == 0 &&
               control_->Call(0xA3002970, nullptr, 0, &status, sizeof status) == 0 && reply[1] == 1;
    })) << reply[1];
    int32_t state = -1;
    ASSERT_EQ(progress.WaitResult(), TQDEV_RESULT_OK);
    EXPECT_EQ(params.setup_words[2], 300000u);
    ASSERT_EQ(TqdevGetCaptureState(device_, static_cast<int32_t>(params.ticket), &state),
              TQDEV_RESULT_OK);
    EXPECT_EQ(state, TQDEV_CAPTURE_STATE_COMPLETE);
}

TEST_F(Captures, TooSmallFrameBufferIsRefusedByTheDriver) {
    TQDEV_CAPTURE_PARAMS params = Window(TQDEV_CAPTURE_SINGLE, TQDEV_FLAG_PACKED_OUTPUT);
    ASSERT_EQ(control_->Control(TQCAM_CONTROL_SCRIPT_RESULT, 0, TQDEV_RESULT_INVALID_BUFFER), 0u);
    std::vector<uint8_t> container(Size(params));
    params.buffer = container.data();
    EXPECT_EQ(TqdevCaptureImage(device_, &params, nullptr), TQDEV_RESULT_INVALID_BUFFER);
}

} // namespace
} // namespace wine
