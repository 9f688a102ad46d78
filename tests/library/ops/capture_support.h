// Capture helpers: records for a small window, buffers sized by the library,
// and the simulator's pixel formula to hold delivered frames against.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "ops_support.h"

// A record for a window of the default sensor; binning and readout bits in
// `readout` (TQSIM_READOUT_*).
inline TQDEV_CAPTURE_PARAMS WindowParams(uint32_t mode, uint32_t flags, uint32_t width = 128,
                                         uint32_t height = 24, uint32_t readout = 0) {
    TQDEV_CAPTURE_PARAMS params{};
    params.mode = mode;
    params.flags = flags;
    params.setup_words[0] = TQSIM_SETUP_ORIGIN(8, 4);
    params.setup_words[1] = TQSIM_SETUP_SIZE(width, height);
    params.extra_words[0] = readout;
    return params;
}

// Bytes one image buffer of device 0 needs for this record, as the library
// says; the question is taken out of the camera's call log again.
inline uint32_t BufferBytes(const TQDEV_CAPTURE_PARAMS &params, uint32_t camera) {
    uint32_t size = 0;
    EXPECT_EQ(TqdevFrameSize(0, &params, &size), TQDEV_RESULT_OK);
    TqsimClearCalls(camera);
    return size;
}

// Frame data as 16-bit words, so unpacked images line up.
using Buffer = std::vector<uint16_t>;
inline Buffer MakeBuffer(uint32_t bytes) {
    return Buffer((bytes + 1) / 2, 0xEEEE);
}

// The settings the driver received with the last frame request of the log.
inline TQDEV_CAPTURE_SETTINGS LastFrameSettings(uint32_t camera) {
    TQDEV_CAPTURE_SETTINGS settings{};
    for (const LoggedRequest &request : LoggedRequests(camera)) {
        if (request.request == 0 && request.settings) {
            settings = *request.settings;
        }
    }
    return settings;
}

struct Shape {
    uint32_t rows, columns;
};

inline Shape ImageShape(uint32_t camera, const TQDEV_CAPTURE_SETTINGS &settings) {
    TQSIM_CAMERA_CONFIG config{};
    EXPECT_EQ(TqsimGetConfig(camera, &config), 0);
    TQDEV_FRAME_INFO info{};
    EXPECT_EQ(TqsimDeriveFrameInfo(&config, &settings, &info), 0u);
    uint32_t hb = info.h_binning == 0 ? 1 : info.h_binning;
    uint32_t vb = info.v_binning == 0 ? 1 : info.v_binning;
    return {info.height / vb, info.width / hb};
}

// Holds an unpacked image against the rounded average of frames first ..
// first + count - 1 of the formula (one frame: the frame itself). Pixels in
// [skipFrom, skipTo) are left out (where a calibration stamp lies).
inline ::testing::AssertionResult
MatchesFormula(uint32_t camera, const TQDEV_CAPTURE_SETTINGS &settings, uint32_t first,
               uint32_t count, const uint16_t *pixels, uint32_t skipFrom = 0, uint32_t skipTo = 0) {
    TQSIM_CAMERA_CONFIG config{};
    TqsimGetConfig(camera, &config);
    Shape shape = ImageShape(camera, settings);
    if (shape.rows == 0 || shape.columns == 0) {
        return ::testing::AssertionFailure() << "empty image";
    }
    uint32_t wrong = 0;
    ::testing::AssertionResult failure = ::testing::AssertionFailure();
    for (uint32_t r = 0; r < shape.rows; ++r) {
        for (uint32_t c = 0; c < shape.columns; ++c) {
            uint32_t i = r * shape.columns + c;
            if (i >= skipFrom && i < skipTo) {
                continue;
            }
            uint32_t sum = 0;
            for (uint32_t f = first; f < first + count; ++f) {
                sum += TqsimExpectedPixel(&config, &settings, f, r, c);
            }
            uint32_t expected = (sum + count / 2) / count;
            if (pixels[i] != expected && wrong++ < 5) {
                failure << "pixel (" << r << ", " << c << ") is " << pixels[i] << ", expected "
                        << expected << "; ";
            }
        }
    }
    if (wrong != 0) {
        return failure << wrong << " pixels differ";
    }
    return ::testing::AssertionSuccess();
}

// A packed container at `image`: header, then the frame; unpacked by the
// exported unpacker and held against the formula.
inline ::testing::AssertionResult ContainerMatchesFormula(uint32_t camera,
                                                          const TQDEV_CAPTURE_SETTINGS &settings,
                                                          uint32_t frame, const void *image) {
    const auto *header = static_cast<const TQDEV_IMAGE_HEADER *>(image);
    if (header->magic != TQDEV_IMAGE_MAGIC || header->header_size != TQDEV_IMAGE_HEADER_SIZE) {
        return ::testing::AssertionFailure() << "no image header";
    }
    uint32_t size = 0;
    if (TqdevUnpackImage(image, nullptr, &size, 0) != TQDEV_RESULT_OK) {
        return ::testing::AssertionFailure() << "size refused";
    }
    Buffer pixels(size / 2);
    if (TqdevUnpackImage(image, pixels.data(), &size, 0) != TQDEV_RESULT_OK) {
        return ::testing::AssertionFailure() << "unpack refused";
    }
    return MatchesFormula(camera, settings, frame, 1, pixels.data());
}
