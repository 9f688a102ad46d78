// The capture engine in its four modes: what the driver sees, what the
// caller's record and buffers hold afterwards, and how captures end.
#include <gmock/gmock.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "capture_context.h"
#include "capture_support.h"
#include "image_data.h"
#include "nt_internal.h"
#include "tqdev_lib_internal.h"

namespace {

using ::testing::Each;
using ::testing::ElementsAre;

using CaptureEngine = OpsFixture;

TEST_F(CaptureEngine, RefusedStartsChangeNothingAndAreDeliveredOnTheCallersThread) {
    struct Case {
        std::string name;
        std::function<void(TQDEV_CAPTURE_PARAMS &)> make;
        bool withProgress;
    };
    const Case cases[] = {
        {"mode 4", [](auto &p) { p.mode = 4; }, true},
        {"mode -1", [](auto &p) { p.mode = 0xFFFFFFFF; }, true},
        {"mode 7 waiting", [](auto &p) { p.mode = 7; }, false},
        {"single with flags exactly 0x800", [](auto &p) { p.flags = 0x800; }, true},
        {"sequence with flags exactly 0x800",
         [](auto &p) {
             p.mode = 2;
             p.flags = 0x800;
         },
         false},
        {"averaged 0 frames",
         [](auto &p) {
             p.mode = 1;
             p.frame_count = 0;
         },
         true},
        {"averaged -3 frames",
         [](auto &p) {
             p.mode = 1;
             p.frame_count = -3;
         },
         false},
        {"averaged packed",
         [](auto &p) {
             p.mode = 1;
             p.frame_count = 2;
             p.flags = 0x8;
         },
         true},
        {"live focus waiting", [](auto &p) { p.mode = 3; }, false},
        {"live focus ring 1",
         [](auto &p) {
             p.mode = 3;
             p.ring_size = 1;
         },
         true},
        {"live focus ring 4",
         [](auto &p) {
             p.mode = 3;
             p.ring_size = 4;
         },
         true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TQDEV_CAPTURE_PARAMS params = WindowParams(0, 0);
        c.make(params);
        TQDEV_CAPTURE_PARAMS before = params;
        ProgressLog progress;
        progress.record.Percent = 55;
        EXPECT_EQ(TqdevCaptureImage(0, &params, c.withProgress ? &progress.record : nullptr),
                  TQDEV_RESULT_INVALID_PARAMETER);
        EXPECT_EQ(std::memcmp(&params, &before, sizeof params), 0);
        if (c.withProgress) {
            auto entries = progress.Entries();
            ASSERT_EQ(entries.size(), 1u);
            EXPECT_EQ(entries[0].result, TQDEV_RESULT_INVALID_PARAMETER);
            EXPECT_EQ(entries[0].thread, std::this_thread::get_id());
            EXPECT_EQ(progress.record.Done, 1u);
            EXPECT_EQ(progress.record.Percent, 100u);
            EXPECT_EQ(progress.record.Result, TQDEV_RESULT_INVALID_PARAMETER);
        }
    }
    EXPECT_EQ(IsLiveFocus(0), 0);
    EXPECT_THAT(LoggedRequests(camera()), ::testing::IsEmpty());
}

TEST_F(CaptureEngine, StartFailuresOfTheLibraryAreDeliveredThroughTheRecordToo) {
    TQDEV_CAPTURE_PARAMS params = WindowParams(0, 0);
    Buffer image = MakeBuffer(BufferBytes(params, camera()));
    params.buffer = image.data();
    struct Case {
        std::string name;
        std::function<void()> arrange;
        uint32_t result;
    };
    const Case cases[] = {
        {"no context", [] { TqsimFailCall("HeapAlloc", 1, 8); }, TQDEV_RESULT_OUT_OF_MEMORY},
        {"camera closed", [] { TqdevCloseDevice(0); }, TQDEV_RESULT_DEVICE_NOT_OPEN},
        {"not initialised", [] { TerminateLibrary(); }, TQDEV_RESULT_NOT_INITIALIZED},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        c.arrange();
        ProgressLog progress;
        EXPECT_EQ(TqdevCaptureImage(0, &params, &progress.record), c.result);
        auto entries = progress.Entries();
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].result, c.result);
        EXPECT_EQ(entries[0].thread, std::this_thread::get_id());
        EXPECT_EQ(progress.record.Done, 1u);
    }
}

