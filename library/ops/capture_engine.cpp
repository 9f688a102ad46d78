// Starting a capture: argument checks, the capture context, the ticket and
// the first request of the chain that TqdevCaptureImageCallback carries on.
#include <atomic>
#include <new>

#include "capture_context.h"
#include "image_data.h"

std::atomic<int32_t> lastCompletedTicket{-1};

namespace {

constexpr int32_t kDefaultRingSize = 2;
constexpr int32_t kSequenceFrames = 3;

uint32_t CheckLiveFocus(uint32_t device, TQDEV_CAPTURE_PARAMS *params,
                        const TQDEV_PROGRESS *progress) {
    if (progress == nullptr) {
        return TQDEV_RESULT_INVALID_PARAMETER;
    }
    int32_t ringSize = params->ring_size;
    if (ringSize != 0 && ringSize != 2 && ringSize != 3) {
        return TQDEV_RESULT_INVALID_PARAMETER;
    }
    if (ringSize == 0) {
        params->ring_size = kDefaultRingSize;
    }
    params->flags |= TQDEV_FLAG_LIVE_FOCUS;
    return SetLiveFocus(device);
}

uint32_t CheckCaptureStart(uint32_t device, TQDEV_CAPTURE_PARAMS *params,
                           const TQDEV_PROGRESS *progress) {
    int32_t mode = static_cast<int32_t>(params->mode);
    if (mode < 0 || mode > static_cast<int32_t>(TQDEV_CAPTURE_LIVE_FOCUS)) {
        return TQDEV_RESULT_INVALID_PARAMETER;
    }
    // A record left over from live focus must not start another mode.
    if (params->mode != TQDEV_CAPTURE_LIVE_FOCUS && params->flags == TQDEV_FLAG_LIVE_FOCUS) {
        return TQDEV_RESULT_INVALID_PARAMETER;
    }
    if (params->mode == TQDEV_CAPTURE_LIVE_FOCUS) {
        return CheckLiveFocus(device, params, progress);
    }
    if (params->mode == TQDEV_CAPTURE_AVERAGED &&
        (params->frame_count <= 0 || (params->flags & TQDEV_FLAG_PACKED_OUTPUT) != 0)) {
        return TQDEV_RESULT_INVALID_PARAMETER;
    }
    return TQDEV_RESULT_OK;
}

// With packed output the frame lands behind the header that is written later.
void *FrameStart(void *buffer, bool packedOutput) {
    if (buffer == nullptr || !packedOutput) {
        return buffer;
    }
    return static_cast<uint8_t *>(buffer) + ImageHeaderSize();
}

void FillDestinations(CaptureContext *capture) {
    TQDEV_CAPTURE_PARAMS *params = capture->params;
    void *const *buffers = &params->buffer;
    int32_t count = 1;
    if (params->mode == TQDEV_CAPTURE_SEQUENCE) {
        buffers = params->sequence_buffers;
        count = kSequenceFrames;
    } else if (params->mode == TQDEV_CAPTURE_LIVE_FOCUS) {
        buffers = params->ring_buffers;
        count = params->ring_size;
    }
    bool packed = (params->flags & TQDEV_FLAG_PACKED_OUTPUT) != 0;
    for (int32_t i = 0; i < count; ++i) {
        capture->destinations[i] = FrameStart(buffers[i], packed);
    }
    capture->destinationCount = count;
}

CaptureContext *NewCaptureContext(uint32_t device, TQDEV_CAPTURE_PARAMS *params) {
    void *memory = AllocateZeroed(sizeof(CaptureContext));
    if (memory == nullptr) {
        return nullptr;
    }
    auto *capture = new (memory) CaptureContext{};
    capture->device = device;
    capture->params = params;
    capture->callerFlags = params->flags;
    FillDestinations(capture);
    return capture;
}

uint32_t PrepareCompletion(CaptureContext *capture, TQDEV_PROGRESS *progress) {
    if (progress != nullptr) {
        capture->progress = progress;
        std::atomic_ref<uint32_t>(progress->Done).store(0, std::memory_order_relaxed);
        std::atomic_ref<uint32_t>(progress->Percent).store(0, std::memory_order_relaxed);
        return TQDEV_RESULT_OK;
    }
    capture->event = CreateWaitEvent();
    return capture->event != nullptr ? TQDEV_RESULT_OK : TQDEV_RESULT_SYSTEM_ERROR;
}

// Averaged captures carry no ticket: their settings keep ticket 0.
uint32_t TakeTicket(CaptureContext *capture) {
    if (CaptureMode(*capture) == TQDEV_CAPTURE_AVERAGED) {
        return TQDEV_RESULT_OK;
    }
    uint32_t ticket = 0;
    uint32_t result = NextCaptureTicket(capture->device, &ticket);
    if (result == TQDEV_RESULT_OK) {
        capture->settings.ticket = ticket;
        capture->params->ticket = ticket;
    }
    return result;
}

uint32_t SubmitFirstRequest(CaptureContext *capture) {
    uint32_t request = kRequestFrameInfo;
    switch (CaptureMode(*capture)) {
    case TQDEV_CAPTURE_AVERAGED:
        capture->settings.flags |= TQDEV_FLAG_PACKED_OUTPUT;
        capture->state = STATE_CLEARING;
        request = kRequestClear;
        break;
    case TQDEV_CAPTURE_SEQUENCE:
        capture->state = STATE_HOMING;
        request = kRequestHoming;
        break;
    default:
        capture->state = STATE_FRAME_INFO;
        return SubmitRequest(capture->device, kRequestFrameInfo, &capture->frameInfo,
                             sizeof capture->frameInfo, TqdevCaptureImageCallback, capture,
                             &capture->settings);
    }
    return SubmitRequest(capture->device, request, nullptr, 0, TqdevCaptureImageCallback, capture,
                         nullptr);
}

uint32_t StartCapture(CaptureContext *capture, TQDEV_PROGRESS *progress) {
    uint32_t result = BuildCaptureSettings(capture->params, &capture->settings);
    if (result == TQDEV_RESULT_OK) {
        result = PrepareCompletion(capture, progress);
    }
    if (result == TQDEV_RESULT_OK) {
        result = TakeTicket(capture);
    }
    if (result == TQDEV_RESULT_OK) {
        result = SubmitFirstRequest(capture);
    }
    return result;
}

} // namespace

