// The camera model: how capture settings become a frame, what every sample of
// the frame holds, and how the stream is packed. Freestanding (no exceptions,
// no allocation, no containers, no threads) so that a kernel-mode build of the
// same camera can share it. The rules are documented in tqsim.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tqdev.h"
#include "tqdev_protocol.h"

namespace tqsim {

// What of a camera's configuration the frame model needs.
struct SensorModel {
    std::uint32_t width;
    std::uint32_t height;
    std::uint32_t exposureUs; // when the settings ask none
    bool deliverUnpacked;
};

// One frame's geometry: the window on the sensor and its readout, and the
// descriptor that request 6 reports for it.
struct FrameGeometry {
    std::uint32_t x0, y0, width, height; // window on the sensor
    std::uint32_t hb, vb;
    bool mirror, flip, subsample, phase1;
    std::uint32_t exposureUs;
    bool packedOutput;  // the settings ask for the packed stream
    bool packedInPlace; // delivered packed into an image-sized buffer
    TQDEV_FRAME_INFO info;
};

// What changes from frame to frame.
struct FrameStamp {
    std::uint32_t number;
    std::uint32_t seed;
    std::uint32_t ticket;
    std::uint16_t dark;
};

// Derives the frame for the settings. Returns the status result: 0, or
// TQDEV_RESULT_INVALID_PARAMETER for an impossible window (frame untouched).
std::uint32_t DeriveFrame(const TQDEV_CAPTURE_SETTINGS &settings, const SensorModel &sensor,
                          FrameGeometry *frame);

// Bytes that request 0 writes for the frame: the packed stream or the image.
std::uint32_t DeliveredBytes(const FrameGeometry &frame);

// The deterministic 12-bit sample of a sensor position in a frame: the
// frame's mask over the position's base sample.
std::uint16_t PatternSample(std::uint32_t line, std::uint32_t column, std::uint32_t frame,
                            std::uint32_t seed);
std::uint16_t BaseSample(std::uint32_t line, std::uint32_t column, std::uint32_t seed);
std::uint16_t FrameMask(std::uint32_t frame);

// Sample `sample` of stream line `line` (padding included).
std::uint16_t StreamSample(const FrameGeometry &frame, std::uint32_t line, std::uint32_t sample,
                           const FrameStamp &stamp);

// Pixel of the unpacked image; 0 outside the image.
std::uint16_t ImagePixel(const FrameGeometry &frame, std::uint32_t row, std::uint32_t column,
                         const FrameStamp &stamp);

// Packs 8 samples (bits 0..11 of each) into one 12-byte group.
void PackGroup(const std::uint16_t samples[8], std::uint8_t out[12]);

// Writes the frame as request 0 delivers it (packed stream, or the image when
// not packed). Returns the bytes written, 0 when size is too small. With a
// pattern prepared for the frame's settings (see below), a packed frame is
// that pattern with the frame's mask laid over it, at memory speed.
std::size_t WriteFrame(const FrameGeometry &frame, const FrameStamp &stamp, std::uint8_t *out,
                       std::size_t size, const std::uint8_t *pattern = nullptr);

// Bytes of the pattern prepared for a frame's settings: its window lines
// packed from the base samples. 0 when the frame gains nothing from one (not
// delivered packed, or binned vertically, whose sums the mask does not pass).
std::size_t PatternBytes(const FrameGeometry &frame);
void PreparePattern(const FrameGeometry &frame, std::uint32_t seed, std::uint8_t *pattern);

} // namespace tqsim