// The camera's layout unpacked in place takes a workspace for its first rows,
// made once when the descriptor arrives; without it the capture ends with 14
// before any frame is asked for.
TEST_F(CaptureEngine, NoMemoryForTheUnpackWorkspaceEndsTheCapture) {
    TQDEV_CAPTURE_PARAMS params = WindowParams(0, 0);
    Buffer image = MakeBuffer(BufferBytes(params, camera()));
    params.buffer = image.data();
    // The workspace is told apart by its size, which follows from the
    // camera's descriptor; no other block of the capture has that size.
    TQSIM_CAMERA_CONFIG config{};
    ASSERT_EQ(TqsimGetConfig(camera(), &config), 0);
    TQDEV_CAPTURE_SETTINGS settings{};
    ASSERT_EQ(BuildCaptureSettings(&params, &settings), TQDEV_RESULT_OK);
    TQDEV_FRAME_INFO info{};
    ASSERT_EQ(TqsimDeriveFrameInfo(&config, &settings, &info), 0u);
    const uint64_t workspace = InPlaceWorkspaceBytes(info, info.line_count - 1);
    ASSERT_GT(workspace, 0u);
    for (uint64_t other :
         {sizeof(CaptureContext), sizeof(AsyncRequest), sizeof(CompletionThread)}) {
        ASSERT_NE(workspace, other);
    }
    ProgressLog progress;
    ASSERT_EQ(TqsimFailAllocationOfSize(workspace, 1), 0);
    ASSERT_EQ(TqdevCaptureImage(0, &params, &progress.record), TQDEV_RESULT_OK);
    std::vector<ProgressLog::Entry> entries = progress.WaitFor(1);
    TqsimClearFaults();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].result, TQDEV_RESULT_OUT_OF_MEMORY);
    EXPECT_EQ(RequestNumbers(camera()), std::vector<uint32_t>{6});
    // The next capture has the memory and unpacks exactly.
    TqsimClearCalls(camera());
    ASSERT_EQ(TqdevCaptureImage(0, &params, nullptr), TQDEV_RESULT_OK);
    EXPECT_TRUE(
        MatchesFormula(camera(), LastFrameSettings(camera()), params.status6, 1, image.data()));
}