void DestroyCaptureContext(CaptureContext *capture) {
    FreeMemory(capture->unpackWorkspace);
    capture->~CaptureContext();
    FreeMemory(capture);
}

namespace {

void ReleaseParkedCapture(void *owner) {
    auto *capture = static_cast<CaptureContext *>(owner);
    CloseSyncEvent(capture->event);
    DestroyCaptureContext(capture);
}

} // namespace

uint32_t CaptureImage(uint32_t device, TQDEV_CAPTURE_PARAMS *params, TQDEV_PROGRESS *progress) {
    uint32_t result = TQDEV_RESULT_INVALID_PARAMETER;
    if (params != nullptr) {
        result = CheckCaptureStart(device, params, progress);
    }
    CaptureContext *capture = nullptr;
    if (result == TQDEV_RESULT_OK) {
        capture = NewCaptureContext(device, params);
        result = capture != nullptr ? StartCapture(capture, progress) : TQDEV_RESULT_OUT_OF_MEMORY;
    }
    if (result == TQDEV_RESULT_OK) {
        if (progress != nullptr) {
            return TQDEV_RESULT_OK; // the chain of requests owns the context now
        }
        result = WaitSyncEvent(capture->event);
        if (result != TQDEV_RESULT_OK) {
            // The chain goes on and will still use the context.
            ParkUntilTermination(&capture->parked, ReleaseParkedCapture, capture);
            capture = nullptr;
        } else {
            result = capture->result;
        }
    }
    if (capture != nullptr) {
        if (capture->event != nullptr) {
            CloseSyncEvent(capture->event);
        }
        DestroyCaptureContext(capture);
    }
    CompleteProgress(progress, result);
    return result;
}

uint32_t CancelLiveFocus(uint32_t device) {
    return ClearLiveFocus(device);
}
