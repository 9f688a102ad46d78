// Extended camera information: the driver's record, completed by the blocks
// that the camera's capability flags announce.
#include <cstring>

#include "tqdev_lib_internal.h"

namespace {

uint32_t ReadMatrixBlock(uint32_t device, TQDEV_EXTENDED_CAMERA_INFO *info) {
    uint32_t block[9] = {};
    uint32_t result = SyncRequest(device, kRequestReadMatrix, block, sizeof block);
    if (result == TQDEV_RESULT_OK) {
        std::memcpy(info->xform_matrix, block, sizeof block);
    }
    return result;
}

uint32_t ReadDarkBlock(uint32_t device, TQDEV_EXTENDED_CAMERA_INFO *info) {
    uint16_t level = 0;
    uint32_t result = SyncRequest(device, kRequestReadDark, &level, sizeof level);
    if (result == TQDEV_RESULT_OK) {
        info->average_dark = level;
    }
    return result;
}

uint32_t ReadDriverPairBlock(uint32_t device, TQDEV_EXTENDED_CAMERA_INFO *info) {
    uint32_t block[2] = {};
    uint32_t result = SyncRequest(device, kRequestDriverPair, block, sizeof block);
    if (result == TQDEV_RESULT_OK) {
        std::memcpy(info->driver_pair, block, sizeof block);
    }
    return result;
}

struct CapabilityBlock {
    uint32_t flag;
    uint32_t (*read)(uint32_t device, TQDEV_EXTENDED_CAMERA_INFO *info);
};

constexpr CapabilityBlock kBlocks[] = {
    {TQDEV_CAMERA_CAP_XFORM_MATRIX, ReadMatrixBlock},
    {TQDEV_CAMERA_CAP_AVERAGE_DARK, ReadDarkBlock},
    {TQDEV_CAMERA_CAP_DRIVER_PAIR, ReadDriverPairBlock},
};

} // namespace

uint32_t ExtendedCameraInfo(uint32_t device, TQDEV_EXTENDED_CAMERA_INFO *info) {
    if (info == nullptr) {
        return TQDEV_RESULT_INVALID_PARAMETER;
    }
    uint32_t result = SyncRequest(device, kRequestExtendedInfo, info, sizeof *info);
    if (result != TQDEV_RESULT_OK) {
        return result;
    }
    // Only the capability flags of this record are used; the caller never sees it.
    TQDEV_CAMERA_INFO camera{};
    result = SyncRequest(device, kRequestCameraInfo, &camera, sizeof camera);
    for (const CapabilityBlock &block : kBlocks) {
        if (result != TQDEV_RESULT_OK) {
            break;
        }
        if ((camera.capability_flags & block.flag) != 0) {
            result = block.read(device, info);
        }
    }
    return result;
}
