// Initialisation and termination of the library, the library mutex and the
// entry of calls into the library state.
#include "nt_internal.h"

LibraryState libraryState{};

namespace {
thread_local bool onLibraryThread = false;
}

void MarkLibraryThread() {
    onLibraryThread = true;
}

bool OnLibraryThread() {
    return onLibraryThread;
}

void LockLibrary() {
    WaitForSingleObject(libraryState.lockHandle, INFINITE);
}

void UnlockLibrary() {
    ReleaseMutex(libraryState.lockHandle);
}

bool EnterLibrary() {
    // Counted before the mutex handle is read: termination takes the handle
    // away first and then waits for the count, so one of the two sees the other.
    libraryState.users.fetch_add(1);
    if (libraryState.mutex.load() == nullptr) {
        libraryState.users.fetch_sub(1);
        return false;
    }
    return true;
}

void LeaveLibrary() {
    libraryState.users.fetch_sub(1);
}

namespace {

// Initialisation and termination run one at a time. The lock must work before
// anything is initialised, so it is a plain flag that waiters poll.
void LockLifecycle() {
    while (libraryState.lifecycleBusy.exchange(true)) {
        Sleep(1);
    }
}

void UnlockLifecycle() {
    libraryState.lifecycleBusy.store(false);
}

HANDLE CreateStopEvent() {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr) {
        DWORD error = GetLastError();
        TQDEV_REPORT_FAILED_CALL("CreateEvent\n", error);
    }
    return event;
}

uint32_t StartNotificationThread() {
    libraryState.notificationStop = CreateStopEvent();
    if (libraryState.notificationStop == nullptr) {
        return TQDEV_RESULT_SYSTEM_ERROR;
    }
    libraryState.notificationThread =
        CreateThread(nullptr, 0, NotificationThreadFunction, nullptr, 0, nullptr);
    if (libraryState.notificationThread == nullptr) {
        DWORD error = GetLastError();
        TQDEV_REPORT_FAILED_CALL("CreateThread\n", error);
        CloseHandle(libraryState.notificationStop);
        libraryState.notificationStop = nullptr;
        return TQDEV_RESULT_SYSTEM_ERROR;
    }
    return TQDEV_RESULT_OK;
}

void StopNotificationThread() {
    SetEvent(libraryState.notificationStop);
    WaitForSingleObject(libraryState.notificationThread, INFINITE);
    CloseHandle(libraryState.notificationThread);
    libraryState.notificationThread = nullptr;
    CloseHandle(libraryState.notificationStop);
    libraryState.notificationStop = nullptr;
}

void FreeRegisterLocks() {
    while (libraryState.registerLocks != nullptr) {
        RegisterLock *next = libraryState.registerLocks->next;
        CloseHandle(libraryState.registerLocks->mutex);
        FreeMemory(libraryState.registerLocks);
        libraryState.registerLocks = next;
    }
}

uint32_t InitLocked() {
    if (libraryState.mutex.load() != nullptr) {
        return TQDEV_RESULT_OK;
    }
    // Owned from the start, so that nobody sees the list before the first pass.
    HANDLE mutex = CreateMutexA(nullptr, TRUE, nullptr);
    if (mutex == nullptr) {
        DWORD error = GetLastError();
        TQDEV_REPORT_FAILED_CALL("CreateMutex\n", error);
        return TQDEV_RESULT_SYSTEM_ERROR;
    }
    libraryState.lockHandle = mutex;
    libraryState.mutex.store(mutex);
    // Cameras present at initialisation are not notified.
    uint32_t result = EnumerateDevices(nullptr);
    if (result == TQDEV_RESULT_OK) {
        result = StartNotificationThread();
    }
    if (result != TQDEV_RESULT_OK) {
        // Nobody can have seen these cameras: forget them rather than keep
        // them, unreachable, until a next initialisation.
        RemoveAllDevices();
        libraryState.seenCount = 0;
        libraryState.mutex.store(nullptr);
    }
    ReleaseMutex(mutex);
    if (result != TQDEV_RESULT_OK) {
        // A call that entered while the mutex was published holds it no more
        // once it has left.
        while (libraryState.users.load() != 0) {
            Sleep(1);
        }
        libraryState.lockHandle = nullptr;
        CloseHandle(mutex);
    }
    return result;
}

uint32_t TerminateLocked() {
    HANDLE mutex = libraryState.mutex.load();
    if (mutex == nullptr) {
        return TQDEV_RESULT_NOT_INITIALIZED;
    }
    libraryState.terminating.store(true);
    StopNotificationThread();
    LockLibrary();
    // Closing the cameras ends their pending I/O, so the completion threads
    // joined below all come to an end.
    RemoveAllDevices();
    UnlockLibrary();
    JoinCompletionThreads();
    // Calls from now on are refused; those inside finish before anything is freed.
    libraryState.mutex.store(nullptr);
    while (libraryState.users.load() != 0) {
        Sleep(1);
    }
    // Cleared last, so that a completion cannot leave a registration behind.
    libraryState.callback = nullptr;
    libraryState.userValue = 0;
    libraryState.seenCount = 0;
    FreeAbandonedRequests();
    FreeRegisterLocks();
    libraryState.lockHandle = nullptr;
    CloseHandle(mutex);
    libraryState.terminating.store(false);
    return TQDEV_RESULT_OK;
}

} // namespace

// A callback runs on a library thread, which termination waits for: such a
// call must not wait for the lifecycle lock, nor for its own thread's end.
// The library is initialised while its threads run, unless it is going away.
uint32_t InitLibrary() {
    if (OnLibraryThread()) {
        return libraryState.terminating.load() ? TQDEV_RESULT_NOT_INITIALIZED : TQDEV_RESULT_OK;
    }
    LockLifecycle();
    uint32_t result = InitLocked();
    UnlockLifecycle();
    return result;
}

uint32_t TerminateLibrary() {
    if (OnLibraryThread()) {
        if (libraryState.terminating.load()) {
            return TQDEV_RESULT_NOT_INITIALIZED;
        }
        TQDEV_DIAG("Can't terminate from a library thread\n");
        return TQDEV_RESULT_SYSTEM_ERROR;
    }
    LockLifecycle();
    uint32_t result = TerminateLocked();
    UnlockLifecycle();
    return result;
}
