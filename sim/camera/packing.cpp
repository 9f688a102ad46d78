// The packed group layout: in each 32-bit little-endian word the bytes run
// most significant first; read that way, every three bytes carry two samples,
// low byte of the even sample, then the two nibbles, then the odd sample's
// high byte.
#include "camera/frame_model.h"

namespace tqsim {

void PackGroup(const std::uint16_t samples[8], std::uint8_t out[12]) {
    std::uint8_t c[12];
    for (int k = 0; k < 4; ++k) {
        const std::uint32_t even = samples[2 * k] & 0xFFFu;
        const std::uint32_t odd = samples[2 * k + 1] & 0xFFFu;
        c[3 * k] = static_cast<std::uint8_t>(even & 0xFFu);
        c[3 * k + 1] = static_cast<std::uint8_t>((even >> 8) | ((odd & 0xFu) << 4));
        c[3 * k + 2] = static_cast<std::uint8_t>(odd >> 4);
    }
    for (int i = 0; i < 12; ++i) {
        out[i] = c[(i & ~3) + 3 - (i & 3)];
    }
}

} // namespace tqsim
