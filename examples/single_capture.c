/* single_capture: captures one frame from the first camera and writes it as
 * a 16-bit PGM file.
 *
 *   single_capture out.pgm
 *
 * The frame is asked for packed: its container carries the frame descriptor,
 * from which the image's width and height follow (TqdevUnpackedWidth and
 * TqdevUnpackedHeight); TqdevUnpackImage turns it into 16-bit pixels. */
#include "example_common.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <tqdev.h>

/* PGM stores 16-bit samples most significant byte first; 4095 is white. */
static int WritePgm(const char *path, const uint16_t *pixels, uint32_t width, uint32_t height) {
    size_t i;
    size_t count = (size_t)width * height;
    FILE *file = fopen(path, "wb");
    int ok;
    if (file == NULL) {
        perror(path);
        return 1;
    }
    ok = fprintf(file, "P5\n%u %u\n4095\n", (unsigned)width, (unsigned)height) > 0;
    for (i = 0; ok && i < count; ++i) {
        ok = fputc(pixels[i] >> 8, file) != EOF && fputc(pixels[i] & 0xFF, file) != EOF;
    }
    if (fclose(file) != 0 || !ok) {
        fprintf(stderr, "%s: cannot write\n", path);
        return 1;
    }
    return 0;
}

/* Captures into a container buffer and writes the unpacked image. */
static int CaptureToFile(uint32_t device, const char *path) {
    TQDEV_CAPTURE_PARAMS params;
    TQDEV_IMAGE_HEADER header;
    uint32_t frameSize = 0;
    uint32_t imageSize = 0;
    unsigned char *container = NULL;
    uint16_t *pixels = NULL;
    int failed;

    /* Every field not set here must be 0, the reserved words included. */
    memset(&params, 0, sizeof params);
    params.mode = TQDEV_CAPTURE_SINGLE;
    params.flags = TQDEV_FLAG_PACKED_OUTPUT;
    failed = ExampleFailure("TqdevFrameSize", TqdevFrameSize(device, &params, &frameSize));
    if (!failed) {
        container = (unsigned char *)calloc(frameSize, 1);
        failed = container == NULL;
    }
    if (!failed) {
        params.buffer = container;
        /* No progress record: waits until the frame is in the buffer. */
        failed = ExampleFailure("TqdevCaptureImage", TqdevCaptureImage(device, &params, NULL));
    }
    if (!failed) {
        failed =
            ExampleFailure("TqdevUnpackImage", TqdevUnpackImage(container, NULL, &imageSize, 0));
    }
    if (!failed) {
        pixels = (uint16_t *)malloc(imageSize);
        failed =
            pixels == NULL ||
            ExampleFailure("TqdevUnpackImage", TqdevUnpackImage(container, pixels, &imageSize, 0));
    }
    if (!failed) {
        memcpy(&header, container, sizeof header);
        printf("captured %u x %u, ticket %u\n", (unsigned)TqdevUnpackedWidth(&header.frame_info),
               (unsigned)TqdevUnpackedHeight(&header.frame_info), (unsigned)params.ticket);
        failed = WritePgm(path, pixels, TqdevUnpackedWidth(&header.frame_info),
                          TqdevUnpackedHeight(&header.frame_info));
    }
    free(pixels);
    free(container);
    return failed;
}

int main(int argc, char **argv) {
    TQDEV_DEVICE_ARRAY cameras;
    uint32_t device;
    int failed;
    if (argc != 2) {
        fprintf(stderr, "usage: %s out.pgm\n", argv[0]);
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
        /* Newest camera first. */
        device = cameras.Devices[0].DeviceIndex;
        failed = ExampleFailure("TqdevOpenDevice", TqdevOpenDevice(device));
        if (!failed) {
            failed = CaptureToFile(device, argv[1]);
            failed |= ExampleFailure("TqdevCloseDevice", TqdevCloseDevice(device));
        }
    }
    TqdevDestroyDeviceArray(&cameras);
    failed |= ExampleFailure("TqdevTerminateLibrary", TqdevTerminateLibrary());
    return failed;
}
