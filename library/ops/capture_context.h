// The record of one capture in progress, shared by the start of a capture,
// its completion function and its end steps.
#pragma once

#include <cstdint>
#include <mutex>

#include "tqdev_lib_internal.h"

enum CaptureStateCode : uint32_t {
    STATE_FRAME_INFO = 0,
    STATE_CAPTURING = 1,
    STATE_CLEARING = 2,
    STATE_HOMING = 3,
};

struct CaptureContext {
    // Parked when the caller's wait failed: the chain may still run.
    ParkedRecord parked;
    uint32_t state;
    uint32_t device;
    uint32_t result;
    SyncEvent event; // synchronous form only
    TQDEV_CAPTURE_PARAMS *params;
    TQDEV_CAPTURE_SETTINGS settings;
    TQDEV_FRAME_INFO frameInfo;
    int32_t frames_done;
    uint32_t transfer_size;
    uint32_t *sumBuffer;   // averaged: one 32-bit sum per pixel
    bool ownsSumBuffer;    // false when it is the caller's
    uint16_t *frameBuffer; // averaged: one unpacked frame
    // Unpacking in place: the first rows of a frame, copied aside before the
    // rest is unpacked over them; kept for the whole capture.
    void *unpackWorkspace;
    uint64_t unpackWorkspaceBytes;
    // Live focus: the next frame is asked for before this one is unpacked.
    bool submitBeforeUnpack;
    void *destinations[3]; // where frames 0, 1, 2 land (the ring in live focus)
    int32_t destinationCount;
    uint32_t callerFlags;     // the caller's flags as the capture started
    TQDEV_PROGRESS *progress; // asynchronous form only
    // Live focus reports frame n while frame n + 1 is captured: each
    // completion holds this, so two never write the caller's records at once.
    std::mutex lock;
};

inline uint32_t CaptureMode(const CaptureContext &capture) {
    return capture.settings.mode;
}

// Packed output as the caller asked for it; an averaged capture asks the
// driver for packed frames on its own account.
inline bool PackedOutput(const CaptureContext &capture) {
    return (capture.callerFlags & TQDEV_FLAG_PACKED_OUTPUT) != 0;
}

// The buffer that receives frame `index` (0-based) of the capture.
inline void *FrameDestination(const CaptureContext &capture, int32_t index) {
    return capture.destinations[index % capture.destinationCount];
}

// True when everything the capture will unpack or write lies within the
// sizes the driver's descriptor announces (transfer_size already set).
bool FrameInfoFits(const CaptureContext &capture);

// End steps of a completion: the caller's record, headers, stamp, ticket and
// progress, with the result of what is reported.
void FinishCaptureReport(CaptureContext *capture, const TQDEV_STATUS &status, bool liveFocusSet,
                         uint32_t result);

void DestroyCaptureContext(CaptureContext *capture);