// Frames unpacked where they arrived take nothing per frame, whatever the
// window, flip, mirror and binning: a capture allocates its context and, when
// it needs one, the unpack workspace, once; each request its record and its
// completion thread's entry. A sequence's three frames count as one.
TEST_F(CaptureEngine, FramesUnpackedInPlaceAllocateNothing) {
    struct Window {
        uint32_t left, top, width, height;
    };
    const Window windows[] = {{8, 4, 128, 24}, {0, 0, 192, 41}, {37, 3, 64, 17}, {5, 2, 100, 9}};
    const uint32_t turns[] = {0, TQSIM_READOUT_MIRROR, TQSIM_READOUT_FLIP,
                              TQSIM_READOUT_MIRROR | TQSIM_READOUT_FLIP};
    TQSIM_CAMERA_CONFIG config{};
    ASSERT_EQ(TqsimGetConfig(camera(), &config), 0);
    // The camera delivers in place what fits the image: vertical bins, as
    // horizontal ones shrink the image below the packed stream.
    const std::pair<uint32_t, uint32_t> bins[] = {{1, 1}, {1, 2}, {1, 3}, {1, 4}, {2, 1}, {4, 4}};
    int inPlace = 0, binnedInPlace = 0;
    for (const Window &w : windows) {
        for (uint32_t turn : turns) {
            for (const auto &[hb, vb] : bins) {
                for (uint32_t mode : {TQDEV_CAPTURE_SINGLE, TQDEV_CAPTURE_SEQUENCE}) {
                    TQDEV_CAPTURE_PARAMS params = WindowParams(
                        mode, 0, w.width, w.height, turn | TQSIM_READOUT_BINNING(hb, vb));
                    params.setup_words[0] = TQSIM_SETUP_ORIGIN(w.left, w.top);
                    TQDEV_CAPTURE_SETTINGS settings{};
                    ASSERT_EQ(BuildCaptureSettings(&params, &settings), TQDEV_RESULT_OK);
                    TQDEV_FRAME_INFO info{};
                    if (TqsimDeriveFrameInfo(&config, &settings, &info) != 0 ||
                        (info.flags & TQDEV_FRAME_PACKED) == 0) {
                        continue; // an impossible window, or the camera unpacks it
                    }
                    SCOPED_TRACE(testing::Message()
                                 << "window " << w.left << "," << w.top << " " << w.width << "x"
                                 << w.height << " readout 0x" << std::hex << settings.extra_words[0]
                                 << " mode " << mode);
                    ++inPlace;
                    binnedInPlace += vb > 1;
                    const uint32_t bytes = BufferBytes(params, camera());
                    Buffer buffers[3] = {MakeBuffer(bytes), MakeBuffer(bytes), MakeBuffer(bytes)};
                    params.buffer = buffers[0].data();
                    for (int i = 0; i < 3; ++i) {
                        params.sequence_buffers[i] = buffers[i].data();
                    }
                    TqsimClearCalls(camera());
                    TqsimStartAllocationCount();
                    ASSERT_EQ(TqdevCaptureImage(0, &params, nullptr), TQDEV_RESULT_OK);
                    const uint32_t allocations = TqsimAllocationCount();
                    const size_t requests = LoggedRequests(camera()).size();
                    const uint32_t once =
                        1 + (InPlaceWorkspaceBytes(info, info.line_count - 1) != 0 ? 1 : 0);
                    EXPECT_EQ(allocations, once + 2 * requests);
                    EXPECT_TRUE(MatchesFormula(camera(), LastFrameSettings(camera()),
                                               params.status6, 1,
                                               buffers[mode == 0 ? 0 : 2].data()));
                }
            }
        }
    }
    EXPECT_GE(inPlace, 60);
    EXPECT_GE(binnedInPlace, 32);
}

TEST_F(CaptureEngine, SingleCaptureReturnsTheFrameRequestsResultAndItsTicket) {
    TQDEV_CAPTURE_PARAMS params = WindowParams(0, 0);
    Buffer image = MakeBuffer(BufferBytes(params, camera()));
    params.buffer = image.data();
    ASSERT_EQ(TqdevCaptureImage(0, &params, nullptr), TQDEV_RESULT_OK);
    EXPECT_EQ(params.ticket, 0u);
    TqsimClearCalls(camera());
    TqsimScriptResult(camera(), 0, 0x00ABCDEF);
    EXPECT_EQ(TqdevCaptureImage(0, &params, nullptr), 0x00ABCDEFu);
    EXPECT_EQ(params.ticket, 1u);
    std::vector<LoggedRequest> requests = LoggedRequests(camera());
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].request, 6u);
    EXPECT_EQ(requests[1].request, 0u);
    for (const LoggedRequest &request : requests) {
        ASSERT_TRUE(request.settings.has_value());
        EXPECT_EQ(request.settings->ticket, 1u);
    }
}

// DeviceIoControl fails at each transfer of a waiting single capture (frame
// information, then the frame: settings, data, status each). The capture
// fails, nothing stays with the driver, and the next capture is exact.
TEST_F(CaptureEngine, RefusedDriverCallAtEachPositionLeavesTheCameraInStep) {
    constexpr uint32_t kNoAccess = 998;
    TQDEV_CAPTURE_PARAMS params = WindowParams(0, 0);
    Buffer image = MakeBuffer(BufferBytes(params, camera()));
    params.buffer = image.data();
    for (uint32_t nth = 1; nth <= 6; ++nth) {
        SCOPED_TRACE(nth);
        ASSERT_EQ(TqsimFailCall("DeviceIoControl", nth, kNoAccess), 0);
        EXPECT_EQ(TqdevCaptureImage(0, &params, nullptr), TQDEV_RESULT_INVALID_BUFFER);
        TqsimClearFaults();
        TqsimClearCalls(camera());
        std::fill(image.begin(), image.end(), 0xEEEE);
        ASSERT_EQ(TqdevCaptureImage(0, &params, nullptr), TQDEV_RESULT_OK);
        EXPECT_TRUE(
            MatchesFormula(camera(), LastFrameSettings(camera()), params.status6, 1, image.data()));
        uint32_t pending = ~0u;
        EXPECT_EQ(TqsimPendingTransfers(camera(), &pending), 0);
        EXPECT_EQ(pending, 0u);
    }
}

