// tqdev watch: prints cameras as they are plugged in and removed, until
// Ctrl-C or --seconds. With simulated cameras the simulator's plug timer
// plugs and unplugs cameras so that there is something to see.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>

#include "commands.h"
#include "interrupt.h"
#include "numbers.h"
#include "result_names.h"
#include "tool_session.h"
#include "tqdev.h"
#include "tqsim.h"

namespace {

struct WatchOptions {
    uint32_t plugEveryMs = 1000; // 0: no plug timer
    uint32_t maxCameras = 0;     // 0: one more than --sim plugged, at least 3
    double seconds = 0;          // 0: until Ctrl-C
};

// Runs on the library's notification thread; one whole line per event.
void TQDEV_CALL OnDeviceEvent(uint32_t event, uint32_t device, uint64_t) {
    std::printf("%s camera %u\n", event == TQDEV_EVENT_DEVICE_ADDED ? "added" : "removed", device);
    std::fflush(stdout);
}

void PrintPresentCameras() {
    TQDEV_DEVICE_ARRAY array;
    CheckResult("TqdevCreateDeviceArray", TqdevCreateDeviceArray(&array));
    std::printf("watching; %u camera%s present:", array.DeviceCount,
                array.DeviceCount == 1 ? "" : "s");
    for (uint32_t i = 0; i < array.DeviceCount; ++i) {
        std::printf(" %u", array.Devices[i].DeviceIndex);
    }
    std::printf("\n");
    std::fflush(stdout);
    TqdevDestroyDeviceArray(&array);
}

void WaitForEnd(double seconds) {
    if (seconds > 0) {
        SleepUnlessInterrupted(std::chrono::milliseconds(static_cast<long long>(seconds * 1000)));
        return;
    }
    while (!SleepUnlessInterrupted(std::chrono::hours(1))) {
    }
}

void RunWatch(const ToolOptions &options, const WatchOptions &watch) {
    CatchInterrupt();
    ToolSession session(options);
    CheckResult("TqdevRegisterNotification", TqdevRegisterNotification(OnDeviceEvent, 0));
    PrintPresentCameras();
    if (watch.plugEveryMs > 0) {
        // By default the timer first plugs one more camera, then alternates.
        const uint32_t plugged = static_cast<uint32_t>(options.simulatedCameras);
        const uint32_t maxCameras =
            watch.maxCameras > 0 ? watch.maxCameras : std::max<uint32_t>(3, plugged + 1);
        TqsimStartPlugTimer(watch.plugEveryMs, maxCameras);
    }
    WaitForEnd(watch.seconds);
    TqsimStartPlugTimer(0, 0);
    // An event already taken by the notification thread may still print;
    // terminating the library waits for that thread.
    CheckResult("TqdevRegisterNotification", TqdevRegisterNotification(nullptr, 0));
    std::printf("stopped\n");
}

} // namespace

void AddWatchCommand(CLI::App &app, const ToolOptions &options) {
    CLI::App *command = app.add_subcommand("watch", "Print cameras as they come and go");
    auto watch = std::make_shared<WatchOptions>();
    command
        ->add_option("--plug-every", watch->plugEveryMs,
                     "Simulator: plug or unplug a camera every MS milliseconds (0: never)")
        ->capture_default_str();
    command
        ->add_option("--max-cameras", watch->maxCameras,
                     "Simulator: unplug the oldest camera once this many are plugged "
                     "(default: one more than --sim, at least 3)")
        ->check(CLI::Range(1, 64));
    command->add_option("--seconds", watch->seconds, "Stop after S seconds (default: Ctrl-C)")
        ->check(SecondsRange(true));
    command->callback([&options, watch] { RunWatch(options, *watch); });
}
