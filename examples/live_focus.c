/* live_focus: runs a live-focus capture on the first camera into a ring of
 * three buffers until Enter is pressed (or the input ends), then reports how
 * many frames arrived.
 *
 * The library fills the ring buffers in turn and completes the progress
 * record after every frame, with ring_index naming the buffer that holds the
 * newest one; TqdevCancelLiveFocus ends the capture at its next frame, whose
 * report carries TQDEV_RESULT_LIVE_FOCUS_STOPPED. */
#include "example_common.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <tqdev.h>

#define RING_SIZE 3

struct LiveState {
    uint32_t frames; /* frames reported with TQDEV_RESULT_OK */
    uint32_t ended;  /* the final report has arrived */
    uint32_t result; /* its result */
};

/* Runs on a library thread after every frame. A real application would hand
 * the buffer at params.ring_index to its display here, quickly: the library
 * writes the ring buffers in turn. */
static void TQDEV_CALL OnFrame(uint32_t result, uint64_t user_data) {
    struct LiveState *state = (struct LiveState *)(uintptr_t)user_data;
    if (result == TQDEV_RESULT_OK) {
        ExampleStore(&state->frames, ExampleLoad(&state->frames) + 1);
        return;
    }
    ExampleStore(&state->result, result);
    ExampleStore(&state->ended, 1);
}

static int RunLiveFocus(uint32_t device) {
    TQDEV_CAPTURE_PARAMS params;
    TQDEV_PROGRESS progress;
    struct LiveState state = {0, 0, 0};
    void *ring[RING_SIZE] = {NULL, NULL, NULL};
    uint32_t frameSize = 0;
    uint32_t result;
    int failed;
    int i;

    memset(&params, 0, sizeof params);
    params.mode = TQDEV_CAPTURE_LIVE_FOCUS;
    failed = ExampleFailure("TqdevFrameSize", TqdevFrameSize(device, &params, &frameSize));
    for (i = 0; !failed && i < RING_SIZE; ++i) {
        ring[i] = malloc(frameSize);
        failed = ring[i] == NULL;
        params.ring_buffers[i] = ring[i];
    }
    if (!failed) {
        params.ring_size = RING_SIZE;
        memset(&progress, 0, sizeof progress);
        progress.Callback = OnFrame;
        progress.UserData = (uint64_t)(uintptr_t)&state;
        failed = ExampleFailure("TqdevCaptureImage", TqdevCaptureImage(device, &params, &progress));
    }
    if (!failed) {
        printf("live focus running; press Enter to stop\n");
        fflush(stdout);
        ExampleWaitForEnter();
        failed = ExampleFailure("TqdevCancelLiveFocus", TqdevCancelLiveFocus(device));
        /* The ring stays in use until the final report. */
        while (!failed && !ExampleLoad(&state.ended)) {
            ExampleSleep(5);
        }
    }
    if (!failed) {
        result = ExampleLoad(&state.result);
        if (result != TQDEV_RESULT_LIVE_FOCUS_STOPPED) {
            failed = ExampleFailure("live focus", result);
        } else {
            /* The final report delivered a frame as well. */
            printf("live focus stopped after %u frames; newest in ring buffer %u\n",
                   (unsigned)(ExampleLoad(&state.frames) + 1), (unsigned)params.ring_index);
        }
    }
    for (i = 0; i < RING_SIZE; ++i) {
        free(ring[i]);
    }
    return failed;
}

int main(void) {
    TQDEV_DEVICE_ARRAY cameras;
    uint32_t device;
    int failed;
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
            failed = RunLiveFocus(device);
            failed |= ExampleFailure("TqdevCloseDevice", TqdevCloseDevice(device));
        }
    }
    TqdevDestroyDeviceArray(&cameras);
    failed |= ExampleFailure("TqdevTerminateLibrary", TqdevTerminateLibrary());
    return failed;
}
