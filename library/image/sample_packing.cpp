// Packing 12-bit samples into the stream's 12-byte groups, the inverse of
// the decoder, used for the packed calibration stamp and by tests and tools.
#include <cstring>

#include "image_data.h"

void PackSampleGroup(const uint16_t samples[8], uint8_t out[12]) {
    // Byte order c0..c11 before each 32-bit word is reversed into memory.
    uint8_t c[12];
    for (int k = 0; k < 4; ++k) {
        const uint32_t even = samples[2 * k] & 0xFFFu;
        const uint32_t odd = samples[2 * k + 1] & 0xFFFu;
        c[3 * k] = static_cast<uint8_t>(even);
        c[3 * k + 1] = static_cast<uint8_t>((even >> 8) | ((odd & 0xFu) << 4));
        c[3 * k + 2] = static_cast<uint8_t>(odd >> 4);
    }
    for (int i = 0; i < 12; ++i)
        out[i] = c[i / 4 * 4 + 3 - i % 4];
}

void PackSamples(const uint16_t *samples, uint32_t bytes, uint8_t *out) {
    for (uint32_t group = 0; group < bytes / 16; ++group)
        PackSampleGroup(samples + 8 * group, out + 12 * group);
}

void BytesToSamples(const uint32_t *words, uint32_t bytes, uint16_t *samples) {
    for (uint32_t i = 0; i < bytes / 4; ++i) {
        uint32_t word;
        std::memcpy(&word, words + i, sizeof word);
        for (int k = 0; k < 4; ++k)
            samples[4 * i + k] = static_cast<uint16_t>((word >> (8 * k)) & 0xFFu);
    }
}
