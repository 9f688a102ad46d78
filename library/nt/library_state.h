// The one library state, its mutex and the admission of calls into it.
#pragma once

#include <atomic>

#include "async_request.h"
#include "device_node.h"

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