// A camera whose descriptor promises a larger image than the buffer the
// library sized: the frame is never unpacked, and the capture ends with 4.
TEST_F(CaptureEngine, LyingDescriptorEndsTheCaptureBeforeItsFrame) {
    TQDEV_CAPTURE_PARAMS params = WindowParams(0, 0);
    Buffer image = MakeBuffer(BufferBytes(params, camera()));
    params.buffer = image.data();
    TQSIM_CAMERA_CONFIG config{};
    ASSERT_EQ(TqsimGetConfig(camera(), &config), 0);
    TQDEV_CAPTURE_SETTINGS settings{};
    BuildCaptureSettings(&params, &settings);
    TQDEV_FRAME_INFO info{};
    ASSERT_EQ(TqsimDeriveFrameInfo(&config, &settings, &info), 0u);
    info.flags |= TQDEV_FRAME_PACKED;
    info.height += 8; // rows the buffer does not have
    info.line_count += 8;
    info.packed_size += 8 * info.line_width * 3 / 2;
    ASSERT_EQ(TqsimScriptReply(camera(), 6, &info, sizeof info), 0);
    TqdevEnableDebugPrint(1);
    WaitForThreads(idleThreads_);
    CapturedOutput output;
    EXPECT_EQ(TqdevCaptureImage(0, &params, nullptr), TQDEV_RESULT_SYSTEM_ERROR);
    WaitForThreads(idleThreads_);
    output.Finish();
    TqdevEnableDebugPrint(0);
    EXPECT_EQ(RequestNumbers(camera()), std::vector<uint32_t>{6});
    EXPECT_THAT(image, Each(0xEEEE));
    // The completion thread's last line may come after the caller's return.
    std::vector<std::string> messages = Messages(output.out);
    std::erase(messages, "Dll: Terminating thread");
    EXPECT_THAT(messages,
                ElementsAre("TqdevCaptureImageCallback(result 0)", "  state: STATE_FRAME_INFO",
                            "Inconsistent frame info (image size 6144, packed size 6888)"))
        << output.out;
}

