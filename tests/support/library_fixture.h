// Shared fixture of the library tests: a clean simulator, cameras plugged on
// demand, the library initialised, and at the end the library terminated and
// every handle, thread and heap block of the library given back.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <source_location>
#include <string>
#include <vector>

#include "diagnostics.h"
#include "notification_recorder.h"
#include "recorder.h"
#include "tqdev.h"
#include "tqdev_lib_nt.h"
#include "tqsim.h"

class LibraryFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        TqsimReset();
        debugPrintEnabled.store(0);
        handles_ = TqsimOpenHandleCount();
        threads_ = TqsimRunningThreadCount();
        heapBlocks_ = TqsimHeapBlockCount();
    }

    void TearDown() override {
        debugPrintEnabled.store(0);
        TerminateLibrary(); // 18 when a test has terminated already
        TqsimClearFaults();
        EXPECT_EQ(TqsimOpenHandleCount(), handles_) << "handles left open";
        EXPECT_EQ(TqsimRunningThreadCount(), threads_) << "threads left running";
        EXPECT_EQ(TqsimHeapBlockCount(), heapBlocks_) << "heap blocks left allocated";
        TqsimReset();
    }

    // Plugs a camera (null: the default camera) and returns its simulator id.
    static uint32_t PlugCamera(const TQSIM_CAMERA_CONFIG *config = nullptr) {
        uint32_t camera = 0;
        EXPECT_EQ(TqsimPlugCamera(config, &camera), 0);
        return camera;
    }

    // Plugs count default cameras and initialises the library; they get
    // device indices 0 .. count-1 in plug order.
    static std::vector<uint32_t> InitWithCameras(int count) {
        std::vector<uint32_t> cameras;
        for (int i = 0; i < count; ++i) {
            cameras.push_back(PlugCamera());
        }
        EXPECT_EQ(InitLibrary(), TQDEV_RESULT_OK);
        return cameras;
    }

    // Device indices of the current snapshot, in array order.
    static std::vector<uint32_t> ListedIndices() {
        TQDEV_DEVICE_ARRAY array{};
        EXPECT_EQ(CreateDeviceArray(&array), TQDEV_RESULT_OK);
        std::vector<uint32_t> indices;
        for (uint32_t i = 0; i < array.DeviceCount; ++i) {
            indices.push_back(array.Devices[i].DeviceIndex);
        }
        DestroyDeviceArray(&array);
        return indices;
    }

    uint32_t handles_ = 0;
    uint32_t threads_ = 0;
    uint32_t heapBlocks_ = 0;
};

// Waits until no more than `idle` threads run. Completion threads print
// their last line as they end, so a capture of diagnostics starts and
// finishes with them ended, never with a line cut in two.
inline void WaitForThreads(uint32_t idle,
                           std::source_location where = std::source_location::current()) {
    testsupport::Eventually([idle] { return TqsimRunningThreadCount() <= idle; },
                            "the library's threads to end", where);
}

// Standard output and standard error of a stretch of code. Diagnostics go
// through the buffered standard output, so it is flushed at both ends.
class CapturedOutput {
  public:
    CapturedOutput() {
        std::fflush(stdout);
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
    }

    // Ends the capture; call once.
    void Finish() {
        std::fflush(stdout);
        out = ::testing::internal::GetCapturedStdout();
        err = ::testing::internal::GetCapturedStderr();
    }

    std::string out;
    std::string err;
};

// Whether `line` starts with a module's "path.cpp:line - " prefix; its
// length then goes to `length`.
inline bool StartsWithPrefix(const std::string &line, size_t *length) {
    const size_t dash = line.find(" - ");
    const size_t colon = line.rfind(".cpp:", dash);
    if (dash == std::string::npos || colon == std::string::npos || colon + 5 == dash)
        return false;
    for (size_t i = colon + 5; i < dash; ++i)
        if (line[i] < '0' || line[i] > '9')
            return false;
    *length = dash + 3;
    return true;
}

// The messages of diagnostic output, one per line, without the module's
// "path:line - " prefix; a system text on a line of its own is kept whole.
// The prefix and the message are written apart, so another thread's line may
// come between them: every prefix at the start of a line goes.
inline std::vector<std::string> Messages(const std::string &out) {
    std::vector<std::string> messages;
    size_t start = 0;
    while (start < out.size()) {
        size_t end = out.find('\n', start);
        end = end == std::string::npos ? out.size() : end;
        std::string line = out.substr(start, end - start);
        for (size_t length = 0; StartsWithPrefix(line, &length);)
            line.erase(0, length);
        messages.push_back(line);
        start = end + 1;
    }
    return messages;
}
