// Platform fault injection: which call fails, and how it reports the failure.
#include "test_driver.h"
#include "win32_subset.h"

namespace {

using test::PlatformTest;
using FaultInjection = PlatformTest;

TEST_F(FaultInjection, OnlyTheNthNextCallFails) {
    ASSERT_EQ(TqsimFailCall("CreateEventA", 3, ERROR_NOT_ENOUGH_MEMORY), 0);
    HANDLE events[4] = {};
    for (HANDLE &event : events) {
        SetLastError(0);
        event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    }
    EXPECT_NE(events[0], nullptr);
    EXPECT_NE(events[1], nullptr);
    EXPECT_EQ(events[2], nullptr);
    EXPECT_NE(events[3], nullptr);
    for (HANDLE event : events) {
        if (event != nullptr) {
            CloseHandle(event);
        }
    }
}

TEST_F(FaultInjection, FaultsOfOneFunctionCountIndependently) {
    ASSERT_EQ(TqsimFailCall("HeapAlloc", 1, 8), 0);
    ASSERT_EQ(TqsimFailCall("HeapAlloc", 3, 8), 0);
    ASSERT_EQ(TqsimFailCall("CreateMutexA", 1, 5), 0); // other functions do not count
    HANDLE heap = GetProcessHeap();
    bool failed[4];
    for (bool &f : failed) {
        void *block = HeapAlloc(heap, 0, 16);
        f = block == nullptr;
        HeapFree(heap, 0, block);
    }
    EXPECT_TRUE(failed[0]);
    EXPECT_FALSE(failed[1]);
    EXPECT_TRUE(failed[2]);
    EXPECT_FALSE(failed[3]);
    TqsimClearFaults();
    HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);
    EXPECT_NE(mutex, nullptr) << "cleared faults no longer fire";
    CloseHandle(mutex);
}

TEST_F(FaultInjection, UnknownNamesAndZeroAreRefused) {
    EXPECT_EQ(TqsimFailCall("CreateFileW", 1, 5), -1);
    EXPECT_EQ(TqsimFailCall("createfilea", 1, 5), -1);
    EXPECT_EQ(TqsimFailCall(nullptr, 1, 5), -1);
    EXPECT_EQ(TqsimFailCall("CreateFileA", 0, 5), -1);
}

// Each injected failure takes the form Windows gives that failure.
TEST_F(FaultInjection, FailuresLookAsOnWindows) {
    test::PluggedDevice cam(test::testClass, "cam");
    constexpr DWORD error = 1234;
    const DWORD flags = DIGCF_PRESENT | DIGCF_DEVICEINTERFACE;
    struct Case {
        const char *name;
        bool (*failsAsExpected)(const std::string &path);
    };
    const Case cases[] = {
        {"CreateMutexA", [](const std::string &) { return !CreateMutexA(nullptr, 0, nullptr); }},
        {"CreateThread",
         [](const std::string &) {
             return !CreateThread(
                 nullptr, 0, [](LPVOID) -> DWORD { return 0; }, nullptr, 0, nullptr);
         }},
        {"CreateFileA",
         [](const std::string &path) {
             return CreateFileA(path.c_str(), 0, 0, nullptr, OPEN_EXISTING, 0, nullptr) ==
                    INVALID_HANDLE_VALUE;
         }},
        {"SetupDiGetClassDevsA",
         [](const std::string &) {
             return SetupDiGetClassDevsA(&test::testClass, nullptr, nullptr,
                                         DIGCF_PRESENT | DIGCF_DEVICEINTERFACE) ==
                    INVALID_HANDLE_VALUE;
         }},
        {"LoadLibraryExA",
         [](const std::string &) {
             return !LoadLibraryExA("netmsg.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
         }},
        {"FormatMessageA",
         [](const std::string &) {
             char *text = nullptr;
             return FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, 2, 0, reinterpret_cast<LPSTR>(&text), 0,
                                   nullptr) == 0 &&
                    text == nullptr;
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(TqsimFailCall(c.name, 1, error), 0);
        SetLastError(0);
        EXPECT_TRUE(c.failsAsExpected(cam.path));
        EXPECT_EQ(GetLastError(), error);
    }

    // The device information calls fail on an otherwise good set.
    HDEVINFO set = SetupDiGetClassDevsA(&test::testClass, nullptr, nullptr, flags);
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof(data);
    ASSERT_EQ(TqsimFailCall("SetupDiEnumDeviceInterfaces", 1, error), 0);
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &test::testClass, 0, &data));
    EXPECT_EQ(GetLastError(), error);
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &test::testClass, 0, &data));
    DWORD required = 0;
    ASSERT_EQ(TqsimFailCall("SetupDiGetDeviceInterfaceDetailA", 1, error), 0);
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &required, nullptr));
    EXPECT_EQ(GetLastError(), error);
    EXPECT_EQ(required, 0u) << "a failed call does nothing";
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof(info);
    ASSERT_EQ(TqsimFailCall("SetupDiOpenDevRegKey", 1, error), 0);
    EXPECT_EQ(SetupDiOpenDevRegKey(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), error);
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
}

TEST_F(FaultInjection, RegistryQueryReturnsTheCodeAndHeapAllocOnlyNull) {
    test::PluggedDevice cam(test::testClass, "cam");
    ASSERT_EQ(TqsimFailCall("RegQueryValueExA", 1, 1234), 0);
    SetLastError(0);
    // The fault fires before the key is even looked at.
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(nullptr, "Number", nullptr, nullptr, nullptr, &size), 1234);
    EXPECT_EQ(GetLastError(), 0u);
    ASSERT_EQ(TqsimFailCall("HeapAlloc", 1, 8), 0);
    EXPECT_EQ(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, 8), nullptr);
    EXPECT_EQ(GetLastError(), 0u);
}

TEST_F(FaultInjection, DeviceCallsFailWithoutReachingTheDriver) {
    test::PluggedDevice cam(test::testClass, "cam");
    HANDLE file = CreateFileA(cam.path.c_str(), 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_EQ(TqsimFailCall("DeviceIoControl", 1, ERROR_NOACCESS), 0);
    EXPECT_FALSE(DeviceIoControl(file, 1, nullptr, 0, nullptr, 0, nullptr, &overlapped));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOACCESS));
    {
        std::lock_guard guard(cam.device.lock);
        EXPECT_EQ(cam.device.calls, 0);
    }

    // A failing result is reported once the call has ended, never while the
    // driver still holds the block.
    EXPECT_FALSE(DeviceIoControl(file, 1, nullptr, 0, nullptr, 0, nullptr, &overlapped));
    ASSERT_EQ(TqsimFailCall("GetOverlappedResult", 1, 31), 0);
    ASSERT_TRUE(test::CompleteOldest(cam.device, ERROR_SUCCESS, 0));
    DWORD bytes = 0;
    EXPECT_FALSE(GetOverlappedResult(file, &overlapped, &bytes, TRUE));
    EXPECT_EQ(GetLastError(), 31u);
    EXPECT_TRUE(CloseHandle(overlapped.hEvent));
    EXPECT_TRUE(CloseHandle(file));
}

} // namespace
