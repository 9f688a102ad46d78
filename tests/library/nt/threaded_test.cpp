// Many threads at once: submissions on two cameras while cameras come and go,
// removal of open cameras with requests outstanding, and termination with
// completions still running.
#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "nt_test_support.h"

namespace {

using ThreadedTest = LibraryFixture;

constexpr uint32_t kCameraInfo = 2;

// One synchronous request at a time, as the camera operations make them.
struct SyncRequest {
    SyncEvent event = CreateSyncEvent();
    uint32_t result = 0;
    TQDEV_CAMERA_INFO info{};

    ~SyncRequest() { CloseSyncEvent(event); }

    static void Complete(const TQDEV_STATUS *status, void *, void *context) {
        auto *self = static_cast<SyncRequest *>(context);
        self->result = status->word[0];
        SetSyncEvent(self->event);
    }

    // The submission's result, or the driver's once it has answered.
    uint32_t Run(uint32_t device) {
        uint32_t submitted =
            SubmitRequest(device, kCameraInfo, &info, sizeof(info), Complete, this, nullptr);
        if (submitted != TQDEV_RESULT_OK) {
            return submitted;
        }
        WaitSyncEvent(event);
        return result;
    }
};

// Requests that submit their successor from their completion, as a capture
// chains its steps.
struct Chain {
    std::atomic<int> remaining;
    std::atomic<int> completions{0};
    std::atomic<uint32_t> failures{0};
    SyncEvent done = CreateSyncEvent();
    TQDEV_CAMERA_INFO info{};

    explicit Chain(int length) : remaining(length) {}
    ~Chain() { CloseSyncEvent(done); }

