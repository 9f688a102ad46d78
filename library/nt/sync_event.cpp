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
    return WaitForSingleObject(event, INFINITE);
}

uint32_t CloseSyncEvent(SyncEvent event) {
    return static_cast<uint32_t>(CloseHandle(event));
}
