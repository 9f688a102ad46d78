// The camera model: how capture settings become a frame, what every sample of
// the frame holds, and how the stream is packed. Freestanding (no exceptions,
// no allocation, no containers, no threads) so that a kernel-mode build of the
// same camera can share it. The rules are documented in tqsim.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tqdev.h"
#include "tqsim.h"

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

// The deterministic 12-bit sample of a sensor position in a frame.
std::uint16_t PatternSample(std::uint32_t line, std::uint32_t column, std::uint32_t frame,
                            std::uint32_t seed);

// The two parts of a pattern sample: the position part, the same in every
// frame, and the frame's 12-bit mask applied to it.
std::uint16_t PositionSample(std::uint32_t line, std::uint32_t column, std::uint32_t seed);
std::uint16_t FrameMask(std::uint32_t frame, std::uint32_t seed);

// Sample `sample` of stream line `line` (padding included).
std::uint16_t StreamSample(const FrameGeometry &frame, std::uint32_t line, std::uint32_t sample,
                           const FrameStamp &stamp);

// Pixel of the unpacked image; 0 outside the image.
std::uint16_t ImagePixel(const FrameGeometry &frame, std::uint32_t row, std::uint32_t column,
                         const FrameStamp &stamp);

// Packs 8 samples (bits 0..11 of each) into one 12-byte group.
void PackGroup(const std::uint16_t samples[8], std::uint8_t out[12]);

// Writes the frame as request 0 delivers it (packed stream, or the image when
// not packed). Returns the bytes written, 0 when size is too small.
std::size_t WriteFrame(const FrameGeometry &frame, const FrameStamp &stamp, std::uint8_t *out,
                       std::size_t size);

// The packed position part of a window's stream, prepared once per window and
// seed in storage the host gives, so that a frame costs one pass over it.
struct PreparedStream {
    std::uint8_t *bytes;
    std::size_t capacity;
    std::uint32_t key[8]; // what the bytes hold; key[0] = 0 when nothing
};

// Bytes a prepared stream of the frame takes; 0 when the frame is not made
// from one (the image, or vertical binning).
std::size_t PreparedStreamBytes(const FrameGeometry &frame);

// Writes the frame as WriteFrame does, from the prepared stream when the frame
// is a packed stream without vertical binning and the storage holds it,
// preparing it first when it holds another window. Without room it writes
// the frame sample by sample.
std::size_t WriteFramePrepared(const FrameGeometry &frame, const FrameStamp &stamp,
                               PreparedStream *prepared, std::uint8_t *out, std::size_t size);

} // namespace tqsim
