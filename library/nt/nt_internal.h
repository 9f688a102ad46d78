// Internal records and functions of the device-access layer, shared by its
// files and reached by its tests. Callers outside library/nt use
// tqdev_lib_nt.h.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform.h"
#include "tqdev.h"
#include "tqdev_lib_nt.h"

#include "diagnostics.h"

// One attached camera. The public record comes first so that a device array
// copies it in one piece.
struct DeviceNode {
    TQDEV_DEVICE_INFO info;
    int32_t presentMark;
    char *devicePath;
    // Channel: open exactly while fileHandle is not INVALID_HANDLE_VALUE.
    HANDLE fileHandle;
    HANDLE ioThread;
    HANDLE requestEvent;
    HANDLE doneEvent;
    uint32_t stopFlag;
    // I/O slot: written only by the holder of the library mutex, read by the
    // I/O thread between requestEvent and doneEvent.
    uint32_t ioCode;
    void *inBuffer;
    uint32_t inSize;
    void *outBuffer;
    uint32_t outSize;
    OVERLAPPED *ioOverlapped;
    uint32_t ioResult;
    uint32_t ticketCounter;
    int32_t liveFocus;
    DeviceNode *next;
    DeviceNode *prev;
};

// One plug or unplug seen by an enumeration pass.
struct DeviceEvent {
    uint32_t event;
    uint32_t deviceIndex;
    DeviceEvent *next;
};

// A completion thread whose handle the library keeps until it has ended, so
// that termination can wait for it.
struct CompletionThread {
    HANDLE thread;
    CompletionThread *next;
};

// One submitted request. The file handle is copied at submission: the
// completion thread never reads the DeviceNode, which may be gone by then.
struct AsyncRequest {
    HANDLE file;
    void *data;
    TQDEV_STATUS status;
    CompletionFunction completion;
    void *context;
    OVERLAPPED settingsBlock;
    OVERLAPPED dataBlock;
    OVERLAPPED statusBlock;
    // The cancel that ends what the driver took after a partial issue: the
    // driver writes it like the others, so it lives as long as they do.
    OVERLAPPED cancelBlock;
    AsyncRequest *nextAbandoned;
};

// The lock that holds a camera for the two requests of a register access.
// Kept per device index until termination, so that a waiter never holds a
// handle that an unplug has closed.
struct RegisterLock {
    uint32_t deviceIndex;
    HANDLE mutex;
    RegisterLock *next;
};

// The one library state. Everything but the atomics, the lifecycle fields
// and the notification thread's stop event is guarded by the library mutex.
struct LibraryState {
    // Set while calls are admitted; null from the start of termination on.
    std::atomic<HANDLE> mutex;
    // The mutex itself, valid from initialisation until every admitted call
    // has left: a call inside must unlock the handle it locked, whatever
    // termination has done to the admission meanwhile.
    HANDLE lockHandle;
    // Calls inside the library state right now; termination waits for them
    // after it has taken the mutex handle away.
    std::atomic<uint32_t> users;
    // Held by initialisation and termination for their whole run.
    std::atomic<bool> lifecycleBusy;
    // From the start of termination to its end: a library thread's call of
    // initialisation or termination then returns 18 rather than wait for it.
    std::atomic<bool> terminating;
    DeviceNode *head;
    uint32_t presentCount;
    uint32_t seenCount;
    HANDLE notificationThread;
    HANDLE notificationStop; // manual-reset event
    TQDEV_NOTIFY_CALLBACK callback;
    uint64_t userValue;
    CompletionThread *completionThreads;
    // Requests the driver may still write after a wait for them failed, kept
    // until termination has closed every camera.
    AsyncRequest *abandoned;
    // The camera operations' records of the same kind.
    ParkedRecord *parked;
    RegisterLock *registerLocks;
};

extern LibraryState libraryState;

// The library mutex, taken without time-out.
void LockLibrary();
void UnlockLibrary();

// Marks the calling thread as one of the library's own (notification, I/O,
// completion): initialisation and termination never wait on such a thread.
void MarkLibraryThread();
bool OnLibraryThread();

// Entry into the library state by a call from outside: false (and nothing
// held) when the library is not initialised or is being torn down.
bool EnterLibrary();
void LeaveLibrary();

// ---- Device list (mutex held) ----------------------------------------------

uint32_t FindDevice(uint32_t index, DeviceNode **node);
void RemoveDevice(DeviceNode *node);
void RemoveAllDevices();
// One pass over the present interfaces; adds new cameras and removes vanished
// ones. With events non-null, returns the plug and unplug events built so far
// (also after a failure), newest first; each entry is the caller's to free.
uint32_t EnumerateDevices(DeviceEvent **events);

// Fills a new node from the interface detail and the device's registry key.
uint32_t InitDeviceNode(DeviceNode *node, HDEVINFO set, SP_DEVINFO_DATA *deviceInfo,
                        const char *path);
// Bounded copy into a 40-byte text field: at most 39 characters, terminated.
void CopyText(char *destination, const char *source, uint32_t sourceSize, uint32_t limit);

// Notification thread entry.
DWORD WINAPI NotificationThreadFunction(LPVOID parameter);

// ---- Device channel (mutex held unless said otherwise) -----------------------

void StopDeviceThread(DeviceNode *node);
uint32_t IssueDriverCall(DeviceNode *node, uint32_t code, void *buffer, uint32_t size,
                         OVERLAPPED *overlapped);
uint32_t InitOverlapped(OVERLAPPED *overlapped);
// Waits until the handle is signalled; false when the wait failed (reported,
// not retried). The waiter must then keep whatever the signaller may still
// write: on the abandoned or parked list.
bool WaitSignalled(HANDLE handle);
void FreeRequest(AsyncRequest *request);
DWORD WINAPI DeviceThreadFunction(LPVOID parameter);
DWORD WINAPI CallbackThreadFunction(LPVOID parameter);

// Completion threads: kept (mutex held), pruned of ended ones on each
// submission and each notification pass, and waited for by termination
// (mutex not held).
void PruneCompletionThreads();
void JoinCompletionThreads();
// Keeps a request the driver may still write until termination (mutex not held).
void KeepAbandoned(AsyncRequest *request);
// Frees the abandoned requests and releases the parked records; once every
// camera is closed, every completion thread has ended and no call is inside.
void FreeAbandonedRequests();

// Looks the camera up under the library mutex and runs action(node) while the
// mutex is held; returns 18, FindDevice's result or the action's result.
template <typename Action> uint32_t WithDevice(uint32_t index, Action &&action) {
    if (!EnterLibrary()) {
        return TQDEV_RESULT_NOT_INITIALIZED;
    }
    LockLibrary();
    DeviceNode *node = nullptr;
    uint32_t result = FindDevice(index, &node);
    if (result == TQDEV_RESULT_OK) {
        result = action(node);
    }
    UnlockLibrary();
    LeaveLibrary();
    return result;
}
