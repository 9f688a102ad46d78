// The packed image container's header: magic, header size, descriptor.
#include <cstring>

#include "image_data.h"

void WriteImageHeader(void *header, const TQDEV_FRAME_INFO &info) {
    TQDEV_IMAGE_HEADER out;
    out.magic = TQDEV_IMAGE_MAGIC;
    out.header_size = ImageHeaderSize();
    out.frame_info = info;
    std::memcpy(header, &out, sizeof out);
}

const uint8_t *ParseImageHeader(const void *image, TQDEV_FRAME_INFO *info) {
    // Byte copies: a stored container need not be aligned.
    TQDEV_IMAGE_HEADER in;
    std::memcpy(&in.magic, image, sizeof in.magic);
    if (in.magic != TQDEV_IMAGE_MAGIC)
        return nullptr;
    const auto *bytes = static_cast<const uint8_t *>(image);
    std::memcpy(&in.header_size, bytes + offsetof(TQDEV_IMAGE_HEADER, header_size),
                sizeof in.header_size);
    std::memcpy(info, bytes + offsetof(TQDEV_IMAGE_HEADER, frame_info), sizeof *info);
    // A stream inside the header, or a container larger than 32 bits can
    // describe, is not one this library wrote.
    if (in.header_size < ImageHeaderSize() ||
        uint64_t{in.header_size} + info->packed_size > UINT32_MAX)
        return nullptr;
    return bytes + in.header_size;
}
