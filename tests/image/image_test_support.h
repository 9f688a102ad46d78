// Building descriptors and packed streams for the image tests.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "image_data.h"
#include "unpack_kernels.h"

struct Shape {
    int32_t lineWidth = 64, lineCount = 1;
    int32_t left = 0, top = 0;
    uint32_t width = 64, height = 1;
    uint32_t hb = 1, vb = 1;
    uint32_t flags = 0, extFlags = 0;
};

// A consistent descriptor whose sizes are exactly what the shape needs.
inline TQDEV_FRAME_INFO MakeInfo(const Shape &shape) {
    TQDEV_FRAME_INFO info{};
    info.line_width = shape.lineWidth;
    info.line_count = shape.lineCount;
    info.left = shape.left;
    info.top = shape.top;
    info.width = shape.width;
    info.height = shape.height;
    info.h_binning = shape.hb;
    info.v_binning = shape.vb;
    info.flags = shape.flags;
    info.ext_flags = shape.extFlags;
    const FrameGeometry geo = DeriveGeometry(info);
    info.image_size = static_cast<uint32_t>(int64_t{geo.m} * geo.n * 2);
    info.packed_size = static_cast<uint32_t>(geo.total / 8 * 12);
    return info;
}

// Packs whole groups of samples (the count is rounded up with zeros).
inline std::vector<uint8_t> PackStream(std::vector<uint16_t> samples) {
    samples.resize((samples.size() + 7) / 8 * 8);
    std::vector<uint8_t> bytes(samples.size() / 8 * 12);
    PackSamples(samples.data(), static_cast<uint32_t>(samples.size() * 2), bytes.data());
    return bytes;
}

inline std::vector<uint16_t> RandomSamples(size_t count, std::mt19937 &random) {
    std::uniform_int_distribution<int> sample(0, 4095);
    std::vector<uint16_t> samples(count);
    for (auto &s : samples)
        s = static_cast<uint16_t>(sample(random));
    return samples;
}

// Every kernel set this CPU can run: the scalar form always.
inline std::vector<const UnpackKernels *> AllKernels() {
    std::vector<const UnpackKernels *> all{&ScalarUnpackKernels()};
    if (const UnpackKernels *ssse3 = Ssse3UnpackKernels())
        all.push_back(ssse3);
    if (const UnpackKernels *avx2 = Avx2UnpackKernels())
        all.push_back(avx2);
    return all;
}
