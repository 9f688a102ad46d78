// The caller's capture record checked and turned into the driver's settings;
// frame size and writing the settings without capturing.
#include <cstring>

#include "image_data.h"
#include "tqdev_lib_internal.h"

uint32_t BuildCaptureSettings(const TQDEV_CAPTURE_PARAMS *params,
                              TQDEV_CAPTURE_SETTINGS *settings) {
    std::memset(settings, 0, sizeof *settings);
    for (uint32_t word : params->reserved) {
        if (word != 0) {
            TQDEV_DIAG("Invalid parameters in reserved fields\n");
            return TQDEV_RESULT_INVALID_PARAMETER;
        }
    }
    if (params->mode > TQDEV_CAPTURE_LIVE_FOCUS) {
        return TQDEV_RESULT_INVALID_PARAMETER;
    }
    settings->mode = params->mode;
    settings->flags = params->flags;
    std::memcpy(settings->setup_words, params->setup_words, sizeof settings->setup_words);
    std::memcpy(settings->extra_words, params->extra_words, sizeof settings->extra_words);
    return TQDEV_RESULT_OK;
}

namespace {

// Sends the settings with a descriptor request and waits for the descriptor.
// The context comes first: when both fail, its failure is the one reported.
// A size to clear is cleared once the settings are known to be good.
uint32_t RequestFrameInfo(uint32_t device, const TQDEV_CAPTURE_PARAMS *params,
                          TQDEV_FRAME_INFO *info, uint32_t *size) {
    uint32_t result = TQDEV_RESULT_OK;
    SyncContext *sync = NewSyncContext(&result);
    if (sync == nullptr) {
        return result;
    }
    TQDEV_CAPTURE_SETTINGS settings;
    result = BuildCaptureSettings(params, &settings);
    if (result == TQDEV_RESULT_OK) {
        if (size != nullptr) {
            *size = 0;
        }
        result = SubmitAndWait(sync, device, kRequestFrameInfo, info, sizeof *info, &settings);
    }
    EndSyncContext(sync);
    return result;
}

} // namespace

uint32_t FrameSize(uint32_t device, const TQDEV_CAPTURE_PARAMS *params, uint32_t *size) {
    if (params == nullptr || size == nullptr) {
        return TQDEV_RESULT_INVALID_PARAMETER;
    }
    TQDEV_FRAME_INFO info{};
    uint32_t result = RequestFrameInfo(device, params, &info, size);
    if (result == TQDEV_RESULT_OK) {
        bool packed = (params->flags & TQDEV_FLAG_PACKED_OUTPUT) != 0;
        *size = packed ? ImageHeaderSize() + info.packed_size : info.image_size;
    }
    return result;
}

uint32_t WriteCaptureParams(uint32_t device, const TQDEV_CAPTURE_PARAMS *params) {
    if (params == nullptr) {
        return TQDEV_RESULT_INVALID_PARAMETER;
    }
    // The driver answers with the frame descriptor; nobody asked for it here.
    TQDEV_FRAME_INFO discarded{};
    return RequestFrameInfo(device, params, &discarded, nullptr);
}