    static void Step(const TQDEV_STATUS *status, void *, void *context) {
        auto *self = static_cast<Chain *>(context);
        self->completions.fetch_add(1);
        if (status->word[0] != TQDEV_RESULT_OK) {
            self->failures.fetch_add(1);
        }
        if (self->remaining.fetch_sub(1) > 1 &&
            SubmitRequest(1, kCameraInfo, &self->info, sizeof(self->info), Step, self, nullptr) ==
                TQDEV_RESULT_OK) {
            return;
        }
        SetSyncEvent(self->done);
    }
};

TEST_F(ThreadedTest, SubmissionsOnTwoCamerasWhileCamerasComeAndGo) {
    InitWithCameras(2);
    ASSERT_EQ(OpenDevice(0), TQDEV_RESULT_OK);
    ASSERT_EQ(OpenDevice(1), TQDEV_RESULT_OK);
    constexpr int kSubmitters = 4;
    constexpr int kRequests = 100;
    std::atomic<int> failures{0};
    std::atomic<bool> submittersDone{false};

    std::vector<std::thread> submitters;
    for (int t = 0; t < kSubmitters; ++t) {
        submitters.emplace_back([t, &failures] {
            SyncRequest request;
            for (int i = 0; i < kRequests; ++i) {
                if (request.Run(static_cast<uint32_t>((t + i) % 2)) != TQDEV_RESULT_OK) {
                    failures.fetch_add(1);
                }
            }
        });
    }
    std::thread chainer([&failures] {
        for (int i = 0; i < 20; ++i) {
            Chain chain(5);
            ASSERT_EQ(SubmitRequest(1, kCameraInfo, &chain.info, sizeof(chain.info), Chain::Step,
                                    &chain, nullptr),
                      TQDEV_RESULT_OK);
            WaitSyncEvent(chain.done);
            EXPECT_EQ(chain.completions.load(), 5);
            failures.fetch_add(static_cast<int>(chain.failures.load()));
        }
    });
    // Cameras plugged, opened, used and unplugged while the others work;
    // the notification thread removes them open.
    std::thread plugger([&submittersDone] {
        while (!submittersDone.load()) {
            uint32_t camera = 0;
            ASSERT_EQ(TqsimPlugCamera(nullptr, &camera), 0);
            TQDEV_DEVICE_ARRAY array{};
            for (;;) {
                ASSERT_EQ(CreateDeviceArray(&array), TQDEV_RESULT_OK);
                if (array.DeviceCount > 2) {
                    break;
                }
                DestroyDeviceArray(&array);
                Sleep(5);
            }
            uint32_t newest = array.Devices[0].DeviceIndex;
            DestroyDeviceArray(&array);
            EXPECT_EQ(OpenDevice(newest), TQDEV_RESULT_OK);
            ASSERT_EQ(TqsimHoldRequests(camera, 1), 0);
            TQDEV_CAMERA_INFO info{};
            // Pending until the unplug ends it; the node goes while it waits.
            SubmitRequest(newest, kCameraInfo, &info, sizeof(info), nullptr, nullptr, nullptr);
            ASSERT_EQ(TqsimUnplugCamera(camera), 0);
            while (ListedIndices().size() > 2) {
                Sleep(5);
            }
        }
    });
    for (std::thread &submitter : submitters) {
        submitter.join();
    }
    chainer.join();
    submittersDone.store(true);
    plugger.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(ListedIndices().size(), 2u);
}

TEST_F(ThreadedTest, RemovedOpenCameraStillCompletesItsRequests) {
    std::vector<uint32_t> cameras = InitWithCameras(1);
    ASSERT_EQ(OpenDevice(0), TQDEV_RESULT_OK);
    ASSERT_EQ(TqsimHoldRequests(cameras[0], 1), 0);
    Completions completions;
    TQDEV_CAMERA_INFO info[3] = {};
    for (TQDEV_CAMERA_INFO &record : info) {
        ASSERT_EQ(SubmitRequest(0, kCameraInfo, &record, sizeof(record), Completions::Function,
                                &completions, nullptr),
                  TQDEV_RESULT_OK);
    }
    ASSERT_EQ(TqsimUnplugCamera(cameras[0]), 0);
    std::vector<Completions::Record> done = completions.WaitFor(3);
    ASSERT_EQ(done.size(), 3u);
    for (const Completions::Record &record : done) {
        EXPECT_EQ(record.status.word[0], TQDEV_RESULT_DEVICE_NOT_FOUND);
    }
    while (!ListedIndices().empty()) {
        Sleep(5);
    }
    EXPECT_EQ(OpenDevice(0), TQDEV_RESULT_DEVICE_NOT_FOUND);
}

TEST_F(ThreadedTest, TerminationReturnsAfterEveryCompletionHasRun) {
    std::vector<uint32_t> cameras = InitWithCameras(2);
    Completions completions;
    TQDEV_CAMERA_INFO info[4] = {};
    for (uint32_t device : {0u, 1u}) {
        ASSERT_EQ(OpenDevice(device), TQDEV_RESULT_OK);
        ASSERT_EQ(TqsimHoldRequests(cameras[device], 1), 0);
        for (uint32_t i = 0; i < 2; ++i) {
            ASSERT_EQ(SubmitRequest(device, kCameraInfo, &info[device * 2 + i], sizeof(info[0]),
                                    Completions::Function, &completions, nullptr),
                      TQDEV_RESULT_OK);
        }
    }
    ASSERT_EQ(TerminateLibrary(), TQDEV_RESULT_OK);
    // Counted without waiting: every completion ran before termination returned.
    EXPECT_EQ(completions.Count(), 4u);
    EXPECT_EQ(TqsimRunningThreadCount(), threads_);
    EXPECT_EQ(TqsimHeapBlockCount(), heapBlocks_);
}

// Initialisations from several threads at once make one library: one mutex,
// each camera listed once; and initialisations and terminations racing each
// other leave nothing behind once the last termination has run.
TEST_F(ThreadedTest, ConcurrentInitialisationAndTermination) {
    PlugCamera();
    PlugCamera();
    constexpr int kThreads = 4;
    for (int round = 0; round < 10; ++round) {
        SCOPED_TRACE(round);
        std::atomic<int> waiting{kThreads};
        std::atomic<int> failures{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&waiting, &failures, t, round] {
                waiting.fetch_sub(1);
                while (waiting.load() > 0) {
                }
                // Odd rounds mix in terminations.
                bool terminate = round % 2 == 1 && t % 2 == 1;
                uint32_t result = terminate ? TerminateLibrary() : InitLibrary();
                if (result != TQDEV_RESULT_OK && !(terminate && result == 18)) {
                    failures.fetch_add(1);
                }
            });
        }
        for (std::thread &thread : threads) {
            thread.join();
        }
        EXPECT_EQ(failures.load(), 0);
        if (InitLibrary() == TQDEV_RESULT_OK) {
            std::vector<uint32_t> listed = ListedIndices();
            std::sort(listed.begin(), listed.end());
            EXPECT_EQ(listed.size(), 2u);
            EXPECT_EQ(std::adjacent_find(listed.begin(), listed.end()), listed.end());
        }
        ASSERT_EQ(TerminateLibrary(), TQDEV_RESULT_OK);
        EXPECT_EQ(TqsimOpenHandleCount(), handles_);
        EXPECT_EQ(TqsimRunningThreadCount(), threads_);
        EXPECT_EQ(TqsimHeapBlockCount(), heapBlocks_);
    }
}

