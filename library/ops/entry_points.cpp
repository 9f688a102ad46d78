// The exported functions: each is a plain forward to one operation.
#include "image_data.h"
#include "tqdev.h"
#include "tqdev_lib.h"
#include "tqdev_lib_nt.h"

extern "C" {

TQDEV_API uint32_t TQDEV_CALL TqdevInitLibrary(void) {
    return InitLibrary();
}

TQDEV_API uint32_t TQDEV_CALL TqdevTerminateLibrary(void) {
    return TerminateLibrary();
}

TQDEV_API uint32_t TQDEV_CALL TqdevCreateDeviceArray(TQDEV_DEVICE_ARRAY *array) {
    return CreateDeviceArray(array);
}

TQDEV_API uint32_t TQDEV_CALL TqdevDestroyDeviceArray(TQDEV_DEVICE_ARRAY *array) {
    return DestroyDeviceArray(array);
}

TQDEV_API uint32_t TQDEV_CALL TqdevRegisterNotification(TQDEV_NOTIFY_CALLBACK callback,
                                                        uint64_t user_value) {
    return RegisterNotification(callback, user_value);
}

TQDEV_API uint32_t TQDEV_CALL TqdevLibraryVersion(TQDEV_LIBRARY_VERSION *version) {
    return LibraryVersion(version);
}

TQDEV_API uint32_t TQDEV_CALL TqdevEnableDebugPrint(int32_t enable) {
    return EnableDebugPrint(enable);
}

TQDEV_API uint32_t TQDEV_CALL TqdevOpenDevice(uint32_t device) {
    return OpenDevice(device);
}

TQDEV_API uint32_t TQDEV_CALL TqdevCloseDevice(uint32_t device) {
    return CloseDevice(device);
}

TQDEV_API uint32_t TQDEV_CALL TqdevCancelIo(uint32_t device) {
    return CancelDeviceIo(device);
}

TQDEV_API uint32_t TQDEV_CALL TqdevCameraInfo(uint32_t device, TQDEV_CAMERA_INFO *info) {
    return CameraInfo(device, info);
}

TQDEV_API uint32_t TQDEV_CALL TqdevExtendedCameraInfo(uint32_t device,
                                                      TQDEV_EXTENDED_CAMERA_INFO *info) {
    return ExtendedCameraInfo(device, info);
}

TQDEV_API uint32_t TQDEV_CALL TqdevGetDeviceState(uint32_t device, TQDEV_DEVICE_STATE *state) {
    return GetDeviceState(device, state);
}

TQDEV_API uint32_t TQDEV_CALL TqdevReadRegister(uint32_t device, uint32_t reg, uint32_t *value) {
    return ReadRegister(device, reg, value);
}

TQDEV_API uint32_t TQDEV_CALL TqdevWriteRegister(uint32_t device, uint32_t reg, uint32_t value) {
    return WriteRegister(device, reg, value);
}

TQDEV_API uint32_t TQDEV_CALL TqdevReadFlaws(uint32_t device, int32_t *count, uint32_t *second,
                                             TQDEV_FLAW *entries) {
    return ReadFlaws(device, count, second, entries);
}

TQDEV_API uint32_t TQDEV_CALL TqdevWriteFlaws(uint32_t device, int32_t count,
                                              const TQDEV_FLAW *entries) {
    return WriteFlaws(device, count, entries);
}

TQDEV_API uint32_t TQDEV_CALL TqdevWriteXFormMatrix(uint32_t device, const float *matrix) {
    return WriteXFormMatrix(device, matrix);
}

TQDEV_API uint32_t TQDEV_CALL TqdevWriteBayerPattern(uint32_t device, uint8_t pattern) {
    return WriteBayerPattern(device, pattern);
}

TQDEV_API uint32_t TQDEV_CALL TqdevWriteAverageDark(uint32_t device, uint16_t level) {
    return WriteAverageDark(device, level);
}

TQDEV_API uint32_t TQDEV_CALL TqdevWriteTapGain(uint32_t device, int32_t count,
                                                const float *gains) {
    return WriteTapGain(device, count, gains);
}

TQDEV_API uint32_t TQDEV_CALL TqdevFrameSize(uint32_t device, const TQDEV_CAPTURE_PARAMS *params,
                                             uint32_t *size) {
    return FrameSize(device, params, size);
}

TQDEV_API uint32_t TQDEV_CALL TqdevWriteCaptureParams(uint32_t device,
                                                      const TQDEV_CAPTURE_PARAMS *params) {
    return WriteCaptureParams(device, params);
}

TQDEV_API uint32_t TQDEV_CALL TqdevCaptureImage(uint32_t device, TQDEV_CAPTURE_PARAMS *params,
                                                TQDEV_PROGRESS *progress) {
    return CaptureImage(device, params, progress);
}

TQDEV_API uint32_t TQDEV_CALL TqdevCancelLiveFocus(uint32_t device) {
    return CancelLiveFocus(device);
}

TQDEV_API uint32_t TQDEV_CALL TqdevGetCaptureState(uint32_t device, int32_t ticket,
                                                   int32_t *state) {
    return GetCaptureState(device, ticket, state);
}

TQDEV_API uint32_t TQDEV_CALL TqdevGetIntegrationTime(uint32_t device, uint32_t *value,
                                                      const uint32_t *guard,
                                                      TQDEV_PROGRESS *progress) {
    return GetIntegrationTime(device, value, guard, progress);
}

TQDEV_API uint32_t TQDEV_CALL TqdevUnpackImage(const void *image, uint16_t *pixels,
                                               uint32_t *image_size, uintptr_t reserved) {
    // Memory an overlapping unpack needs comes from the library's heap.
    return UnpackImage(image, pixels, image_size, reserved,
                       UnpackWorkspace{nullptr, 0, AllocateZeroed, FreeMemory});
}

} // extern "C"
