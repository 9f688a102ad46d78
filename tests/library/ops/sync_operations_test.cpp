// The synchronous camera operations as the driver sees them: requests, byte
// counts, what reaches the caller, and failures passed on.
#include <gmock/gmock.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ops_support.h"

namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

using Requests = std::vector<std::pair<uint32_t, uint32_t>>; // number, bytes

Requests NumbersAndSizes(uint32_t camera) {
    Requests requests;
    for (const LoggedRequest &request : LoggedRequests(camera)) {
        EXPECT_FALSE(request.settings.has_value()) << "request " << request.request;
        requests.emplace_back(request.request, request.size);
    }
    return requests;
}

struct Operation {
    std::string name;
    std::function<uint32_t(uint32_t device)> call;
    Requests requests; // what a successful call sends
};

TQDEV_FLAW flaws[129];
uint32_t registerValue;
int32_t flawCount;
uint32_t flawSecond;
TQDEV_CAMERA_INFO cameraInfo;
TQDEV_EXTENDED_CAMERA_INFO extendedInfo;
TQDEV_DEVICE_STATE deviceState;
const float kMatrix[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
const float kGains[3] = {1.5f, 2.5f, 3.5f};

// The default camera announces all three extended-information blocks.
std::vector<Operation> Operations() {
    return {
        {"CameraInfo", [](uint32_t d) { return TqdevCameraInfo(d, &cameraInfo); }, {{2, 220}}},
        {"ExtendedCameraInfo",
         [](uint32_t d) { return TqdevExtendedCameraInfo(d, &extendedInfo); },
         {{3, 272}, {2, 220}, {14, 36}, {18, 2}, {20, 8}}},
        {"GetDeviceState",
         [](uint32_t d) { return TqdevGetDeviceState(d, &deviceState); },
         {{9, 88}}},
        {"WriteRegister",
         [](uint32_t d) { return TqdevWriteRegister(d, 5, 6); },
         {{22, 4}, {23, 4}}},
        {"ReadRegister",
         [](uint32_t d) { return TqdevReadRegister(d, 5, &registerValue); },
         {{22, 4}, {24, 4}}},
        {"ReadFlaws without buffer",
         [](uint32_t d) { return TqdevReadFlaws(d, &flawCount, &flawSecond, nullptr); },
         {{11, 8}}},
        {"WriteFlaws 128", [](uint32_t d) { return TqdevWriteFlaws(d, 128, flaws); }, {{13, 2560}}},
        {"WriteXFormMatrix",
         [](uint32_t d) { return TqdevWriteXFormMatrix(d, kMatrix); },
         {{15, 36}}},
        {"WriteBayerPattern", [](uint32_t d) { return TqdevWriteBayerPattern(d, 2); }, {{16, 1}}},
        {"WriteAverageDark", [](uint32_t d) { return TqdevWriteAverageDark(d, 80); }, {{17, 2}}},
        {"WriteTapGain 3", [](uint32_t d) { return TqdevWriteTapGain(d, 3, kGains); }, {{19, 12}}},
    };
}

using SyncOperations = OpsFixture;

TEST_F(SyncOperations, EachSendsItsRequestsWithTheirByteCounts) {
    for (const Operation &op : Operations()) {
        SCOPED_TRACE(op.name);
        TqsimClearCalls(camera());
        EXPECT_EQ(op.call(0), TQDEV_RESULT_OK);
        EXPECT_EQ(NumbersAndSizes(camera()), op.requests);
    }
}

TEST_F(SyncOperations, DriverFailureOfEachRequestIsReturnedUnchangedAndEndsTheOperation) {
    constexpr uint32_t kOddResult = 0x00BADC0D;
    for (const Operation &op : Operations()) {
        for (size_t failing = 0; failing < op.requests.size(); ++failing) {
            SCOPED_TRACE(op.name + ", request " + std::to_string(op.requests[failing].first));
            TqsimClearCalls(camera());
            TqsimScriptResult(camera(), op.requests[failing].first, kOddResult);
            EXPECT_EQ(op.call(0), kOddResult);
            Requests sent(op.requests.begin(), op.requests.begin() + failing + 1);
            EXPECT_EQ(NumbersAndSizes(camera()), sent);
            TqsimClearScripts(camera());
        }
    }
}

TEST_F(SyncOperations, ClosedCameraRefusesEveryOperationWithoutSending) {
    ASSERT_EQ(TqdevCloseDevice(0), TQDEV_RESULT_OK);
    TqsimClearCalls(camera());
    for (const Operation &op : Operations()) {
        SCOPED_TRACE(op.name);
        EXPECT_EQ(op.call(0), TQDEV_RESULT_DEVICE_NOT_OPEN);
    }
    EXPECT_THAT(NumbersAndSizes(camera()), IsEmpty());
}

TEST_F(SyncOperations, BadPointersAndCountsAreRefusedWithoutSending) {
    std::vector<std::pair<std::string, std::function<uint32_t()>>> refusals = {
        {"CameraInfo", [] { return TqdevCameraInfo(0, nullptr); }},
        {"ExtendedCameraInfo", [] { return TqdevExtendedCameraInfo(0, nullptr); }},
        {"GetDeviceState", [] { return TqdevGetDeviceState(0, nullptr); }},
        {"ReadRegister", [] { return TqdevReadRegister(0, 1, nullptr); }},
        {"ReadFlaws count", [] { return TqdevReadFlaws(0, nullptr, &flawSecond, flaws); }},
        {"ReadFlaws second", [] { return TqdevReadFlaws(0, &flawCount, nullptr, flaws); }},
        {"WriteFlaws 129", [] { return TqdevWriteFlaws(0, 129, flaws); }},
        {"WriteFlaws -1", [] { return TqdevWriteFlaws(0, -1, flaws); }},
        {"WriteFlaws null", [] { return TqdevWriteFlaws(0, 1, nullptr); }},
        {"WriteXFormMatrix", [] { return TqdevWriteXFormMatrix(0, nullptr); }},
        {"WriteTapGain -1", [] { return TqdevWriteTapGain(0, -1, kGains); }},
        {"WriteTapGain null", [] { return TqdevWriteTapGain(0, 2, nullptr); }},
        // 2^30 gains are 2^32 bytes: no request can carry them.
        {"WriteTapGain 2^30", [] { return TqdevWriteTapGain(0, 1 << 30, kGains); }},
    };
    for (const auto &[name, call] : refusals) {
        SCOPED_TRACE(name);
        EXPECT_EQ(call(), TQDEV_RESULT_INVALID_PARAMETER);
    }
    EXPECT_THAT(NumbersAndSizes(camera()), IsEmpty());
}

TEST_F(SyncOperations, TooManyFlawsAreReportedWhenPrinting) {
    CapturedOutput output;
    TqdevEnableDebugPrint(1);
    EXPECT_EQ(TqdevWriteFlaws(0, 129, flaws), TQDEV_RESULT_INVALID_PARAMETER);
    output.Finish();
    EXPECT_THAT(output.out, ::testing::EndsWith(" - Number of flaws exceed the maximum allowed\n"));
}

TEST_F(SyncOperations, RegistersTravelBothWaysAndAFailedSelectLeavesTheValue) {
    ASSERT_EQ(TqdevWriteRegister(0, 0x1F0, 0xCAFEF00D), TQDEV_RESULT_OK);
    uint32_t stored = 0;
    ASSERT_EQ(TqsimReadRegister(camera(), 0x1F0, &stored), 0);
    EXPECT_EQ(stored, 0xCAFEF00Du);
    uint32_t value = 0;
    ASSERT_EQ(TqdevReadRegister(0, 0x1F0, &value), TQDEV_RESULT_OK);
    EXPECT_EQ(value, 0xCAFEF00Du);

    TqsimScriptResult(camera(), 22, TQDEV_RESULT_INVALID_BUFFER);
    value = 0x55555555;
    EXPECT_EQ(TqdevReadRegister(0, 0x1F0, &value), TQDEV_RESULT_INVALID_BUFFER);
    EXPECT_EQ(value, 0x55555555u);
}

// The driver keeps the selected address per handle: another thread's select
// between the two requests would redirect them.
TEST_F(SyncOperations, RegisterAccessesFromManyThreadsKeepTheirAddress) {
    constexpr uint32_t kThreads = 6, kRounds = 40;
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (uint32_t t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &wrong] {
            for (uint32_t i = 0; i < kRounds; ++i) {
                uint32_t value = t << 16 | i, read = 0;
                if (TqdevWriteRegister(0, 0x100 + t, value) != TQDEV_RESULT_OK ||
                    TqdevReadRegister(0, 0x100 + t, &read) != TQDEV_RESULT_OK || read != value) {
                    wrong.fetch_add(1);
                }
            }
        });
    }
    for (std::thread &thread : threads) {
        thread.join();
    }
    EXPECT_EQ(wrong.load(), 0);
    for (uint32_t t = 0; t < kThreads; ++t) {
        uint32_t stored = 0;
        ASSERT_EQ(TqsimReadRegister(camera(), 0x100 + t, &stored), 0);
        EXPECT_EQ(stored, t << 16 | (kRounds - 1)) << t;
    }
}

