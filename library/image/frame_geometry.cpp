// Quantities derived from a frame descriptor, and the check that a descriptor
// from outside (a stored container, a driver) keeps the relations the
// unpacker relies on.
#include <cstdint>

#include "image_data.h"

namespace {

int32_t FactorOrOne(uint32_t factor) {
    return factor == 0 ? 1 : static_cast<int32_t>(factor);
}

// The padded line length in 64 bits, so that a hostile line_width cannot overflow.
int64_t PaddedLineWidth(int32_t lineWidth) {
    return (int64_t{lineWidth} + 7) / 8 * 8;
}

} // namespace

FrameGeometry DeriveGeometry(const TQDEV_FRAME_INFO &info) {
    FrameGeometry geo{};
    geo.hb = FactorOrOne(info.h_binning);
    geo.vb = FactorOrOne(info.v_binning);
    // The factors of an inconsistent descriptor may read as 0 or negative;
    // keep the divisions defined and leave the refusal to FrameInfoIsConsistent.
    const int64_t hb = geo.hb > 0 ? geo.hb : 1;
    const int64_t vb = geo.vb > 0 ? geo.vb : 1;
    const int64_t w8 = PaddedLineWidth(info.line_width);
    const int64_t lines = int64_t{info.line_count} / vb;
    geo.w8 = static_cast<int32_t>(w8);
    geo.lines = static_cast<int32_t>(lines);
    geo.g = static_cast<int32_t>(int64_t{info.top} / vb);
    geo.m = static_cast<int32_t>(int64_t{static_cast<int32_t>(info.height)} / vb);
    geo.n = static_cast<int32_t>(int64_t{static_cast<int32_t>(info.width)} / hb);
    geo.total = lines * w8;
    return geo;
}

bool FrameInfoIsConsistent(const TQDEV_FRAME_INFO &info) {
    constexpr uint32_t kMax = INT32_MAX;
    if (info.line_width < 1 || info.line_width > INT32_MAX - 7 || info.left < 0 || info.top < 0 ||
        info.line_count < 0)
        return false;
    if (info.width > kMax || info.height > kMax || info.h_binning > kMax || info.v_binning > kMax)
        return false;
    const FrameGeometry geo = DeriveGeometry(info);
    if (int64_t{info.left} + info.width > geo.w8)
        return false;
    if (int64_t{geo.g} + geo.m > geo.lines)
        return false;
    if (int64_t{geo.m} * geo.n * 2 > info.image_size)
        return false;
    return geo.total / 8 * 12 <= info.packed_size;
}