TEST_F(CaptureEngine, SingleFramesMatchTheFormulaInEveryDelivery) {
    struct Case {
        std::string name;
        uint32_t flags, width, height, readout, deliverUnpacked;
        uint32_t status5; // 1: the camera packed the frame in place
    };
    const Case cases[] = {
        {"packed in place", 0, 128, 24, 0, 0, 1},
        {"packed in place, wide", 0, 1000, 40, 0, 0, 1},
        {"unpacked by the camera", 0, 128, 24, 0, 1, 0},
        // Binned, the stream outgrows the image, so the camera unpacks.
        {"binned, mirrored, flipped", 0, 128, 24,
         TQSIM_READOUT_BINNING(2, 2) | TQSIM_READOUT_MIRROR | TQSIM_READOUT_FLIP, 0, 0},
        {"mirrored in place", 0, 128, 24, TQSIM_READOUT_MIRROR | TQSIM_READOUT_FLIP, 0, 1},
        {"packed output", 0x8, 128, 24, 0, 0, 0},
        {"packed output with the live-focus bit", 0x808, 128, 24, 0, 0, 0},
        {"packed output, sub-sampled", 0x8, 256, 16,
         TQSIM_READOUT_BINNING(4, 1) | TQSIM_READOUT_SUBSAMPLE, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TqsimSetDelivery(camera(), c.deliverUnpacked);
        TqsimClearCalls(camera());
        TQDEV_CAPTURE_PARAMS params = WindowParams(0, c.flags, c.width, c.height, c.readout);
        Buffer image = MakeBuffer(BufferBytes(params, camera()));
        params.buffer = image.data();
        ASSERT_EQ(TqdevCaptureImage(0, &params, nullptr), TQDEV_RESULT_OK);
        TQDEV_CAPTURE_SETTINGS settings = LastFrameSettings(camera());
        uint32_t frame = params.status6;
        if ((c.flags & 0x8) != 0) {
            EXPECT_TRUE(ContainerMatchesFormula(camera(), settings, frame, image.data()));
        } else {
            EXPECT_TRUE(MatchesFormula(camera(), settings, frame, 1, image.data()));
        }
        // Status words of the frame completion land in the record.
        EXPECT_EQ(params.setup_words[3], params.ticket);
        EXPECT_EQ(params.setup_words[4], 0u); // request number served
        EXPECT_EQ(params.status5, c.status5);
    }
}

// The rounded mean of rounded row means of an image.
int32_t MeanLevel(const uint16_t *pixels, Shape shape) {
    int32_t total = 0;
    for (uint32_t r = 0; r < shape.rows; ++r) {
        int32_t row = 0;
        for (uint32_t c = 0; c < shape.columns; ++c) {
            row += pixels[r * shape.columns + c];
        }
        total +=
            (row + static_cast<int32_t>(shape.columns) / 2) / static_cast<int32_t>(shape.columns);
    }
    return (total + static_cast<int32_t>(shape.rows) / 2) / static_cast<int32_t>(shape.rows);
}

TEST_F(CaptureEngine, AveragedCaptureReportsEachFrameAndAveragesTheFormula) {
    lastCompletedTicket.store(5);
    TQDEV_CAPTURE_PARAMS params = WindowParams(1, 0);
    Buffer image = MakeBuffer(BufferBytes(params, camera()));
    params.buffer = image.data();
    params.frame_count = 3;
    uint32_t firstFrame = 0;
    TqsimFrameCount(camera(), &firstFrame);
    ProgressLog progress;
    TqsimHoldRequests(camera(), 1);
    ASSERT_EQ(TqdevCaptureImage(0, &params, &progress.record), TQDEV_RESULT_OK);
    // Clearing, the descriptor, then three frames, each served on release.
    std::vector<uint32_t> percents;
    for (size_t issued = 1; issued <= 5; ++issued) {
        ASSERT_TRUE(WaitForStatusTransfers(camera(), issued));
        percents.push_back(progress.Percent());
        TqsimReleaseRequests(camera());
    }
    auto entries = progress.WaitFor(1);
    TqsimHoldRequests(camera(), 0);
    EXPECT_THAT(percents, ElementsAre(0, 0, 0, 33, 66));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].result, TQDEV_RESULT_OK);
    EXPECT_EQ(entries[0].percent, 100u);
    EXPECT_EQ(entries[0].done, 1u);

    std::vector<LoggedRequest> requests = LoggedRequests(camera());
    ASSERT_EQ(requests.size(), 5u);
    EXPECT_EQ(requests[0].request, 10u);
    EXPECT_FALSE(requests[0].settings.has_value());
    for (size_t i = 1; i < requests.size(); ++i) {
        EXPECT_EQ(requests[i].request, i == 1 ? 6u : 0u);
        ASSERT_TRUE(requests[i].settings.has_value());
        EXPECT_EQ(requests[i].settings->flags, 0x8u);
        EXPECT_EQ(requests[i].settings->ticket, 0u);
    }
    TQDEV_CAPTURE_SETTINGS settings = LastFrameSettings(camera());
    settings.flags = 0; // the caller's image: the same pixels as unpacked delivery
    EXPECT_TRUE(MatchesFormula(camera(), settings, firstFrame, 3, image.data()));
    EXPECT_EQ(params.mean_level, MeanLevel(image.data(), ImageShape(camera(), settings)));
    EXPECT_EQ(lastCompletedTicket.load(), 0);
}

