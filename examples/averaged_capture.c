/* averaged_capture: averages frames from the first camera while showing the
 * capture's progress, then prints the mean level.
 *
 *   averaged_capture [frames]
 *
 * The capture runs asynchronously: TqdevCaptureImage returns at once, the
 * library updates the progress record's Percent while it works, and calls
 * the progress callback on one of its threads when the capture has ended. */
#include "example_common.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <tqdev.h>

/* What the callback hands to the main thread. */
struct CaptureEnd {
    uint32_t ended;
    uint32_t result;
};

/* Runs on a library thread once the capture has ended: keep it short. */
static void TQDEV_CALL OnCaptureEnd(uint32_t result, uint64_t user_data) {
    struct CaptureEnd *end = (struct CaptureEnd *)(uintptr_t)user_data;
    ExampleStore(&end->result, result);
    ExampleStore(&end->ended, 1);
}

static int Average(uint32_t device, int32_t frames) {
    TQDEV_CAPTURE_PARAMS params;
    TQDEV_PROGRESS progress;
    struct CaptureEnd end = {0, 0};
    uint32_t imageSize = 0;
    uint32_t shown = 101;
    uint16_t *image;
    int failed;

    memset(&params, 0, sizeof params);
    params.mode = TQDEV_CAPTURE_AVERAGED; /* averaged frames come unpacked */
    if (ExampleFailure("TqdevFrameSize", TqdevFrameSize(device, &params, &imageSize))) {
        return 1;
    }
    image = (uint16_t *)malloc(imageSize);
    if (image == NULL) {
        return 1;
    }
    params.buffer = image;
    params.frame_count = frames;
    params.sum_buffer = NULL; /* the library allocates the sums */

    memset(&progress, 0, sizeof progress);
    progress.Callback = OnCaptureEnd;
    progress.UserData = (uint64_t)(uintptr_t)&end;
    /* A failure before the start is returned here and also delivered to the
     * callback; either way the record is complete afterwards. */
    failed = ExampleFailure("TqdevCaptureImage", TqdevCaptureImage(device, &params, &progress));
    /* The record and the buffers stay in place until the capture has ended. */
    while (!ExampleLoad(&end.ended)) {
        uint32_t percent = ExampleLoad(&progress.Percent);
        if (percent != shown) {
            printf("averaging: %u%%\n", (unsigned)percent);
            shown = percent;
        }
        ExampleSleep(10);
    }
    /* Complete now: Percent reads 100. */
    printf("averaging: %u%%\n", (unsigned)ExampleLoad(&progress.Percent));
    if (!failed) {
        failed = ExampleFailure("averaged capture", ExampleLoad(&end.result));
    }
    if (!failed) {
        printf("averaged %d frames, mean level %d\n", (int)frames, (int)params.mean_level);
    }
    free(image);
    return failed;
}

int main(int argc, char **argv) {
    TQDEV_DEVICE_ARRAY cameras;
    int32_t frames = argc > 1 ? atoi(argv[1]) : 8;
    uint32_t device;
    int failed;
    if (frames < 1) {
        fprintf(stderr, "usage: %s [frames, 1 or more]\n", argv[0]);
        return 2;
    }
    if (ExampleFailure("TqdevInitLibrary", TqdevInitLibrary())) {
        return 1;
    }
    failed = ExampleFailure("TqdevCreateDeviceArray", TqdevCreateDeviceArray(&cameras));
    if (!failed && cameras.DeviceCount == 0) {
        fprintf(stderr, "no camera attached\n");
        failed = 1;
    }
    if (!failed) {
        device = cameras.Devices[0].DeviceIndex;
        failed = ExampleFailure("TqdevOpenDevice", TqdevOpenDevice(device));
        if (!failed) {
            failed = Average(device, frames);
            failed |= ExampleFailure("TqdevCloseDevice", TqdevCloseDevice(device));
        }
    }
    TqdevDestroyDeviceArray(&cameras);
    /* Also waits until the callback has returned on its thread. */
    failed |= ExampleFailure("TqdevTerminateLibrary", TqdevTerminateLibrary());
    return failed;
}
