// Initialisation and termination of the library, and the library mutex.
#include "nt_internal.h"

LibraryState libraryState{};

void LockLibrary() {
    WaitForSingleObject(libraryState.mutex.load(), INFINITE);
}

void UnlockLibrary() {
    ReleaseMutex(libraryState.mutex.load());
}

namespace {

uint32_t StartNotificationThread() {
    libraryState.notificationStop.store(0);
    libraryState.notificationThread =
        CreateThread(nullptr, 0, NotificationThreadFunction, nullptr, 0, nullptr);
    if (libraryState.notificationThread == nullptr) {
        DWORD error = GetLastError();
        TQDEV_REPORT_FAILED_CALL("CreateThread\n", error);
        return TQDEV_RESULT_SYSTEM_ERROR;
    }
    return TQDEV_RESULT_OK;
}

void StopNotificationThread() {
    libraryState.notificationStop.store(1);
    WaitForSingleObject(libraryState.notificationThread, INFINITE);
    CloseHandle(libraryState.notificationThread);
    libraryState.notificationThread = nullptr;
}

} // namespace

uint32_t InitLibrary() {
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
    }
    ReleaseMutex(mutex);
    if (result != TQDEV_RESULT_OK) {
        libraryState.mutex.store(nullptr);
        CloseHandle(mutex);
    }
    return result;
}

uint32_t TerminateLibrary() {
    HANDLE mutex = libraryState.mutex.load();
    if (mutex == nullptr) {
        return TQDEV_RESULT_NOT_INITIALIZED;
    }
    StopNotificationThread();
    LockLibrary();
    // Closing the cameras ends their pending I/O, so the completion threads
    // joined below all come to an end.
    RemoveAllDevices();
    UnlockLibrary();
    JoinCompletionThreads();
    // Cleared last, so that a completion cannot leave a registration behind.
    LockLibrary();
    libraryState.callback = nullptr;
    libraryState.userValue = 0;
    UnlockLibrary();
    libraryState.seenCount = 0;
    libraryState.mutex.store(nullptr);
    CloseHandle(mutex);
    return TQDEV_RESULT_OK;
}