TEST_F(CaptureEngine, AveragedCaptureWithTheCallersSumsAndWithAFailedFrame) {
    TQDEV_CAPTURE_PARAMS params = WindowParams(1, 0);
    Buffer image = MakeBuffer(BufferBytes(params, camera()));
    std::vector<uint32_t> sums(image.size(), 0xFFFFFFFF); // overwritten by the first frame
    params.buffer = image.data();
    params.sum_buffer = sums.data();
    params.frame_count = 4;
    uint32_t firstFrame = 0;
    TqsimFrameCount(camera(), &firstFrame);
    ASSERT_EQ(TqdevCaptureImage(0, &params, nullptr), TQDEV_RESULT_OK);
    TQDEV_CAPTURE_SETTINGS settings = LastFrameSettings(camera());
    settings.flags = 0;
    EXPECT_TRUE(MatchesFormula(camera(), settings, firstFrame, 4, image.data()));

    params.sum_buffer = nullptr;
    params.status5 = 9;
    TqsimScriptResult(camera(), 0, TQDEV_RESULT_INVALID_BUFFER);
    EXPECT_EQ(TqdevCaptureImage(0, &params, nullptr), TQDEV_RESULT_INVALID_BUFFER);
    EXPECT_EQ(params.status5, 0u);
}

TEST_F(CaptureEngine, SequenceFillsAllThreeBuffersInEitherOutput) {
    for (uint32_t flags : {0u, 0x8u}) {
        SCOPED_TRACE(flags);
        TqsimClearCalls(camera());
        TQDEV_CAPTURE_PARAMS params = WindowParams(2, flags);
        uint32_t bytes = BufferBytes(params, camera());
        Buffer buffers[3] = {MakeBuffer(bytes), MakeBuffer(bytes), MakeBuffer(bytes)};
        for (int i = 0; i < 3; ++i) {
            params.sequence_buffers[i] = buffers[i].data();
        }
        TqsimClearCalls(camera());
        ASSERT_EQ(TqdevCaptureImage(0, &params, nullptr), TQDEV_RESULT_OK);
        EXPECT_THAT(RequestNumbers(camera()), ElementsAre(21, 6, 0, 0, 0));
        TQDEV_CAPTURE_SETTINGS settings = LastFrameSettings(camera());
        EXPECT_EQ(settings.ticket, params.ticket);
        uint32_t lastFrame = params.status6;
        for (uint32_t i = 0; i < 3; ++i) {
            uint32_t frame = lastFrame - 2 + i;
            if (flags == 0x8) {
                EXPECT_TRUE(ContainerMatchesFormula(camera(), settings, frame, buffers[i].data()));
            } else {
                EXPECT_TRUE(MatchesFormula(camera(), settings, frame, 1, buffers[i].data()));
            }
        }
    }
}

TEST_F(CaptureEngine, CalibrationStampIsWrittenIntoASingleFrame) {
    TQDEV_CAPTURE_PARAMS params = WindowParams(0, TQDEV_FLAG_CALIBRATION_STAMP);
    Buffer image = MakeBuffer(BufferBytes(params, camera()));
    params.buffer = image.data();
    TqsimSetTiming(camera(), 0, 1234);
    ASSERT_EQ(TqdevCaptureImage(0, &params, nullptr), TQDEV_RESULT_OK);
    uint32_t frame = params.status6;
    EXPECT_THAT(std::vector<uint16_t>(image.begin() + 128, image.begin() + 136),
                ElementsAre(0x6D, 0x72, 0x6F, 0x6E, frame & 0xFF, (frame >> 8) & 0xFF,
                            (frame >> 16) & 0xFF, frame >> 24));
    EXPECT_THAT(std::vector<uint16_t>(image.begin() + 140, image.begin() + 144),
                ElementsAre(1234 & 0xFF, 1234 >> 8, 0, 0)); // the integration time
    EXPECT_THAT(std::vector<uint16_t>(image.begin() + 144, image.begin() + 160), Each(0xFF));
    EXPECT_TRUE(
        MatchesFormula(camera(), LastFrameSettings(camera()), frame, 1, image.data(), 128, 160));
}

struct LiveFocusRun {
    TQDEV_CAPTURE_PARAMS params;
    Buffer buffers[3];
    ProgressLog progress;
};

