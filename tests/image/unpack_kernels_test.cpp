// The fused factor-2 kernels and the streaming backward decode at every
// output alignment against the plain loops; and frames large enough for the
// unpacker to stream their pixels, separate and in place.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

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

// In place, samples starting at or after their packed bytes: streamed in
// blocks that straddle groups or not, whatever the alignment.
TEST(FusedKernels, StreamingBackwardDecodeMatchesInPlaceAtEveryAlignment) {
    std::mt19937 random(11);
    for (const UnpackKernels *kernels : AllKernels()) {
        if (kernels->decodeGroupsBackwardStreaming == nullptr)
            continue;
        for (size_t groups : {1u, 3u, 4u, 5u, 6u, 9u, 10u, 17u, 40u}) {
            const std::vector<uint16_t> samples = RandomSamples(8 * groups, random);
            const std::vector<uint8_t> packed = PackStream(samples);
            for (size_t start = 0; start < 32; start += 2) {   // bytes: every sample alignment
                for (const size_t ahead : {0u, 4u, 8u, 24u}) { // samples' lead on the packed bytes
                    SCOPED_TRACE(testing::Message() << kernels->name << " groups " << groups
                                                    << " start " << start << " ahead " << ahead);
                    alignas(32) uint8_t buffer[32 + 24 + 16 * 40 + 32];
                    std::memset(buffer, 0x77, sizeof buffer);
                    std::memcpy(buffer + start, packed.data(), packed.size());
                    auto *out = reinterpret_cast<uint16_t *>(buffer + start + ahead);
                    kernels->decodeGroupsBackwardStreaming(buffer + start, groups, out);
                    kernels->finishStreaming();
                    std::vector<uint16_t> got(8 * groups);
                    std::memcpy(got.data(), out, got.size() * 2);
                    ASSERT_EQ(samples, got);
                    const size_t end = start + ahead + 16 * groups;
                    for (size_t i = 0; i < sizeof buffer; ++i) {
                        if (i < start || i >= end) {
                            ASSERT_EQ(buffer[i], 0x77) << i;
                        }
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

// Over 32 MB of pixels unpacked in place: streamed whether the rows' groups
// start on a 16-byte boundary or 8 bytes on (the camera's layout), and with
// rows whose edges fall anywhere (odd left, pixels off an 8-byte boundary).
TEST(FusedKernels, LargeFramesInPlaceMatchTheReference) {
    std::mt19937 random(12);
    for (const int32_t left : {4, 3}) {
        const TQDEV_FRAME_INFO info = MakeInfo({.lineWidth = 4096 + left,
                                                .lineCount = 4098,
                                                .left = left,
                                                .top = 1,
                                                .width = 4096,
                                                .height = 4097});
        ASSERT_GT(info.image_size, 32u << 20);
        const std::vector<uint8_t> packed =
            PackStream(RandomSamples(static_cast<size_t>(DeriveGeometry(info).total), random));
        std::vector<uint16_t> expected(info.image_size / 2);
        ReferenceUnpackFrame(info, info.line_count, packed.data(), expected.data());
        std::vector<uint16_t> buffer(expected.size() + 8);
        std::vector<uint8_t> workspace(InPlaceWorkspaceBytes(info, info.line_count));
        const UnpackWorkspace kept{workspace.data(), workspace.size(), nullptr, nullptr};
        for (const UnpackKernels *kernels : AllKernels()) {
            for (const size_t lead : {0u, 1u, 4u}) {
                SCOPED_TRACE(testing::Message()
                             << kernels->name << " left " << left << " lead " << lead);
                uint16_t *frame = buffer.data() + lead;
                std::memcpy(frame, packed.data(), packed.size());
                ASSERT_EQ(TQDEV_RESULT_OK,
                          UnpackFrameWith(*kernels, info, info.line_count, frame, frame, kept));
                EXPECT_TRUE(std::equal(expected.begin(), expected.end(), frame));
            }
        }
    }
}

} // namespace
