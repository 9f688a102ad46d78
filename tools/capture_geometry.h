// --binning and --window of the capture command, and how they reach the
// camera through the capture record's setup words.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "tqdev.h"

struct CaptureGeometry {
    uint32_t hBinning = 1;
    uint32_t vBinning = 1;
    // Sensor window; a width or height of 0 means the full sensor.
    uint32_t left = 0;
    uint32_t top = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    bool mirror = false;
    bool flip = false;
    uint32_t exposureUs = 0; // 0: the camera's own
};

struct ImageDimensions {
    uint32_t width;
    uint32_t height;
};

// "2" or "2x3": horizontal and vertical factors, each 1 or more.
bool ParseBinning(const std::string &text, CaptureGeometry &geometry);

// "L,T,W,H" in sensor samples and lines.
bool ParseWindow(const std::string &text, CaptureGeometry &geometry);

// Stores the geometry in the words the camera's driver reads it from: the
// window in setup words 0 and 1, binning, readout bits and exposure in the
// extra words.
void ApplyGeometry(const CaptureGeometry &geometry, TQDEV_CAPTURE_PARAMS &params);

// What the camera's driver reports of its sensor in the camera information:
// words 0..3 are sensor width, sensor height, bits per sample and the largest
// binning factor; the model name is a text at byte 16, the serial number one
// at byte 56.
struct SensorFacts {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t bitsPerSample = 0;
    uint32_t maxBinning = 0;
    std::string model;
    std::string serial;
};
SensorFacts DecodeCameraInfo(const TQDEV_CAMERA_INFO &info);

// Why the camera refuses this geometry, as far as the tool can tell from the
// sensor (window outside it, binning out of range, a mirrored window whose
// width is not a multiple of 64); empty when it cannot tell.
std::string ExplainRefusal(const CaptureGeometry &geometry, const SensorFacts &sensor);

// The size of the image that a frame captured with params unpacks to, from
// the library's own output: one packed frame is captured with the same
// settings and its container's descriptor read. Fails the command when the
// capture fails.
ImageDimensions ProbeDimensions(uint32_t device, const TQDEV_CAPTURE_PARAMS &params);

// The size of the image in a packed container, from its descriptor.
ImageDimensions ContainerDimensions(const TQDEV_IMAGE_HEADER &header);
