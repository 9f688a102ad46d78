// The public records have the exact sizes and offsets callers rely on, in C++
// (checked at compile time) and in C (compared at run time).
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tqdev.h"

extern "C" const size_t tqdev_c_layout[];
extern "C" const size_t tqdev_c_layout_count;

namespace {

#define FIELD(record, field) offsetof(record, field)

// Expected sizes and offsets, in the order of tqdev_c_layout.
const std::vector<size_t> expected = {
    312, 0,   4,   8,   16, 56, 96, 100, 104, 144, 184, 188, 192, 232, 272, // TQDEV_DEVICE_INFO
    16,  0,   8,                                                            // TQDEV_DEVICE_ARRAY
    88,  8,   48,                                                           // TQDEV_LIBRARY_VERSION
    32,  0,   4,   8,   12, 16, 24,                                         // TQDEV_PROGRESS
    128, 0,   4,   8,   32, 40, 48, 48,  52,  56,  56,  56,  60,  64,  64,
    88,  96,                                                     // TQDEV_CAPTURE_PARAMS
    44,  8,   12,  36,                                           // TQDEV_CAPTURE_SETTINGS
    28,                                                          // TQDEV_STATUS
    68,  4,   8,   16,  20, 24, 28, 32,  36,  40,  44,  48,  52, // TQDEV_FRAME_INFO
    76,  4,   8,                                                 // TQDEV_IMAGE_HEADER
    220, 180,                                                    // TQDEV_CAMERA_INFO
    272, 196, 232, 236,                                          // extended information
    88,                                                          // TQDEV_DEVICE_STATE
    20,                                                          // TQDEV_FLAW
};

// The same offsets as C++ sees them, at compile time.
static_assert(FIELD(TQDEV_DEVICE_INFO, DriverMajorVersion) == 96);
static_assert(FIELD(TQDEV_DEVICE_INFO, MajorVersion) == 184);
static_assert(FIELD(TQDEV_DEVICE_INFO, BuildDate) == 232);
static_assert(FIELD(TQDEV_DEVICE_ARRAY, Devices) == 8);
static_assert(FIELD(TQDEV_LIBRARY_VERSION, BuildDate) == 48);
static_assert(FIELD(TQDEV_PROGRESS, Callback) == 16);
static_assert(FIELD(TQDEV_PROGRESS, UserData) == 24);
static_assert(FIELD(TQDEV_CAPTURE_PARAMS, status5) == 32);
static_assert(FIELD(TQDEV_CAPTURE_PARAMS, buffer) == 40);
static_assert(FIELD(TQDEV_CAPTURE_PARAMS, ticket) == 48);
static_assert(FIELD(TQDEV_CAPTURE_PARAMS, frame_count) == 48);
static_assert(FIELD(TQDEV_CAPTURE_PARAMS, status6) == 52);
static_assert(FIELD(TQDEV_CAPTURE_PARAMS, sum_buffer) == 56);
static_assert(FIELD(TQDEV_CAPTURE_PARAMS, sequence_buffers) == 56);
static_assert(FIELD(TQDEV_CAPTURE_PARAMS, ring_index) == 56);
static_assert(FIELD(TQDEV_CAPTURE_PARAMS, ring_size) == 60);
static_assert(FIELD(TQDEV_CAPTURE_PARAMS, mean_level) == 64);
static_assert(FIELD(TQDEV_CAPTURE_PARAMS, ring_buffers) == 64);
static_assert(FIELD(TQDEV_CAPTURE_PARAMS, extra_words) == 88);
static_assert(FIELD(TQDEV_CAPTURE_PARAMS, reserved) == 96);
static_assert(FIELD(TQDEV_CAPTURE_SETTINGS, extra_words) == 36);
static_assert(FIELD(TQDEV_FRAME_INFO, ext_flags) == 48);
static_assert(FIELD(TQDEV_IMAGE_HEADER, frame_info) == 8);
static_assert(FIELD(TQDEV_CAMERA_INFO, capability_flags) == 180);
static_assert(FIELD(TQDEV_EXTENDED_CAMERA_INFO, xform_matrix) == 196);
static_assert(FIELD(TQDEV_EXTENDED_CAMERA_INFO, average_dark) == 232);
static_assert(FIELD(TQDEV_EXTENDED_CAMERA_INFO, driver_pair) == 236);

TEST(PublicHeader, CompiledAsCHasTheSameLayout) {
    ASSERT_EQ(tqdev_c_layout_count, expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(tqdev_c_layout[i], expected[i]) << "layout entry " << i;
    }
}

// Every code the library produces has its name; any other value (a driver's
// own code) has none.
TEST(PublicHeader, ResultNames) {
    const std::vector<std::pair<uint32_t, std::string>> named = {
        {0, "TQDEV_RESULT_OK"},
        {3, "TQDEV_RESULT_INVALID_PARAMETER"},
        {4, "TQDEV_RESULT_SYSTEM_ERROR"},
        {5, "TQDEV_RESULT_INVALID_BUFFER"},
        {7, "TQDEV_RESULT_CANCELLED"},
        {8, "TQDEV_RESULT_DEVICE_NOT_FOUND"},
        {10, "TQDEV_RESULT_DEVICE_NOT_OPEN"},
        {11, "TQDEV_RESULT_DEVICE_ALREADY_OPEN"},
        {12, "TQDEV_RESULT_OPEN_FAILED"},
        {14, "TQDEV_RESULT_OUT_OF_MEMORY"},
        {16, "TQDEV_RESULT_INVALID_DEVICE"},
        {18, "TQDEV_RESULT_NOT_INITIALIZED"},
        {25, "TQDEV_RESULT_LIVE_FOCUS_STOPPED"},
    };
    for (const auto &[code, name] : named) {
        ASSERT_NE(TqdevResultName(code), nullptr) << code;
        EXPECT_EQ(TqdevResultName(code), name);
    }
    for (uint32_t code : {1u, 2u, 6u, 9u, 13u, 15u, 17u, 19u, 24u, 26u, 0xFFFFFFFFu}) {
        EXPECT_EQ(TqdevResultName(code), nullptr) << code;
    }
}

// The unpacked image is the window over the binning factors, 0 counting as 1.
TEST(PublicHeader, UnpackedGeometry) {
    struct Case {
        uint32_t width, height, hBinning, vBinning, columns, rows;
    };
    const Case cases[] = {
        {1024, 768, 0, 0, 1024, 768},
        {1024, 768, 1, 1, 1024, 768},
        {320, 200, 2, 3, 160, 66},
        {7, 5, 8, 8, 0, 0},
    };
    for (const Case &c : cases) {
        TQDEV_FRAME_INFO info = {};
        info.width = c.width;
        info.height = c.height;
        info.h_binning = c.hBinning;
        info.v_binning = c.vBinning;
        EXPECT_EQ(TqdevUnpackedWidth(&info), c.columns) << c.width << "/" << c.hBinning;
        EXPECT_EQ(TqdevUnpackedHeight(&info), c.rows) << c.height << "/" << c.vBinning;
    }
}

} // namespace
