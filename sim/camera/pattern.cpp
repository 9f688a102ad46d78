// The deterministic frame pattern: a 32-bit mix of position and seed, the
// same for every frame, with a 12-bit mask of the frame number laid over it,
// so that every pixel of every frame can be recomputed by a test, and a
// packed frame is the prepared packed pattern with one mask over every byte.
#include "camera/frame_model.h"

namespace tqsim {

std::uint16_t FrameMask(std::uint32_t frame) {
    return static_cast<std::uint16_t>(frame * 0x9E5u & 0xFFFu);
}

std::uint16_t PatternSample(std::uint32_t line, std::uint32_t column, std::uint32_t frame,
                            std::uint32_t seed) {
    return BaseSample(line, column, seed) ^ FrameMask(frame);
}

std::uint16_t BaseSample(std::uint32_t line, std::uint32_t column, std::uint32_t seed) {
    std::uint32_t x = line * 0x9E3779B1u ^ column * 0x85EBCA77u ^ seed * 0x27D4EB2Fu;
    x ^= x >> 15;
    x *= 0x2C1B3C6Du;
    x ^= x >> 12;
    x *= 0x297A2D39u;
    x ^= x >> 15;
    return static_cast<std::uint16_t>(x & 0xFFFu);
}

} // namespace tqsim
