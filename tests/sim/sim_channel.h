// A test's channel to a simulated camera: plug it, open its path through the
// Win32 subset and exchange settings, data and status transfers with it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "overlapped_call.h"
#include "tqsim.h"
#include "win32_subset.h"

namespace simtest {

constexpr DWORD kSettingsCode = TQPROTO_SETTINGS_CODE;
constexpr DWORD kStatusCode = TQPROTO_STATUS_CODE;
constexpr DWORD kCancelCode = TQPROTO_CANCEL_CODE;

// The control code of each request number.
constexpr DWORD kRequestCodes[TQPROTO_REQUEST_COUNT] = TQPROTO_REQUEST_CODES;

// Output requests hand their buffer as the driver's output.
inline bool IsOutput(std::uint32_t number) {
    static constexpr std::uint32_t kDirections[TQPROTO_REQUEST_COUNT] = TQPROTO_REQUEST_DIRECTIONS;
    return kDirections[number] == TQPROTO_OUT;
}

using Call = testsupport::OverlappedCall;

// The three transfers of one request.
struct Triple {
    TQDEV_CAPTURE_SETTINGS settings{};
    TQDEV_STATUS status{};
    Call settingsCall, dataCall, statusCall;
};

// Issues settings (when given), data and status of request `number`.
inline void IssueRequest(HANDLE file, std::uint32_t number, void *buffer, DWORD size,
                         const TQDEV_CAPTURE_SETTINGS *settings, Triple &t) {
    if (settings != nullptr) {
        t.settings = *settings;
        t.settingsCall.Issue(file, kSettingsCode, &t.settings, sizeof t.settings, nullptr, 0);
    }
    if (IsOutput(number)) {
        t.dataCall.Issue(file, kRequestCodes[number], nullptr, 0, buffer, size);
    } else {
        t.dataCall.Issue(file, kRequestCodes[number], buffer, size, nullptr, 0);
    }
    t.statusCall.Issue(file, kStatusCode, nullptr, 0, &t.status, sizeof t.status);
}

// A plugged camera with one open handle; everything is reset afterwards.
class SimCamera : public ::testing::Test {
  protected:
    void SetUp() override { PlugAndOpen(nullptr); }
    void TearDown() override {
        if (file_ != INVALID_HANDLE_VALUE) {
            CloseHandle(file_);
        }
        TqsimReset();
    }

    void PlugAndOpen(const TQSIM_CAMERA_CONFIG *config) {
        if (file_ != INVALID_HANDLE_VALUE) {
            CloseHandle(file_);
            file_ = INVALID_HANDLE_VALUE;
        }
        TqsimDefaultCamera(&config_);
        if (config != nullptr) {
            config_ = *config;
        }
        ASSERT_EQ(TqsimPlugCamera(&config_, &camera_), 0);
        char path[128];
        ASSERT_EQ(TqsimDevicePath(camera_, path, sizeof path), 0);
        file_ = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        ASSERT_NE(file_, INVALID_HANDLE_VALUE);
    }

    // Runs one request to its end; returns the status record.
    TQDEV_STATUS Run(std::uint32_t number, void *buffer, DWORD size,
                     const TQDEV_CAPTURE_SETTINGS *settings = nullptr) {
        Triple t;
        IssueRequest(file_, number, buffer, size, settings, t);
        EXPECT_EQ(t.dataCall.Refusal(), 0u);
        EXPECT_EQ(t.statusCall.Wait(file_), 0u);
        return t.status;
    }

    std::uint32_t camera_ = 0;
    TQSIM_CAMERA_CONFIG config_{};
    HANDLE file_ = INVALID_HANDLE_VALUE;
};

} // namespace simtest
