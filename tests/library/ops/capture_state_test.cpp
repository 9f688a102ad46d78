// Capture state by ticket, and the integration time in both forms.
#include <gmock/gmock.h>

#include <algorithm>
#include <string>
#include <thread>
#include <utility>

#include "capture_support.h"
#include "tqdev_lib_internal.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using CaptureState = OpsFixture;

int32_t StateOf(int32_t ticket) {
    int32_t state = -99;
    EXPECT_EQ(TqdevGetCaptureState(0, ticket, &state), TQDEV_RESULT_OK) << "ticket " << ticket;
    return state;
}

TEST_F(CaptureState, TicketsNotYetIssuedAreRefusedAndMinusOneIsComplete) {
    lastCompletedTicket.store(-1);
    int32_t state = 42;
    EXPECT_EQ(TqdevGetCaptureState(0, 0, &state), TQDEV_RESULT_INVALID_PARAMETER);
    EXPECT_EQ(state, 42);
    EXPECT_EQ(StateOf(-1), TQDEV_CAPTURE_STATE_COMPLETE);
    EXPECT_EQ(TqdevGetCaptureState(0, 0, nullptr), TQDEV_RESULT_INVALID_PARAMETER);

    TqsimScriptResult(camera(), 1, 0x00C0FFEE);
    EXPECT_EQ(TqdevGetCaptureState(0, -1, &state), 0x00C0FFEEu);
    EXPECT_EQ(state, 42);
    EXPECT_THAT(RequestNumbers(camera()), ElementsAre(1, 1, 1)); // the null output sends nothing
}

// A sequence capture (ticket 0) homes for one frame period; a single capture
// (ticket 1) started meanwhile has its descriptor served first, and its frame
// before the sequence has ended. Polling both tickets sees every state.
TEST_F(CaptureState, FollowsTwoCapturesOfAPacedCameraFromQueuedToComplete) {
    lastCompletedTicket.store(-1);
    TqsimSetTiming(camera(), 300000, 150000); // exposing 150 ms, then reading out
    TQDEV_CAPTURE_PARAMS sequence = WindowParams(2, 0);
    uint32_t bytes = BufferBytes(sequence, camera());
    Buffer frames[3] = {MakeBuffer(bytes), MakeBuffer(bytes), MakeBuffer(bytes)};
    for (int i = 0; i < 3; ++i) {
        sequence.sequence_buffers[i] = frames[i].data();
    }
    TQDEV_CAPTURE_PARAMS single = WindowParams(0, 0);
    Buffer image = MakeBuffer(bytes);
    single.buffer = image.data();
    ProgressLog sequenceDone, singleDone;
    ASSERT_EQ(TqdevCaptureImage(0, &sequence, &sequenceDone.record), TQDEV_RESULT_OK);
    ASSERT_EQ(TqdevCaptureImage(0, &single, &singleDone.record), TQDEV_RESULT_OK);
    ASSERT_EQ(sequence.ticket, 0u);
    ASSERT_EQ(single.ticket, 1u);

    std::vector<std::pair<int32_t, int32_t>> seen;
    for (int i = 0; i < 5000; ++i) {
        std::pair<int32_t, int32_t> states{StateOf(0), StateOf(1)};
        if (seen.empty() || seen.back() != states) {
            seen.push_back(states);
        }
        if (states == std::pair{5, 5}) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    auto saw = [&](auto match) { return std::any_of(seen.begin(), seen.end(), match); };
    auto driverWord = [](int32_t state) {
        return state == TQSIM_STATE_EXPOSING || state == TQSIM_STATE_READING_OUT;
    };
    std::string trace;
    for (auto [a, b] : seen) {
        // Appended piece by piece: "(" + std::string draws a false
        // -Wrestrict from GCC 12 at -O3.
        trace.append("(").append(std::to_string(a)).append(",").append(std::to_string(b));
        trace.append(") ");
    }
    SCOPED_TRACE(trace);
    // Both wait while the sequence homes.
    EXPECT_TRUE(saw([](auto s) { return s == std::pair{0, 0}; }));
    // The driver works on ticket 1 while ticket 0 is still unfinished.
    EXPECT_TRUE(saw([&](auto s) { return s.first == 4 && driverWord(s.second); }));
    // Once ticket 1 has completed, ticket 0 is not above the last completed
    // ticket either, even though its frames may still come.
    EXPECT_EQ(seen.back(), (std::pair{5, 5}));
    EXPECT_EQ(sequenceDone.WaitFor(1).size(), 1u);
    EXPECT_EQ(singleDone.WaitFor(1).size(), 1u);
}

using IntegrationTime = OpsFixture;

TEST_F(IntegrationTime, WaitingReadsTheDriversValueWithOneRequest) {
    TqsimSetTiming(camera(), 0, 4321);
    uint32_t value = 0;
    const uint32_t guard = 0;
    EXPECT_EQ(TqdevGetIntegrationTime(0, &value, &guard, nullptr), TQDEV_RESULT_OK);
    EXPECT_EQ(value, 4321u);
    std::vector<LoggedRequest> requests = LoggedRequests(camera());
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].request, 8u);
    EXPECT_EQ(requests[0].size, 0u);

    // Word 2 is stored whatever the driver's result.
    TqsimScriptResult(camera(), 8, 0x00000BAD);
    EXPECT_EQ(TqdevGetIntegrationTime(0, &value, &guard, nullptr), 0x00000BADu);
    EXPECT_EQ(value, 0u);
}

TEST_F(IntegrationTime, ProgressCallbackFindsTheValueStored) {
    TqsimSetTiming(camera(), 0, 999);
    uint32_t value = 0;
    const uint32_t guard = 0;
    ProgressLog progress;
    progress.watched = &value;
    ASSERT_EQ(TqdevGetIntegrationTime(0, &value, &guard, &progress.record), TQDEV_RESULT_OK);
    auto entries = progress.WaitFor(1);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].result, TQDEV_RESULT_OK);
    EXPECT_EQ(entries[0].value, 999u);
    EXPECT_EQ(entries[0].done, 1u);
}

TEST_F(IntegrationTime, BadArgumentsAreRefusedWithoutARequest) {
    uint32_t value = 5;
    const uint32_t zero = 0, one = 1;
    EXPECT_EQ(TqdevGetIntegrationTime(0, &value, &one, nullptr), TQDEV_RESULT_INVALID_PARAMETER);
    EXPECT_EQ(TqdevGetIntegrationTime(0, nullptr, &zero, nullptr), TQDEV_RESULT_INVALID_PARAMETER);
    EXPECT_EQ(TqdevGetIntegrationTime(0, &value, nullptr, nullptr), TQDEV_RESULT_INVALID_PARAMETER);
    ProgressLog progress;
    EXPECT_EQ(TqdevGetIntegrationTime(0, &value, &one, &progress.record),
              TQDEV_RESULT_INVALID_PARAMETER);
    auto entries = progress.Entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].result, TQDEV_RESULT_INVALID_PARAMETER);
    EXPECT_EQ(entries[0].thread, std::this_thread::get_id());
    EXPECT_EQ(value, 5u);
    EXPECT_THAT(LoggedRequests(camera()), IsEmpty());

    TqdevCloseDevice(0);
    ProgressLog closed;
    EXPECT_EQ(TqdevGetIntegrationTime(0, &value, &zero, &closed.record),
              TQDEV_RESULT_DEVICE_NOT_OPEN);
    EXPECT_EQ(closed.Entries().size(), 1u);
}

} // namespace
