// The end steps of a capture completion: what the caller gets to see of the
// frame (or failure) just handled.
#include <atomic>

#include "capture_context.h"
#include "image_data.h"

namespace {

void ReleaseAveragingBuffers(CaptureContext *capture) {
    if (capture->ownsSumBuffer) {
        FreeMemory(capture->sumBuffer);
        capture->ownsSumBuffer = false;
    }
    capture->sumBuffer = nullptr;
    FreeMemory(capture->frameBuffer);
    capture->frameBuffer = nullptr;
}

void CopyStatusWords(CaptureContext *capture, const TQDEV_STATUS &status) {
    TQDEV_CAPTURE_PARAMS *params = capture->params;
    params->setup_words[3] = status.word[1];
    params->setup_words[2] = status.word[2];
    params->setup_words[4] = status.word[3];
    params->setup_words[5] = status.word[4];
    params->status5 = status.word[5];
    if (CaptureMode(*capture) != TQDEV_CAPTURE_AVERAGED) {
        params->status6 = status.word[6];
    }
}

// The caller's buffer that starts with the frame's header.
void *HeaderOf(const CaptureContext &capture, int32_t index) {
    auto *frame = static_cast<uint8_t *>(capture.destinations[index]);
    return frame != nullptr ? frame - ImageHeaderSize() : nullptr;
}

void WriteHeaderAt(const CaptureContext &capture, int32_t index) {
    void *header = HeaderOf(capture, index);
    if (header != nullptr) {
        WriteImageHeader(header, capture.frameInfo);
    }
}

// Live focus names the ring buffer that holds the frame being reported. No
// frame has arrived when the first request failed: nothing to name then.
void ReportRingFrame(CaptureContext *capture) {
    if (capture->frames_done == 0) {
        return;
    }
    int32_t index = (capture->frames_done - 1) % capture->destinationCount;
    capture->params->ring_index = static_cast<uint32_t>(index);
    if (PackedOutput(*capture)) {
        WriteHeaderAt(*capture, index);
    }
}

void WriteHeaders(const CaptureContext &capture) {
    if (!PackedOutput(capture) || CaptureMode(capture) == TQDEV_CAPTURE_LIVE_FOCUS) {
        return;
    }
    for (int32_t i = 0; i < capture.destinationCount; ++i) {
        WriteHeaderAt(capture, i);
    }
}

void WriteStamp(const CaptureContext &capture, const TQDEV_STATUS &status) {
    void *image = capture.params->buffer;
    if ((capture.callerFlags & TQDEV_FLAG_CALIBRATION_STAMP) == 0 || image == nullptr ||
        CaptureMode(capture) > TQDEV_CAPTURE_AVERAGED) {
        return;
    }
    WriteCalibrationStamp(image, CaptureMode(capture), PackedOutput(capture), status.word[2],
                          status.word[6], capture.frameInfo);
}

} // namespace

void FinishCaptureReport(CaptureContext *capture, const TQDEV_STATUS &status, bool liveFocusSet,
                         uint32_t result) {
    bool liveFocus = CaptureMode(*capture) == TQDEV_CAPTURE_LIVE_FOCUS;
    if (CaptureMode(*capture) == TQDEV_CAPTURE_AVERAGED) {
        ReleaseAveragingBuffers(capture);
    }
    if (liveFocus && !liveFocusSet && result == TQDEV_RESULT_OK) {
        result = TQDEV_RESULT_LIVE_FOCUS_STOPPED;
    }
    CopyStatusWords(capture, status);
    if (liveFocus) {
        ReportRingFrame(capture);
    }
    if (CaptureMode(*capture) == TQDEV_CAPTURE_AVERAGED && result != TQDEV_RESULT_OK) {
        capture->params->status5 = 0;
    }
    WriteHeaders(*capture);
    WriteStamp(*capture, status);
    lastCompletedTicket.store(static_cast<int32_t>(capture->settings.ticket),
                              std::memory_order_relaxed);
    capture->result = result;
    CompleteProgress(capture->progress, result);
}
