#include "capture_geometry.h"

#include <sstream>
#include <vector>

#include "numbers.h"
#include "tqsim.h"

namespace {

std::vector<std::string> Split(const std::string &text, char separator) {
    std::vector<std::string> parts;
    std::stringstream stream(text);
    std::string part;
    while (std::getline(stream, part, separator)) {
        parts.push_back(part);
    }
    if (!text.empty() && text.back() == separator) {
        parts.push_back("");
    }
    return parts;
}

} // namespace

bool ParseBinning(const std::string &text, CaptureGeometry &geometry) {
    const std::vector<std::string> parts = Split(text, 'x');
    if (parts.empty() || parts.size() > 2) {
        return false;
    }
    const std::optional<uint32_t> h = ParseU32(parts[0]);
    const std::optional<uint32_t> v = parts.size() == 2 ? ParseU32(parts[1]) : h;
    // The camera takes each factor in 8 bits.
    if (!h || !v || *h == 0 || *v == 0 || *h > 0xFF || *v > 0xFF) {
        return false;
    }
    geometry.hBinning = *h;
    geometry.vBinning = *v;
    return true;
}

bool ParseWindow(const std::string &text, CaptureGeometry &geometry) {
    const std::vector<std::string> parts = Split(text, ',');
    if (parts.size() != 4) {
        return false;
    }
    std::optional<uint32_t> values[4];
    for (int i = 0; i < 4; ++i) {
        values[i] = ParseU32(parts[i]);
        // The camera takes each in 16 bits.
        if (!values[i] || *values[i] > 0xFFFF) {
            return false;
        }
    }
    if (*values[2] == 0 || *values[3] == 0) {
        return false;
    }
    geometry.left = *values[0];
    geometry.top = *values[1];
    geometry.width = *values[2];
    geometry.height = *values[3];
    return true;
}

void ApplyGeometry(const CaptureGeometry &geometry, TQDEV_CAPTURE_PARAMS &params) {
    params.setup_words[0] = TQSIM_SETUP_ORIGIN(geometry.left, geometry.top);
    params.setup_words[1] = TQSIM_SETUP_SIZE(geometry.width, geometry.height);
    params.extra_words[0] = TQSIM_READOUT_BINNING(geometry.hBinning, geometry.vBinning) |
                            (geometry.mirror ? TQSIM_READOUT_MIRROR : 0) |
                            (geometry.flip ? TQSIM_READOUT_FLIP : 0);
    params.extra_words[1] = geometry.exposureUs;
}

std::optional<ImageDimensions> UnpackedDimensions(uint32_t simulatedCamera,
                                                  const TQDEV_CAPTURE_PARAMS &params) {
    TQSIM_CAMERA_CONFIG config;
    if (TqsimGetConfig(simulatedCamera, &config) != 0) {
        return std::nullopt;
    }
    TQDEV_CAPTURE_SETTINGS settings = {};
    settings.mode = params.mode;
    settings.flags = params.flags;
    for (int i = 0; i < 6; ++i) {
        settings.setup_words[i] = params.setup_words[i];
    }
    settings.extra_words[0] = params.extra_words[0];
    settings.extra_words[1] = params.extra_words[1];
    TQDEV_FRAME_INFO info;
    if (TqsimDeriveFrameInfo(&config, &settings, &info) != TQDEV_RESULT_OK) {
        return std::nullopt;
    }
    TQDEV_IMAGE_HEADER header = {};
    header.frame_info = info;
    return ContainerDimensions(header);
}

ImageDimensions ContainerDimensions(const TQDEV_IMAGE_HEADER &header) {
    // Output columns and rows of the unpacker: the window over the binning
    // factors, a factor of 0 counting as 1.
    const TQDEV_FRAME_INFO &info = header.frame_info;
    const uint32_t hb = info.h_binning == 0 ? 1 : info.h_binning;
    const uint32_t vb = info.v_binning == 0 ? 1 : info.v_binning;
    return {info.width / hb, info.height / vb};
}