TEST_F(CaptureEngine, LiveFocusCyclesTheRingUntilCancelled) {
    struct Case {
        int32_t ringSize, usedSize;
        uint32_t flags;
    };
    for (Case c : {Case{3, 3, 0}, Case{0, 2, 0}, Case{2, 2, 0x8}}) {
        SCOPED_TRACE(::testing::Message() << "ring " << c.ringSize << " flags " << c.flags);
        TqsimClearCalls(camera());
        LiveFocusRun run;
        run.params = WindowParams(3, c.flags);
        run.params.ring_size = c.ringSize;
        uint32_t bytes = BufferBytes(run.params, camera());
        for (int i = 0; i < 3; ++i) {
            run.buffers[i] = MakeBuffer(bytes);
            run.params.ring_buffers[i] = run.buffers[i].data();
        }
        run.progress.params = &run.params;
        ASSERT_EQ(TqdevCaptureImage(0, &run.params, &run.progress.record), TQDEV_RESULT_OK);
        run.progress.WaitFor(5);
        ASSERT_EQ(TqdevCancelLiveFocus(0), TQDEV_RESULT_OK);
        auto entries = run.progress.WaitForFinal();
        ASSERT_GE(entries.size(), 5u);
        EXPECT_EQ(run.params.ring_size, c.usedSize);
        EXPECT_EQ(run.params.flags, c.flags | 0x800);
        for (size_t i = 0; i < entries.size(); ++i) {
            SCOPED_TRACE(i);
            bool last = i + 1 == entries.size();
            EXPECT_EQ(entries[i].result, last ? TQDEV_RESULT_LIVE_FOCUS_STOPPED : 0u);
            EXPECT_EQ(entries[i].ringIndex, i % static_cast<size_t>(c.usedSize));
            EXPECT_EQ(entries[i].done, 1u);
        }
        // The stopped frame is still reported, and nothing follows it.
        std::vector<uint32_t> numbers = RequestNumbers(camera());
        ASSERT_EQ(numbers.size(), entries.size() + 1);
        EXPECT_EQ(numbers[0], 6u);
        EXPECT_EQ(std::count(numbers.begin(), numbers.end(), 0u),
                  static_cast<long>(entries.size()));
        const void *lastFrame = run.buffers[entries.back().ringIndex].data();
        TQDEV_CAPTURE_SETTINGS settings = LastFrameSettings(camera());
        if (c.flags == 0x8) {
            EXPECT_TRUE(
                ContainerMatchesFormula(camera(), settings, entries.back().status6, lastFrame));
        } else {
            EXPECT_TRUE(MatchesFormula(camera(), settings, entries.back().status6, 1,
                                       static_cast<const uint16_t *>(lastFrame)));
        }
        EXPECT_EQ(IsLiveFocus(0), 0);
    }
}

TEST_F(CaptureEngine, LiveFocusEndedByAFailureLeavesTheFlagSet) {
    LiveFocusRun run;
    run.params = WindowParams(3, 0);
    run.params.ring_index = 0xABC;
    Buffer buffer = MakeBuffer(BufferBytes(run.params, camera()));
    run.params.ring_buffers[0] = buffer.data();
    run.params.ring_buffers[1] = buffer.data();
    TqsimHoldRequests(camera(), 1);
    ASSERT_EQ(TqdevCaptureImage(0, &run.params, &run.progress.record), TQDEV_RESULT_OK);
    ASSERT_TRUE(WaitForStatusTransfers(camera(), 1));
    ASSERT_EQ(TqdevCancelIo(0), TQDEV_RESULT_OK);
    auto entries = run.progress.WaitForFinal();
    TqsimHoldRequests(camera(), 0);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].result, TQDEV_RESULT_CANCELLED);
    EXPECT_EQ(run.params.ring_index, 0xABCu); // no frame arrived to name
    EXPECT_NE(IsLiveFocus(0), 0);
    EXPECT_EQ(TqdevCancelLiveFocus(0), TQDEV_RESULT_OK);
}

