// tqdev info: opens a camera and prints its camera information, extended
// information and device state. The library knows only a few fields of these
// records (capability flags and the blocks it fills in); the rest is the
// driver's and is shown as bytes.
#include <bit>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

#include "capture_geometry.h"
#include "commands.h"
#include "hex_dump.h"
#include "result_names.h"
#include "tool_session.h"
#include "tqdev.h"

namespace {

struct CapabilityName {
    uint32_t bit;
    const char *name;
};

constexpr CapabilityName kCapabilities[] = {
    {TQDEV_CAMERA_CAP_XFORM_MATRIX, "xform-matrix"},
    {TQDEV_CAMERA_CAP_AVERAGE_DARK, "average-dark"},
    {TQDEV_CAMERA_CAP_DRIVER_PAIR, "driver-pair"},
};

std::string DecodeCapabilities(uint32_t flags) {
    std::string names;
    for (const CapabilityName &capability : kCapabilities) {
        if (flags & capability.bit) {
            names += std::string(names.empty() ? "" : " ") + capability.name;
            flags &= ~capability.bit;
        }
    }
    if (flags != 0) {
        char rest[32];
        std::snprintf(rest, sizeof rest, "0x%x", flags);
        names += std::string(names.empty() ? "" : " ") + rest;
    }
    return names.empty() ? "none" : names;
}

void PrintCameraInfo(const TQDEV_CAMERA_INFO &info) {
    std::printf("camera information\n");
    std::printf("  capability flags 0x%08x (%s)\n", info.capability_flags,
                DecodeCapabilities(info.capability_flags).c_str());
    std::printf("  driver data\n");
    PrintHexDump(info.driver_data, sizeof info.driver_data, 0);
    PrintHexDump(info.driver_data_b, sizeof info.driver_data_b,
                 offsetof(TQDEV_CAMERA_INFO, driver_data_b));
}

void PrintExtendedBlocks(const TQDEV_EXTENDED_CAMERA_INFO &info, uint32_t capabilities) {
    if (capabilities & TQDEV_CAMERA_CAP_XFORM_MATRIX) {
        std::printf("  colour transform matrix\n");
        for (int row = 0; row < 3; ++row) {
            std::printf("    %10.4f %10.4f %10.4f\n",
                        std::bit_cast<float>(info.xform_matrix[row * 3]),
                        std::bit_cast<float>(info.xform_matrix[row * 3 + 1]),
                        std::bit_cast<float>(info.xform_matrix[row * 3 + 2]));
        }
    }
    if (capabilities & TQDEV_CAMERA_CAP_AVERAGE_DARK) {
        std::printf("  average dark level %u\n", info.average_dark);
    }
    if (capabilities & TQDEV_CAMERA_CAP_DRIVER_PAIR) {
        std::printf("  driver pair 0x%08x 0x%08x\n", info.driver_pair[0], info.driver_pair[1]);
    }
}

void PrintExtendedInfo(const TQDEV_EXTENDED_CAMERA_INFO &info, uint32_t capabilities) {
    std::printf("extended information\n");
    PrintExtendedBlocks(info, capabilities);
    std::printf("  driver data\n");
    PrintHexDump(info.driver_data, sizeof info.driver_data, 0);
    PrintHexDump(info.driver_data_b, sizeof info.driver_data_b,
                 offsetof(TQDEV_EXTENDED_CAMERA_INFO, driver_data_b));
}

void PrintDeviceState(const TQDEV_DEVICE_STATE &state) {
    std::printf("device state\n");
    PrintHexDump(state.driver_data, sizeof state.driver_data, 0);
}

void PrintFlawCount(uint32_t device) {
    int32_t count = 0;
    uint32_t second = 0;
    CheckResult("TqdevReadFlaws", TqdevReadFlaws(device, &count, &second, nullptr));
    std::printf("defect list: %d entries (driver value 0x%08x)\n", count, second);
}

void PrintIntegrationTime(uint32_t device) {
    uint32_t value = 0;
    const uint32_t guard = 0;
    CheckResult("TqdevGetIntegrationTime",
                TqdevGetIntegrationTime(device, &value, &guard, nullptr));
    std::printf("integration time %u\n", value);
}

// The camera's identity and versions from the device list, and its sensor
// decoded from the camera information.
void PrintSummary(uint32_t device, const TQDEV_CAMERA_INFO &info) {
    TQDEV_DEVICE_ARRAY devices;
    CheckResult("TqdevCreateDeviceArray", TqdevCreateDeviceArray(&devices));
    for (uint32_t i = 0; i < devices.DeviceCount; ++i) {
        const TQDEV_DEVICE_INFO &entry = devices.Devices[i];
        if (entry.DeviceIndex == device) {
            std::printf("camera %u: %s, serial %s\n", device, entry.DeviceName, entry.SerialNumber);
            std::printf("  driver version %s (%u.%u), built %s\n", entry.DriverVersionString,
                        entry.DriverMajorVersion, entry.DriverMinorVersion, entry.DriverBuildDate);
            std::printf("  firmware version %s (%u.%u), built %s\n", entry.VersionString,
                        entry.MajorVersion, entry.MinorVersion, entry.BuildDate);
        }
    }
    TqdevDestroyDeviceArray(&devices);
    const SensorFacts sensor = DecodeCameraInfo(info);
    std::printf("  model %s\n", sensor.model.c_str());
    std::printf("  sensor %u x %u samples, %u bits per sample, binning 1 to %u\n", sensor.width,
                sensor.height, sensor.bitsPerSample, sensor.maxBinning);
}

void RunInfo(const ToolOptions &options, uint32_t device) {
    ToolSession session(options);
    OpenCamera camera(device);
    TQDEV_CAMERA_INFO info;
    CheckResult("TqdevCameraInfo", TqdevCameraInfo(device, &info));
    PrintSummary(device, info);
    PrintCameraInfo(info);
    TQDEV_EXTENDED_CAMERA_INFO extended;
    CheckResult("TqdevExtendedCameraInfo", TqdevExtendedCameraInfo(device, &extended));
    PrintExtendedInfo(extended, info.capability_flags);
    TQDEV_DEVICE_STATE state;
    CheckResult("TqdevGetDeviceState", TqdevGetDeviceState(device, &state));
    PrintDeviceState(state);
    PrintFlawCount(device);
    PrintIntegrationTime(device);
}

} // namespace

void AddInfoCommand(CLI::App &app, const ToolOptions &options) {
    CLI::App *command = app.add_subcommand("info", "Print a camera's information and state");
    auto device = std::make_shared<uint32_t>(0);
    AddDeviceArgument(*command, *device);
    command->callback([&options, device] { RunInfo(options, *device); });
}
