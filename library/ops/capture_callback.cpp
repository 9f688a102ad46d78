// Advancing a capture on each completion of one of its requests: the state
// machine that submits the next request or ends the capture.
#include <atomic>

#include "capture_context.h"
#include "image_data.h"

namespace {

constexpr int32_t kSequenceFrames = 3;

// What a completion leaves behind: a request still outstanding (nothing to
// report yet), or a report, after which live focus may still go on.
struct Step {
    bool pending;
    bool continues;
    uint32_t result;
};

constexpr Step Pending() {
    return {true, false, TQDEV_RESULT_OK};
}
constexpr Step End(uint32_t result) {
    return {false, false, result};
}

Step Chain(uint32_t result) {
    return result == TQDEV_RESULT_OK ? Pending() : End(result);
}

uint32_t SubmitFrame(CaptureContext *capture, int32_t index) {
    return SubmitRequest(capture->device, kRequestFrameData, FrameDestination(*capture, index),
                         capture->transfer_size, TqdevCaptureImageCallback, capture,
                         &capture->settings);
}

uint32_t SubmitFrameInfo(CaptureContext *capture) {
    return SubmitRequest(capture->device, kRequestFrameInfo, &capture->frameInfo,
                         sizeof capture->frameInfo, TqdevCaptureImageCallback, capture,
                         &capture->settings);
}

bool Averaged(const CaptureContext &capture) {
    return CaptureMode(capture) == TQDEV_CAPTURE_AVERAGED;
}

// A frame that the driver delivers packed in place of an unpacked one.
bool PackedInPlace(const CaptureContext &capture) {
    return (capture.frameInfo.flags & TQDEV_FRAME_PACKED) != 0 && !PackedOutput(capture);
}

uint32_t SetUpAveraging(CaptureContext *capture) {
    uint64_t imageSize = capture->frameInfo.image_size;
    capture->sumBuffer = capture->params->sum_buffer;
    if (capture->sumBuffer == nullptr) {
        capture->sumBuffer = static_cast<uint32_t *>(AllocateZeroed(2 * imageSize));
        capture->ownsSumBuffer = capture->sumBuffer != nullptr;
    }
    capture->frameBuffer = static_cast<uint16_t *>(AllocateZeroed(imageSize));
    if (capture->sumBuffer == nullptr || capture->frameBuffer == nullptr) {
        return TQDEV_RESULT_OUT_OF_MEMORY;
    }
    return TQDEV_RESULT_OK;
}

// Made once per capture, so that no frame allocates.
uint32_t SetUpUnpackWorkspace(CaptureContext *capture) {
    const TQDEV_FRAME_INFO &info = capture->frameInfo;
    const uint64_t bytes = InPlaceWorkspaceBytes(info, info.line_count - 1);
    if (bytes == 0) {
        return TQDEV_RESULT_OK;
    }
    capture->unpackWorkspace = AllocateZeroed(bytes);
    if (capture->unpackWorkspace == nullptr) {
        return TQDEV_RESULT_OUT_OF_MEMORY;
    }
    capture->unpackWorkspaceBytes = bytes;
    return TQDEV_RESULT_OK;
}

// Live focus may ask for the next frame before unpacking this one, so that
// the camera does not wait for the unpack, when the next frame lands in a
// buffer the host is not reading (a ring of three or more: the host reads the
// last frame reported, the one before this) and the unpack cannot fail once
// the next frame is under way.
bool MaySubmitBeforeUnpack(const CaptureContext &capture) {
    const TQDEV_FRAME_INFO &info = capture.frameInfo;
    return CaptureMode(capture) == TQDEV_CAPTURE_LIVE_FOCUS && capture.destinationCount >= 3 &&
           (!PackedInPlace(capture) || InPlaceTakesOnlyTheWorkspace(info, info.line_count - 1));
}

Step FrameInfoArrived(CaptureContext *capture) {
    TQDEV_DIAG("  state: STATE_FRAME_INFO\n");
    const TQDEV_FRAME_INFO &info = capture->frameInfo;
    bool packedDelivery = (capture->settings.flags & TQDEV_FLAG_PACKED_OUTPUT) != 0;
    capture->transfer_size = packedDelivery ? info.packed_size : info.image_size;
    if (!FrameInfoFits(*capture)) {
        TQDEV_DIAG("Inconsistent frame info (image size %u, packed size %u)\n", info.image_size,
                   info.packed_size);
        return End(TQDEV_RESULT_SYSTEM_ERROR);
    }
    uint32_t result = TQDEV_RESULT_OK;
    if (Averaged(*capture)) {
        result = SetUpAveraging(capture);
    } else if (PackedInPlace(*capture)) {
        result = SetUpUnpackWorkspace(capture);
    }
    if (result != TQDEV_RESULT_OK) {
        return End(result);
    }
    capture->submitBeforeUnpack = MaySubmitBeforeUnpack(*capture);
    capture->state = STATE_CAPTURING;
    return Chain(SubmitFrame(capture, 0));
}

Step AveragedFrameArrived(CaptureContext *capture) {
    int32_t frameCount = capture->params->frame_count;
    if (capture->progress != nullptr) {
        auto percent = static_cast<uint32_t>(int64_t{capture->frames_done} * 100 / frameCount);
        std::atomic_ref<uint32_t>(capture->progress->Percent)
            .store(percent, std::memory_order_relaxed);
    }
    const TQDEV_FRAME_INFO &info = capture->frameInfo;
    uint32_t unpacked =
        UnpackFrame(info, info.line_count, capture->destinations[0], capture->frameBuffer);
    if (unpacked != TQDEV_RESULT_OK) {
        return End(unpacked);
    }
    AccumulateFrame(info, capture->frameBuffer, capture->sumBuffer, capture->frames_done == 1);
    if (capture->frames_done < frameCount) {
        return Chain(SubmitFrame(capture, 0));
    }
    capture->params->mean_level = AverageFrames(
        info, capture->sumBuffer, static_cast<uint16_t *>(capture->destinations[0]), frameCount);
    return End(TQDEV_RESULT_OK);
}

Step FrameArrived(CaptureContext *capture, bool liveFocusSet) {
    TQDEV_DIAG("  state: STATE_CAPTURING\n");
    capture->frames_done += 1;
    switch (CaptureMode(*capture)) {
    case TQDEV_CAPTURE_AVERAGED:
        return AveragedFrameArrived(capture);
    case TQDEV_CAPTURE_SEQUENCE:
        if (capture->frames_done < kSequenceFrames) {
            return Chain(SubmitFrame(capture, capture->frames_done));
        }
        return End(TQDEV_RESULT_OK);
    case TQDEV_CAPTURE_LIVE_FOCUS:
        if (liveFocusSet) {
            // The next frame is captured while this one is reported.
            uint32_t result = SubmitFrame(capture, capture->frames_done);
            return {false, result == TQDEV_RESULT_OK, result};
        }
        return End(TQDEV_RESULT_OK);
    default:
        return End(TQDEV_RESULT_OK);
    }
}

Step Advance(CaptureContext *capture, bool liveFocusSet) {
    switch (capture->state) {
    case STATE_FRAME_INFO:
        return FrameInfoArrived(capture);
    case STATE_CAPTURING:
        return FrameArrived(capture, liveFocusSet);
    case STATE_CLEARING:
    case STATE_HOMING:
        TQDEV_DIAG(capture->state == STATE_CLEARING ? "  state: STATE_CLEARING\n"
                                                    : "  state: STATE_HOMING\n");
        capture->state = STATE_FRAME_INFO;
        return Chain(SubmitFrameInfo(capture));
    default:
        TQDEV_DIAG("Invalid capture state %d\n", capture->state);
        return End(TQDEV_RESULT_SYSTEM_ERROR);
    }
}

// A frame delivered packed where the caller asked for pixels is unpacked
// within the buffer that received it. A frame that could not be unpacked
// (no memory for a frame with no safe walk) ends the capture with that code
// rather than reporting packed bytes as pixels.
uint32_t UnpackInPlace(CaptureContext *capture, const TQDEV_STATUS &status, int32_t index) {
    if (status.word[5] == 0 || !PackedInPlace(*capture)) {
        return TQDEV_RESULT_OK;
    }
    void *frame = FrameDestination(*capture, index);
    const TQDEV_FRAME_INFO &info = capture->frameInfo;
    const UnpackWorkspace workspace{capture->unpackWorkspace, capture->unpackWorkspaceBytes,
                                    AllocateZeroed, FreeMemory};
    return UnpackFrame(info, info.line_count - 1, frame, static_cast<uint16_t *>(frame), workspace);
}

} // namespace

