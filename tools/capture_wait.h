// Waiting for an asynchronous capture: the progress callback runs on a
// library completion thread and hands each report to the command's thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "tqdev.h"

struct CaptureReports {
    uint32_t frames = 0;      // live focus: frames reported with result 0
    bool ended = false;       // the capture's final report has arrived
    uint32_t finalResult = 0; // valid once ended
};

// Must outlive the capture: the library may still be inside the callback
// when the command's thread wakes, so keep it until the library is terminated.
struct CaptureWait {
    std::mutex mutex;
    std::condition_variable changed;
    CaptureReports reports;
    bool live = false; // live focus reports every frame with result 0
    // Live focus: the report of this frame (counted from 1) stops live focus
    // at once, from the library's thread, while the next frame is in flight.
    uint32_t stopAtFrame = 0;
    uint32_t device = 0;
};

// Sets up progress so that its callback reports into wait.
void AttachProgress(TQDEV_PROGRESS &progress, CaptureWait &wait);

// Waits up to timeout for the final report; returns a snapshot.
CaptureReports WaitForEnd(CaptureWait &wait, std::chrono::milliseconds timeout);