// A camera that reports a count no buffer can be sized for: the count is
// passed on, and nothing more is asked.
TEST_F(SyncOperations, ImpossibleFlawCountsAreRefused) {
    for (int32_t reported : {-1, INT32_MIN, 0x0CCCCCCD}) {
        SCOPED_TRACE(reported);
        const int32_t reply[2] = {reported, 7};
        ASSERT_EQ(TqsimScriptReply(camera(), 11, reply, sizeof reply), 0);
        TqsimClearCalls(camera());
        TqdevEnableDebugPrint(1);
        WaitForThreads(idleThreads_);
        CapturedOutput output;
        int32_t count = 0;
        uint32_t second = 0;
        EXPECT_EQ(TqdevReadFlaws(0, &count, &second, flaws), TQDEV_RESULT_SYSTEM_ERROR);
        WaitForThreads(idleThreads_);
        output.Finish();
        TqdevEnableDebugPrint(0);
        EXPECT_EQ(count, reported);
        EXPECT_EQ(NumbersAndSizes(camera()), (Requests{{11, 8}}));
        std::vector<std::string> messages = Messages(output.out);
        std::erase(messages, "Dll: Terminating thread");
        EXPECT_THAT(messages, ElementsAre("Invalid flaw count " + std::to_string(reported)));
    }
}

