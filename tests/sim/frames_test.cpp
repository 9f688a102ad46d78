// The camera model: group layout, the descriptor rule, every sample of the
// delivered frames against the documented pattern, status words and the
// capture state while a frame is timed.
#include <algorithm>
#include <set>

#include "camera/frame_model.h"
#include "sim_channel.h"

namespace simtest {
namespace {

// Decodes one group by the byte column of the layout table.
void DecodeGroup(const std::uint8_t *b, std::uint16_t s[8]) {
    s[0] = static_cast<std::uint16_t>(b[3] | (b[2] & 0xF) << 8);
    s[1] = static_cast<std::uint16_t>(b[2] >> 4 | b[1] << 4);
    s[2] = static_cast<std::uint16_t>(b[0] | (b[7] & 0xF) << 8);
    s[3] = static_cast<std::uint16_t>(b[7] >> 4 | b[6] << 4);
    s[4] = static_cast<std::uint16_t>(b[5] | (b[4] & 0xF) << 8);
    s[5] = static_cast<std::uint16_t>(b[4] >> 4 | b[11] << 4);
    s[6] = static_cast<std::uint16_t>(b[10] | (b[9] & 0xF) << 8);
    s[7] = static_cast<std::uint16_t>(b[9] >> 4 | b[8] << 4);
}

TEST(GroupLayout, WorkedExampleAndRoundTrip) {
    const std::uint16_t samples[8] = {0x123, 0x456, 0x789, 0xABC, 0xDEF, 0x012, 0x345, 0x678};
    const std::uint8_t bytes[12] = {0x89, 0x45, 0x61, 0x23, 0x2D, 0xEF,
                                    0xAB, 0xC7, 0x67, 0x83, 0x45, 0x01};
    std::uint8_t packed[12] = {};
    tqsim::PackGroup(samples, packed);
    EXPECT_TRUE(std::equal(packed, packed + 12, bytes));
    std::uint16_t decoded[8] = {};
    DecodeGroup(bytes, decoded);
    EXPECT_TRUE(std::equal(decoded, decoded + 8, samples));
    const std::uint16_t high[8] = {0xF123, 0x1456, 0x2789, 0x3ABC, 0x4DEF, 0x5012, 0x6345, 0x7678};
    tqsim::PackGroup(high, packed);
    EXPECT_TRUE(std::equal(packed, packed + 12, bytes)) << "bits above 11 are dropped";
}

TEST(Pattern, FollowsTheDocumentedMix) {
    for (std::uint32_t v : {0u, 1u, 77u, 1023u}) {
        std::uint32_t x = v * 0x9E3779B1u ^ (v + 1) * 0x85EBCA77u ^ 9 * 0x27D4EB2Fu;
        x ^= x >> 15;
        x *= 0x2C1B3C6Du;
        x ^= x >> 12;
        x *= 0x297A2D39u;
        x ^= x >> 15;
        EXPECT_EQ(TqsimPatternSample(v, v + 1, 5, 9), (x & 0xFFF) ^ (5 * 0x9E5 & 0xFFF));
        EXPECT_EQ(TqsimPatternSample(v, v + 1, 0, 9), x & 0xFFF);
    }
}

TQDEV_CAPTURE_SETTINGS Window(std::uint32_t x0, std::uint32_t y0, std::uint32_t w, std::uint32_t h,
                              std::uint32_t readout = 0, std::uint32_t flags = 0) {
    TQDEV_CAPTURE_SETTINGS settings{};
    settings.flags = flags;
    settings.setup_words[0] = TQSIM_SETUP_ORIGIN(x0, y0);
    settings.setup_words[1] = TQSIM_SETUP_SIZE(w, h);
    settings.extra_words[0] = readout;
    return settings;
}

TEST(Descriptor, DerivedFromTheSettings) {
    TQSIM_CAMERA_CONFIG config;
    TqsimDefaultCamera(&config);
    struct Case {
        const char *name;
        TQDEV_CAPTURE_SETTINGS settings;
        std::uint32_t width, height, hb, vb, image, packed, flags;
    };
    const Case cases[] = {
        {"full sensor", Window(0, 0, 0, 0), 1024, 768, 1, 1, 1024 * 768 * 2, 770 * 129 * 12,
         TQDEV_FRAME_PACKED},
        {"packed output", Window(0, 0, 0, 0, 0, TQDEV_FLAG_PACKED_OUTPUT), 1024, 768, 1, 1,
         1024 * 768 * 2, 770 * 129 * 12, 0},
        {"binned window cut to whole bins", Window(100, 51, 255, 129, TQSIM_READOUT_BINNING(2, 2)),
         254, 128, 2, 2, 64 * 127 * 2, 66 * 33 * 12, 0},
        {"edge window", Window(960, 700, 64, 0, TQSIM_READOUT_MIRROR | TQSIM_READOUT_FLIP), 64, 68,
         1, 1, 68 * 64 * 2, 70 * 9 * 12,
         TQDEV_FRAME_PACKED | TQDEV_FRAME_MIRROR | TQDEV_FRAME_FLIP},
        {"sub-sampled", Window(0, 0, 64, 8, TQSIM_READOUT_BINNING(4, 1) | TQSIM_READOUT_SUBSAMPLE),
         64, 8, 4, 1, 8 * 16 * 2, 10 * 9 * 12, TQDEV_FRAME_SUBSAMPLE},
    };
    for (const Case &c : cases) {
        TQDEV_FRAME_INFO info{};
        ASSERT_EQ(TqsimDeriveFrameInfo(&config, &c.settings, &info), 0u) << c.name;
        EXPECT_EQ(info.width, c.width) << c.name;
        EXPECT_EQ(info.height, c.height) << c.name;
        EXPECT_EQ(info.h_binning, c.hb) << c.name;
        EXPECT_EQ(info.v_binning, c.vb) << c.name;
        EXPECT_EQ(info.image_size, c.image) << c.name;
        EXPECT_EQ(info.packed_size, c.packed) << c.name;
        EXPECT_EQ(info.flags, c.flags) << c.name;
        EXPECT_EQ(info.left, TQSIM_DARK_COLUMNS) << c.name;
        EXPECT_EQ(info.line_width, static_cast<std::int32_t>(c.width + TQSIM_DARK_COLUMNS));
        EXPECT_EQ(info.top, static_cast<std::int32_t>(c.vb)) << c.name;
        EXPECT_EQ(info.line_count, static_cast<std::int32_t>(c.height + 2 * c.vb)) << c.name;
    }
}

TEST(Descriptor, ImpossibleWindowsAreRefused) {
    TQSIM_CAMERA_CONFIG config;
    TqsimDefaultCamera(&config);
    TQDEV_CAPTURE_SETTINGS exposure = Window(0, 0, 0, 0);
    exposure.extra_words[1] = TQSIM_EXPOSURE_MAX_US + 1;
    TQDEV_CAPTURE_SETTINGS averaged = Window(512, 384, 64, 4);
    averaged.mode = TQDEV_CAPTURE_AVERAGED; // stream larger than the image
    const TQDEV_CAPTURE_SETTINGS cases[] = {Window(1024, 0, 0, 0),
                                            Window(0, 768, 0, 0),
                                            Window(1, 0, 1024, 0),
                                            Window(0, 0, 0, 769),
                                            Window(0, 0, 1, 0, TQSIM_READOUT_BINNING(2, 1)),
                                            Window(0, 0, 0, 0, TQSIM_READOUT_BINNING(17, 1)),
                                            Window(0, 0, 100, 8, TQSIM_READOUT_MIRROR),
                                            exposure,
                                            averaged};
    int index = 0;
    for (const TQDEV_CAPTURE_SETTINGS &settings : cases) {
        TQDEV_FRAME_INFO info{};
        info.image_size = 0xCAFE;
        EXPECT_EQ(TqsimDeriveFrameInfo(&config, &settings, &info), TQDEV_RESULT_INVALID_PARAMETER)
            << index;
        EXPECT_EQ(info.image_size, 0xCAFEu) << index++;
    }
}

// What the library should make of a window sample row i, column j: the camera
// sums vb sensor lines.
std::uint16_t WindowSample(const TQSIM_CAMERA_CONFIG &config, const TQDEV_FRAME_INFO &info,
                           std::uint32_t frame, std::uint32_t i, std::uint32_t j) {
    std::uint32_t sum = 0;
    for (std::uint32_t k = 0; k < info.v_binning; ++k) {
        sum += TqsimPatternSample(info.reserved_b[1] + i * info.v_binning + k,
                                  info.reserved_b[0] + j, frame, config.seed);
    }
    return static_cast<std::uint16_t>(std::min(sum, 4095u));
}

std::vector<std::uint16_t> DecodeStream(const std::vector<std::uint8_t> &bytes) {
    std::vector<std::uint16_t> samples(bytes.size() / 12 * 8);
    for (std::size_t g = 0; g < bytes.size() / 12; ++g) {
        DecodeGroup(&bytes[g * 12], &samples[g * 8]);
    }
    return samples;
}

void CheckStream(const TQSIM_CAMERA_CONFIG &config, const TQDEV_FRAME_INFO &info,
                 const std::vector<std::uint8_t> &bytes, std::uint32_t frame, std::uint32_t ticket,
                 std::uint16_t dark) {
    const std::vector<std::uint16_t> s = DecodeStream(bytes);
    const std::uint32_t w8 = (info.line_width + 7) / 8 * 8;
    const std::uint32_t lines = info.line_count / info.v_binning;
    ASSERT_EQ(s.size(), std::size_t{lines} * w8);
    const std::uint32_t status = (lines - 1) * w8;
    const std::uint16_t pieces[6] = {static_cast<std::uint16_t>(frame & 0xFFF),
                                     static_cast<std::uint16_t>(frame >> 12 & 0xFFF),
                                     static_cast<std::uint16_t>(frame >> 24),
                                     static_cast<std::uint16_t>(ticket & 0xFFF),
                                     static_cast<std::uint16_t>(ticket >> 12 & 0xFFF),
                                     static_cast<std::uint16_t>(ticket >> 24)};
    for (std::uint32_t k = 0; k < w8; ++k) {
        ASSERT_EQ(s[k], k < std::uint32_t(info.line_width) ? dark : 0) << "reference line " << k;
        ASSERT_EQ(s[status + k], k < 6 ? pieces[k] : 0) << "status line " << k;
    }
    for (std::uint32_t i = 0; i + 2 < lines; ++i) {
        const std::uint16_t *line = &s[(i + 1) * w8];
        for (std::uint32_t k = 0; k < w8; ++k) {
            const std::uint32_t j = k - info.left;
            const std::uint16_t expected = k < std::uint32_t(info.left) ? dark
                                           : j < info.width
                                               ? WindowSample(config, info, frame, i, j)
                                               : 0;
            ASSERT_EQ(line[k], expected) << "line " << i + 1 << " sample " << k;
        }
    }
}

// Pixel (r, k) by the unpacking rules: column x of the walk is j, or
// width - 1 - j mirrored; pixel k takes the samples with x / hb == k.
std::uint16_t ExpectedPixel(const TQSIM_CAMERA_CONFIG &config, const TQDEV_FRAME_INFO &info,
                            std::uint32_t frame, std::uint32_t r, std::uint32_t k) {
    const std::uint32_t rows = info.height / info.v_binning;
    const std::uint32_t i = info.flags & TQDEV_FRAME_FLIP ? rows - 1 - r : r;
    const bool subsample = info.flags & TQDEV_FRAME_SUBSAMPLE;
    const std::uint32_t kept = info.ext_flags & TQDEV_FRAME_EXT_PHASE1 ? 1 % info.h_binning : 0;
    std::uint32_t sum = 0;
    for (std::uint32_t j = 0; j < info.width; ++j) {
        const std::uint32_t x = info.flags & TQDEV_FRAME_MIRROR ? info.width - 1 - j : j;
        if (x / info.h_binning != k || (subsample && x % info.h_binning != kept)) {
            continue;
        }
        sum += WindowSample(config, info, frame, i, j);
    }
    return static_cast<std::uint16_t>(std::min(sum, 4095u));
}

using Frames = SimCamera;

TEST_F(Frames, EverySampleFollowsThePattern) {
    struct Case {
        const char *name;
        TQDEV_CAPTURE_SETTINGS settings;
        bool unpacked; // the camera's delivery mode
        bool expectPacked;
    };
    const std::uint32_t flags = TQDEV_FLAG_PACKED_OUTPUT;
    const Case cases[] = {
        {"full sensor in place", Window(0, 0, 0, 0), false, true},
        // Made from the pattern prepared for the settings: twice, so that the
        // second frame lays its own mask over the same pattern.
        {"odd width, packed output", Window(3, 5, 37, 6, 0, flags), false, true},
        {"odd width, packed output, next frame", Window(3, 5, 37, 6, 0, flags), false, true},
        {"packed output, binned", Window(10, 20, 96, 30, TQSIM_READOUT_BINNING(3, 3), flags), false,
         true},
        {"binned window unpacked", Window(100, 51, 256, 12, TQSIM_READOUT_BINNING(2, 2)), false,
         false},
        {"mirrored and flipped",
         Window(64, 3, 128, 9,
                TQSIM_READOUT_MIRROR | TQSIM_READOUT_FLIP | TQSIM_READOUT_BINNING(2, 1)),
         true, false},
        {"sub-sampled phase 1",
         Window(7, 0, 64, 4,
                TQSIM_READOUT_BINNING(4, 1) | TQSIM_READOUT_SUBSAMPLE | TQSIM_READOUT_PHASE1 |
                    TQSIM_READOUT_MIRROR),
         false, false},
    };
    std::uint32_t frame = 0;
    for (const Case &c : cases) {
        ASSERT_EQ(TqsimSetDelivery(camera_, c.unpacked), 0);
        ASSERT_EQ(TqsimSetDarkLevel(camera_, static_cast<std::uint16_t>(100 + frame)), 0);
        TQDEV_CAPTURE_SETTINGS settings = c.settings;
        settings.ticket = 40 + frame;
        TQDEV_FRAME_INFO info{};
        ASSERT_EQ(Run(6, &info, sizeof info, &settings).word[0], 0u) << c.name;
        const bool packedOutput = settings.flags & TQDEV_FLAG_PACKED_OUTPUT;
        const std::uint32_t size = packedOutput ? info.packed_size : info.image_size;
        std::vector<std::uint8_t> buffer(size);
        const TQDEV_STATUS status = Run(0, buffer.data(), size, &settings);
        ASSERT_EQ(status.word[0], 0u) << c.name;
        EXPECT_EQ(status.word[6], frame) << c.name;
        EXPECT_EQ(status.word[5], (info.flags & TQDEV_FRAME_PACKED) ? 1u : 0u) << c.name;
        if (c.expectPacked) {
            buffer.resize(info.packed_size);
            CheckStream(config_, info, buffer, frame, settings.ticket,
                        static_cast<std::uint16_t>(100 + frame));
        } else {
            const std::uint32_t rows = info.height / info.v_binning;
            const std::uint32_t columns = info.width / info.h_binning;
            ASSERT_EQ(status.word[4], rows * columns * 2) << c.name;
            for (std::uint32_t r = 0; r < rows; ++r) {
                for (std::uint32_t k = 0; k < columns; ++k) {
                    const std::uint16_t pixel = static_cast<std::uint16_t>(
                        buffer[(r * columns + k) * 2] | buffer[(r * columns + k) * 2 + 1] << 8);
                    ASSERT_EQ(pixel, ExpectedPixel(config_, info, frame, r, k))
                        << c.name << " row " << r << " column " << k;
                    ASSERT_EQ(pixel, TqsimExpectedPixel(&config_, &settings, frame, r, k));
                }
            }
        }
        ++frame;
    }
}

TEST_F(Frames, StatusWordsAndConsecutiveFrames) {
    TQDEV_CAPTURE_SETTINGS settings = Window(0, 0, 64, 16); // small enough to pack in place
    settings.ticket = 9;
    settings.extra_words[1] = 1500; // exposure
    TQDEV_FRAME_INFO info{};
    const TQDEV_STATUS descriptor = Run(6, &info, sizeof info, &settings);
    const std::uint32_t expected6[7] = {0, 9, 1500, 6, 68, 0, 0};
    EXPECT_TRUE(std::equal(descriptor.word, descriptor.word + 7, expected6));

    std::vector<std::vector<std::uint8_t>> frames;
    for (std::uint32_t n = 0; n < 3; ++n) {
        std::vector<std::uint8_t> buffer(info.image_size);
        const TQDEV_STATUS status = Run(0, buffer.data(), info.image_size, &settings);
        const std::uint32_t expected0[7] = {0, 9, 1500, 0, info.packed_size, 1, n};
        EXPECT_TRUE(std::equal(status.word, status.word + 7, expected0)) << n;
        frames.push_back(buffer);
    }
    EXPECT_NE(frames[0], frames[1]) << "consecutive frames differ";
    EXPECT_NE(frames[1], frames[2]) << "consecutive frames differ";
    std::uint32_t count = 0;
    ASSERT_EQ(TqsimFrameCount(camera_, &count), 0);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(Run(8, nullptr, 0).word[2], 1500u) << "integration time";
    for (std::uint32_t number : {10u, 21u}) {
        const TQDEV_STATUS status = Run(number, nullptr, 0);
        EXPECT_EQ(status.word[0], 0u);
        EXPECT_EQ(status.word[3], number);
        EXPECT_EQ(status.word[6], 3u) << "the next frame's number";
    }
}

TEST_F(Frames, FrameRequestsCheckSettingsAndBuffer) {
    std::vector<std::uint8_t> buffer(1024 * 768 * 2);
    EXPECT_EQ(Run(0, buffer.data(), static_cast<DWORD>(buffer.size())).word[0],
              TQDEV_RESULT_INVALID_PARAMETER)
        << "no settings";
    TQDEV_CAPTURE_SETTINGS settings = Window(0, 0, 0, 0);
    EXPECT_EQ(Run(0, buffer.data(), static_cast<DWORD>(buffer.size() - 1), &settings).word[0],
              TQDEV_RESULT_INVALID_BUFFER);
    std::uint32_t count = 1;
    ASSERT_EQ(TqsimFrameCount(camera_, &count), 0);
    EXPECT_EQ(count, 0u);
}

// With timing on, the capture state moves through exposing and reading out to
// delivered, as request 1 reports while the frame is under way.
TEST_F(Frames, CaptureStateIsObservableWhileTimed) {
    ASSERT_EQ(TqsimSetTiming(camera_, 400000, 200000), 0);
    TQDEV_CAPTURE_SETTINGS settings = Window(0, 0, 64, 8);
    settings.ticket = 5;
    std::vector<std::uint8_t> buffer(64 * 8 * 2);
    Triple frame;
    IssueRequest(file_, 0, buffer.data(), static_cast<DWORD>(buffer.size()), &settings, frame);
    std::set<std::int32_t> seen;
    while (!frame.statusCall.Completed()) {
        std::int32_t reply[2] = {};
        ASSERT_EQ(Run(1, reply, sizeof reply).word[0], 0u);
        if (reply[0] == 5) {
            seen.insert(reply[1]);
        }
    }
    EXPECT_TRUE(seen.count(TQSIM_STATE_EXPOSING));
    EXPECT_TRUE(seen.count(TQSIM_STATE_READING_OUT));
    std::int32_t reply[2] = {};
    ASSERT_EQ(Run(1, reply, sizeof reply).word[0], 0u);
    EXPECT_EQ(reply[0], 5);
    EXPECT_EQ(reply[1], TQSIM_STATE_DELIVERED);
    EXPECT_EQ(frame.status.word[2], 200000u);
}

} // namespace
} // namespace simtest
