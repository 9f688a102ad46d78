#include <gtest/gtest.h>

#include <cstring>

#include "image_test_support.h"

namespace {

TQDEV_FRAME_INFO NumberedInfo() {
    TQDEV_FRAME_INFO info;
    auto *bytes = reinterpret_cast<uint8_t *>(&info);
    for (size_t i = 0; i < sizeof info; ++i)
        bytes[i] = static_cast<uint8_t>(i + 1);
    return info;
}

TEST(ImageHeader, WritesMagicSizeAndDescriptor) {
    const TQDEV_FRAME_INFO info = NumberedInfo();
    uint8_t header[80];
    std::memset(header, 0xEE, sizeof header);
    WriteImageHeader(header, info);
    const uint8_t start[8] = {0x69, 0x70, 0x51, 0x54, 0x4C, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(header, start, 8));
    EXPECT_EQ(0, std::memcmp(header + 8, &info, 68));
    EXPECT_EQ(0xEE, header[76]);
}

TEST(ImageHeader, ReadsDataFromTheStoredHeaderSize) {
    uint8_t container[100] = {};
    WriteImageHeader(container, NumberedInfo());
    container[4] = 80;
    TQDEV_FRAME_INFO parsed{};
    EXPECT_EQ(container + 80, ParseImageHeader(container, &parsed));
    const TQDEV_FRAME_INFO info = NumberedInfo();
    EXPECT_EQ(0, std::memcmp(&parsed, &info, sizeof info));
}

TEST(ImageHeader, RefusesAWrongMagicAndLeavesTheDescriptor) {
    uint8_t container[76] = {};
    WriteImageHeader(container, NumberedInfo());
    container[3] = 0x55;
    TQDEV_FRAME_INFO parsed;
    std::memset(&parsed, 0xAB, sizeof parsed);
    EXPECT_EQ(nullptr, ParseImageHeader(container, &parsed));
    EXPECT_EQ(0xABu, reinterpret_cast<uint8_t *>(&parsed)[0]);
    EXPECT_EQ(0xABABABABu, parsed.reserved_b[3]);
}

} // namespace
