// From capture settings to the frame descriptor: the window rule, the stream
// geometry (one reference line above, dark columns to the left, one status
// line below) and the choice between packed-in-place and unpacked delivery.
#include "camera/frame_model.h"

namespace tqsim {
namespace {

constexpr std::uint32_t kReadoutBits = TQPROTO_READOUT_MIRROR | TQPROTO_READOUT_FLIP |
                                       TQPROTO_READOUT_SUBSAMPLE | TQPROTO_READOUT_PHASE1;
constexpr std::uint64_t kMaxBytes = 0xFFFFFFFFu;

std::uint32_t OrOne(std::uint32_t factor) {
    return factor == 0 ? 1 : factor;
}

// Places the window on the sensor, cut to whole bins. False when impossible.
bool PlaceWindow(const TQDEV_CAPTURE_SETTINGS &settings, const SensorModel &sensor,
                 FrameGeometry *frame) {
    frame->x0 = TQPROTO_SETUP_LOW(settings.setup_words[0]);
    frame->y0 = TQPROTO_SETUP_HIGH(settings.setup_words[0]);
    frame->hb = OrOne(TQPROTO_READOUT_H_BINNING(settings.extra_words[0]));
    frame->vb = OrOne(TQPROTO_READOUT_V_BINNING(settings.extra_words[0]));
    if (frame->hb > TQPROTO_BINNING_MAX || frame->vb > TQPROTO_BINNING_MAX) {
        return false;
    }
    if (frame->x0 >= sensor.width || frame->y0 >= sensor.height) {
        return false;
    }
    std::uint32_t width = TQPROTO_SETUP_LOW(settings.setup_words[1]);
    std::uint32_t height = TQPROTO_SETUP_HIGH(settings.setup_words[1]);
    width = width == 0 ? sensor.width - frame->x0 : width;
    height = height == 0 ? sensor.height - frame->y0 : height;
    if (width > sensor.width - frame->x0 || height > sensor.height - frame->y0) {
        return false;
    }
    frame->width = width - width % frame->hb;
    frame->height = height - height % frame->vb;
    return frame->width != 0 && frame->height != 0;
}

bool ChooseReadout(const TQDEV_CAPTURE_SETTINGS &settings, const SensorModel &sensor,
                   FrameGeometry *frame) {
    const std::uint32_t readout = settings.extra_words[0] & kReadoutBits;
    frame->mirror = (readout & TQPROTO_READOUT_MIRROR) != 0;
    frame->flip = (readout & TQPROTO_READOUT_FLIP) != 0;
    frame->subsample = (readout & TQPROTO_READOUT_SUBSAMPLE) != 0;
    frame->phase1 = (readout & TQPROTO_READOUT_PHASE1) != 0;
    // The library mirrors rows in blocks of 64 samples.
    if (frame->mirror && frame->width % TQPROTO_MIRROR_WIDTH_STEP != 0) {
        return false;
    }
    frame->exposureUs = settings.extra_words[1] != 0 ? settings.extra_words[1] : sensor.exposureUs;
    return frame->exposureUs <= TQPROTO_EXPOSURE_MAX_US;
}

// Fills the descriptor; false when a size does not fit 32 bits.
bool Describe(FrameGeometry *frame) {
    TQDEV_FRAME_INFO &info = frame->info;
    info = TQDEV_FRAME_INFO{};
    const std::uint64_t rows = frame->height / frame->vb;
    const std::uint64_t columns = frame->width / frame->hb;
    const std::uint64_t lineWidth = TQPROTO_DARK_COLUMNS + std::uint64_t{frame->width};
    const std::uint64_t imageSize = rows * columns * 2;
    const std::uint64_t packedSize = (rows + 2) * ((lineWidth + 7) / 8) * 12;
    if (imageSize > kMaxBytes || packedSize > kMaxBytes) {
        return false;
    }
    info.image_size = static_cast<std::uint32_t>(imageSize);
    info.packed_size = static_cast<std::uint32_t>(packedSize);
    info.line_width = static_cast<std::int32_t>(lineWidth);
    info.line_count = static_cast<std::int32_t>(frame->height + 2 * frame->vb);
    info.width = frame->width;
    info.height = frame->height;
    info.left = TQPROTO_DARK_COLUMNS;
    info.top = static_cast<std::int32_t>(frame->vb);
    info.h_binning = frame->hb;
    info.v_binning = frame->vb;
    info.flags = (frame->mirror ? TQDEV_FRAME_MIRROR : 0u) | (frame->flip ? TQDEV_FRAME_FLIP : 0u) |
                 (frame->subsample ? TQDEV_FRAME_SUBSAMPLE : 0u);
    info.ext_flags = frame->phase1 ? TQDEV_FRAME_EXT_PHASE1 : 0u;
    info.reserved_b[0] = frame->x0;
    info.reserved_b[1] = frame->y0;
    info.reserved_b[2] = frame->exposureUs;
    return true;
}

} // namespace

std::uint32_t DeriveFrame(const TQDEV_CAPTURE_SETTINGS &settings, const SensorModel &sensor,
                          FrameGeometry *out) {
    FrameGeometry frame{};
    if (!PlaceWindow(settings, sensor, &frame) || !ChooseReadout(settings, sensor, &frame) ||
        !Describe(&frame)) {
        return TQDEV_RESULT_INVALID_PARAMETER;
    }
    const bool fits = frame.info.packed_size <= frame.info.image_size;
    // An averaged capture receives the stream into a buffer of image_size.
    if (settings.mode == TQDEV_CAPTURE_AVERAGED && !fits) {
        return TQDEV_RESULT_INVALID_PARAMETER;
    }
    frame.packedOutput = (settings.flags & TQDEV_FLAG_PACKED_OUTPUT) != 0;
    frame.packedInPlace = !frame.packedOutput && !sensor.deliverUnpacked && fits;
    if (frame.packedInPlace) {
        frame.info.flags |= TQDEV_FRAME_PACKED;
    }
    *out = frame;
    return TQDEV_RESULT_OK;
}

std::uint32_t DeliveredBytes(const FrameGeometry &frame) {
    const bool packed = frame.packedOutput || frame.packedInPlace;
    return packed ? frame.info.packed_size : frame.info.image_size;
}

} // namespace tqsim