// Calls made before, across and after termination, ordered by events: each
// gets the result that follows from where it stood. A request that waits in
// the driver across termination is ended by the camera's close (7); a device
// array taken before is still released after; every call after sees 18.
TEST_F(ThreadedTest, CallsAroundTerminationSeeTheLibraryOrNone) {
    std::vector<uint32_t> cameras = InitWithCameras(2);
    ASSERT_EQ(OpenDevice(0), TQDEV_RESULT_OK);
    ASSERT_EQ(OpenDevice(1), TQDEV_RESULT_OK);
    HANDLE terminated = CreateEventA(nullptr, TRUE, FALSE, nullptr); // manual reset: all go
    const std::vector<SyncEvent> started = {CreateSyncEvent(), CreateSyncEvent(),
                                            CreateSyncEvent()};
    std::vector<std::thread> callers;
    std::vector<std::vector<uint32_t>> results(3);
    for (uint32_t camera : cameras) {
        ASSERT_EQ(TqsimHoldRequests(camera, 1), 0);
    }
    for (size_t t = 0; t < 3; ++t) {
        callers.emplace_back([&, t] {
            std::vector<uint32_t> &seen = results[t];
            if (t == 0) {
                TQDEV_DEVICE_ARRAY array{};
                seen.push_back(CreateDeviceArray(&array));
                SetSyncEvent(started[t]);
                WaitForSingleObject(terminated, INFINITE);
                seen.push_back(DestroyDeviceArray(&array));
                seen.push_back(CreateDeviceArray(&array));
                DestroyDeviceArray(&array);
            } else {
                SyncRequest request;
                SetSyncEvent(started[t]); // its request is then held by the camera
                seen.push_back(request.Run(static_cast<uint32_t>(t - 1)));
                WaitForSingleObject(terminated, INFINITE);
                seen.push_back(request.Run(static_cast<uint32_t>(t - 1)));
            }
        });
    }
    for (SyncEvent event : started) {
        WaitSyncEvent(event);
    }
    // Both requests held in their cameras before termination starts.
    for (uint32_t camera : cameras) {
        for (int i = 0; i < 10000 && PendingTransfers(camera) < 2; ++i) {
            Sleep(1);
        }
        ASSERT_EQ(PendingTransfers(camera), 2u);
    }
    EXPECT_EQ(TerminateLibrary(), TQDEV_RESULT_OK);
    SetEvent(terminated);
    for (std::thread &caller : callers) {
        caller.join();
    }
    const std::vector<uint32_t> arrays = {TQDEV_RESULT_OK, TQDEV_RESULT_OK,
                                          TQDEV_RESULT_NOT_INITIALIZED};
    const std::vector<uint32_t> requests = {TQDEV_RESULT_CANCELLED, TQDEV_RESULT_NOT_INITIALIZED};
    EXPECT_EQ(results[0], arrays);
    EXPECT_EQ(results[1], requests);
    EXPECT_EQ(results[2], requests);
    for (SyncEvent event : started) {
        CloseSyncEvent(event);
    }
    CloseHandle(terminated);
}

