// The notification thread: polls the device list and tells the host about
// cameras that appeared or vanished.
#include "nt_internal.h"

namespace {

constexpr DWORD kPollPeriodMs = 200;

// Called without the library mutex, so that a callback may call back in.
void DeliverEvents(DeviceEvent *events) {
    while (events != nullptr) {
        LockLibrary();
        TQDEV_NOTIFY_CALLBACK callback = libraryState.callback;
        uint64_t userValue = libraryState.userValue;
        UnlockLibrary();
        if (callback != nullptr) {
            callback(events->event, events->deviceIndex, userValue);
        }
        DeviceEvent *next = events->next;
        FreeMemory(events);
        events = next;
    }
}

} // namespace

DWORD WINAPI NotificationThreadFunction(LPVOID) {
    MarkLibraryThread();
    for (;;) {
        // The stop event ends the wait at once; otherwise it is the poll period.
        DWORD waited = WaitForSingleObject(libraryState.notificationStop, kPollPeriodMs);
        if (waited == WAIT_OBJECT_0) {
            return 0;
        }
        if (waited != WAIT_TIMEOUT) {
            Sleep(kPollPeriodMs);
            if (WaitForSingleObject(libraryState.notificationStop, 0) == WAIT_OBJECT_0) {
                return 0;
            }
        }
        DeviceEvent *events = nullptr;
        LockLibrary();
        // A failed pass still delivers the events it built.
        EnumerateDevices(&events);
        // Handles of ended completion threads are closed within a period,
        // not only at the next submission.
        PruneCompletionThreads();
        UnlockLibrary();
        DeliverEvents(events);
    }
}
