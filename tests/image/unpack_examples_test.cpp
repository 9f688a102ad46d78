// Worked unpacking examples, each checked against its own formula and run
// through the reference walk and every kernel set.
#include <gtest/gtest.h>

#include <functional>

#include "image_test_support.h"
#include "reference_unpacker.h"

namespace {

constexpr uint16_t kUntouched = 0xBEEF;

using PixelRule = std::function<int(const std::vector<uint16_t> &s, int row, int col)>;

struct Example {
    const char *name;
    Shape shape;
    int32_t rowLimit; // INT32_MAX: the descriptor's line_count
    PixelRule pixel;  // -1: the pixel keeps its previous value
};

int Sum(const std::vector<uint16_t> &s, int64_t first, int count) {
    int sum = 0;
    for (int k = 0; k < count; ++k)
        sum += s[first + k];
    return std::min(sum, 4095);
}

std::vector<Example> Examples() {
    const uint32_t mirror = TQDEV_FRAME_MIRROR, flip = TQDEV_FRAME_FLIP;
    const uint32_t sub = TQDEV_FRAME_EXT_SUBSAMPLE, phase1 = TQDEV_FRAME_EXT_PHASE1;
    return {
        {"three lines, window 16 from 2, factor 2",
         {.lineWidth = 20, .lineCount = 3, .left = 2, .top = 1, .width = 16, .height = 2, .hb = 2},
         INT32_MAX,
         [](auto &s, int i, int k) { return Sum(s, 24 * (1 + i) + 2 + 2 * k, 2); }},
        {"factor 1 is the window unchanged",
         {.lineWidth = 100, .lineCount = 5, .left = 3, .top = 1, .width = 90, .height = 3},
         INT32_MAX,
         [](auto &s, int i, int j) { return s[104 * (1 + i) + 3 + j]; }},
        {"factors 0 read as 1",
         {.lineWidth = 100,
          .lineCount = 5,
          .left = 3,
          .top = 1,
          .width = 90,
          .height = 3,
          .hb = 0,
          .vb = 0},
         INT32_MAX,
         [](auto &s, int i, int j) { return s[104 * (1 + i) + 3 + j]; }},
        {"factor 3 drops the 100th sample",
         {.lineWidth = 100, .lineCount = 2, .width = 100, .height = 2, .hb = 3},
         INT32_MAX,
         [](auto &s, int i, int k) { return Sum(s, 104 * i + 3 * k, 3); }},
        {"flip puts the first window line last",
         {.lineWidth = 64,
          .lineCount = 4,
          .left = 8,
          .top = 1,
          .width = 40,
          .height = 3,
          .flags = flip},
         INT32_MAX,
         [](auto &s, int i, int j) { return s[64 * (3 - i) + 8 + j]; }},
        {"mirror of width 128",
         {.lineWidth = 130, .lineCount = 2, .left = 1, .width = 128, .height = 2, .flags = mirror},
         INT32_MAX,
         [](auto &s, int i, int k) { return s[136 * i + 1 + 127 - k]; }},
        {"mirror of width 128, factor 2 summing",
         {.lineWidth = 128, .lineCount = 2, .width = 128, .height = 2, .hb = 2, .flags = mirror},
         INT32_MAX,
         [](auto &s, int i, int k) { return Sum(s, 128 * i + 126 - 2 * k, 2); }},
        {"mirror and flip of width 100",
         {.lineWidth = 100, .lineCount = 3, .width = 100, .height = 3, .flags = mirror | flip},
         INT32_MAX,
         [](auto &s, int i, int k) { return s[104 * (2 - i) + 99 - k]; }},
        {"mirror of width 100, factor 3",
         {.lineWidth = 100, .lineCount = 1, .width = 100, .height = 1, .hb = 3, .flags = mirror},
         INT32_MAX,
         [](auto &s, int, int k) { return Sum(s, 97 - 3 * k, 3); }},
        {"sub-sampling factor 2 keeps the first column",
         {.lineWidth = 70, .lineCount = 2, .width = 70, .height = 2, .hb = 2, .extFlags = sub},
         INT32_MAX,
         [](auto &s, int i, int k) { return s[72 * i + 2 * k]; }},
        {"sub-sampling by the frame flag",
         {.lineWidth = 70,
          .lineCount = 2,
          .width = 70,
          .height = 2,
          .hb = 2,
          .flags = TQDEV_FRAME_SUBSAMPLE},
         INT32_MAX,
         [](auto &s, int i, int k) { return s[72 * i + 2 * k]; }},
        {"sub-sampling phase 1 keeps the second column",
         {.lineWidth = 70,
          .lineCount = 2,
          .width = 70,
          .height = 2,
          .hb = 2,
          .extFlags = sub | phase1},
         INT32_MAX,
         [](auto &s, int i, int k) { return s[72 * i + 2 * k + 1]; }},
        {"sub-sampling phase 1, factor 1 keeps every sample",
         {.lineWidth = 70, .lineCount = 2, .width = 70, .height = 2, .extFlags = sub | phase1},
         INT32_MAX,
         [](auto &s, int i, int j) { return s[72 * i + j]; }},
        {"mirrored sub-sampling, phase 1, width 70",
         {.lineWidth = 70,
          .lineCount = 1,
          .width = 70,
          .height = 1,
          .hb = 2,
          .flags = mirror,
          .extFlags = sub | phase1},
         INT32_MAX,
         [](auto &s, int, int k) { return s[68 - 2 * k]; }},
        {"vertical factor 2 from top 10",
         {.lineWidth = 16, .lineCount = 120, .top = 10, .width = 16, .height = 100, .vb = 2},
         INT32_MAX,
         [](auto &s, int i, int j) { return s[16 * (5 + i) + j]; }},
        {"row limit keeps later rows",
         {.lineWidth = 16, .lineCount = 6, .top = 1, .width = 16, .height = 4},
         3,
         [](auto &s, int i, int j) { return i < 2 ? s[16 * (1 + i) + j] : -1; }},
        {"row limit with flip keeps the first rows",
         {.lineWidth = 16, .lineCount = 6, .top = 1, .width = 16, .height = 4, .flags = flip},
         3,
         [](auto &s, int i, int j) { return i >= 2 ? s[16 * (4 - i) + j] : -1; }},
    };
}

// Widths around the 64-sample blocks, normal and mirrored rows.
std::vector<Example> WidthExamples() {
    std::vector<Example> examples;
    for (uint32_t width : {1u, 7u, 63u, 65u, 100u, 129u, 200u}) {
        const int w8 = static_cast<int>((width + 5 + 7) / 8 * 8);
        examples.push_back({"normal rows",
                            {.lineWidth = static_cast<int32_t>(width) + 5,
                             .lineCount = 2,
                             .left = 5,
                             .width = width,
                             .height = 2},
                            INT32_MAX,
                            [w8](auto &s, int i, int j) { return s[w8 * i + 5 + j]; }});
        const int last = static_cast<int>(width) - 1;
        examples.push_back(
            {"mirrored rows",
             {.lineWidth = static_cast<int32_t>(width) + 5,
              .lineCount = 2,
              .left = 5,
              .width = width,
              .height = 2,
              .flags = TQDEV_FRAME_MIRROR},
             INT32_MAX,
             [w8, last](auto &s, int i, int k) { return s[w8 * i + 5 + last - k]; }});
    }
    return examples;
}

void RunExample(const Example &example, std::mt19937 &random) {
    SCOPED_TRACE(example.name);
    const TQDEV_FRAME_INFO info = MakeInfo(example.shape);
    const FrameGeometry geo = DeriveGeometry(info);
    const std::vector<uint16_t> samples = RandomSamples(static_cast<size_t>(geo.total), random);
    const std::vector<uint8_t> packed = PackStream(samples);
    const int32_t limit = example.rowLimit == INT32_MAX ? info.line_count : example.rowLimit;
    std::vector<uint16_t> expected(static_cast<size_t>(geo.m) * geo.n);
    for (int i = 0; i < geo.m; ++i)
        for (int k = 0; k < geo.n; ++k) {
            const int pixel = example.pixel(samples, i, k);
            expected[i * geo.n + k] = pixel < 0 ? kUntouched : static_cast<uint16_t>(pixel);
        }
    std::vector<uint16_t> reference(expected.size(), kUntouched);
    ReferenceUnpackFrame(info, limit, packed.data(), reference.data());
    EXPECT_EQ(expected, reference) << "reference";
    for (const UnpackKernels *kernels : AllKernels()) {
        std::vector<uint16_t> pixels(expected.size(), kUntouched);
        EXPECT_EQ(TQDEV_RESULT_OK,
                  UnpackFrameWith(*kernels, info, limit, packed.data(), pixels.data()));
        EXPECT_EQ(expected, pixels) << kernels->name;
    }
}

TEST(UnpackExamples, GiveTheDescribedPixels) {
    std::mt19937 random(11);
    for (const Example &example : Examples())
        RunExample(example, random);
}

TEST(UnpackExamples, WidthsOffTheBlockSize) {
    std::mt19937 random(12);
    for (const Example &example : WidthExamples())
        RunExample(example, random);
}

TEST(UnpackExamples, SummingStopsAt4095) {
    const TQDEV_FRAME_INFO info = MakeInfo({.lineWidth = 8, .width = 8, .hb = 2});
    const std::vector<uint8_t> packed = PackStream({4000, 200, 1000, 200, 4095, 4095, 0, 0});
    for (const UnpackKernels *kernels : AllKernels()) {
        uint16_t pixels[4] = {};
        UnpackFrameWith(*kernels, info, 1, packed.data(), pixels);
        EXPECT_EQ(4095, pixels[0]) << kernels->name;
        EXPECT_EQ(1200, pixels[1]) << kernels->name;
        EXPECT_EQ(4095, pixels[2]) << kernels->name;
        EXPECT_EQ(0, pixels[3]) << kernels->name;
    }
}

} // namespace