// A callback that calls initialisation or termination, on the notification
// thread or on a completion thread, also while another thread terminates:
// neither call waits for its own thread, each returns at once.
struct Reentry {
    bool terminate;         // the call the callback makes
    bool duringTermination; // made once another thread has begun termination
    std::atomic<bool> entered{false};
    std::atomic<bool> called{false};
    std::atomic<uint32_t> result{~0u};

    void Call() {
        if (entered.exchange(true)) {
            return; // the first callback only
        }
        for (int i = 0; duringTermination && !libraryState.terminating.load() && i < 10000; ++i) {
            Sleep(1);
        }
        result.store(terminate ? TerminateLibrary() : InitLibrary());
        called.store(true);
    }

    static void TQDEV_CALL Notified(uint32_t, uint32_t, uint64_t user) {
        reinterpret_cast<Reentry *>(static_cast<uintptr_t>(user))->Call();
    }
    static void TQDEV_CALL Progressed(uint32_t, uint64_t user) {
        reinterpret_cast<Reentry *>(static_cast<uintptr_t>(user))->Call();
    }
};

bool WaitUntil(const std::atomic<bool> &flag) {
    for (int i = 0; i < 10000 && !flag.load(); ++i) {
        Sleep(1);
    }
    return flag.load();
}

TEST_F(ThreadedTest, CallbacksCallingInitialisationOrTerminationNeverWaitForThemselves) {
    struct Case {
        bool progress; // else the hot-plug notification
        bool terminate;
        bool duringTermination;
        uint32_t result;
    };
    const Case cases[] = {
        {false, false, false, TQDEV_RESULT_OK},
        {false, true, false, TQDEV_RESULT_SYSTEM_ERROR},
        {false, false, true, TQDEV_RESULT_NOT_INITIALIZED},
        {false, true, true, TQDEV_RESULT_NOT_INITIALIZED},
        {true, false, false, TQDEV_RESULT_OK},
        {true, true, false, TQDEV_RESULT_SYSTEM_ERROR},
        {true, false, true, TQDEV_RESULT_NOT_INITIALIZED},
        {true, true, true, TQDEV_RESULT_NOT_INITIALIZED},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.progress ? "progress" : "notification") +
                     (c.terminate ? " terminates" : " initialises") +
                     (c.duringTermination ? " during termination" : ""));
        TqsimReset();
        uint32_t camera = PlugCamera();
        ASSERT_EQ(InitLibrary(), TQDEV_RESULT_OK);
        Reentry probe{c.terminate, c.duringTermination};
        const uint64_t user = reinterpret_cast<uintptr_t>(&probe);
        TQDEV_PROGRESS progress{};
        uint32_t value = 0;
        const uint32_t guard = 0;
        if (c.progress) {
            ASSERT_EQ(OpenDevice(0), TQDEV_RESULT_OK);
            // Held, the request ends only when termination closes the camera.
            ASSERT_EQ(TqsimHoldRequests(camera, c.duringTermination ? 1 : 0), 0);
            progress.Callback = Reentry::Progressed;
            progress.UserData = user;
            ASSERT_EQ(TqdevGetIntegrationTime(0, &value, &guard, &progress), TQDEV_RESULT_OK);
        } else {
            ASSERT_EQ(RegisterNotification(Reentry::Notified, user), TQDEV_RESULT_OK);
            PlugCamera();
            // Termination stops the notification thread: it begins once the
            // callback runs.
            ASSERT_TRUE(WaitUntil(probe.entered));
        }
        if (!c.duringTermination) {
            ASSERT_TRUE(WaitUntil(probe.called));
        }
        EXPECT_EQ(TerminateLibrary(), TQDEV_RESULT_OK);
        EXPECT_TRUE(probe.called.load());
        EXPECT_EQ(probe.result.load(), c.result);
    }
}

} // namespace