TEST_F(SyncOperations, FlawListIsWrittenAndReadBack) {
    for (uint32_t i = 0; i < 3; ++i) {
        flaws[i] = TQDEV_FLAW{{i, i + 10, i + 20, i + 30, i + 40}};
    }
    ASSERT_EQ(TqdevWriteFlaws(0, 3, flaws), TQDEV_RESULT_OK);
    TqsimClearCalls(camera());
    TQDEV_FLAW read[3] = {};
    int32_t count = 0;
    uint32_t second = 0;
    ASSERT_EQ(TqdevReadFlaws(0, &count, &second, read), TQDEV_RESULT_OK);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(second, static_cast<uint32_t>(TQSIM_FLAW_CAPACITY));
    EXPECT_EQ(std::memcmp(read, flaws, sizeof read), 0);
    EXPECT_EQ(NumbersAndSizes(camera()), (Requests{{11, 8}, {12, 60}}));
}

TEST_F(SyncOperations, MatrixDarkLevelAndGainsArriveBitForBit) {
    float matrix[9];
    for (uint32_t i = 0; i < 9; ++i) {
        uint32_t bits = 0x7FC00001u + i; // quiet NaNs with payloads survive only a bit copy
        std::memcpy(&matrix[i], &bits, sizeof bits);
    }
    ASSERT_EQ(TqdevWriteXFormMatrix(0, matrix), TQDEV_RESULT_OK);
    float stored[9];
    ASSERT_EQ(TqsimGetMatrix(camera(), stored), 0);
    EXPECT_EQ(std::memcmp(stored, matrix, sizeof matrix), 0);

    ASSERT_EQ(TqdevWriteTapGain(0, 3, kGains), TQDEV_RESULT_OK);
    float gains[TQSIM_TAP_GAIN_MAX];
    uint32_t gainCount = 0;
    ASSERT_EQ(TqsimGetTapGains(camera(), gains, TQSIM_TAP_GAIN_MAX, &gainCount), 0);
    ASSERT_EQ(gainCount, 3u);
    EXPECT_EQ(std::memcmp(gains, kGains, sizeof kGains), 0);

    ASSERT_EQ(TqdevWriteAverageDark(0, 0x0123), TQDEV_RESULT_OK);
    ASSERT_EQ(TqdevWriteBayerPattern(0, 3), TQDEV_RESULT_OK);
    uint16_t level = 0;
    uint8_t pattern = 0;
    ASSERT_EQ(TqsimGetDarkLevel(camera(), &level), 0);
    ASSERT_EQ(TqsimGetBayerPattern(camera(), &pattern), 0);
    EXPECT_EQ(level, 0x0123);
    EXPECT_EQ(pattern, 3);
}

