#include "packed_container.h"

#include <algorithm>
#include <cstring>

namespace {

int32_t FactorOrOne(uint32_t factor) {
    return factor == 0 ? 1 : static_cast<int32_t>(factor);
}

} // namespace

StreamLayout DescribeStream(const TQDEV_FRAME_INFO &info) {
    StreamLayout layout{};
    layout.hBinning = FactorOrOne(info.h_binning);
    layout.vBinning = FactorOrOne(info.v_binning);
    // A descriptor read from a file may carry any factors; keep the divisions
    // defined and leave the refusal to StreamHoldsWindow.
    const int64_t hb = layout.hBinning > 0 ? layout.hBinning : 1;
    const int64_t vb = layout.vBinning > 0 ? layout.vBinning : 1;
    // In 64 bits, so that a hostile line_width cannot overflow.
    const int64_t padded = (int64_t{info.line_width} + 7) / 8 * 8;
    const int64_t lines = int64_t{info.line_count} / vb;
    layout.paddedWidth = static_cast<int32_t>(padded);
    layout.lines = static_cast<int32_t>(lines);
    layout.firstLine = static_cast<int32_t>(int64_t{info.top} / vb);
    layout.rows = static_cast<int32_t>(int64_t{static_cast<int32_t>(info.height)} / vb);
    layout.columns = static_cast<int32_t>(int64_t{static_cast<int32_t>(info.width)} / hb);
    layout.samples = lines * padded;
    return layout;
}

bool StreamHoldsWindow(const TQDEV_FRAME_INFO &info) {
    constexpr uint32_t kMax = INT32_MAX;
    if (info.line_width < 1 || info.line_width > INT32_MAX - 7 || info.left < 0 || info.top < 0 ||
        info.line_count < 0)
        return false;
    if (info.width > kMax || info.height > kMax || info.h_binning > kMax || info.v_binning > kMax)
        return false;
    const StreamLayout layout = DescribeStream(info);
    if (int64_t{info.left} + info.width > layout.paddedWidth)
        return false;
    if (int64_t{layout.firstLine} + layout.rows > layout.lines)
        return false;
    if (int64_t{layout.rows} * layout.columns * 2 > info.image_size)
        return false;
    return layout.samples / 8 * 12 <= info.packed_size;
}

void PackSampleGroup8(const uint16_t samples[8], uint8_t out[12]) {
    // The samples are one 96-bit little-endian run, sample 0 lowest; each of
    // its three 32-bit words is stored most significant byte first.
    uint64_t bits = 0;
    int held = 0;
    for (int i = 0; i < 8; ++i) {
        bits |= uint64_t{samples[i] & 0xFFFu} << held;
        held += 12;
        if (held >= 32) {
            const auto word = static_cast<uint32_t>(bits);
            out[0] = static_cast<uint8_t>(word >> 24);
            out[1] = static_cast<uint8_t>(word >> 16);
            out[2] = static_cast<uint8_t>(word >> 8);
            out[3] = static_cast<uint8_t>(word);
            out += 4;
            bits >>= 32;
            held -= 32;
        }
    }
}

std::vector<uint8_t> BuildContainer(const TQDEV_FRAME_INFO &info,
                                    const std::vector<uint16_t> &samples) {
    std::vector<uint8_t> container(TQDEV_IMAGE_HEADER_SIZE + size_t{info.packed_size});
    TQDEV_IMAGE_HEADER header{};
    header.magic = TQDEV_IMAGE_MAGIC;
    header.header_size = TQDEV_IMAGE_HEADER_SIZE;
    header.frame_info = info;
    std::memcpy(container.data(), &header, sizeof header);
    uint8_t *stream = container.data() + TQDEV_IMAGE_HEADER_SIZE;
    // Never past the stream the header promises.
    const size_t groups = std::min(samples.size() / 8, size_t{info.packed_size} / 12);
    for (size_t group = 0; group < groups; ++group)
        PackSampleGroup8(samples.data() + 8 * group, stream + 12 * group);
    return container;
}
