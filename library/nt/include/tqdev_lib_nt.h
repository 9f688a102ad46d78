// Module tqdev_lib_nt: the device-access layer. What the rest of the library
// may call: initialisation and the device list, the device channel, the event
// functions, the allocator and the system error printer. Nothing here exposes
// a platform type.
#pragma once

#include <cstdint>

#include "tqdev.h"

// ---- Library and device list -------------------------------------------------

// On a library thread (a notification callback or a completion function),
// neither waits: InitLibrary returns 0 while the library is initialised and 18
// once termination has begun; TerminateLibrary, which would wait for its own
// thread, does nothing and returns 4, or 18 once termination has begun.
uint32_t InitLibrary();
// Returns once no library thread runs any more: the notification thread, the
// I/O threads and every completion thread.
uint32_t TerminateLibrary();
uint32_t CreateDeviceArray(TQDEV_DEVICE_ARRAY *array);
uint32_t DestroyDeviceArray(TQDEV_DEVICE_ARRAY *array);
uint32_t RegisterNotification(TQDEV_NOTIFY_CALLBACK callback, uint64_t userValue);

// Per-camera capture ticket counter and live-focus flag.
uint32_t NextCaptureTicket(uint32_t device, uint32_t *ticket);
uint32_t LastCaptureTicket(uint32_t device, uint32_t *ticket);
uint32_t SetLiveFocus(uint32_t device);
uint32_t ClearLiveFocus(uint32_t device);
int32_t IsLiveFocus(uint32_t device);

// ---- Device channel ------------------------------------------------------------

uint32_t OpenDevice(uint32_t device);
uint32_t CloseDevice(uint32_t device);
uint32_t CancelDeviceIo(uint32_t device);

// Holds the camera against every other thread's register access until the
// release; 0, or 4 when the hold could not be made (reported).
using CameraHold = void *;
uint32_t HoldCamera(uint32_t device, CameraHold *hold);
void ReleaseCamera(CameraHold hold); // null is fine

// Called on a completion thread with a copy of the driver's status record that
// lives for the duration of the call.
using CompletionFunction = void (*)(const TQDEV_STATUS *status, void *data, void *context);

// Sends request number `request` (0..24) to the camera: the settings transfer
// when settings is not null, the data transfer, the status transfer; then a
// completion thread calls `completion` once. Returns 0 when under way;
// otherwise the completion is never called.
uint32_t SubmitRequest(uint32_t device, uint32_t request, void *data, uint32_t size,
                       CompletionFunction completion, void *context,
                       const TQDEV_CAPTURE_SETTINGS *settings);

// Whether the driver writes the data buffer of this request (else it reads it).
bool RequestReturnsData(uint32_t request);

// ---- Events for waiting on completions -------------------------------------------

using SyncEvent = void *;
SyncEvent CreateSyncEvent(); // auto-reset, not signalled; null on failure (reported)
uint32_t SetSyncEvent(SyncEvent event);
// 0 once the event was signalled; 4 when the wait failed (reported). After a
// failed wait the completion may still come: what it writes or signals must
// then be parked, not freed.
uint32_t WaitSyncEvent(SyncEvent event);
uint32_t CloseSyncEvent(SyncEvent event);

// What a completion may still write or signal after its waiter's wait failed:
// termination releases it once every completion thread has ended.
struct ParkedRecord {
    ParkedRecord *next;
    void (*release)(void *owner);
    void *owner;
};
// Keeps owner until termination, then calls release(owner); the link is in owner.
void ParkUntilTermination(ParkedRecord *link, void (*release)(void *owner), void *owner);

// ---- Memory ---------------------------------------------------------------------------

// Zero-filled memory from the process heap; null on failure.
void *AllocateZeroed(uint64_t bytes);
void FreeMemory(void *memory); // null is fine

// ---- Diagnostics ----------------------------------------------------------------------

// Writes the system's text for a platform error code to standard error.
void PrintSystemError(uint32_t error);
