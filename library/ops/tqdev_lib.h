// Module tqdev_lib: the camera operations behind the exported functions. The
// entry layer (entry_points.cpp) forwards every export to one of these.
#pragma once

#include <cstdint>

#include "tqdev.h"

// Library frame
uint32_t LibraryVersion(TQDEV_LIBRARY_VERSION *version);
uint32_t EnableDebugPrint(int32_t enable);

// Completes an asynchronous operation's progress record (null: nothing):
// Percent 100, Result, then Done 1; then the callback, if any.
void CompleteProgress(TQDEV_PROGRESS *progress, uint32_t result);

// Synchronous camera operations
uint32_t CameraInfo(uint32_t device, TQDEV_CAMERA_INFO *info);
uint32_t ExtendedCameraInfo(uint32_t device, TQDEV_EXTENDED_CAMERA_INFO *info);
uint32_t GetDeviceState(uint32_t device, TQDEV_DEVICE_STATE *state);
uint32_t ReadRegister(uint32_t device, uint32_t reg, uint32_t *value);
uint32_t WriteRegister(uint32_t device, uint32_t reg, uint32_t value);
uint32_t ReadFlaws(uint32_t device, int32_t *count, uint32_t *second, TQDEV_FLAW *entries);
uint32_t WriteFlaws(uint32_t device, int32_t count, const TQDEV_FLAW *entries);
uint32_t WriteXFormMatrix(uint32_t device, const float *matrix);
uint32_t WriteBayerPattern(uint32_t device, uint8_t pattern);
uint32_t WriteAverageDark(uint32_t device, uint16_t level);
uint32_t WriteTapGain(uint32_t device, int32_t count, const float *gains);

// Capture settings and frame size
uint32_t BuildCaptureSettings(const TQDEV_CAPTURE_PARAMS *params, TQDEV_CAPTURE_SETTINGS *settings);
uint32_t FrameSize(uint32_t device, const TQDEV_CAPTURE_PARAMS *params, uint32_t *size);
uint32_t WriteCaptureParams(uint32_t device, const TQDEV_CAPTURE_PARAMS *params);

// Capture engine
uint32_t CaptureImage(uint32_t device, TQDEV_CAPTURE_PARAMS *params, TQDEV_PROGRESS *progress);
uint32_t CancelLiveFocus(uint32_t device);

// Capture state and integration time
uint32_t GetCaptureState(uint32_t device, int32_t ticket, int32_t *state);
uint32_t GetIntegrationTime(uint32_t device, uint32_t *value, const uint32_t *guard,
                            TQDEV_PROGRESS *progress);
