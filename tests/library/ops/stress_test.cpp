// Two cameras, captures of every mode from several threads, cancels and an
// unplug in the middle: every capture ends, every progress record is
// completed as promised, and nothing is left behind.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <list>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "capture_support.h"

namespace {

using Clock = std::chrono::steady_clock;

// What the capture threads found wrong; checked once everything has ended.
struct Findings {
    std::atomic<int> lostCompletions{0};
    std::atomic<int> badCompletionCounts{0};
    std::atomic<int> overlappingReports{0};
    std::atomic<int> captures{0};
};

class CaptureStress : public OpsFixture {
  protected:
    void SetUp() override {
        LibraryFixture::SetUp();
        OpenCameras(2);
    }
};

struct CaptureJob {
    TQDEV_CAPTURE_PARAMS params{};
    Buffer buffers[3];
    ProgressLog progress;
    bool live = false;
};

// Starts one capture of `mode` on device; returns null when it could not
// start (the start result then went through the record already).
std::unique_ptr<CaptureJob> StartCapture(uint32_t device, uint32_t mode, uint32_t flags, bool wait,
                                         Findings &findings) {
    auto job = std::make_unique<CaptureJob>();
    job->params = WindowParams(mode, flags);
    job->params.frame_count = mode == TQDEV_CAPTURE_AVERAGED ? 2 : 0;
    uint32_t bytes = 0;
    if (TqdevFrameSize(device, &job->params, &bytes) != TQDEV_RESULT_OK) {
        return nullptr; // camera cancelled or gone
    }
    for (int i = 0; i < 3; ++i) {
        job->buffers[i] = MakeBuffer(bytes);
    }
    job->params.buffer = job->buffers[0].data();
    if (mode == TQDEV_CAPTURE_SEQUENCE || mode == TQDEV_CAPTURE_LIVE_FOCUS) {
        void **slots = mode == TQDEV_CAPTURE_SEQUENCE ? job->params.sequence_buffers
                                                      : job->params.ring_buffers;
        for (int i = 0; i < 3; ++i) {
            slots[i] = job->buffers[i].data();
        }
        job->params.ring_size = mode == TQDEV_CAPTURE_LIVE_FOCUS ? 3 : job->params.ring_size;
    }
    job->live = mode == TQDEV_CAPTURE_LIVE_FOCUS;
    findings.captures += 1;
    if (wait) {
        TqdevCaptureImage(device, &job->params, nullptr); // any result: it must return
        return nullptr;
    }
    uint32_t result = TqdevCaptureImage(device, &job->params, &job->progress.record);
    if (result != TQDEV_RESULT_OK && job->progress.Entries().size() != 1) {
        findings.badCompletionCounts += 1;
    }
    return job;
}

// Waits for the end of an asynchronous capture; live focus is stopped after
// a few frames unless something else ends it first.
void FinishCapture(uint32_t device, CaptureJob &job, Findings &findings) {
    if (!job.live) {
        if (job.progress.WaitFor(1).empty()) {
            findings.lostCompletions += 1;
        }
        return;
    }
    job.progress.WaitForReportsOrEnd(3);
    TqdevCancelLiveFocus(device);
    auto entries = job.progress.WaitForFinal();
    if (entries.empty() || entries.back().result == TQDEV_RESULT_OK) {
        findings.lostCompletions += 1;
    }
}

// Every record: once for an ordinary capture; for live focus once per frame
// with 0, then once with the final result.
void CheckCompletions(const CaptureJob &job, Findings &findings) {
    auto entries = const_cast<ProgressLog &>(job.progress).Entries();
    bool right = !entries.empty();
    if (!job.live) {
        right = right && entries.size() == 1;
    } else {
        for (size_t i = 0; right && i + 1 < entries.size(); ++i) {
            right = entries[i].result == TQDEV_RESULT_OK;
        }
        right = right && entries.back().result != TQDEV_RESULT_OK;
    }
    if (!right) {
        findings.badCompletionCounts += 1;
    }
    if (job.progress.Overlaps() != 0) {
        findings.overlappingReports += 1;
    }
}

TEST_F(CaptureStress, CapturesOfEveryModeSurviveCancelsAndAnUnplug) {
    Findings findings;
    std::mutex jobsLock;
    std::list<std::unique_ptr<CaptureJob>> finished;
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(1500);
    std::vector<std::thread> threads;
    for (uint32_t device = 0; device < 2; ++device) {
        // One thread per mode and device, the live-focus one asynchronous
        // (live focus has no waiting form), the others alternating.
        for (uint32_t mode = 0; mode < 4; ++mode) {
            threads.emplace_back([&, device, mode] {
                for (int round = 0; Clock::now() < end; ++round) {
                    bool wait = mode != TQDEV_CAPTURE_LIVE_FOCUS && round % 2 == 0;
                    uint32_t flags = (mode != TQDEV_CAPTURE_AVERAGED && round % 3 == 1) ? 0x8 : 0;
                    auto job = StartCapture(device, mode, flags, wait, findings);
                    if (job == nullptr) {
                        std::this_thread::sleep_for(std::chrono::milliseconds(2));
                        continue;
                    }
                    FinishCapture(device, *job, findings);
                    std::lock_guard<std::mutex> lock(jobsLock);
                    finished.push_back(std::move(job));
                }
            });
        }
    }
    threads.emplace_back([&] {
        while (Clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(37));
            TqdevCancelIo(0);
        }
    });
    threads.emplace_back([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        TqsimUnplugCamera(cameras_[1]);
    });
    for (std::thread &thread : threads) {
        thread.join();
    }
    // A completion arriving twice would come late: let it.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    for (const auto &job : finished) {
        CheckCompletions(*job, findings);
    }
    EXPECT_GT(findings.captures.load(), 16);
    std::printf("%d captures, %zu asynchronous\n", findings.captures.load(), finished.size());
    EXPECT_EQ(findings.lostCompletions.load(), 0);
    EXPECT_EQ(findings.badCompletionCounts.load(), 0);
    EXPECT_EQ(findings.overlappingReports.load(), 0);
    // The fixture checks that no handle, thread or heap block is left.
}

} // namespace
