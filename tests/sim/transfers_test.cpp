// The settings-data-status triple, its order, and how pending transfers end:
// cancel, close, unplug, and the scripted refusals and failures.
#include <thread>

#include "sim_channel.h"

namespace simtest {
namespace {

using Transfers = SimCamera;

std::uint32_t Pending(std::uint32_t camera) {
    std::uint32_t count = 0;
    EXPECT_EQ(TqsimPendingTransfers(camera, &count), 0);
    return count;
}

TEST_F(Transfers, SettingsAndDataCompleteBeforeTheirStatus) {
    ASSERT_EQ(TqsimHoldRequests(camera_, 1), 0);
    TQDEV_FRAME_INFO info{};
    TQDEV_CAPTURE_SETTINGS settings{};
    Triple t;
    IssueRequest(file_, 6, &info, sizeof info, &settings, t);
    EXPECT_EQ(Pending(camera_), 3u);
    EXPECT_FALSE(t.settingsCall.Completed());
    EXPECT_FALSE(t.dataCall.Completed());
    EXPECT_FALSE(t.statusCall.Completed());
    ASSERT_EQ(TqsimReleaseRequests(camera_), 0);
    ASSERT_EQ(t.statusCall.Wait(file_), 0u);
    EXPECT_TRUE(t.settingsCall.Completed());
    EXPECT_TRUE(t.dataCall.Completed());
    EXPECT_EQ(t.status.word[0], 0u);
    EXPECT_EQ(info.image_size, 1024u * 768 * 2);
    EXPECT_EQ(Pending(camera_), 0u);
}

TEST_F(Transfers, HoldKeepsLaterRequestsAfterARelease) {
    ASSERT_EQ(TqsimHoldRequests(camera_, 1), 0);
    TQDEV_CAMERA_INFO first{}, second{};
    Triple a, b;
    IssueRequest(file_, 2, &first, sizeof first, nullptr, a);
    ASSERT_EQ(TqsimReleaseRequests(camera_), 0);
    IssueRequest(file_, 2, &second, sizeof second, nullptr, b);
    ASSERT_EQ(a.statusCall.Wait(file_), 0u);
    EXPECT_FALSE(b.statusCall.Completed());
    ASSERT_EQ(TqsimHoldRequests(camera_, 0), 0);
    ASSERT_EQ(b.statusCall.Wait(file_), 0u);
    EXPECT_EQ(b.status.word[0], 0u);
}

TEST_F(Transfers, StatusWithoutDataReportsASystemError) {
    Call status;
    TQDEV_STATUS record{};
    status.Issue(file_, kStatusCode, nullptr, 0, &record, sizeof record);
    ASSERT_EQ(status.Wait(file_), 0u);
    EXPECT_EQ(record.word[0], TQDEV_RESULT_SYSTEM_ERROR);
}

TEST_F(Transfers, CodesWithoutWorkSucceedAndUnknownCodesAreRefused) {
    for (std::uint32_t number : {4u, 5u, 7u}) {
        EXPECT_EQ(Run(number, nullptr, 0).word[0], 0u) << number;
    }
    Call unknown;
    unknown.Issue(file_, 0xA3002978, nullptr, 0, nullptr, 0);
    EXPECT_EQ(unknown.Refusal(), 1u);
}

TEST_F(Transfers, CancelEndsEveryOutstandingTransferBeforeItCompletes) {
    ASSERT_EQ(TqsimHoldRequests(camera_, 1), 0);
    TQDEV_FRAME_INFO info{};
    TQDEV_CAPTURE_SETTINGS settings{};
    Triple t;
    IssueRequest(file_, 6, &info, sizeof info, &settings, t);
    Call cancel;
    cancel.Issue(file_, kCancelCode, nullptr, 0, nullptr, 0);
    ASSERT_EQ(cancel.Wait(file_), 0u);
    for (Call *call : {&t.settingsCall, &t.dataCall, &t.statusCall}) {
        EXPECT_TRUE(call->Completed());
        EXPECT_EQ(call->Outcome(), ERROR_OPERATION_ABORTED);
    }
    EXPECT_EQ(t.statusCall.Wait(file_), ERROR_OPERATION_ABORTED);
    // The handle keeps working, held requests included.
    ASSERT_EQ(TqsimHoldRequests(camera_, 0), 0);
    EXPECT_EQ(Run(6, &info, sizeof info, &settings).word[0], 0u);
}

TEST_F(Transfers, CancelEndsAFrameThatIsBeingExposed) {
    ASSERT_EQ(TqsimSetTiming(camera_, 0, 5000000), 0);
    std::vector<std::uint8_t> frame(1024 * 768 * 2);
    TQDEV_CAPTURE_SETTINGS settings{};
    Triple t;
    IssueRequest(file_, 0, frame.data(), static_cast<DWORD>(frame.size()), &settings, t);
    std::int32_t ticket = 0, state = 0;
    do {
        ASSERT_EQ(TqsimCaptureState(camera_, &ticket, &state), 0);
        std::this_thread::yield();
    } while (state != TQSIM_STATE_EXPOSING);
    Call cancel;
    cancel.Issue(file_, kCancelCode, nullptr, 0, nullptr, 0);
    ASSERT_EQ(cancel.Wait(file_), 0u);
    EXPECT_EQ(t.statusCall.Wait(file_), ERROR_OPERATION_ABORTED);
    std::uint32_t frames = 1;
    ASSERT_EQ(TqsimFrameCount(camera_, &frames), 0);
    EXPECT_EQ(frames, 0u);
}

TEST_F(Transfers, TwoCancelsOfOneHandleBothComplete) {
    ASSERT_EQ(TqsimHoldRequests(camera_, 1), 0);
    TQDEV_CAMERA_INFO info{};
    Triple t;
    IssueRequest(file_, 2, &info, sizeof info, nullptr, t);
    Call first, second;
    first.Issue(file_, kCancelCode, nullptr, 0, nullptr, 0);
    second.Issue(file_, kCancelCode, nullptr, 0, nullptr, 0);
    EXPECT_EQ(first.Wait(file_), 0u);
    EXPECT_EQ(second.Wait(file_), 0u);
    EXPECT_EQ(t.statusCall.Outcome(), ERROR_OPERATION_ABORTED);
}

// Close and unplug end every pending transfer before they return.
TEST_F(Transfers, CloseAndUnplugEndPendingTransfers) {
    struct Case {
        bool unplug;
        DWORD error;
    };
    for (const Case &c : {Case{false, ERROR_OPERATION_ABORTED}, Case{true, ERROR_DEVICE_REMOVED}}) {
        PlugAndOpen(nullptr);
        ASSERT_EQ(TqsimHoldRequests(camera_, 1), 0);
        TQDEV_DEVICE_STATE state{};
        Triple t;
        IssueRequest(file_, 9, &state, sizeof state, nullptr, t);
        if (c.unplug) {
            ASSERT_EQ(TqsimUnplugCamera(camera_), 0);
        } else {
            CloseHandle(file_);
            file_ = INVALID_HANDLE_VALUE;
        }
        for (Call *call : {&t.dataCall, &t.statusCall}) {
            EXPECT_TRUE(call->Completed()) << c.unplug;
            EXPECT_EQ(call->Outcome(), c.error) << c.unplug;
        }
    }
}

TEST_F(Transfers, ScriptedRefusalsAtIssue) {
    for (DWORD error : {998u, 995u, 1617u, 87u}) {
        ASSERT_EQ(TqsimRefuseCall(camera_, kRequestCodes[2], error), 0);
        TQDEV_CAMERA_INFO info{};
        Triple t;
        IssueRequest(file_, 2, &info, sizeof info, nullptr, t);
        EXPECT_EQ(t.dataCall.Refusal(), error);
        // The status transfer that follows has no data transfer of its own.
        ASSERT_EQ(t.statusCall.Wait(file_), 0u);
        EXPECT_EQ(t.status.word[0], TQDEV_RESULT_SYSTEM_ERROR);
        EXPECT_EQ(Run(2, &info, sizeof info).word[0], 0u) << "only the next call is refused";
    }
}

TEST_F(Transfers, RefusedStatusStillCompletesTheTakenTransfers) {
    ASSERT_EQ(TqsimRefuseCall(camera_, kStatusCode, 998), 0);
    TQDEV_FRAME_INFO info{};
    TQDEV_CAPTURE_SETTINGS settings{};
    Triple t;
    IssueRequest(file_, 6, &info, sizeof info, &settings, t);
    EXPECT_EQ(t.statusCall.Refusal(), 998u);
    EXPECT_EQ(t.settingsCall.Wait(file_), 0u);
    EXPECT_EQ(t.dataCall.Wait(file_), 0u);
    EXPECT_EQ(Pending(camera_), 0u);
}

TEST_F(Transfers, ScriptedStatusFailureResultAndWords) {
    ASSERT_EQ(TqsimFailStatusTransfer(camera_, ERROR_DEVICE_REMOVED), 0);
    TQDEV_CAMERA_INFO info{};
    Triple failed;
    IssueRequest(file_, 2, &info, sizeof info, nullptr, failed);
    EXPECT_EQ(failed.statusCall.Wait(file_), ERROR_DEVICE_REMOVED);
    EXPECT_EQ(failed.dataCall.Wait(file_), 0u);

    ASSERT_EQ(TqsimScriptResult(camera_, 2, 42), 0);
    TQDEV_CAMERA_INFO untouched{};
    EXPECT_EQ(Run(2, &untouched, sizeof untouched).word[0], 42u);
    EXPECT_EQ(untouched.capability_flags, 0u) << "a failed request writes nothing";

    const std::uint32_t words[6] = {11, 12, 13, 14, 15, 16};
    ASSERT_EQ(TqsimScriptStatusWords(camera_, 2, words), 0);
    const TQDEV_STATUS status = Run(2, &info, sizeof info);
    EXPECT_EQ(status.word[0], 0u);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(status.word[i + 1], words[i]);
    }
    EXPECT_EQ(Run(2, &info, sizeof info).word[1], 0u) << "scripts are used once";
}

TEST_F(Transfers, LogRecordsEveryCallWithSettingsCopies) {
    ASSERT_EQ(TqsimClearCalls(camera_), 0);
    TQDEV_FRAME_INFO info{};
    TQDEV_CAPTURE_SETTINGS settings{};
    settings.ticket = 7;
    settings.extra_words[1] = 123;
    Run(6, &info, sizeof info, &settings);
    ASSERT_EQ(TqsimRefuseCall(camera_, kRequestCodes[9], 998), 0);
    TQDEV_DEVICE_STATE state{};
    Triple refused;
    IssueRequest(file_, 9, &state, sizeof state, nullptr, refused);
    ASSERT_EQ(refused.statusCall.Wait(file_), 0u);
    struct Expected {
        DWORD code, in, out, refused, settings;
    };
    const Expected expected[] = {{kSettingsCode, 44, 0, 0, 1},
                                 {kRequestCodes[6], 0, 68, 0, 0},
                                 {kStatusCode, 0, 28, 0, 0},
                                 {kRequestCodes[9], 0, 88, 998, 0},
                                 {kStatusCode, 0, 28, 0, 0}};
    std::uint32_t count = 0;
    ASSERT_EQ(TqsimCallCount(camera_, &count), 0);
    ASSERT_EQ(count, 5u);
    for (std::uint32_t i = 0; i < count; ++i) {
        TQSIM_CALL_RECORD record{};
        ASSERT_EQ(TqsimGetCall(camera_, i, &record), 0);
        EXPECT_EQ(record.code, expected[i].code) << i;
        EXPECT_EQ(record.in_size, expected[i].in) << i;
        EXPECT_EQ(record.out_size, expected[i].out) << i;
        EXPECT_EQ(record.refused_with, expected[i].refused) << i;
        EXPECT_EQ(record.has_settings, expected[i].settings) << i;
    }
    TQSIM_CALL_RECORD first{};
    ASSERT_EQ(TqsimGetCall(camera_, 0, &first), 0);
    EXPECT_EQ(first.settings.ticket, 7u);
    EXPECT_EQ(first.settings.extra_words[1], 123u);
    EXPECT_EQ(TqsimGetCall(camera_, 5, &first), -1);
    ASSERT_EQ(TqsimClearCalls(camera_), 0);
    ASSERT_EQ(TqsimCallCount(camera_, &count), 0);
    EXPECT_EQ(count, 0u);
}

TEST(PlugTimer, PlugsUntilFullThenUnplugsTheOldest) {
    TqsimReset();
    TqsimStartPlugTimer(1, 2);
    char path[128];
    // Ids 0 and 1 are plugged first; id 2 only after id 0 has been unplugged.
    while (TqsimDevicePath(2, path, sizeof path) != 0) {
        std::this_thread::yield();
    }
    TqsimStartPlugTimer(0, 0);
    EXPECT_EQ(TqsimDevicePath(0, path, sizeof path), -1);
    TqsimReset();
}

TEST_F(Transfers, ControlCallsOnAnUnpluggedCameraFail) {
    ASSERT_EQ(TqsimUnplugCamera(camera_), 0);
    std::uint32_t count = 0;
    EXPECT_EQ(TqsimFrameCount(camera_, &count), -1);
    EXPECT_EQ(TqsimUnplugCamera(camera_), -1);
    Call late;
    TQDEV_CAMERA_INFO info{};
    late.Issue(file_, kRequestCodes[2], nullptr, 0, &info, sizeof info);
    EXPECT_EQ(late.Refusal(), ERROR_DEVICE_REMOVED);
}

} // namespace
} // namespace simtest
