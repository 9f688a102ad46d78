// The fast unpacker against the reference walk over many random consistent
// descriptors, with every kernel set, separate buffers and in place. Guard
// bytes around every buffer catch stray reads' neighbours being written.
#include <gtest/gtest.h>

#include <cstring>

#include "image_test_support.h"
#include "reference_unpacker.h"

namespace {

constexpr size_t kGuard = 64;
constexpr uint8_t kGuardByte = 0xC5;

// memcpy and memcmp that accept the null pointers of empty vectors.
void CopyBytes(void *to, const void *from, size_t size) {
    if (size != 0)
        std::memcpy(to, from, size);
}

bool SameBytes(const void *a, const void *b, size_t size) {
    return size == 0 || std::memcmp(a, b, size) == 0;
}

template <typename T> T Pick(std::mt19937 &random, std::initializer_list<T> values) {
    std::uniform_int_distribution<size_t> index(0, values.size() - 1);
    return *(values.begin() + index(random));
}

int Between(std::mt19937 &random, int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(random);
}

Shape RandomShape(std::mt19937 &random) {
    Shape shape;
    // Now and then a bin wider than the unpacker's chunks.
    const bool wideBins = Between(random, 0, 40) == 0;
    shape.hb = wideBins ? Pick(random, {2049u, 3000u})
                        : Pick(random, {0u, 1u, 1u, 2u, 2u, 3u, 4u, 5u, 8u, 16u, 33u});
    shape.vb = Pick(random, {0u, 1u, 1u, 2u, 3u});
    shape.width = wideBins ? static_cast<uint32_t>(Between(random, 2049, 7000))
                           : Pick(random, {0u, 1u, 64u, 128u, 192u, 256u, 2048u, 4160u,
                                           static_cast<uint32_t>(Between(random, 1, 300)),
                                           static_cast<uint32_t>(Between(random, 1, 300))});
    shape.left = Between(random, 0, 3) == 0 ? 0 : Between(random, 0, 40);
    const int needed = shape.left + static_cast<int>(shape.width);
    shape.lineWidth = std::max(1, needed + Between(random, -7, 24));
    if ((shape.lineWidth + 7) / 8 * 8 < needed)
        shape.lineWidth += 8;
    const uint32_t vb = shape.vb == 0 ? 1 : shape.vb;
    shape.height = static_cast<uint32_t>(Between(random, 0, 9));
    shape.top = Between(random, 0, 2) == 0 ? 0 : Between(random, 0, 7);
    const int lines = shape.top / static_cast<int>(vb) + static_cast<int>(shape.height / vb);
    shape.lineCount = (lines + Between(random, 0, 2)) * static_cast<int>(vb) +
                      Between(random, 0, static_cast<int>(vb) - 1);
    shape.flags = static_cast<uint32_t>(Between(random, 0, 15)) &
                  (TQDEV_FRAME_MIRROR | TQDEV_FRAME_FLIP | TQDEV_FRAME_PACKED);
    if (Between(random, 0, 3) == 0)
        shape.flags |= TQDEV_FRAME_SUBSAMPLE;
    shape.extFlags = Pick(random, {0u, 0u, TQDEV_FRAME_EXT_SUBSAMPLE, TQDEV_FRAME_EXT_PHASE1,
                                   TQDEV_FRAME_EXT_SUBSAMPLE | TQDEV_FRAME_EXT_PHASE1});
    return shape;
}

int32_t RandomRowLimit(std::mt19937 &random, const TQDEV_FRAME_INFO &info) {
    if (Between(random, 0, 3) != 0)
        return info.line_count;
    return Between(random, -1, DeriveGeometry(info).lines + 1);
}

// Every other round streams whatever can be streamed, so that the streaming
// paths, which the unpacker keeps for large frames, meet every shape too.
StreamingFrom StreamingFor(int round) {
    return round % 2 == 0 ? StreamingFrom{} : StreamingFrom{0, 0};
}

// A buffer with guard bytes on both sides.
struct Guarded {
    std::vector<uint8_t> bytes;
    explicit Guarded(size_t size) : bytes(size + 2 * kGuard, kGuardByte) {}
    uint8_t *data() { return bytes.data() + kGuard; }
    bool GuardsIntact() const {
        return std::all_of(bytes.begin(), bytes.begin() + kGuard,
                           [](uint8_t b) { return b == kGuardByte; }) &&
               std::all_of(bytes.end() - kGuard, bytes.end(),
                           [](uint8_t b) { return b == kGuardByte; });
    }
};

struct Frame {
    TQDEV_FRAME_INFO info;
    int32_t rowLimit;
    std::vector<uint8_t> packed;
    std::vector<uint16_t> before; // the destination's earlier content
};

Frame RandomFrame(std::mt19937 &random) {
    Frame frame;
    frame.info = MakeInfo(RandomShape(random));
    frame.rowLimit = RandomRowLimit(random, frame.info);
    const FrameGeometry geo = DeriveGeometry(frame.info);
    frame.packed = PackStream(RandomSamples(static_cast<size_t>(geo.total), random));
    frame.before = RandomSamples(frame.info.image_size / 2, random);
    return frame;
}

std::string Describe(const Frame &frame) {
    const TQDEV_FRAME_INFO &i = frame.info;
    return "line_width " + std::to_string(i.line_width) + " line_count " +
           std::to_string(i.line_count) + " left " + std::to_string(i.left) + " top " +
           std::to_string(i.top) + " width " + std::to_string(i.width) + " height " +
           std::to_string(i.height) + " hb " + std::to_string(i.h_binning) + " vb " +
           std::to_string(i.v_binning) + " flags " + std::to_string(i.flags) + " ext " +
           std::to_string(i.ext_flags) + " limit " + std::to_string(frame.rowLimit);
}

TEST(UnpackDifferential, SeparateBuffersMatchTheReference) {
    std::mt19937 random(2024);
    for (int round = 0; round < 1500; ++round) {
        const Frame frame = RandomFrame(random);
        std::vector<uint16_t> expected = frame.before;
        ReferenceUnpackFrame(frame.info, frame.rowLimit, frame.packed.data(), expected.data());
        for (const UnpackKernels *kernels : AllKernels()) {
            Guarded source(frame.packed.size());
            CopyBytes(source.data(), frame.packed.data(), frame.packed.size());
            Guarded destination(frame.info.image_size);
            CopyBytes(destination.data(), frame.before.data(), frame.info.image_size);
            ASSERT_EQ(TQDEV_RESULT_OK,
                      UnpackFrameWith(*kernels, frame.info, frame.rowLimit, source.data(),
                                      reinterpret_cast<uint16_t *>(destination.data()), {},
                                      StreamingFor(round)));
            ASSERT_TRUE(SameBytes(expected.data(), destination.data(), frame.info.image_size))
                << kernels->name << " round " << round << ": " << Describe(frame);
            ASSERT_TRUE(source.GuardsIntact() && destination.GuardsIntact()) << Describe(frame);
            ASSERT_TRUE(SameBytes(source.data(), frame.packed.data(), frame.packed.size()));
        }
    }
}

// Packed data and pixels sharing one buffer, the pixels starting at the
// packed data or a little before or after it, give the pixels of a copy.
TEST(UnpackDifferential, InPlaceMatchesACopy) {
    std::mt19937 random(77);
    for (int round = 0; round < 1500; ++round) {
        const Frame frame = RandomFrame(random);
        const int64_t shift = Between(random, 0, 2) == 0 ? 2 * Between(random, -40, 40) : 0;
        const int64_t packedAt = std::max<int64_t>(0, -shift), pixelsAt = packedAt + shift;
        const size_t size =
            static_cast<size_t>(std::max(packedAt + static_cast<int64_t>(frame.packed.size()),
                                         pixelsAt + static_cast<int64_t>(frame.info.image_size)));
        std::vector<uint8_t> start(size);
        for (auto &b : start)
            b = static_cast<uint8_t>(random());
        CopyBytes(start.data() + packedAt, frame.packed.data(), frame.packed.size());
        std::vector<uint8_t> expected = start;
        ReferenceUnpackFrame(frame.info, frame.rowLimit, frame.packed.data(),
                             reinterpret_cast<uint16_t *>(expected.data() + pixelsAt));
        for (const UnpackKernels *kernels : AllKernels()) {
            Guarded buffer(size);
            CopyBytes(buffer.data(), start.data(), size);
            ASSERT_EQ(TQDEV_RESULT_OK,
                      UnpackFrameWith(*kernels, frame.info, frame.rowLimit,
                                      buffer.data() + packedAt,
                                      reinterpret_cast<uint16_t *>(buffer.data() + pixelsAt), {},
                                      StreamingFor(round)));
            ASSERT_TRUE(SameBytes(expected.data(), buffer.data(), size))
                << kernels->name << " round " << round << " shift " << shift << ": "
                << Describe(frame);
            ASSERT_TRUE(buffer.GuardsIntact()) << Describe(frame);
        }
    }
}

} // namespace
