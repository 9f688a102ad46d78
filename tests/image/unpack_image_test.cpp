// The exported unpacker of stored containers: size query, refusals, and
// the descriptor checks that keep a hostile container inside its buffers.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "image_test_support.h"
#include "reference_unpacker.h"
#include "unpack_kernels.h"

namespace {

const TQDEV_FRAME_INFO kInfo = MakeInfo(
    {.lineWidth = 20, .lineCount = 3, .left = 2, .top = 1, .width = 16, .height = 2, .hb = 2});

std::vector<uint8_t> Container(const TQDEV_FRAME_INFO &info, uint32_t headerSize = 76) {
    std::mt19937 random(3);
    const FrameGeometry geo = DeriveGeometry(kInfo);
    const std::vector<uint8_t> packed =
        PackStream(RandomSamples(static_cast<size_t>(geo.total), random));
    std::vector<uint8_t> container(headerSize + packed.size());
    WriteImageHeader(container.data(), info);
    std::memcpy(container.data() + 4, &headerSize, 4);
    std::memcpy(container.data() + headerSize, packed.data(), packed.size());
    return container;
}

TEST(UnpackImage, SizeQueryTouchesNoPixel) {
    uint32_t size = 0;
    EXPECT_EQ(TQDEV_RESULT_OK, UnpackImage(Container(kInfo).data(), nullptr, &size, 0));
    EXPECT_EQ(kInfo.image_size, size);
}

TEST(UnpackImage, ReadsPackedDataFromTheHeaderSize) {
    std::vector<uint16_t> at76(16), at80(16);
    uint32_t size = 0;
    EXPECT_EQ(TQDEV_RESULT_OK, UnpackImage(Container(kInfo).data(), at76.data(), &size, 0));
    EXPECT_EQ(TQDEV_RESULT_OK, UnpackImage(Container(kInfo, 80).data(), at80.data(), &size, 0));
    EXPECT_EQ(at76, at80);
    std::vector<uint16_t> direct(16);
    const std::vector<uint8_t> container = Container(kInfo);
    UnpackFrame(kInfo, kInfo.line_count, container.data() + 76, direct.data());
    EXPECT_EQ(direct, at76);
}

// Every refusal writes neither pixels nor the size.
TEST(UnpackImage, RefusesBadArgumentsAndInconsistentDescriptors) {
    using Change = std::function<void(TQDEV_FRAME_INFO &)>;
    struct Case {
        const char *what;
        Change change;
        uintptr_t reserved = 0;
        bool wrongMagic = false;
        uint32_t headerSize = 76; // written into the container after it is built
    };
    const Case cases[] = {
        {"reserved not zero", [](auto &) {}, 1},
        {"wrong magic", [](auto &) {}, 0, true},
        {"header size 0: the stream would overlap the header", [](auto &) {}, 0, false, 0},
        {"header size one byte short of the header", [](auto &) {}, 0, false, 75},
        {"header and stream beyond 32 bits", [](auto &) {}, 0, false, 0xFFFFFFF0u},
        {"line width 0", [](auto &i) { i.line_width = 0; }},
        {"line width near the 32-bit end", [](auto &i) { i.line_width = INT32_MAX - 3; }},
        {"negative left", [](auto &i) { i.left = -1; }},
        {"negative top", [](auto &i) { i.top = -1; }},
        {"negative line count", [](auto &i) { i.line_count = -3; }},
        {"window past the padded line", [](auto &i) { i.left = 9; }},
        {"rows past the last line", [](auto &i) { i.height = 3; }},
        {"image size one byte short", [](auto &i) { i.image_size -= 1; }},
        {"packed size one byte short", [](auto &i) { i.packed_size -= 1; }},
        {"width beyond 31 bits", [](auto &i) { i.width = 0x80000010u; }},
        {"binning factor beyond 31 bits", [](auto &i) { i.h_binning = 0x80000000u; }},
        {"rows times columns overflowing 32 bits",
         [](auto &i) {
             i.line_width = 1 << 20;
             i.width = 1 << 20;
             i.height = 1 << 12;
             i.line_count = 1 << 12;
             i.left = 0;
             i.top = 0;
             i.image_size = 0xFFFFFFFFu;
             i.packed_size = 0xFFFFFFFFu;
         }},
    };
    for (const Case &c : cases) {
        TQDEV_FRAME_INFO info = kInfo;
        c.change(info);
        std::vector<uint8_t> container = Container(info);
        if (c.wrongMagic)
            container[0] ^= 1;
        std::memcpy(container.data() + 4, &c.headerSize, 4);
        std::vector<uint16_t> pixels(16, 0xBEEF);
        uint32_t size = 12345;
        EXPECT_EQ(TQDEV_RESULT_INVALID_PARAMETER,
                  UnpackImage(container.data(), pixels.data(), &size, c.reserved))
            << c.what;
        EXPECT_EQ(12345u, size) << c.what;
        EXPECT_EQ(std::vector<uint16_t>(16, 0xBEEF), pixels) << c.what;
        EXPECT_EQ(c.reserved != 0 || c.wrongMagic || c.headerSize != 76,
                  FrameInfoIsConsistent(info))
            << c.what;
    }
}

TEST(UnpackFrame, RefusesAnInconsistentDescriptorWritingNothing) {
    TQDEV_FRAME_INFO info = kInfo;
    info.top = 2;
    const std::vector<uint8_t> container = Container(kInfo);
    std::vector<uint16_t> pixels(16, 0xBEEF);
    EXPECT_EQ(TQDEV_RESULT_INVALID_PARAMETER,
              UnpackFrame(info, info.line_count, container.data() + 76, pixels.data()));
    EXPECT_EQ(std::vector<uint16_t>(16, 0xBEEF), pixels);
}

// The camera's layout in place (dark columns on the left, a reference line on
// top), flipped or mirrored too, whole or cut short by the row limit (the
// capture leaves out the last line, which without a status line below is a
// window row): every frame unpacks within a workspace made once, allocating
// nothing. Only the first rows, which would overtake their packed bytes, go
// through it, but a flipped frame cut short, whose rows left out keep what the
// buffer held, is copied aside. Without memory nothing is written.
TEST(UnpackFrame, CameraLayoutInPlaceTakesOnlyTheWorkspace) {
    struct Layout {
        const char *name;
        uint32_t width, vb;
        int32_t statusLines;
    };
    const Layout layouts[] = {
        {"status line below", 256, 1, 1},
        {"no status line", 256, 1, 0},
        {"binned lines, no status line", 256, 2, 0},
        {"narrower window, no status line", 200, 1, 0},
    };
    for (const Layout &layout : layouts) {
        for (const uint32_t flags : {0u, uint32_t{TQDEV_FRAME_FLIP}, uint32_t{TQDEV_FRAME_MIRROR},
                                     uint32_t{TQDEV_FRAME_FLIP | TQDEV_FRAME_MIRROR}}) {
            const uint32_t height = 40 * layout.vb;
            const auto vb = static_cast<int32_t>(layout.vb);
            const TQDEV_FRAME_INFO info =
                MakeInfo({.lineWidth = static_cast<int32_t>(layout.width) + 4,
                          .lineCount = static_cast<int32_t>(height) + vb * (1 + layout.statusLines),
                          .left = 4,
                          .top = vb,
                          .width = layout.width,
                          .height = height,
                          .vb = layout.vb,
                          .flags = flags});
            const FrameGeometry geo = DeriveGeometry(info);
            std::mt19937 random(5);
            const std::vector<uint8_t> packed =
                PackStream(RandomSamples(static_cast<size_t>(geo.total), random));
            std::vector<uint16_t> start(static_cast<size_t>(geo.m) * geo.n);
            std::memcpy(start.data(), packed.data(), packed.size());
            for (const int32_t rowLimit : {info.line_count, info.line_count - 1}) {
                SCOPED_TRACE(std::string(layout.name) + " flags " + std::to_string(flags) +
                             " limit " + std::to_string(rowLimit));
                std::vector<uint16_t> expected = start;
                ReferenceUnpackFrame(info, rowLimit, packed.data(), expected.data());
                EXPECT_TRUE(InPlaceTakesOnlyTheWorkspace(info, rowLimit));
                const uint64_t need = InPlaceWorkspaceBytes(info, rowLimit);
                const bool cutFlipped = rowLimit < geo.g + geo.m && (flags & TQDEV_FRAME_FLIP) != 0;
                EXPECT_GT(need, 0u);
                // A few rows, not the frame, unless it is copied aside.
                EXPECT_LE(need, cutFlipped ? packed.size() : packed.size() / 8);

                static int allocations;
                const auto count = [](uint64_t) -> void * {
                    ++allocations;
                    return nullptr;
                };
                std::vector<uint8_t> kept(need);
                const UnpackWorkspace none{nullptr, 0, count, nullptr};
                const UnpackWorkspace workspace{kept.data(), need, count, nullptr};
                for (const UnpackKernels *kernels : AllKernels()) {
                    SCOPED_TRACE(kernels->name);
                    std::vector<uint16_t> buffer = start;
                    allocations = 0;
                    EXPECT_EQ(TQDEV_RESULT_OUT_OF_MEMORY,
                              UnpackFrameWith(*kernels, info, rowLimit, buffer.data(),
                                              buffer.data(), none));
                    EXPECT_EQ(start, buffer);
                    EXPECT_EQ(allocations, 1); // the refused one
                    allocations = 0;
                    EXPECT_EQ(TQDEV_RESULT_OK,
                              UnpackFrameWith(*kernels, info, rowLimit, buffer.data(),
                                              buffer.data(), workspace));
                    EXPECT_EQ(expected, buffer);
                    EXPECT_EQ(allocations, 0);
                }
            }
        }
    }
}

TEST(BinningShift, PowersOfTwoUpTo16) {
    const std::pair<uint32_t, int32_t> cases[] = {{1, 0},  {2, 1},  {4, 2},  {8, 3},
                                                  {16, 4}, {0, -1}, {3, -1}, {32, -1}};
    for (const auto &[factor, shift] : cases)
        EXPECT_EQ(shift, BinningShift(factor)) << factor;
}

} // namespace
