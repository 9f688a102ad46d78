#include <gtest/gtest.h>

#include <ctime>

#include "image_test_support.h"

namespace {

constexpr uint32_t kIntegration = 0x01020304;
constexpr uint32_t kValue = 0xA1B2C3D4;

// The 32 one-byte samples of a stamp, its time word left out (words 2 or 6).
std::vector<uint16_t> ExpectedSamples(uint32_t mode) {
    const uint32_t single[8] = {STAMP_NORM, kValue, 0, kIntegration, ~0u, ~0u, ~0u, ~0u};
    const uint32_t averaged[8] = {0, 0, 0, 0, STAMP_DARK, kValue, 0, kIntegration};
    std::vector<uint16_t> samples(32);
    BytesToSamples(mode == 0 ? single : averaged, 32, samples.data());
    return samples;
}

uint32_t TimeFrom(const uint16_t *samples, uint32_t mode) {
    const uint16_t *time = samples + (mode == 0 ? 8 : 24);
    return time[0] | time[1] << 8 | time[2] << 16 | static_cast<uint32_t>(time[3]) << 24;
}

void ExpectStamp(const uint16_t *samples, uint32_t mode, uint32_t before) {
    const uint32_t time = TimeFrom(samples, mode);
    EXPECT_LE(before, time);
    EXPECT_GE(static_cast<uint32_t>(std::time(nullptr)), time);
    std::vector<uint16_t> got(samples, samples + 32);
    std::fill_n(got.begin() + (mode == 0 ? 8 : 24), 4, 0);
    EXPECT_EQ(ExpectedSamples(mode), got);
}

struct StampCase {
    Shape shape;
    int64_t packedOffset; // byte of the packed stamp in the container
};

class StampModes : public ::testing::TestWithParam<uint32_t> {};

TEST_P(StampModes, UnpackedStampFillsPixels128To159) {
    const uint32_t mode = GetParam();
    const TQDEV_FRAME_INFO info = MakeInfo({.lineWidth = 160, .width = 160});
    std::vector<uint16_t> image(160, 0x0ABC);
    const auto before = static_cast<uint32_t>(std::time(nullptr));
    WriteCalibrationStamp(image.data(), mode, false, kIntegration, kValue, info);
    ExpectStamp(image.data() + 128, mode, before);
    EXPECT_EQ(std::vector<uint16_t>(128, 0x0ABC),
              std::vector<uint16_t>(image.begin(), image.begin() + 128));
}

TEST_P(StampModes, PackedStampLandsOnTheGroupAfterSample128OfLineTop) {
    const uint32_t mode = GetParam();
    const StampCase cases[] = {
        {{.lineWidth = 1024, .width = 1024}, 76 + 16 * 12},
        // Line 3 (top not divided by the vertical factor), samples from 9 + 128 on.
        {{.lineWidth = 1000,
          .lineCount = 8,
          .left = 9,
          .top = 3,
          .width = 900,
          .height = 4,
          .vb = 2},
         76 + 3 * 125 * 12 + 18 * 12},
    };
    for (const StampCase &c : cases) {
        const TQDEV_FRAME_INFO info = MakeInfo(c.shape);
        std::vector<uint8_t> container(76 + info.packed_size, 0x5A);
        const auto before = static_cast<uint32_t>(std::time(nullptr));
        WriteCalibrationStamp(container.data(), mode, true, kIntegration, kValue, info);
        uint16_t samples[32];
        ScalarUnpackKernels().decodeGroups(container.data() + c.packedOffset, 4, samples);
        ExpectStamp(samples, mode, before);
        const auto changed =
            std::count_if(container.begin(), container.end(), [](uint8_t b) { return b != 0x5A; });
        EXPECT_LE(changed, 48);
        EXPECT_TRUE(std::all_of(container.begin(), container.begin() + c.packedOffset,
                                [](uint8_t b) { return b == 0x5A; }));
    }
}

INSTANTIATE_TEST_SUITE_P(SingleAndAveraged, StampModes, ::testing::Values(0u, 1u));

// Stamps that do not fit, and modes without a stamp, leave the image alone.
TEST(CalibrationStamp, WritesNothingWhereItHasNoPlace) {
    struct Case {
        const char *what;
        uint32_t mode;
        bool packed;
        Shape shape;
    };
    const Case cases[] = {
        {"sequence mode", 2, false, {.lineWidth = 160, .width = 160}},
        {"live focus mode", 3, true, {.lineWidth = 1024, .width = 1024}},
        {"image under 320 bytes", 0, false, {.lineWidth = 159, .width = 159}},
        {"packed line shorter than the stamp", 1, true, {.lineWidth = 152, .width = 152}},
        {"stamp past the last line",
         0,
         true,
         {.lineWidth = 1024, .lineCount = 2, .top = 2, .width = 1024, .height = 0}},
    };
    for (const Case &c : cases) {
        const TQDEV_FRAME_INFO info = MakeInfo(c.shape);
        std::vector<uint8_t> buffer(76 + std::max(info.packed_size, info.image_size) + 64, 0x5A);
        WriteCalibrationStamp(buffer.data(), c.mode, c.packed, kIntegration, kValue, info);
        EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](uint8_t b) { return b == 0x5A; }))
            << c.what;
    }
}

} // namespace
