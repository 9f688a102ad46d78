// The deterministic frame pattern: a 32-bit mix of position and seed, turned
// per frame by a 12-bit mask of frame and seed, so that every pixel of every
// frame can be recomputed by a test and a frame is the prepared position part
// with one mask applied.
#include "camera/frame_model.h"

namespace tqsim {
namespace {

std::uint16_t Mix(std::uint32_t x) {
    x ^= x >> 15;
    x *= 0x2C1B3C6Du;
    x ^= x >> 12;
    x *= 0x297A2D39u;
    x ^= x >> 15;
    return static_cast<std::uint16_t>(x & 0xFFFu);
}

} // namespace

std::uint16_t PositionSample(std::uint32_t line, std::uint32_t column, std::uint32_t seed) {
    return Mix(line * 0x9E3779B1u ^ column * 0x85EBCA77u ^ seed * 0x27D4EB2Fu);
}

std::uint16_t FrameMask(std::uint32_t frame, std::uint32_t seed) {
    return Mix(frame * 0xC2B2AE3Du ^ seed * 0x27D4EB2Fu);
}

std::uint16_t PatternSample(std::uint32_t line, std::uint32_t column, std::uint32_t frame,
                            std::uint32_t seed) {
    return static_cast<std::uint16_t>(PositionSample(line, column, seed) ^ FrameMask(frame, seed));
}

} // namespace tqsim

extern "C" uint16_t TqsimPatternSample(uint32_t line, uint32_t column, uint32_t frame,
                                       uint32_t seed) {
    return tqsim::PatternSample(line, column, frame, seed);
}
