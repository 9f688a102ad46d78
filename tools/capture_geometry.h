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

// Stores the geometry in the words the simulated camera reads it from: the
// window in setup words 0 and 1, binning, readout bits and exposure in the
// extra words.
void ApplyGeometry(const CaptureGeometry &geometry, TQDEV_CAPTURE_PARAMS &params);

// The size of the unpacked image that the simulated camera delivers for
// params (from the descriptor it will answer with); nullopt when the camera
// is gone or refuses the settings.
std::optional<ImageDimensions> UnpackedDimensions(uint32_t simulatedCamera,
                                                  const TQDEV_CAPTURE_PARAMS &params);

// The size of the image in a packed container, from its descriptor.
ImageDimensions ContainerDimensions(const TQDEV_IMAGE_HEADER &header);
