// A tiny driver for the device manager: it keeps every call pending until the
// test completes it, or refuses calls with a chosen error.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device_manager.h"
#include "tqsim.h"

namespace test {

constexpr GUID testClass = {0x12345678, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr GUID otherClass = {0x87654321, 0x4321, 0x8765, {8, 7, 6, 5, 4, 3, 2, 1}};

struct TestDevice {
    std::mutex lock;
    std::vector<tqsim::IoRequest> pending;
    std::vector<std::unique_ptr<int>> files;
    DWORD refuseCreate = 0; // error for the next opens, 0: accept
    DWORD refuseCalls = 0;  // error for the next calls, 0: take them pending
    int creates = 0, calls = 0, closes = 0, removes = 0, releases = 0;
};

inline TestDevice &Of(void *device) {
    return *static_cast<TestDevice *>(device);
}

inline void CompleteAll(std::vector<tqsim::IoRequest> requests, DWORD error) {
    for (const tqsim::IoRequest &request : requests) {
        tqsim::CompleteIo(request.overlapped, error, error == 0 ? request.outSize : 0);
    }
}

inline void *Create(void *device, DWORD *error) {
    TestDevice &d = Of(device);
    std::lock_guard guard(d.lock);
    if (d.refuseCreate != 0) {
        *error = d.refuseCreate;
        return nullptr;
    }
    ++d.creates;
    d.files.push_back(std::make_unique<int>(d.creates));
    return d.files.back().get();
}

inline DWORD DeviceControl(void *device, const tqsim::IoRequest &request) {
    TestDevice &d = Of(device);
    std::lock_guard guard(d.lock);
    ++d.calls;
    if (d.refuseCalls != 0) {
        return d.refuseCalls;
    }
    d.pending.push_back(request);
    return ERROR_IO_PENDING;
}

inline void Close(void *device, void *file) {
    TestDevice &d = Of(device);
    std::vector<tqsim::IoRequest> mine;
    {
        std::lock_guard guard(d.lock);
        ++d.closes;
        for (auto it = d.pending.begin(); it != d.pending.end();) {
            if (it->file == file) {
                mine.push_back(*it);
                it = d.pending.erase(it);
            } else {
                ++it;
            }
        }
    }
    CompleteAll(mine, ERROR_OPERATION_ABORTED);
}

inline void Remove(void *device) {
    TestDevice &d = Of(device);
    std::vector<tqsim::IoRequest> all;
    {
        std::lock_guard guard(d.lock);
        ++d.removes;
        all.swap(d.pending);
    }
    CompleteAll(all, ERROR_DEVICE_REMOVED);
}

inline void Release(void *device) {
    TestDevice &d = Of(device);
    std::lock_guard guard(d.lock);
    ++d.releases;
}

inline const tqsim::DriverDispatch dispatch = {Create, DeviceControl, Close, Remove, Release};

// Completes the oldest pending call; false when none is pending.
inline bool CompleteOldest(TestDevice &d, DWORD error, DWORD bytes) {
    tqsim::IoRequest request{};
    {
        std::lock_guard guard(d.lock);
        if (d.pending.empty()) {
            return false;
        }
        request = d.pending.front();
        d.pending.erase(d.pending.begin());
    }
    tqsim::CompleteIo(request.overlapped, error, bytes);
    return true;
}

inline std::vector<tqsim::RegistryValue> NumberAndText(std::uint32_t number, const char *text) {
    tqsim::RegistryValue n{"Number", REG_DWORD, {}};
    n.data.resize(4);
    std::memcpy(n.data.data(), &number, 4);
    tqsim::RegistryValue t{"Text", REG_SZ, {}};
    t.data.assign(text, text + std::strlen(text) + 1);
    return {n, t};
}

// A device of the test driver, plugged for the life of the object.
struct PluggedDevice {
    PluggedDevice(const GUID &cls, std::string devicePath, std::uint32_t number = 1)
        : path(std::move(devicePath)) {
        plugged =
            tqsim::PlugDevice(cls, path, NumberAndText(number, path.c_str()), &dispatch, &device);
        EXPECT_TRUE(plugged) << path;
    }
    ~PluggedDevice() { tqsim::UnplugDevice(path); }
    PluggedDevice(const PluggedDevice &) = delete;
    PluggedDevice &operator=(const PluggedDevice &) = delete;

    TestDevice device;
    std::string path;
    bool plugged = false;
};

// Checks that a test leaves no handle, heap block or thread behind.
class PlatformTest : public ::testing::Test {
  protected:
    void SetUp() override {
        TqsimClearFaults();
        handles = TqsimOpenHandleCount();
        blocks = TqsimHeapBlockCount();
    }
    void TearDown() override {
        tqsim::UnplugAllDevices();
        TqsimClearFaults();
        EXPECT_EQ(TqsimOpenHandleCount(), handles);
        EXPECT_EQ(TqsimHeapBlockCount(), blocks);
        EXPECT_EQ(TqsimRunningThreadCount(), 0u);
    }
    std::uint32_t handles = 0;
    std::uint32_t blocks = 0;
};

} // namespace test