// The driver has no cancel narrower than the handle's: the clean-up after
// another thread's refused transfer ends this capture too, with 7, and
// nothing of it reaches the caller's buffer afterwards.
TEST_F(CaptureEngine, AnotherThreadsRefusedTransferEndsTheCaptureUnwritten) {
    TQDEV_CAPTURE_PARAMS params = WindowParams(0, 0);
    Buffer image = MakeBuffer(BufferBytes(params, camera()));
    params.buffer = image.data();
    TqsimSetTiming(camera(), 60'000'000, 0); // the frame is a minute away
    ProgressLog progress;
    ASSERT_EQ(TqdevCaptureImage(0, &params, &progress.record), TQDEV_RESULT_OK);
    ASSERT_TRUE(WaitForStatusTransfers(camera(), 2)); // descriptor, then the frame
    ASSERT_EQ(TqsimRefuseCall(camera(), kStatusCode, ERROR_NOACCESS), 0);
    std::thread other([] {
        TQDEV_CAMERA_INFO info{};
        EXPECT_EQ(TqdevCameraInfo(0, &info), TQDEV_RESULT_INVALID_BUFFER);
    });
    other.join();
    auto entries = progress.WaitForFinal();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].result, TQDEV_RESULT_CANCELLED);
    ASSERT_EQ(TerminateLibrary(), TQDEV_RESULT_OK);
    EXPECT_THAT(image, Each(0xEEEE));
}

// Descriptors the driver might send, held against what each capture would
// unpack or write; a descriptor that does not fit ends the capture with 4.
TEST(CaptureFrameInfo, OnlyDescriptorsThatFitTheBuffersAreUsed) {
    TQSIM_CAMERA_CONFIG config;
    TqsimDefaultCamera(&config);
    auto describe = [&](uint32_t readout) {
        TQDEV_CAPTURE_PARAMS params = WindowParams(0, 0, 128, 24, readout);
        TQDEV_CAPTURE_SETTINGS settings{};
        BuildCaptureSettings(&params, &settings);
        TQDEV_FRAME_INFO info{};
        EXPECT_EQ(TqsimDeriveFrameInfo(&config, &settings, &info), 0u);
        return info;
    };
    const TQDEV_FRAME_INFO plain = describe(0);
    // Binned, the packed stream is larger than the unpacked image.
    const TQDEV_FRAME_INFO binned = describe(TQSIM_READOUT_BINNING(2, 2));
    ASSERT_GT(binned.packed_size, binned.image_size);
    struct Case {
        std::string name;
        uint32_t mode, callerFlags;
        TQDEV_FRAME_INFO info;
        std::function<void(TQDEV_FRAME_INFO &)> spoil;
        bool fits;
    };
    const Case cases[] = {
        {"in place", 0, 0, plain, [](auto &i) { i.flags |= TQDEV_FRAME_PACKED; }, true},
        {"delivered unpacked", 0, 0, binned, [](auto &) {}, true},
        {"in place, stream beyond the image", 0, 0, binned,
         [](auto &i) { i.flags |= TQDEV_FRAME_PACKED; }, false},
        {"in place, image_size too small", 2, 0, plain,
         [](auto &i) {
             i.flags |= TQDEV_FRAME_PACKED;
             i.image_size -= 2;
         },
         false},
        {"in place, window beyond the stream", 3, 0, plain,
         [](auto &i) {
             i.flags |= TQDEV_FRAME_PACKED;
             i.top = i.line_count;
         },
         false},
        {"averaged", 1, 0, plain, [](auto &) {}, true},
        {"averaged, stream beyond the caller's image", 1, 0, binned, [](auto &) {}, false},
        {"averaged, packed_size short of the stream", 1, 0, plain,
         [](auto &i) { i.packed_size -= 12; }, false},
        {"packed output is never unpacked here", 0, 0x8, binned,
         [](auto &i) {
             i.flags |= TQDEV_FRAME_PACKED;
             i.top = -5;
         },
         true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        CaptureContext capture{};
        capture.settings.mode = c.mode;
        capture.settings.flags = c.callerFlags | (c.mode == 1 ? 0x8u : 0u);
        capture.callerFlags = c.callerFlags;
        capture.frameInfo = c.info;
        c.spoil(capture.frameInfo);
        bool packedDelivery = (capture.settings.flags & 0x8) != 0;
        capture.transfer_size =
            packedDelivery ? capture.frameInfo.packed_size : capture.frameInfo.image_size;
        EXPECT_EQ(FrameInfoFits(capture), c.fits);
    }
}

} // namespace
