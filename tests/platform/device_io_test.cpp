// Device files: overlapped control calls through a driver written here.
#include "overlapped_call.h"
#include "test_driver.h"
#include "win32_subset.h"

namespace {

using test::PlatformTest;
using test::PluggedDevice;
using DeviceIo = PlatformTest;

constexpr DWORD code = 0xA3002970;

int Count(test::TestDevice &device, int test::TestDevice::*counter) {
    std::lock_guard guard(device.lock);
    return device.*counter;
}

HANDLE Open(const std::string &path) {
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OVERLAPPED, nullptr);
}

// A call of the test driver's code into a status-sized buffer of its own.
// Its results are read from the block alone, without the file.
struct Call : testsupport::OverlappedCall {
    DWORD Issue(HANDLE file) {
        return OverlappedCall::Issue(file, code, nullptr, 0, out, sizeof(out));
    }
    std::uint8_t out[28] = {};
};

TEST_F(DeviceIo, CallIsPendingUntilTheDriverCompletesIt) {
    PluggedDevice cam(test::testClass, "cam");
    HANDLE file = Open(cam.path);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    Call call;
    SetEvent(call.overlapped.hEvent); // left signalled by an earlier use
    EXPECT_EQ(call.Issue(file), static_cast<DWORD>(ERROR_IO_PENDING));
    EXPECT_FALSE(call.Completed());
    EXPECT_EQ(call.overlapped.Internal, 0x103u);
    EXPECT_EQ(call.Result(nullptr, FALSE), static_cast<DWORD>(ERROR_IO_INCOMPLETE));

    ASSERT_TRUE(test::CompleteOldest(cam.device, ERROR_SUCCESS, 12));
    EXPECT_TRUE(call.Completed());
    DWORD bytes = 0;
    EXPECT_EQ(call.Result(nullptr, TRUE, &bytes), 0u);
    EXPECT_EQ(bytes, 12u);

    EXPECT_EQ(call.Issue(file), static_cast<DWORD>(ERROR_IO_PENDING));
    ASSERT_TRUE(test::CompleteOldest(cam.device, ERROR_NOACCESS, 0));
    EXPECT_EQ(call.Result(nullptr, TRUE), static_cast<DWORD>(ERROR_NOACCESS));
    EXPECT_TRUE(CloseHandle(file));
}

TEST_F(DeviceIo, CallRefusedAtIssueIsNeverCompleted) {
    PluggedDevice cam(test::testClass, "cam");
    HANDLE file = Open(cam.path);
    for (DWORD refusal : {ERROR_NOACCESS, ERROR_OPERATION_ABORTED, ERROR_INVALID_PARAMETER}) {
        SCOPED_TRACE(refusal);
        {
            std::lock_guard guard(cam.device.lock);
            cam.device.refuseCalls = refusal;
        }
        Call call;
        EXPECT_EQ(call.Issue(file), refusal);
        EXPECT_FALSE(call.Completed());
        EXPECT_EQ(call.Result(nullptr, FALSE), refusal); // not left reading as pending
    }
    EXPECT_EQ(Count(cam.device, &test::TestDevice::calls), 3);
    EXPECT_TRUE(CloseHandle(file));
}

