#include "capture_geometry.h"

#include <cstring>
#include <sstream>
#include <vector>

#include "numbers.h"
#include "result_names.h"
#include "tqdev_protocol.h"

namespace {

constexpr uint32_t kMirrorWidthStep = TQPROTO_MIRROR_WIDTH_STEP;

uint32_t Word(const uint8_t *bytes, size_t offset) {
    uint32_t value = 0;
    std::memcpy(&value, bytes + offset, sizeof value);
    return value;
}

std::string Text(const uint8_t *bytes, size_t offset, size_t limit) {
    const char *start = reinterpret_cast<const char *>(bytes + offset);
    return std::string(start, strnlen(start, limit));
}

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
    params.setup_words[0] = TQPROTO_SETUP_ORIGIN(geometry.left, geometry.top);
    params.setup_words[1] = TQPROTO_SETUP_SIZE(geometry.width, geometry.height);
    params.extra_words[0] = TQPROTO_READOUT_BINNING(geometry.hBinning, geometry.vBinning) |
                            (geometry.mirror ? TQPROTO_READOUT_MIRROR : 0) |
                            (geometry.flip ? TQPROTO_READOUT_FLIP : 0);
    params.extra_words[1] = geometry.exposureUs;
}

SensorFacts DecodeCameraInfo(const TQDEV_CAMERA_INFO &info) {
    SensorFacts facts;
    facts.width = Word(info.driver_data, TQPROTO_INFO_SENSOR_WIDTH);
    facts.height = Word(info.driver_data, TQPROTO_INFO_SENSOR_HEIGHT);
    facts.bitsPerSample = Word(info.driver_data, TQPROTO_INFO_BITS_PER_SAMPLE);
    facts.maxBinning = Word(info.driver_data, TQPROTO_INFO_MAX_BINNING);
    facts.model = Text(info.driver_data, TQPROTO_INFO_MODEL, TQPROTO_INFO_TEXT_SIZE);
    facts.serial = Text(info.driver_data, TQPROTO_INFO_SERIAL, TQPROTO_INFO_TEXT_SIZE);
    return facts;
}

std::string ExplainRefusal(const CaptureGeometry &geometry, const SensorFacts &sensor) {
    const auto number = [](uint64_t value) { return std::to_string(value); };
    if (sensor.maxBinning != 0 &&
        (geometry.hBinning > sensor.maxBinning || geometry.vBinning > sensor.maxBinning)) {
        return "--binning: " + number(geometry.hBinning) + "x" + number(geometry.vBinning) +
               " is out of range; this camera bins 1 to " + number(sensor.maxBinning);
    }
    const uint64_t right = uint64_t{geometry.left} + (geometry.width ? geometry.width : 0);
    const uint64_t bottom = uint64_t{geometry.top} + (geometry.height ? geometry.height : 0);
    if (sensor.width != 0 && sensor.height != 0 &&
        (geometry.left >= sensor.width || geometry.top >= sensor.height || right > sensor.width ||
         bottom > sensor.height)) {
        return "--window: " + number(geometry.left) + "," + number(geometry.top) + "," +
               number(geometry.width) + "," + number(geometry.height) + " does not lie on the " +
               number(sensor.width) + "x" + number(sensor.height) + " sensor";
    }
    const uint32_t width = geometry.width ? geometry.width : sensor.width - geometry.left;
    if (geometry.mirror && (geometry.width != 0 || sensor.width != 0) &&
        width % kMirrorWidthStep != 0) {
        return "--mirror: needs a window width that is a multiple of " + number(kMirrorWidthStep) +
               " (it is " + number(width) + ")";
    }
    if (geometry.width != 0 && geometry.width < geometry.hBinning) {
        return "--window: narrower than one horizontal bin";
    }
    if (geometry.height != 0 && geometry.height < geometry.vBinning) {
        return "--window: lower than one vertical bin";
    }
    return "";
}

ImageDimensions ProbeDimensions(uint32_t device, const TQDEV_CAPTURE_PARAMS &params) {
    TQDEV_CAPTURE_PARAMS probe = {};
    probe.mode = TQDEV_CAPTURE_SINGLE;
    probe.flags = (params.flags & ~(TQDEV_FLAG_CALIBRATION_STAMP | TQDEV_FLAG_LIVE_FOCUS)) |
                  TQDEV_FLAG_PACKED_OUTPUT;
    std::memcpy(probe.setup_words, params.setup_words, sizeof probe.setup_words);
    std::memcpy(probe.extra_words, params.extra_words, sizeof probe.extra_words);
    uint32_t size = 0;
    CheckResult("TqdevFrameSize", TqdevFrameSize(device, &probe, &size));
    std::vector<uint8_t> container(size < sizeof(TQDEV_IMAGE_HEADER) ? sizeof(TQDEV_IMAGE_HEADER)
                                                                     : size);
    probe.buffer = container.data();
    CheckResult("TqdevCaptureImage", TqdevCaptureImage(device, &probe, nullptr));
    TQDEV_IMAGE_HEADER header;
    std::memcpy(&header, container.data(), sizeof header);
    return ContainerDimensions(header);
}

ImageDimensions ContainerDimensions(const TQDEV_IMAGE_HEADER &header) {
    return {TqdevUnpackedWidth(&header.frame_info), TqdevUnpackedHeight(&header.frame_info)};
}
