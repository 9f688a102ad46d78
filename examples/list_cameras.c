/* list_cameras: lists the attached cameras, then reports cameras as they are
 * plugged in or removed until Enter is pressed (or for the number of seconds
 * given as the first argument).
 *
 * Build: cc -std=c11 list_cameras.c $(pkg-config --cflags --libs tqdev) */
#include "example_common.h"

#include <stdio.h>
#include <stdlib.h>

#include <tqdev.h>

/* Called on the library's notification thread, without any library lock.
 * It may call the library, but not TqdevTerminateLibrary. */
static void TQDEV_CALL OnDeviceEvent(uint32_t event, uint32_t device, uint64_t user_value) {
    (void)user_value;
    printf("camera %u %s\n", (unsigned)device,
           event == TQDEV_EVENT_DEVICE_ADDED ? "plugged in" : "removed");
    fflush(stdout);
}

static int ListCameras(void) {
    TQDEV_DEVICE_ARRAY cameras;
    uint32_t i;
    uint32_t result = TqdevCreateDeviceArray(&cameras);
    if (result != TQDEV_RESULT_OK) {
        return ExampleFailure("TqdevCreateDeviceArray", result);
    }
    /* An empty list is no error: Devices is then null, so never read
     * Devices[0] without looking at DeviceCount. */
    printf("%u camera(s)\n", (unsigned)cameras.DeviceCount);
    for (i = 0; i < cameras.DeviceCount; ++i) {
        const TQDEV_DEVICE_INFO *info = &cameras.Devices[i];
        printf("camera %u: %s, serial %s, firmware %s, driver %s\n", (unsigned)info->DeviceIndex,
               info->DeviceName, info->SerialNumber, info->VersionString,
               info->DriverVersionString);
    }
    TqdevDestroyDeviceArray(&cameras);
    return 0;
}

int main(int argc, char **argv) {
    int failed;
    uint32_t result = TqdevInitLibrary();
    if (result != TQDEV_RESULT_OK) {
        return ExampleFailure("TqdevInitLibrary", result);
    }
    failed = ListCameras();
    if (!failed) {
        result = TqdevRegisterNotification(OnDeviceEvent, 0);
        failed = ExampleFailure("TqdevRegisterNotification", result);
    }
    if (!failed) {
        if (argc > 1) {
            ExampleSleep((unsigned)(atof(argv[1]) * 1000));
        } else {
            printf("watching for cameras; press Enter to stop\n");
            ExampleWaitForEnter();
        }
        /* Stop the callbacks before the library goes away. */
        TqdevRegisterNotification(NULL, 0);
    }
    result = TqdevTerminateLibrary();
    return failed ? failed : ExampleFailure("TqdevTerminateLibrary", result);
}
