// Capture settings as the driver receives them, refusals, and the frame size.
#include <gmock/gmock.h>

#include <cstring>
#include <functional>
#include <string>

#include "capture_support.h"
#include "tqdev_lib.h"

namespace {

using ::testing::IsEmpty;

using CaptureSettings = OpsFixture;

size_t CountOf(const std::string &text, const std::string &part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

TEST_F(CaptureSettings, RefusedRecordsSendNothingAndLeaveTheSize) {
    struct Case {
        std::string name;
        std::function<void(TQDEV_CAPTURE_PARAMS &)> spoil;
        const char *diagnostic; // null: none
    };
    const Case cases[] = {
        {"last reserved word", [](auto &p) { p.reserved[7] = 1; },
         " - Invalid parameters in reserved fields\n"},
        {"first reserved word", [](auto &p) { p.reserved[0] = 0x80000000; },
         " - Invalid parameters in reserved fields\n"},
        {"mode 4", [](auto &p) { p.mode = 4; }, nullptr},
        {"mode -1", [](auto &p) { p.mode = 0xFFFFFFFF; }, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TQDEV_CAPTURE_PARAMS params = WindowParams(0, 0);
        c.spoil(params);
        TQDEV_CAPTURE_PARAMS before = params;
        uint32_t size = 0x12345678;
        CapturedOutput output;
        TqdevEnableDebugPrint(1);
        EXPECT_EQ(TqdevFrameSize(0, &params, &size), TQDEV_RESULT_INVALID_PARAMETER);
        EXPECT_EQ(TqdevWriteCaptureParams(0, &params), TQDEV_RESULT_INVALID_PARAMETER);
        TqdevEnableDebugPrint(0);
        output.Finish();
        EXPECT_EQ(size, 0x12345678u);
        EXPECT_EQ(std::memcmp(&params, &before, sizeof params), 0);
        // One diagnostic per refused call, after the switch's own line.
        EXPECT_EQ(CountOf(output.out, " - "), c.diagnostic != nullptr ? 3u : 1u) << output.out;
        if (c.diagnostic != nullptr) {
            EXPECT_EQ(CountOf(output.out, c.diagnostic), 2u) << output.out;
        }
    }
    EXPECT_THAT(LoggedRequests(camera()), IsEmpty());
    uint32_t size = 0;
    EXPECT_EQ(TqdevFrameSize(0, nullptr, &size), TQDEV_RESULT_INVALID_PARAMETER);
    TQDEV_CAPTURE_PARAMS params = WindowParams(0, 0);
    EXPECT_EQ(TqdevFrameSize(0, &params, nullptr), TQDEV_RESULT_INVALID_PARAMETER);
    EXPECT_EQ(TqdevWriteCaptureParams(0, nullptr), TQDEV_RESULT_INVALID_PARAMETER);
}

TEST_F(CaptureSettings, DriverGetsTheRecordsWordsWithTicketZero) {
    TQDEV_CAPTURE_PARAMS params = WindowParams(2, 0x40000123);
    params.ticket = 77; // left over from an earlier capture
    params.setup_words[2] = 0xAAAA0002;
    params.setup_words[5] = 0xAAAA0005;
    params.extra_words[1] = 1000;
    ASSERT_EQ(TqdevWriteCaptureParams(0, &params), TQDEV_RESULT_OK);
    std::vector<LoggedRequest> requests = LoggedRequests(camera());
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].request, 6u);
    EXPECT_EQ(requests[0].size, 68u);
    ASSERT_TRUE(requests[0].settings.has_value());
    const TQDEV_CAPTURE_SETTINGS &sent = *requests[0].settings;
    EXPECT_EQ(sent.mode, 2u);
    EXPECT_EQ(sent.flags, 0x40000123u);
    EXPECT_EQ(sent.ticket, 0u);
    EXPECT_EQ(std::memcmp(sent.setup_words, params.setup_words, sizeof sent.setup_words), 0);
    EXPECT_EQ(std::memcmp(sent.extra_words, params.extra_words, sizeof sent.extra_words), 0);
}

TEST_F(CaptureSettings, FrameSizeIsThePackedContainerOrTheImage) {
    TQSIM_CAMERA_CONFIG config{};
    ASSERT_EQ(TqsimGetConfig(camera(), &config), 0);
    struct Case {
        uint32_t flags, width, height;
    };
    // 40 x 25 pixels unpacked take 2000 bytes.
    for (Case c : {Case{0, 40, 25}, Case{0x8, 40, 25}, Case{0x8, 1000, 700}, Case{0, 64, 1}}) {
        SCOPED_TRACE(::testing::Message() << c.flags << " " << c.width << "x" << c.height);
        TQDEV_CAPTURE_PARAMS params = WindowParams(0, c.flags, c.width, c.height);
        TQDEV_CAPTURE_SETTINGS settings{};
        ASSERT_EQ(BuildCaptureSettings(&params, &settings), TQDEV_RESULT_OK);
        TQDEV_FRAME_INFO info{};
        ASSERT_EQ(TqsimDeriveFrameInfo(&config, &settings, &info), 0u);
        uint32_t size = 0;
        ASSERT_EQ(TqdevFrameSize(0, &params, &size), TQDEV_RESULT_OK);
        EXPECT_EQ(size, c.flags == 0x8 ? 76 + info.packed_size : info.image_size);
        if (c.flags == 0 && c.width == 40) {
            EXPECT_EQ(size, 2000u);
        }
    }
}

TEST_F(CaptureSettings, DriverFailureLeavesSizeZeroAndNoEventLeavesItAlone) {
    TQDEV_CAPTURE_PARAMS params = WindowParams(0, 0);
    uint32_t size = 99;
    TqsimScriptResult(camera(), 6, 0x4321);
    EXPECT_EQ(TqdevFrameSize(0, &params, &size), 0x4321u);
    EXPECT_EQ(size, 0u);
    TqsimScriptResult(camera(), 6, 0x4322);
    EXPECT_EQ(TqdevWriteCaptureParams(0, &params), 0x4322u);

    size = 99;
    TqsimFailCall("CreateEventA", 1, 8);
    EXPECT_EQ(TqdevFrameSize(0, &params, &size), TQDEV_RESULT_SYSTEM_ERROR);
    EXPECT_EQ(size, 99u);
    TqsimFailCall("CreateEventA", 1, 8);
    EXPECT_EQ(TqdevWriteCaptureParams(0, &params), TQDEV_RESULT_SYSTEM_ERROR);
}

} // namespace
