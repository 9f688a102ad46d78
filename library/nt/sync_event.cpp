// Events with which the camera operations wait for their completions.
#include "nt_internal.h"

SyncEvent CreateSyncEvent() {
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (event == nullptr) {
        DWORD error = GetLastError();
        TQDEV_REPORT_FAILED_CALL("CreateEvent", error);
    }
    return event;
}

uint32_t SetSyncEvent(SyncEvent event) {
    return static_cast<uint32_t>(SetEvent(event));
}

uint32_t WaitSyncEvent(SyncEvent event) {
    return WaitSignalled(event) ? TQDEV_RESULT_OK : TQDEV_RESULT_SYSTEM_ERROR;
}

bool WaitSignalled(HANDLE handle) {
    DWORD waited = WaitForSingleObject(handle, INFINITE);
    if (waited == WAIT_OBJECT_0) {
        return true;
    }
    DWORD error = GetLastError();
    TQDEV_REPORT_FAILED_CALL("WaitForSingleObject", error);
    return false;
}

uint32_t CloseSyncEvent(SyncEvent event) {
    return static_cast<uint32_t>(CloseHandle(event));
}
