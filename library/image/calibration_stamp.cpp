// The calibration stamp: 32 bytes of marker, value, time and integration
// time written into a captured image as 32 samples of one byte each.
#include <cstring>
#include <ctime>

#include "image_data.h"

namespace {

constexpr uint32_t kStampWords = 8;
constexpr uint32_t kUnpackedOffset = 256;                   // pixels 128..159
constexpr uint32_t kUnpackedBytes = kStampWords * 4 * 2;    // 32 samples of 16 bits
constexpr uint32_t kPackedBytes = kStampWords * 4 / 8 * 12; // 4 groups

bool BuildStampWords(uint32_t mode, uint32_t integrationTime, uint32_t stampValue,
                     uint32_t words[kStampWords]) {
    const auto now = static_cast<uint32_t>(static_cast<uint64_t>(std::time(nullptr)));
    if (mode == TQDEV_CAPTURE_SINGLE) {
        const uint32_t single[kStampWords] = {STAMP_NORM,      stampValue,  now,
                                              integrationTime, 0xFFFFFFFFu, 0xFFFFFFFFu,
                                              0xFFFFFFFFu,     0xFFFFFFFFu};
        std::memcpy(words, single, sizeof single);
        return true;
    }
    if (mode == TQDEV_CAPTURE_AVERAGED) {
        const uint32_t averaged[kStampWords] = {0,          0,          0,   0,
                                                STAMP_DARK, stampValue, now, integrationTime};
        std::memcpy(words, averaged, sizeof averaged);
        return true;
    }
    return false;
}

// Byte offset of the packed stamp: stream line `top` (not divided by the
// vertical factor), first whole group at or after sample left + 128.
int64_t PackedStampOffset(const TQDEV_FRAME_INFO &info) {
    const int64_t lineBytes = (int64_t{info.line_width} + 7) / 8 * 12;
    return int64_t{ImageHeaderSize()} + int64_t{info.top} * lineBytes +
           (int64_t{info.left} + 135) / 8 * 12;
}

} // namespace

void WriteCalibrationStamp(void *image, uint32_t mode, bool packedOutput, uint32_t integrationTime,
                           uint32_t stampValue, const TQDEV_FRAME_INFO &info) {
    uint32_t words[kStampWords];
    if (!BuildStampWords(mode, integrationTime, stampValue, words))
        return;
    uint16_t samples[kStampWords * 4];
    BytesToSamples(words, sizeof words, samples);
    auto *bytes = static_cast<uint8_t *>(image);
    if (packedOutput) {
        const int64_t offset = PackedStampOffset(info);
        const int64_t end = int64_t{ImageHeaderSize()} + info.packed_size;
        if (offset < ImageHeaderSize() || offset + kPackedBytes > end)
            return;
        uint8_t packed[kPackedBytes];
        PackSamples(samples, sizeof samples, packed);
        std::memcpy(bytes + offset, packed, sizeof packed);
        return;
    }
    if (info.image_size < kUnpackedOffset + kUnpackedBytes)
        return;
    std::memcpy(bytes + kUnpackedOffset, samples, sizeof samples);
}
