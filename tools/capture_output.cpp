#include "capture_output.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "capture_geometry.h"
#include "image_files.h"
#include "result_names.h"
#include "tqdev.h"

namespace {

void WriteBytes(const std::string &path, const void *data, size_t size) {
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        throw std::runtime_error("cannot create " + path);
    }
    const bool written = std::fwrite(data, 1, size, file) == size;
    if (std::fclose(file) != 0 || !written) {
        throw std::runtime_error("cannot write " + path);
    }
}

} // namespace

std::vector<uint16_t> UnpackContainer(const void *container) {
    uint32_t imageSize = 0;
    CheckResult("TqdevUnpackImage", TqdevUnpackImage(container, nullptr, &imageSize, 0));
    std::vector<uint16_t> pixels((imageSize + 1) / 2);
    CheckResult("TqdevUnpackImage", TqdevUnpackImage(container, pixels.data(), &imageSize, 0));
    TQDEV_IMAGE_HEADER header;
    std::memcpy(&header, container, sizeof header);
    const ImageDimensions dimensions = ContainerDimensions(header);
    if (uint64_t{dimensions.width} * dimensions.height > pixels.size()) {
        throw std::runtime_error("container descriptor does not match its image size");
    }
    return pixels;
}

void WriteContainer(const std::string &path, const void *container, uint32_t size,
                    const std::string &description) {
    if (!IsImageFileName(path)) {
        WriteBytes(path, container, size);
        return;
    }
    const std::vector<uint16_t> pixels = UnpackContainer(container);
    TQDEV_IMAGE_HEADER header;
    std::memcpy(&header, container, sizeof header);
    const ImageDimensions dimensions = ContainerDimensions(header);
    WriteImageFile(path, pixels.data(), dimensions.width, dimensions.height, description);
}
