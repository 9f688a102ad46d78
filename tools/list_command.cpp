// tqdev list: the library version and every attached camera with its whole
// device record, newest camera first, as the library hands them out.
#include <cstdio>
#include <cstring>
#include <string>

#include "commands.h"
#include "result_names.h"
#include "tool_session.h"
#include "tqdev.h"

namespace {

// Record texts are 40-byte fields; never read past one even if unterminated.
std::string Text(const char (&field)[40]) {
    return std::string(field, strnlen(field, 40));
}

void PrintLibraryVersion() {
    TQDEV_LIBRARY_VERSION version;
    TqdevLibraryVersion(&version);
    std::printf("library %u.%u \"%s\" built \"%s\"\n", version.MajorVersion, version.MinorVersion,
                Text(version.VersionString).c_str(), Text(version.BuildDate).c_str());
}

void PrintDevice(const TQDEV_DEVICE_INFO &device) {
    std::printf("camera %u\n", device.DeviceIndex);
    std::printf("  type       %u\n", device.DeviceType);
    std::printf("  subtype    %u\n", device.DeviceSubtype);
    std::printf("  name       \"%s\"\n", Text(device.DeviceName).c_str());
    std::printf("  serial     \"%s\"\n", Text(device.SerialNumber).c_str());
    std::printf("  driver     %u.%u \"%s\" built \"%s\"\n", device.DriverMajorVersion,
                device.DriverMinorVersion, Text(device.DriverVersionString).c_str(),
                Text(device.DriverBuildDate).c_str());
    std::printf("  camera     %u.%u \"%s\" built \"%s\"\n", device.MajorVersion,
                device.MinorVersion, Text(device.VersionString).c_str(),
                Text(device.BuildDate).c_str());
}

void RunList(const ToolOptions &options) {
    ToolSession session(options);
    PrintLibraryVersion();
    TQDEV_DEVICE_ARRAY array;
    CheckResult("TqdevCreateDeviceArray", TqdevCreateDeviceArray(&array));
    std::printf("%u camera%s\n", array.DeviceCount, array.DeviceCount == 1 ? "" : "s");
    for (uint32_t i = 0; i < array.DeviceCount; ++i) {
        PrintDevice(array.Devices[i]);
    }
    TqdevDestroyDeviceArray(&array);
}

} // namespace

void AddListCommand(CLI::App &app, const ToolOptions &options) {
    CLI::App *command = app.add_subcommand("list", "List the attached cameras");
    command->callback([&options] { RunList(options); });
}
