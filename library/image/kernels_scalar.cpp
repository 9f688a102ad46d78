// Portable inner loops of the unpacker.
#include "unpack_kernels.h"

namespace {

void DecodeGroupsScalar(const uint8_t *source, size_t groups, uint16_t *samples) {
    for (size_t i = 0; i < groups; ++i, source += 12, samples += 8) {
        const uint8_t *b = source;
        samples[0] = static_cast<uint16_t>(b[3] | (b[2] & 0xF) << 8);
        samples[1] = static_cast<uint16_t>(b[2] >> 4 | b[1] << 4);
        samples[2] = static_cast<uint16_t>(b[0] | (b[7] & 0xF) << 8);
        samples[3] = static_cast<uint16_t>(b[7] >> 4 | b[6] << 4);
        samples[4] = static_cast<uint16_t>(b[5] | (b[4] & 0xF) << 8);
        samples[5] = static_cast<uint16_t>(b[4] >> 4 | b[11] << 4);
        samples[6] = static_cast<uint16_t>(b[10] | (b[9] & 0xF) << 8);
        samples[7] = static_cast<uint16_t>(b[9] >> 4 | b[8] << 4);
    }
}

void SumPairsScalar(const uint16_t *in, size_t count, uint16_t *out) {
    for (size_t k = 0; k < count; ++k) {
        const unsigned sum = in[2 * k] + in[2 * k + 1];
        out[k] = static_cast<uint16_t>(sum < 4095 ? sum : 4095);
    }
}

void KeepEvenScalar(const uint16_t *in, size_t count, uint16_t *out) {
    for (size_t k = 0; k < count; ++k)
        out[k] = in[2 * k];
}

void ReverseScalar(const uint16_t *in, size_t count, uint16_t *out) {
    for (size_t i = 0; i < count; ++i)
        out[i] = in[count - 1 - i];
}

void DecodeGroupsBackwardScalar(const uint8_t *source, size_t groups, uint16_t *samples) {
    for (size_t i = groups; i-- > 0;) {
        uint16_t group[8];
        DecodeGroupsScalar(source + 12 * i, 1, group);
        for (int k = 0; k < 8; ++k)
            samples[8 * i + k] = group[k];
    }
}

} // namespace

const UnpackKernels &ScalarUnpackKernels() {
    static constexpr UnpackKernels kernels{"scalar",       DecodeGroupsScalar,
                                           SumPairsScalar, KeepEvenScalar,
                                           ReverseScalar,  DecodeGroupsBackwardScalar,
                                           nullptr,        nullptr,
                                           nullptr,        nullptr,
                                           nullptr,        nullptr,
                                           nullptr};
    return kernels;
}
