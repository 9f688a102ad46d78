#include <gtest/gtest.h>

#include <cstring>

#include "image_test_support.h"

namespace {

const uint16_t kSamples[8] = {0x123, 0x456, 0x789, 0xABC, 0xDEF, 0x012, 0x345, 0x678};
const uint8_t kPacked[12] = {0x89, 0x45, 0x61, 0x23, 0x2D, 0xEF,
                             0xAB, 0xC7, 0x67, 0x83, 0x45, 0x01};

TEST(SamplePacking, PacksTheWorkedGroup) {
    uint8_t out[12];
    PackSampleGroup(kSamples, out);
    EXPECT_EQ(0, std::memcmp(out, kPacked, 12));
}

TEST(SamplePacking, DropsBitsAboveTwelve) {
    uint16_t high[8];
    for (int k = 0; k < 8; ++k)
        high[k] = static_cast<uint16_t>(kSamples[k] | 0xF000);
    uint8_t out[12];
    PackSampleGroup(high, out);
    EXPECT_EQ(0, std::memcmp(out, kPacked, 12));
}

// Every kernel, over runs long enough to reach its vector loops and tails.
TEST(SamplePacking, EveryDecoderInvertsThePacking) {
    std::mt19937 random(7);
    for (const UnpackKernels *kernels : AllKernels()) {
        for (size_t groups : {1u, 2u, 3u, 4u, 5u, 9u, 31u}) {
            std::vector<uint16_t> samples = RandomSamples(groups * 8, random);
            std::copy(kSamples, kSamples + 8, samples.begin());
            const std::vector<uint8_t> packed = PackStream(samples);
            EXPECT_EQ(0, std::memcmp(packed.data(), kPacked, 12));
            std::vector<uint16_t> decoded(groups * 8);
            kernels->decodeGroups(packed.data(), groups, decoded.data());
            EXPECT_EQ(samples, decoded) << kernels->name << " groups " << groups;
        }
    }
}

TEST(SamplePacking, PackSamplesIgnoresAPartialGroup) {
    uint16_t samples[12] = {};
    std::copy(kSamples, kSamples + 8, samples);
    uint8_t out[24];
    std::memset(out, 0xEE, sizeof out);
    PackSamples(samples, sizeof samples, out);
    EXPECT_EQ(0, std::memcmp(out, kPacked, 12));
    EXPECT_EQ(0xEE, out[12]);
}

TEST(SamplePacking, BytesToSamplesSplitsWordsLowByteFirst) {
    const uint32_t words[2] = {0x6E6F726D, 0x01020304};
    uint16_t samples[8];
    BytesToSamples(words, sizeof words, samples);
    const uint16_t expected[8] = {0x6D, 0x72, 0x6F, 0x6E, 0x04, 0x03, 0x02, 0x01};
    EXPECT_EQ(0, std::memcmp(samples, expected, sizeof expected));
}

} // namespace
