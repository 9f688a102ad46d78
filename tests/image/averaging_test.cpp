#include <gtest/gtest.h>

#include "image_test_support.h"

namespace {

TQDEV_FRAME_INFO ImageOf(uint32_t rows, uint32_t columns) {
    return MakeInfo({.lineWidth = static_cast<int32_t>(columns),
                     .lineCount = static_cast<int32_t>(rows),
                     .width = columns,
                     .height = rows});
}

struct AverageCase {
    const char *what;
    uint32_t rows, columns;
    int32_t frames;
    std::vector<uint32_t> sums;
    std::vector<uint16_t> pixels;
    int32_t mean;
};

TEST(AverageFrames, RoundsPixelsAndTakesTheMeanOfRowMeans) {
    const AverageCase cases[] = {
        {"two frames", 2, 3, 2, {1, 2, 3, 4, 5, 6}, {1, 1, 2, 2, 3, 3}, 2},
        {"mean of row means, not of pixels", 2, 2, 1, {1, 2, 3, 3}, {1, 2, 3, 3}, 3},
        {"four frames round halves up", 1, 2, 4, {6, 5}, {2, 1}, 2},
        {"sums near the 32-bit end", 1, 2, 1048704, {4095u * 1048704u, 0}, {4095, 0}, 2048},
        {"one frame leaves wide values' low 16 bits", 1, 1, 1, {0x12345}, {0x2345}, 0x2345},
        // Row totals: 32 bits hold the widest such row exactly, 64 the next.
        {"the widest row totalled in 32 bits", 1, 65536, 1, std::vector<uint32_t>(65536, 65535),
         std::vector<uint16_t>(65536, 65535), 65535},
        {"a row too wide for 32-bit totals", 1, 65537, 1, std::vector<uint32_t>(65537, 65535),
         std::vector<uint16_t>(65537, 65535), 65535},
    };
    for (const AverageCase &c : cases) {
        std::vector<uint16_t> result(c.pixels.size(), 0xBEEF);
        EXPECT_EQ(c.mean,
                  AverageFrames(ImageOf(c.rows, c.columns), c.sums.data(), result.data(), c.frames))
            << c.what;
        EXPECT_EQ(c.pixels, result) << c.what;
    }
}

// Rounding must match plain division for every frame count and sum,
// the ends of the 32-bit range included.
TEST(AverageFrames, RoundsLikeDivisionForAnyCountAndSum) {
    std::mt19937 random(4);
    std::vector<int32_t> counts = {1, 2, 3, 5, 7, 10, 64, 255, 1000, 1048704, INT32_MAX};
    for (int i = 0; i < 40; ++i)
        counts.push_back(std::uniform_int_distribution<int32_t>(1, INT32_MAX)(random));
    std::vector<uint32_t> sums = {0, 1, 0x7FFFFFFF, 0x80000000u, 0xFFFFFFFEu, 0xFFFFFFFFu};
    for (int i = 0; i < 250; ++i)
        sums.push_back(static_cast<uint32_t>(random()));
    const TQDEV_FRAME_INFO info = ImageOf(1, static_cast<uint32_t>(sums.size()));
    std::vector<uint16_t> result(sums.size());
    for (const int32_t frames : counts) {
        AverageFrames(info, sums.data(), result.data(), frames);
        const auto f = static_cast<uint32_t>(frames);
        for (size_t i = 0; i < sums.size(); ++i)
            ASSERT_EQ(static_cast<uint16_t>((sums[i] + f / 2) / f), result[i])
                << sums[i] << " / " << frames;
    }
}

TEST(AverageFrames, EmptyImagesWriteNothing) {
    const uint32_t sums[4] = {1, 2, 3, 4};
    for (const TQDEV_FRAME_INFO &info :
         {ImageOf(0, 4), ImageOf(4, 0), MakeInfo({.lineWidth = 4, .width = 4, .hb = 5})}) {
        uint16_t result[4] = {7, 7, 7, 7};
        EXPECT_EQ(0, AverageFrames(info, sums, result, 1));
        EXPECT_EQ(7, result[0]);
        EXPECT_EQ(7, result[3]);
    }
}

TEST(AccumulateFrame, FirstFrameReplacesWhateverTheSumsHeld) {
    // 640 x 480 binned by 2 both ways: 76,800 elements.
    const TQDEV_FRAME_INFO info = MakeInfo(
        {.lineWidth = 640, .lineCount = 480, .width = 640, .height = 480, .hb = 2, .vb = 2});
    constexpr size_t kCount = 320 * 240;
    std::mt19937 random(5);
    const std::vector<uint16_t> a = RandomSamples(kCount, random);
    const std::vector<uint16_t> b = RandomSamples(kCount, random);
    std::vector<uint32_t> sums(kCount + 1);
    for (auto &s : sums)
        s = static_cast<uint32_t>(random());
    const uint32_t past = sums[kCount];
    AccumulateFrame(info, a.data(), sums.data(), true);
    AccumulateFrame(info, b.data(), sums.data(), false);
    for (size_t i = 0; i < kCount; ++i)
        ASSERT_EQ(uint32_t{a[i]} + b[i], sums[i]) << i;
    EXPECT_EQ(past, sums[kCount]);

    std::vector<uint16_t> average(kCount);
    AverageFrames(info, sums.data(), average.data(), 2);
    for (size_t i = 0; i < kCount; ++i)
        ASSERT_EQ((a[i] + b[i] + 1) / 2, average[i]) << i;
}

} // namespace
