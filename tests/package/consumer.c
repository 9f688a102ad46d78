/* An application of the installed package, built as C11 and as C++17 with
 * -Wpedantic -Werror. It defines its own GetLastError, Sleep and CloseHandle,
 * as code ported from Windows often does; the library must keep using its
 * own. Plugs one simulated camera, captures a packed frame and unpacks it with
 * the geometry the container carries. Exit 0 when everything held. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <tqdev.h>
#include <tqsim.h>

#ifdef __cplusplus
extern "C" {
#endif
unsigned int GetLastError(void);
void Sleep(unsigned int milliseconds);
int CloseHandle(void *handle);
#ifdef __cplusplus
}
#endif

static unsigned int hostCalls;

unsigned int GetLastError(void) {
    ++hostCalls;
    return 12345u;
}
void Sleep(unsigned int milliseconds) {
    (void)milliseconds;
    ++hostCalls;
}
int CloseHandle(void *handle) {
    (void)handle;
    ++hostCalls;
    return 0;
}

static int Check(const char *call, uint32_t result) {
    if (result != TQDEV_RESULT_OK) {
        const char *name = TqdevResultName(result);
        fprintf(stderr, "%s: %s (%u)\n", call, name != NULL ? name : "driver result",
                (unsigned)result);
        exit(1);
    }
    return 0;
}

int main(void) {
    uint32_t camera = 0;
    TQDEV_DEVICE_ARRAY devices;
    TQDEV_CAPTURE_PARAMS params;
    TQDEV_IMAGE_HEADER header;
    uint32_t size = 0;
    uint32_t imageSize = 0;
    unsigned char *frame;
    uint16_t *pixels;

    if (TqsimPlugCamera(NULL, &camera) != 0) {
        fprintf(stderr, "cannot plug a simulated camera\n");
        return 1;
    }
    Check("TqdevInitLibrary", TqdevInitLibrary());
    Check("TqdevCreateDeviceArray", TqdevCreateDeviceArray(&devices));
    if (devices.DeviceCount != 1) {
        fprintf(stderr, "expected one camera\n");
        return 1;
    }
    Check("TqdevOpenDevice", TqdevOpenDevice(devices.Devices[0].DeviceIndex));

    memset(&params, 0, sizeof params);
    params.mode = TQDEV_CAPTURE_SINGLE;
    params.flags = TQDEV_FLAG_PACKED_OUTPUT;
    Check("TqdevFrameSize", TqdevFrameSize(0, &params, &size));
    frame = (unsigned char *)calloc(size, 1);
    params.buffer = frame;
    Check("TqdevCaptureImage", TqdevCaptureImage(0, &params, NULL));
    memcpy(&header, frame, sizeof header);
    Check("TqdevUnpackImage", TqdevUnpackImage(frame, NULL, &imageSize, 0));
    if (imageSize !=
            2u * TqdevUnpackedWidth(&header.frame_info) * TqdevUnpackedHeight(&header.frame_info) ||
        imageSize == 0) {
        fprintf(stderr, "geometry does not match the unpacked size\n");
        return 1;
    }
    pixels = (uint16_t *)malloc(imageSize);
    Check("TqdevUnpackImage", TqdevUnpackImage(frame, pixels, &imageSize, 0));

    Check("TqdevCloseDevice", TqdevCloseDevice(0));
    Check("TqdevDestroyDeviceArray", TqdevDestroyDeviceArray(&devices));
    Check("TqdevTerminateLibrary", TqdevTerminateLibrary());
    TqsimReset();
    free(pixels);
    free(frame);
    if (hostCalls != 0) {
        fprintf(stderr, "the library called the application's own Win32 names\n");
        return 1;
    }
    printf("%ux%u captured, %s\n", (unsigned)TqdevUnpackedWidth(&header.frame_info),
           (unsigned)TqdevUnpackedHeight(&header.frame_info), TqdevResultName(0));
    return 0;
}
