// Enumeration of device interfaces and their registry values.
#include <cstddef>
#include <vector>

#include "test_driver.h"
#include "win32_subset.h"

namespace {

using test::PlatformTest;
using DeviceEnumeration = PlatformTest;

constexpr DWORD flags = DIGCF_PRESENT | DIGCF_DEVICEINTERFACE;

SP_DEVICE_INTERFACE_DATA InterfaceData(DWORD size = sizeof(SP_DEVICE_INTERFACE_DATA)) {
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = size;
    return data;
}

SP_DEVINFO_DATA DevInfo() {
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof(info);
    return info;
}

using test::PluggedDevice;

// Every path of the set, through the two-call detail protocol.
std::vector<std::string> Paths(HDEVINFO set, const GUID &cls) {
    std::vector<std::string> paths;
    SP_DEVICE_INTERFACE_DATA data = InterfaceData();
    for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &cls, i, &data); ++i) {
        DWORD required = 0;
        EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &required, nullptr));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        std::vector<std::byte> buffer(required);
        auto *detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(buffer.data());
        detail->cbSize = sizeof(*detail);
        SP_DEVINFO_DATA info = DevInfo();
        EXPECT_TRUE(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required, nullptr, &info));
        paths.emplace_back(detail->DevicePath);
        EXPECT_EQ(required, offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) +
                                paths.back().size() + 1);
    }
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    return paths;
}

TEST_F(DeviceEnumeration, SetIsASnapshotOfTheClassInPlugOrder) {
    PluggedDevice b(test::testClass, "\\\\?\\sim#b");
    PluggedDevice other(test::otherClass, "\\\\?\\sim#other");
    PluggedDevice a(test::testClass, "\\\\?\\sim#a");
    EXPECT_FALSE(tqsim::PlugDevice(test::testClass, a.path, {}, &test::dispatch, &a.device));

    HDEVINFO set = SetupDiGetClassDevsA(&test::testClass, nullptr, nullptr, flags);
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(tqsim::UnplugDevice(b.path)); // the set keeps its own copy
    EXPECT_EQ(Paths(set, test::testClass), (std::vector<std::string>{b.path, a.path}));
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));

    set = SetupDiGetClassDevsA(&test::testClass, nullptr, nullptr, flags);
    EXPECT_EQ(Paths(set, test::testClass), (std::vector<std::string>{a.path}));
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
    EXPECT_FALSE(SetupDiDestroyDeviceInfoList(set));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(DeviceEnumeration, RecordSizesAreChecked) {
    PluggedDevice a(test::testClass, "\\\\?\\sim#a");
    HDEVINFO set = SetupDiGetClassDevsA(&test::testClass, nullptr, nullptr, flags);
    SP_DEVICE_INTERFACE_DATA data = InterfaceData(sizeof(data) - 4);
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &test::testClass, 0, &data));
    EXPECT_EQ(GetLastError(), 1784u);
    data.cbSize = sizeof(data);
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &test::testClass, 0, &data));

    std::vector<std::byte> buffer(64);
    auto *detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(buffer.data());
    SP_DEVINFO_DATA info = DevInfo();
    struct Case {
        const char *name;
        DWORD detailSize, infoSize, size, error;
    };
    const Case cases[] = {
        {"detail size 5 (32-bit layout)", 5, 32, 64, 1784},
        {"devinfo size 28", 8, 28, 64, 1784},
        {"buffer one byte short", 8, 32, 4 + 9, ERROR_INSUFFICIENT_BUFFER},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        detail->cbSize = c.detailSize;
        info.cbSize = c.infoSize;
        DWORD required = 0;
        EXPECT_FALSE(
            SetupDiGetDeviceInterfaceDetailA(set, &data, detail, c.size, &required, &info));
        EXPECT_EQ(GetLastError(), c.error);
    }
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
    EXPECT_EQ(SetupDiGetClassDevsA(nullptr, nullptr, nullptr, flags), INVALID_HANDLE_VALUE);
}

// Opens the device key of the first interface of the class.
HKEY OpenFirstKey(HDEVINFO set) {
    SP_DEVICE_INTERFACE_DATA data = InterfaceData();
    EXPECT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &test::testClass, 0, &data));
    std::vector<std::byte> buffer(256);
    auto *detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(buffer.data());
    detail->cbSize = sizeof(*detail);
    SP_DEVINFO_DATA info = DevInfo();
    EXPECT_TRUE(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, 256, nullptr, &info));
    return SetupDiOpenDevRegKey(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
}

TEST_F(DeviceEnumeration, RegistryQueriesReportSizesAndErrors) {
    PluggedDevice a(test::testClass, "cam", 0x01020304);
    HDEVINFO set = SetupDiGetClassDevsA(&test::testClass, nullptr, nullptr, flags);
    HKEY key = OpenFirstKey(set);
    ASSERT_NE(key, INVALID_HANDLE_VALUE);

    struct Case {
        const char *name;
        const char *value;
        bool withData;
        DWORD size;
        LSTATUS status;
        DWORD sizeAfter;
    };
    const Case cases[] = {
        {"size only", "Number", false, 0, ERROR_SUCCESS, 4},
        {"exact buffer", "Number", true, 4, ERROR_SUCCESS, 4},
        {"larger buffer", "Text", true, 16, ERROR_SUCCESS, 4},
        {"buffer too small", "Text", true, 3, ERROR_MORE_DATA, 4},
        {"zero-size buffer", "Number", true, 0, ERROR_MORE_DATA, 4},
        {"name in other case", "nUMBER", true, 4, ERROR_SUCCESS, 4},
        {"missing value", "Absent", true, 4, ERROR_FILE_NOT_FOUND, 4},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        BYTE data[16] = {};
        DWORD size = c.size;
        SetLastError(77);
        EXPECT_EQ(
            RegQueryValueExA(key, c.value, nullptr, nullptr, c.withData ? data : nullptr, &size),
            c.status);
        EXPECT_EQ(size, c.sizeAfter);
        EXPECT_EQ(GetLastError(), 77u) << "queries leave the last error alone";
    }
    DWORD type = 0;
    std::uint32_t number = 0;
    DWORD size = sizeof(number);
    EXPECT_EQ(
        RegQueryValueExA(key, "Number", nullptr, &type, reinterpret_cast<LPBYTE>(&number), &size),
        ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(number, 0x01020304u);

    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), static_cast<LSTATUS>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(CloseHandle(set)); // a device information set is not a kernel object
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
}

TEST_F(DeviceEnumeration, DevRegKeyNeedsADeviceOfTheSet) {
    PluggedDevice a(test::testClass, "cam");
    HDEVINFO set = SetupDiGetClassDevsA(&test::testClass, nullptr, nullptr, flags);
    SP_DEVINFO_DATA info = DevInfo();
    EXPECT_EQ(SetupDiOpenDevRegKey(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
    EXPECT_EQ(SetupDiOpenDevRegKey(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

} // namespace
