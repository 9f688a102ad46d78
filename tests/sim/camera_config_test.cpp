// The registry values a camera is plugged with, as the device key shows them.
#include <cstring>
#include <string>

#include "sim_channel.h"

namespace simtest {
namespace {

constexpr GUID kInterface = {
    0x4ACC4CE4, 0x6A08, 0x4A8C, {0xAB, 0x7A, 0xFC, 0xBD, 0x87, 0x7B, 0x16, 0xA8}};

// Reads a value of the first camera's device key; returns the query's status.
LSTATUS QueryFirstCamera(const char *name, std::vector<std::uint8_t> *data) {
    HDEVINFO set =
        SetupDiGetClassDevsA(&kInterface, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    SP_DEVICE_INTERFACE_DATA entry{};
    entry.cbSize = sizeof entry;
    EXPECT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &kInterface, 0, &entry));
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    DWORD needed = 0;
    SetupDiGetDeviceInterfaceDetailA(set, &entry, nullptr, 0, &needed, nullptr);
    std::vector<std::uint8_t> detailBytes(needed);
    auto *detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(detailBytes.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    EXPECT_TRUE(SetupDiGetDeviceInterfaceDetailA(set, &entry, detail, needed, nullptr, &device));
    HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    DWORD size = TQSIM_REGISTRY_DATA_MAX;
    data->assign(size, 0);
    const LSTATUS status = RegQueryValueExA(key, name, nullptr, nullptr, data->data(), &size);
    data->resize(status == ERROR_SUCCESS ? size : 0);
    RegCloseKey(key);
    SetupDiDestroyDeviceInfoList(set);
    return status;
}

TEST(CameraConfig, OverridesReachTheDeviceKey) {
    TqsimReset();
    TQSIM_CAMERA_CONFIG config;
    TqsimDefaultCamera(&config);
    const std::string longText(300, 'x');
    const std::uint8_t raw[3] = {1, 2, 3};
    EXPECT_EQ(TqsimSetRegistryText(&config, "DeviceName", longText.c_str()), -1);
    EXPECT_EQ(TqsimSetRegistryRaw(&config, "Unknown", raw, 3), -1);
    EXPECT_EQ(TqsimSetRegistryRaw(&config, "DeviceType", raw, TQSIM_REGISTRY_DATA_MAX + 1), -1);
    ASSERT_EQ(TqsimSetRegistryRaw(&config, "DeviceType", raw, 3), 0);
    ASSERT_EQ(TqsimSetRegistryNumber(&config, "MinorVersion", 77), 0);
    ASSERT_EQ(TqsimRemoveRegistryValue(&config, "BuildDate"), 0);
    std::uint32_t camera = 0;
    ASSERT_EQ(TqsimPlugCamera(&config, &camera), 0);

    std::vector<std::uint8_t> data;
    ASSERT_EQ(QueryFirstCamera("DeviceType", &data), ERROR_SUCCESS);
    EXPECT_EQ(data, std::vector<std::uint8_t>(raw, raw + 3));
    ASSERT_EQ(QueryFirstCamera("MinorVersion", &data), ERROR_SUCCESS);
    EXPECT_EQ(data, (std::vector<std::uint8_t>{77, 0, 0, 0}));
    ASSERT_EQ(QueryFirstCamera("DeviceName", &data), ERROR_SUCCESS);
    EXPECT_EQ(std::string(data.begin(), data.end()), std::string("tqsim camera", 13));
    EXPECT_EQ(QueryFirstCamera("BuildDate", &data), static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND));
    TqsimReset();
}

TEST(CameraConfig, SensorOutOfRangeIsRefused) {
    TQSIM_CAMERA_CONFIG config;
    TqsimDefaultCamera(&config);
    for (std::uint32_t width : {0u, TQSIM_SENSOR_MAX + 1u}) {
        config.sensor_width = width;
        std::uint32_t camera = 0;
        EXPECT_EQ(TqsimPlugCamera(&config, &camera), -1) << width;
    }
}

} // namespace
} // namespace simtest
