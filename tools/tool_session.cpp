#include "tool_session.h"

#include <cstdio>

#include "result_names.h"
#include "tqdev.h"
#include "tqsim.h"

namespace {

std::vector<uint32_t> PlugSimulatedCameras(int count) {
    std::vector<uint32_t> cameras;
    for (int i = 0; i < count; ++i) {
        uint32_t camera = 0;
        if (TqsimPlugCamera(nullptr, &camera) != 0) {
            TqsimReset();
            std::fprintf(stderr, "tqdev: could not plug simulated camera %d\n", i);
            throw CLI::RuntimeError(1);
        }
        cameras.push_back(camera);
    }
    return cameras;
}

} // namespace

ToolSession::ToolSession(const ToolOptions &options)
    : simulatedCameras_(PlugSimulatedCameras(options.simulatedCameras)) {
    if (options.debug) {
        TqdevEnableDebugPrint(1);
    }
    const uint32_t result = TqdevInitLibrary();
    if (result != TQDEV_RESULT_OK) {
        TqsimReset();
        FailCommand("TqdevInitLibrary", result);
    }
}

ToolSession::~ToolSession() {
    TqdevTerminateLibrary();
    // Stops the plug timer and the simulated cameras' workers before exit.
    TqsimReset();
}

OpenCamera::OpenCamera(uint32_t device) : device_(device) {
    CheckResult("TqdevOpenDevice", TqdevOpenDevice(device));
}

OpenCamera::~OpenCamera() {
    TqdevCloseDevice(device_);
}

CLI::Option *AddDeviceArgument(CLI::App &command, uint32_t &device) {
    return command.add_option("device", device, "Camera index, as shown by list")->required();
}