void SetCapabilities(uint32_t camera, uint32_t flags) {
    TQDEV_CAMERA_INFO info{};
    ASSERT_EQ(TqsimGetCameraInfo(camera, &info), 0);
    info.capability_flags = flags;
    ASSERT_EQ(TqsimSetCameraInfo(camera, &info), 0);
}

TEST_F(SyncOperations, ExtendedInfoWithoutCapabilitiesIsTheDriversRecord) {
    SetCapabilities(camera(), ~(TQDEV_CAMERA_CAP_XFORM_MATRIX | TQDEV_CAMERA_CAP_AVERAGE_DARK |
                                TQDEV_CAMERA_CAP_DRIVER_PAIR));
    TQDEV_EXTENDED_CAMERA_INFO expected{};
    ASSERT_EQ(TqsimGetExtendedInfo(camera(), &expected), 0);
    TQDEV_EXTENDED_CAMERA_INFO info;
    std::memset(&info, 0x3C, sizeof info);
    ASSERT_EQ(TqdevExtendedCameraInfo(0, &info), TQDEV_RESULT_OK);
    EXPECT_EQ(std::memcmp(&info, &expected, sizeof info), 0);
    EXPECT_EQ(NumbersAndSizes(camera()), (Requests{{3, 272}, {2, 220}}));
}

TEST_F(SyncOperations, ExtendedInfoFillsEachAnnouncedBlock) {
    float matrix[9];
    for (int i = 0; i < 9; ++i) {
        matrix[i] = -0.25f * static_cast<float>(i);
    }
    const uint32_t pair[2] = {0xA1B2C3D4, 7};
    ASSERT_EQ(TqsimSetMatrix(camera(), matrix), 0);
    ASSERT_EQ(TqsimSetDarkLevel(camera(), 0xFFFF), 0);
    ASSERT_EQ(TqsimSetDriverPair(camera(), pair), 0);
    struct Case {
        uint32_t flags;
        Requests requests;
        bool matrix, dark, pair;
    };
    const Case cases[] = {
        {0x4 | 0x2000 | 0x4000, {{3, 272}, {2, 220}, {14, 36}, {18, 2}, {20, 8}}, true, true, true},
        {0x2000, {{3, 272}, {2, 220}, {18, 2}}, false, true, false},
        {0x4 | 0x4000, {{3, 272}, {2, 220}, {14, 36}, {20, 8}}, true, false, true},
    };
    TQDEV_EXTENDED_CAMERA_INFO driver{};
    ASSERT_EQ(TqsimGetExtendedInfo(camera(), &driver), 0);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.flags);
        SetCapabilities(camera(), c.flags);
        TqsimClearCalls(camera());
        TQDEV_EXTENDED_CAMERA_INFO info{};
        ASSERT_EQ(TqdevExtendedCameraInfo(0, &info), TQDEV_RESULT_OK);
        EXPECT_EQ(NumbersAndSizes(camera()), c.requests);
        EXPECT_EQ(std::memcmp(info.driver_data, driver.driver_data, sizeof info.driver_data), 0);
        EXPECT_EQ(std::memcmp(info.xform_matrix,
                              c.matrix ? static_cast<const void *>(matrix) : driver.xform_matrix,
                              sizeof matrix),
                  0);
        EXPECT_EQ(info.average_dark, c.dark ? 0x0000FFFFu : driver.average_dark);
        EXPECT_THAT(info.driver_pair,
                    c.pair ? ElementsAreArray(pair) : ElementsAreArray(driver.driver_pair));
    }
}

} // namespace