// The descriptor comes from the driver: everything the capture will unpack
// or write must lie within the sizes it announces.
bool FrameInfoFits(const CaptureContext &capture) {
    const TQDEV_FRAME_INFO &info = capture.frameInfo;
    if (!Averaged(capture) && !PackedInPlace(capture)) {
        return true; // the library never reads this frame's samples
    }
    if (!FrameInfoIsConsistent(info)) {
        return false;
    }
    FrameGeometry geometry = DeriveGeometry(info);
    int64_t streamBytes = geometry.total / 8 * 12;
    // Averaged frames arrive packed in the caller's buffer of image_size bytes.
    return streamBytes <= static_cast<int64_t>(capture.transfer_size) &&
           (!Averaged(capture) || info.packed_size <= info.image_size);
}

void TqdevCaptureImageCallback(const TQDEV_STATUS *status, void * /*data*/, void *context) {
    auto *capture = static_cast<CaptureContext *>(context);
    uint32_t result = status->word[0];
    TQDEV_DIAG("TqdevCaptureImageCallback(result %d)\n", result);
    std::unique_lock guard(capture->lock);
    bool liveFocusSet =
        CaptureMode(*capture) == TQDEV_CAPTURE_LIVE_FOCUS && IsLiveFocus(capture->device) != 0;
    const bool capturing = capture->state == STATE_CAPTURING;
    const int32_t arrived = capture->frames_done;
    Step step{};
    if (result == TQDEV_RESULT_OK && liveFocusSet && capturing && capture->submitBeforeUnpack) {
        step = Advance(capture, liveFocusSet);
        UnpackInPlace(capture, *status, arrived); // only the workspace: cannot fail
    } else {
        uint32_t unpacked = capturing ? UnpackInPlace(capture, *status, arrived) : TQDEV_RESULT_OK;
        if (result == TQDEV_RESULT_OK) {
            result = unpacked;
        }
        step = result == TQDEV_RESULT_OK ? Advance(capture, liveFocusSet) : End(result);
    }
    if (step.pending) {
        return;
    }
    FinishCaptureReport(capture, *status, liveFocusSet, step.result);
    SyncEvent event = capture->event;
    guard.unlock();
    // Nothing of the context is touched after this: its owner may free it.
    if (event != nullptr) {
        SetSyncEvent(event);
    } else if (!step.continues) {
        DestroyCaptureContext(capture);
    }
}
