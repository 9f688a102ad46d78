// The tool's own container writer against the library's: the same bytes, the
// same stream layout and the same refusals, so that pack keeps writing what
// the library would.
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "image_data.h"
#include "packed_container.h"

namespace {

TEST(PackedContainer, PacksTheWorkedGroup) {
    const uint16_t samples[8] = {0x123, 0x456, 0x789, 0xABC, 0xDEF, 0x012, 0x345, 0x678};
    const uint8_t expected[12] = {0x89, 0x45, 0x61, 0x23, 0x2D, 0xEF,
                                  0xAB, 0xC7, 0x67, 0x83, 0x45, 0x01};
    uint8_t out[12] = {};
    PackSampleGroup8(samples, out);
    EXPECT_EQ(std::vector<uint8_t>(expected, expected + 12), std::vector<uint8_t>(out, out + 12));
}

TEST(PackedContainer, PacksGroupsAsTheLibraryDoes) {
    std::mt19937 random(7);
    for (int round = 0; round < 10000; ++round) {
        uint16_t samples[8];
        for (auto &s : samples)
            s = static_cast<uint16_t>(random());
        uint8_t ours[12] = {}, library[12] = {};
        PackSampleGroup8(samples, ours);
        PackSampleGroup(samples, library);
        ASSERT_EQ(0, std::memcmp(ours, library, 12)) << "round " << round;
    }
}

TEST(PackedContainer, BuildsTheLibrarysContainer) {
    TQDEV_FRAME_INFO info{};
    info.line_width = 21;
    info.line_count = 6;
    info.width = 16;
    info.height = 4;
    info.left = 4;
    info.top = 2;
    info.h_binning = 2;
    info.v_binning = 2;
    info.flags = TQDEV_FRAME_MIRROR;
    info.image_size = 8 * 2 * 2;
    const FrameGeometry geo = DeriveGeometry(info);
    info.packed_size = static_cast<uint32_t>(geo.total / 8 * 12);
    std::vector<uint16_t> samples(static_cast<size_t>(geo.total));
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<uint16_t>((i * 977 + 5) & 0xFFF);

    std::vector<uint8_t> library(ImageHeaderSize() + info.packed_size);
    WriteImageHeader(library.data(), info);
    PackSamples(samples.data(), static_cast<uint32_t>(samples.size() * 2),
                library.data() + ImageHeaderSize());
    EXPECT_EQ(library, BuildContainer(info, samples));
}

TQDEV_FRAME_INFO RandomDescriptor(std::mt19937 &random) {
    // Small values mostly, so that some descriptors hold; extremes sometimes.
    const auto pick = [&random]() -> uint32_t {
        switch (random() % 8) {
        case 0:
            return random();
        case 1:
            return static_cast<uint32_t>(INT32_MAX - static_cast<int32_t>(random() % 9));
        case 2:
            return 0x80000000u + random() % 4;
        case 3:
            return static_cast<uint32_t>(-static_cast<int32_t>(random() % 4));
        default:
            return random() % 40;
        }
    };
    TQDEV_FRAME_INFO info{};
    info.line_width = static_cast<int32_t>(pick());
    info.line_count = static_cast<int32_t>(pick());
    info.width = pick();
    info.height = pick();
    info.left = static_cast<int32_t>(pick());
    info.top = static_cast<int32_t>(pick());
    info.h_binning = random() % 4 == 0 ? pick() : random() % 4;
    info.v_binning = random() % 4 == 0 ? pick() : random() % 4;
    const FrameGeometry geo = DeriveGeometry(info);
    info.image_size =
        random() % 2 == 0 ? pick() : static_cast<uint32_t>(int64_t{geo.m} * geo.n * 2);
    info.packed_size = random() % 2 == 0 ? pick() : static_cast<uint32_t>(geo.total / 8 * 12);
    return info;
}

TEST(PackedContainer, ReadsDescriptorsAsTheLibraryDoes) {
    std::mt19937 random(11);
    int held = 0;
    for (int round = 0; round < 200000; ++round) {
        const TQDEV_FRAME_INFO info = RandomDescriptor(random);
        const FrameGeometry geo = DeriveGeometry(info);
        const StreamLayout layout = DescribeStream(info);
        ASSERT_EQ(geo.hb, layout.hBinning) << "round " << round;
        ASSERT_EQ(geo.vb, layout.vBinning) << "round " << round;
        ASSERT_EQ(geo.w8, layout.paddedWidth) << "round " << round;
        ASSERT_EQ(geo.lines, layout.lines) << "round " << round;
        ASSERT_EQ(geo.g, layout.firstLine) << "round " << round;
        ASSERT_EQ(geo.m, layout.rows) << "round " << round;
        ASSERT_EQ(geo.n, layout.columns) << "round " << round;
        ASSERT_EQ(geo.total, layout.samples) << "round " << round;
        const bool consistent = FrameInfoIsConsistent(info);
        ASSERT_EQ(consistent, StreamHoldsWindow(info)) << "round " << round;
        held += consistent ? 1 : 0;
    }
    // Both answers came up often enough to mean something.
    EXPECT_GT(held, 100);
    EXPECT_LT(held, 199000);
}

} // namespace