TEST_F(DeviceIo, ClosingAHandleAbortsOnlyItsOwnCalls) {
    PluggedDevice cam(test::testClass, "cam");
    HANDLE first = Open(cam.path);
    HANDLE second = Open(cam.path);
    Call a, b, c;
    EXPECT_EQ(a.Issue(first), static_cast<DWORD>(ERROR_IO_PENDING));
    EXPECT_EQ(b.Issue(second), static_cast<DWORD>(ERROR_IO_PENDING));
    EXPECT_EQ(c.Issue(first), static_cast<DWORD>(ERROR_IO_PENDING));
    EXPECT_TRUE(CloseHandle(first));
    // The result is read from the block alone, after its file has been closed.
    EXPECT_EQ(a.Result(nullptr, TRUE), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
    EXPECT_EQ(c.Result(nullptr, TRUE), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
    EXPECT_EQ(b.Result(nullptr, FALSE), static_cast<DWORD>(ERROR_IO_INCOMPLETE));
    EXPECT_EQ(b.Issue(first), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(CloseHandle(second));
    EXPECT_EQ(b.Result(nullptr, TRUE), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
    EXPECT_EQ(Count(cam.device, &test::TestDevice::closes), 2);
    EXPECT_EQ(Count(cam.device, &test::TestDevice::releases), 0); // still plugged
}

TEST_F(DeviceIo, UnplugEndsPendingCallsAndRefusesLaterOnes) {
    PluggedDevice cam(test::testClass, "cam");
    HANDLE file = Open(cam.path);
    Call call;
    EXPECT_EQ(call.Issue(file), static_cast<DWORD>(ERROR_IO_PENDING));
    EXPECT_TRUE(tqsim::UnplugDevice(cam.path));
    EXPECT_EQ(call.Result(nullptr, TRUE), static_cast<DWORD>(ERROR_DEVICE_REMOVED));

    EXPECT_EQ(call.Issue(file), static_cast<DWORD>(ERROR_DEVICE_REMOVED));
    EXPECT_EQ(Count(cam.device, &test::TestDevice::calls), 1); // refused before the driver
    EXPECT_EQ(Open(cam.path), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(Count(cam.device, &test::TestDevice::releases), 0); // a handle is open

    EXPECT_TRUE(CloseHandle(file));
    EXPECT_EQ(Count(cam.device, &test::TestDevice::closes), 1);
    EXPECT_EQ(Count(cam.device, &test::TestDevice::removes), 1);
    EXPECT_EQ(Count(cam.device, &test::TestDevice::releases), 1);
    EXPECT_FALSE(tqsim::UnplugDevice(cam.path));
}

TEST_F(DeviceIo, UnplugWithoutHandlesReleasesAtOnce) {
    PluggedDevice cam(test::testClass, "cam");
    EXPECT_TRUE(tqsim::UnplugDevice(cam.path));
    EXPECT_EQ(Count(cam.device, &test::TestDevice::removes), 1);
    EXPECT_EQ(Count(cam.device, &test::TestDevice::releases), 1);
}

TEST_F(DeviceIo, OpenFailuresLeaveNothingOpen) {
    PluggedDevice cam(test::testClass, "cam");
    EXPECT_EQ(Open("no such device"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    {
        std::lock_guard guard(cam.device.lock);
        cam.device.refuseCreate = ERROR_ACCESS_DENIED;
    }
    EXPECT_EQ(Open(cam.path), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(tqsim::UnplugDevice(cam.path));
    EXPECT_EQ(Count(cam.device, &test::TestDevice::releases), 1); // the failed open held nothing
}

struct SyncCall {
    HANDLE file;
    BOOL ok = FALSE;
    DWORD bytes = 0;
};

DWORD WINAPI CallWithoutOverlapped(LPVOID parameter) {
    auto *call = static_cast<SyncCall *>(parameter);
    std::uint8_t out[16];
    call->ok =
        DeviceIoControl(call->file, code, nullptr, 0, out, sizeof(out), &call->bytes, nullptr);
    return 0;
}

TEST_F(DeviceIo, CallWithoutOverlappedWaitsForItsCompletion) {
    PluggedDevice cam(test::testClass, "cam");
    SyncCall call{Open(cam.path)};
    HANDLE thread = CreateThread(nullptr, 0, CallWithoutOverlapped, &call, 0, nullptr);
    while (!test::CompleteOldest(cam.device, ERROR_SUCCESS, 16)) {
        Sleep(1);
    }
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(call.ok);
    EXPECT_EQ(call.bytes, 16u);
    EXPECT_TRUE(CloseHandle(thread));
    EXPECT_TRUE(CloseHandle(call.file));
}

struct Completion {
    test::TestDevice *device;
    int rounds;
};

DWORD WINAPI CompleteEach(LPVOID parameter) {
    auto *completion = static_cast<Completion *>(parameter);
    for (int done = 0; done < completion->rounds;) {
        if (test::CompleteOldest(*completion->device, ERROR_SUCCESS, 7)) {
            ++done;
        } else {
            Sleep(0);
        }
    }
    return 0;
}

// A waiter woken by the event must find the result already stored; run under
// the thread sanitizer this also shows that no field is raced.
TEST_F(DeviceIo, EventIsSetOnlyAfterTheResultIsStored) {
    PluggedDevice cam(test::testClass, "cam");
    HANDLE file = Open(cam.path);
    Completion completion{&cam.device, 200};
    HANDLE completer = CreateThread(nullptr, 0, CompleteEach, &completion, 0, nullptr);
    Call call;
    for (int round = 0; round < completion.rounds; ++round) {
        ASSERT_EQ(call.Issue(file), static_cast<DWORD>(ERROR_IO_PENDING));
        ASSERT_EQ(WaitForSingleObject(call.overlapped.hEvent, INFINITE), WAIT_OBJECT_0);
        DWORD bytes = 0;
        ASSERT_EQ(call.Result(nullptr, FALSE, &bytes), 0u) << round;
        ASSERT_EQ(bytes, 7u);
    }
    EXPECT_EQ(WaitForSingleObject(completer, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(completer));
    EXPECT_TRUE(CloseHandle(file));
}

} // namespace
