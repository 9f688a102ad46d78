// Holding a camera for the two requests of a register access: the driver
// keeps the selected address per handle, so another thread's select between
// them would redirect the read or write.
#include "nt_internal.h"

namespace {

// The lock of a device index, created on first use (mutex held).
HANDLE RegisterLockOf(uint32_t device) {
    for (RegisterLock *entry = libraryState.registerLocks; entry != nullptr; entry = entry->next) {
        if (entry->deviceIndex == device) {
            return entry->mutex;
        }
    }
    auto *entry = static_cast<RegisterLock *>(AllocateZeroed(sizeof(RegisterLock)));
    if (entry == nullptr) {
        TQDEV_DIAG("Could not allocate memory\n");
        return nullptr;
    }
    entry->mutex = CreateMutexA(nullptr, FALSE, nullptr);
    if (entry->mutex == nullptr) {
        DWORD error = GetLastError();
        TQDEV_REPORT_FAILED_CALL("CreateMutex\n", error);
        FreeMemory(entry);
        return nullptr;
    }
    entry->deviceIndex = device;
    entry->next = libraryState.registerLocks;
    libraryState.registerLocks = entry;
    return entry->mutex;
}

} // namespace

uint32_t HoldCamera(uint32_t device, CameraHold *hold) {
    *hold = nullptr;
    // Not initialised, or an index never seen: the requests themselves give
    // the result, with their own diagnostics.
    if (!EnterLibrary()) {
        return TQDEV_RESULT_OK;
    }
    LockLibrary();
    HANDLE mutex = nullptr;
    uint32_t result = TQDEV_RESULT_OK;
    if (device < libraryState.seenCount) {
        mutex = RegisterLockOf(device);
        if (mutex == nullptr) {
            result = TQDEV_RESULT_SYSTEM_ERROR;
        }
    }
    UnlockLibrary();
    if (mutex == nullptr) {
        LeaveLibrary();
        return result;
    }
    // Entered until the release: termination frees the locks only after
    // every entered call has left. Like the library mutex, taken without a
    // time-out; a lock abandoned by an ended thread is owned all the same.
    DWORD waited = WaitForSingleObject(mutex, INFINITE);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
        // Not held: the pair must not run.
        DWORD error = GetLastError();
        TQDEV_REPORT_FAILED_CALL("WaitForSingleObject", error);
        LeaveLibrary();
        return TQDEV_RESULT_SYSTEM_ERROR;
    }
    *hold = mutex;
    return TQDEV_RESULT_OK;
}

void ReleaseCamera(CameraHold hold) {
    if (hold == nullptr) {
        return;
    }
    ReleaseMutex(static_cast<HANDLE>(hold));
    LeaveLibrary();
}
