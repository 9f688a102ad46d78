// Every synchronous operation on the wire, driver statuses mapped to results,
// and requests the driver must refuse without harm.
#include "wine_support.h"

namespace wine {
namespace {

class Operations : public WineFixture {
  protected:
    void SetUp() override {
        WineFixture::SetUp();
        ASSERT_EQ(TqdevOpenDevice(device_), TQDEV_RESULT_OK);
    }
};

TEST_F(Operations, CameraInfoDescribesTheSensor) {
    TQDEV_CAMERA_INFO info{};
    ASSERT_EQ(TqdevCameraInfo(device_, &info), TQDEV_RESULT_OK);
    uint32_t words[4];
    std::memcpy(words, info.driver_data, sizeof words);
    EXPECT_EQ(words[0], 1024u);
    EXPECT_EQ(words[1], 768u);
    EXPECT_EQ(words[2], 12u);
    EXPECT_STREQ(reinterpret_cast<const char *>(info.driver_data + 56), serial_.c_str());
    EXPECT_EQ(info.capability_flags, TQDEV_CAMERA_CAP_XFORM_MATRIX | TQDEV_CAMERA_CAP_AVERAGE_DARK |
                                         TQDEV_CAMERA_CAP_DRIVER_PAIR);
}

TEST_F(Operations, ExtendedInfoCarriesWhatWasWritten) {
    const float matrix[9] = {1.5f, 0, 0, 0, 2.5f, 0, 0, 0, -1};
    ASSERT_EQ(TqdevWriteXFormMatrix(device_, matrix), TQDEV_RESULT_OK);
    ASSERT_EQ(TqdevWriteAverageDark(device_, 100), TQDEV_RESULT_OK);
    TQDEV_EXTENDED_CAMERA_INFO info{};
    ASSERT_EQ(TqdevExtendedCameraInfo(device_, &info), TQDEV_RESULT_OK);
    EXPECT_EQ(std::memcmp(info.xform_matrix, matrix, sizeof matrix), 0);
    EXPECT_EQ(info.average_dark, 100u);
    EXPECT_EQ(info.driver_pair[0], 1024u);
    EXPECT_EQ(info.driver_pair[1], 768u);
    ASSERT_EQ(TqdevWriteAverageDark(device_, 64), TQDEV_RESULT_OK);
}

TEST_F(Operations, DeviceStateSaysReady) {
    TQDEV_DEVICE_STATE state{};
    ASSERT_EQ(TqdevGetDeviceState(device_, &state), TQDEV_RESULT_OK);
    EXPECT_EQ(state.driver_data[0], 1u);
}

TEST_F(Operations, RegistersReadBackWhatWasWritten) {
    uint32_t value = 7;
    ASSERT_EQ(TqdevWriteRegister(device_, 0x1234, 0xCAFEF00D), TQDEV_RESULT_OK);
    ASSERT_EQ(TqdevReadRegister(device_, 0x1234, &value), TQDEV_RESULT_OK);
    EXPECT_EQ(value, 0xCAFEF00Du);
    ASSERT_EQ(TqdevReadRegister(device_, 0x99, &value), TQDEV_RESULT_OK);
    EXPECT_EQ(value, 0u);
}

TEST_F(Operations, FlawsRoundTripAndAreEmptiedAgain) {
    TQDEV_FLAW flaws[3] = {{{1, 2, 3, 4, 5}}, {{6, 7, 8, 9, 10}}, {{11, 12, 13, 14, 15}}};
    ASSERT_EQ(TqdevWriteFlaws(device_, 0, nullptr), TQDEV_RESULT_OK);
    ASSERT_EQ(TqdevWriteFlaws(device_, 3, flaws), TQDEV_RESULT_OK);
    int32_t count = 0;
    uint32_t second = 0;
    ASSERT_EQ(TqdevReadFlaws(device_, &count, &second, nullptr), TQDEV_RESULT_OK);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(second, 1024u);
    TQDEV_FLAW back[3]{};
    ASSERT_EQ(TqdevReadFlaws(device_, &count, &second, back), TQDEV_RESULT_OK);
    EXPECT_EQ(std::memcmp(back, flaws, sizeof flaws), 0);
    ASSERT_EQ(TqdevWriteFlaws(device_, 0, nullptr), TQDEV_RESULT_OK);
    ASSERT_EQ(TqdevReadFlaws(device_, &count, &second, nullptr), TQDEV_RESULT_OK);
    EXPECT_EQ(count, 0);
}

struct WriteCase {
    const char *name;
    uint32_t (*call)(uint32_t device);
    uint32_t expected;
};

const float kGains[17] = {};
const WriteCase kWrites[] = {
    {"BayerPattern", [](uint32_t d) { return TqdevWriteBayerPattern(d, 2); }, TQDEV_RESULT_OK},
    {"FourTapGains", [](uint32_t d) { return TqdevWriteTapGain(d, 4, kGains); }, TQDEV_RESULT_OK},
    {"TooManyTapGains", [](uint32_t d) { return TqdevWriteTapGain(d, 17, kGains); },
     TQDEV_RESULT_INVALID_PARAMETER},
    {"CaptureParams",
     [](uint32_t d) {
         const TQDEV_CAPTURE_PARAMS params = Window(TQDEV_CAPTURE_SINGLE, 0);
         return TqdevWriteCaptureParams(d, &params);
     },
     TQDEV_RESULT_OK},
    {"ImpossibleWindow",
     [](uint32_t d) {
         const TQDEV_CAPTURE_PARAMS params = Window(TQDEV_CAPTURE_SINGLE, 0, 2000, 24);
         return TqdevWriteCaptureParams(d, &params);
     },
     TQDEV_RESULT_INVALID_PARAMETER},
};

class Writes : public Operations, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(Writes, ReachTheDriver) {
    EXPECT_EQ(GetParam().call(device_), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Wine, Writes, ::testing::ValuesIn(kWrites),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(Operations, FrameSizeForPackedAndUnpackedWindows) {
    uint32_t size = 0;
    TQDEV_CAPTURE_PARAMS params = Window(TQDEV_CAPTURE_SINGLE, 0);
    ASSERT_EQ(TqdevFrameSize(device_, &params, &size), TQDEV_RESULT_OK);
    EXPECT_EQ(size, 128u * 24u * 2u);
    params = Window(TQDEV_CAPTURE_SINGLE, TQDEV_FLAG_PACKED_OUTPUT);
    ASSERT_EQ(TqdevFrameSize(device_, &params, &size), TQDEV_RESULT_OK);
    EXPECT_EQ(size, 76u + 26u * 17u * 12u);
}

TEST_F(Operations, IntegrationTimeFollowsTheSettings) {
    TQDEV_CAPTURE_PARAMS params = Window(TQDEV_CAPTURE_SINGLE, 0);
    params.extra_words[1] = 1500;
    ASSERT_EQ(TqdevWriteCaptureParams(device_, &params), TQDEV_RESULT_OK);
    uint32_t value = 0;
    const uint32_t guard = 0;
    ASSERT_EQ(TqdevGetIntegrationTime(device_, &value, &guard, nullptr), TQDEV_RESULT_OK);
    EXPECT_EQ(value, 1500u);
    Progress progress;
    value = 0;
    ASSERT_EQ(TqdevGetIntegrationTime(device_, &value, &guard, &progress.record), TQDEV_RESULT_OK);
    EXPECT_EQ(progress.WaitResult(), TQDEV_RESULT_OK);
    EXPECT_EQ(value, 1500u);
}

TEST_F(Operations, OpenAndCloseResults) {
    EXPECT_EQ(TqdevOpenDevice(device_), TQDEV_RESULT_DEVICE_ALREADY_OPEN);
    EXPECT_EQ(TqdevCloseDevice(device_), TQDEV_RESULT_OK);
    EXPECT_EQ(TqdevCloseDevice(device_), TQDEV_RESULT_DEVICE_NOT_OPEN);
    TQDEV_CAMERA_INFO info{};
    EXPECT_EQ(TqdevCameraInfo(device_, &info), TQDEV_RESULT_DEVICE_NOT_OPEN);
    EXPECT_EQ(TqdevOpenDevice(1000), TQDEV_RESULT_INVALID_DEVICE);
}

// How a driver status reaches the caller of a synchronous operation.
struct StatusCase {
    const char *name;
    uint32_t operation;
    uint32_t a;
    uint32_t b;
    uint32_t expected;
};

constexpr uint32_t kCameraInfoCode = 0xA3002914;
constexpr uint32_t kStatusCode = 0xA3002970;

const StatusCase kStatuses[] = {
    {"DriverResultPassedOn", TQCAM_CONTROL_SCRIPT_RESULT, 2, 14, 14},
    {"RefusedAtIssue", TQCAM_CONTROL_REFUSE, kCameraInfoCode, 0xC0000010,
     TQDEV_RESULT_SYSTEM_ERROR},
    {"RefusedAccessViolation", TQCAM_CONTROL_REFUSE, kCameraInfoCode, 0xC0000005,
     TQDEV_RESULT_INVALID_BUFFER},
    {"StatusRefusedAtIssue", TQCAM_CONTROL_REFUSE, kStatusCode, 0xC0000010,
     TQDEV_RESULT_SYSTEM_ERROR},
    {"StatusTransferCancelled", TQCAM_CONTROL_FAIL_STATUS, 0, 0xC0000120, TQDEV_RESULT_CANCELLED},
    {"StatusTransferDeviceRemoved", TQCAM_CONTROL_FAIL_STATUS, 0, 0xC00002B6,
     TQDEV_RESULT_DEVICE_NOT_FOUND},
    {"StatusTransferOtherFailure", TQCAM_CONTROL_FAIL_STATUS, 0, 0xC0000001,
     TQDEV_RESULT_SYSTEM_ERROR},
};

class Statuses : public Operations, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(Statuses, BecomeResults) {
    const StatusCase &c = GetParam();
    ASSERT_EQ(control_->Control(c.operation, c.a, c.b), 0u);
    TQDEV_CAMERA_INFO info{};
    EXPECT_EQ(TqdevCameraInfo(device_, &info), c.expected);
    // The next request is served normally again.
    EXPECT_EQ(TqdevCameraInfo(device_, &info), TQDEV_RESULT_OK);
}

INSTANTIATE_TEST_SUITE_P(Wine, Statuses, ::testing::ValuesIn(kStatuses),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(Operations, ScriptedStatusWordsReachTheCapture) {
    const uint32_t words[6] = {11, 22, 33, 44, 0, 66};
    ASSERT_EQ(control_->Control(TQCAM_CONTROL_SCRIPT_WORDS, 0, 0, words), 0u);
    TQDEV_CAPTURE_PARAMS params = Window(TQDEV_CAPTURE_SINGLE, 0);
    uint32_t size = 0;
    ASSERT_EQ(TqdevFrameSize(device_, &params, &size), TQDEV_RESULT_OK);
    std::vector<uint16_t> image(size / 2);
    params.buffer = image.data();
    ASSERT_EQ(TqdevCaptureImage(device_, &params, nullptr), TQDEV_RESULT_OK);
    EXPECT_EQ(params.setup_words[3], 11u);
    EXPECT_EQ(params.setup_words[2], 22u);
    EXPECT_EQ(params.status6, 66u);
}

// Raw requests on a handle of our own: the driver answers wrong sizes and
// unknown codes with an error and stays in service.
struct RawCase {
    const char *name;
    uint32_t code;
    uint32_t inSize;
    uint32_t outSize;
    DWORD error;
};

const RawCase kRaw[] = {
    {"UnknownCode", 0xA3002A00, 0, 0, ERROR_INVALID_FUNCTION},
    {"ForeignDeviceType", 0x00222000, 4, 4, ERROR_INVALID_FUNCTION},
    {"ShortControl", TQCAM_CONTROL_CODE, 4, 0, ERROR_INVALID_PARAMETER},
    {"StatusWithoutRoom", kStatusCode, 0, 4, ERROR_INSUFFICIENT_BUFFER},
};

class Raw : public Operations, public ::testing::WithParamInterface<RawCase> {};

TEST_P(Raw, RequestsEndWithAnError) {
    const RawCase &c = GetParam();
    std::vector<uint8_t> in(c.inSize + 1), out(c.outSize + 1);
    EXPECT_EQ(control_->Call(c.code, c.inSize ? in.data() : nullptr, c.inSize,
                             c.outSize ? out.data() : nullptr, c.outSize),
              c.error);
    TQDEV_CAMERA_INFO info{};
    EXPECT_EQ(TqdevCameraInfo(device_, &info), TQDEV_RESULT_OK);
}

INSTANTIATE_TEST_SUITE_P(Wine, Raw, ::testing::ValuesIn(kRaw),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(Operations, ShortRecordBufferGivesInvalidBufferInTheStatus) {
    uint8_t small[16] = {};
    ASSERT_EQ(control_->Call(kCameraInfoCode, nullptr, 0, small, sizeof small), 0u);
    TQDEV_STATUS status{};
    DWORD bytes = 0;
    ASSERT_EQ(control_->Call(kStatusCode, nullptr, 0, &status, sizeof status, &bytes), 0u);
    EXPECT_EQ(bytes, sizeof status);
    EXPECT_EQ(status.word[0], TQDEV_RESULT_INVALID_BUFFER);
}

} // namespace
} // namespace wine
