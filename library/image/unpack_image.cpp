// Unpacking a stored packed image container into the caller's pixels.
#include "image_data.h"

uint32_t UnpackImage(const void *image, uint16_t *pixels, uint32_t *imageSize, uintptr_t reserved,
                     const UnpackWorkspace &workspace) {
    if (reserved != 0 || image == nullptr)
        return TQDEV_RESULT_INVALID_PARAMETER;
    TQDEV_FRAME_INFO info;
    const uint8_t *packed = ParseImageHeader(image, &info);
    // A stored container carries no sizes of its own: its descriptor is all
    // that keeps the unpacker inside the caller's buffers.
    if (packed == nullptr || !FrameInfoIsConsistent(info))
        return TQDEV_RESULT_INVALID_PARAMETER;
    if (imageSize != nullptr)
        *imageSize = info.image_size;
    if (pixels == nullptr)
        return TQDEV_RESULT_OK;
    return UnpackFrame(info, info.line_count, packed, pixels, workspace);
}
