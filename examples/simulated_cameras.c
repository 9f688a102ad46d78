/* Linked into the examples on Linux only, so that they can run without
 * hardware: before main, plugs TQDEV_EXAMPLE_CAMERAS simulated cameras and,
 * with TQDEV_EXAMPLE_PLUG_EVERY_MS, starts plugging and unplugging more.
 * Without those variables it does nothing. The examples themselves use only
 * tqdev.h. */
#include <stdio.h>
#include <stdlib.h>

#include <tqsim.h>

static unsigned long Setting(const char *name) {
    const char *text = getenv(name);
    return text != NULL ? strtoul(text, NULL, 10) : 0;
}

/* At exit: no simulator thread outlives the program. */
static void UnplugSimulatedCameras(void) {
    TqsimReset();
}

__attribute__((constructor)) static void PlugSimulatedCameras(void) {
    unsigned long count = Setting("TQDEV_EXAMPLE_CAMERAS");
    unsigned long period = Setting("TQDEV_EXAMPLE_PLUG_EVERY_MS");
    unsigned long i;
    uint32_t camera;
    if (count == 0 && period == 0) {
        return;
    }
    /* Resetting first sets up the simulator's state, so it is torn down only
     * after the exit handler registered next has run. */
    TqsimReset();
    atexit(UnplugSimulatedCameras);
    for (i = 0; i < count; ++i) {
        if (TqsimPlugCamera(NULL, &camera) != 0) {
            fprintf(stderr, "cannot plug simulated camera %lu\n", i);
            exit(1);
        }
    }
    if (period != 0) {
        TqsimStartPlugTimer((uint32_t)period, (uint32_t)count + 2);
    }
}
