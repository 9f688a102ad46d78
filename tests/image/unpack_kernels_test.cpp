// The fused factor-2 kernels at every output alignment, with and without
// streaming stores, against decoding followed by the plain loops; and one
// frame large enough for the unpacker to stream its pixels.
#include <gtest/gtest.h>

#include "image_test_support.h"
#include "reference_unpacker.h"

namespace {

TEST(FusedKernels, MatchDecodingThenBinningAtEveryAlignment) {
    std::mt19937 random(9);
    const std::vector<uint16_t> samples = RandomSamples(8 * 40, random);
    const std::vector<uint8_t> packed = PackStream(samples);
    for (const UnpackKernels *kernels : AllKernels()) {
        if (kernels->decodeSumPairs == nullptr)
            continue;
        for (size_t groups : {1u, 4u, 5u, 9u, 17u, 40u}) {
            for (size_t offset = 0; offset < 16; ++offset) {
                for (const bool stream : {false, true}) {
                    SCOPED_TRACE(testing::Message()
                                 << kernels->name << " groups " << groups << " offset " << offset
                                 << " stream " << stream);
                    std::vector<uint16_t> sums(4 * groups + 16, 7), kept0 = sums, kept1 = sums;
                    kernels->decodeSumPairs(packed.data(), groups, stream, sums.data() + offset);
                    kernels->decodeKeepPhase(packed.data(), groups, 0, stream,
                                             kept0.data() + offset);
                    kernels->decodeKeepPhase(packed.data(), groups, 1, stream,
                                             kept1.data() + offset);
                    if (stream)
                        kernels->finishStreaming();
                    for (size_t i = 0; i < sums.size(); ++i) {
                        const bool inside = i >= offset && i < offset + 4 * groups;
                        const size_t k = i - offset;
                        const auto sum =
                            inside ? std::min(4095, samples[2 * k] + samples[2 * k + 1]) : 7;
                        ASSERT_EQ(sum, sums[i]) << i;
                        ASSERT_EQ(inside ? samples[2 * k] : 7, kept0[i]) << i;
                        ASSERT_EQ(inside ? samples[2 * k + 1] : 7, kept1[i]) << i;
                    }
                }
            }
        }
    }
}

// Over 8 MB of pixels: the unpacker streams them where the kernels can.
TEST(FusedKernels, LargeBinnedFramesMatchTheReference) {
    std::mt19937 random(10);
    for (const uint32_t ext : {0u, TQDEV_FRAME_EXT_SUBSAMPLE | TQDEV_FRAME_EXT_PHASE1}) {
        const TQDEV_FRAME_INFO info = MakeInfo({.lineWidth = 8200,
                                                .lineCount = 1030,
                                                .left = 8,
                                                .top = 2,
                                                .width = 8190,
                                                .height = 1026,
                                                .hb = 2,
                                                .extFlags = ext});
        ASSERT_GT(info.image_size, 8u << 20);
        const std::vector<uint8_t> packed =
            PackStream(RandomSamples(static_cast<size_t>(DeriveGeometry(info).total), random));
        std::vector<uint16_t> expected(info.image_size / 2 + 8, 0x5555);
        ReferenceUnpackFrame(info, info.line_count, packed.data(), expected.data() + 4);
        for (const UnpackKernels *kernels : AllKernels()) {
            std::vector<uint16_t> pixels(expected.size(), 0x5555);
            ASSERT_EQ(TQDEV_RESULT_OK, UnpackFrameWith(*kernels, info, info.line_count,
                                                       packed.data(), pixels.data() + 4));
            EXPECT_EQ(expected, pixels) << kernels->name << " ext " << ext;
        }
    }
}

} // namespace
