// Asynchronous requests: the settings, data and status transfers of one
// request, issued back to back, and the completion thread that waits for the
// status and calls the requester back.
#include <utility>

#include "nt_internal.h"
#include "request_codes.h"

namespace {

constexpr uint32_t kSettingsSize = sizeof(TQDEV_CAPTURE_SETTINGS);
constexpr uint32_t kStatusSize = sizeof(TQDEV_STATUS);

// Which transfers of a request reached the driver.
struct StartedTransfers {
    bool settings;
    bool data;
    bool status;

    bool Any() const { return settings || data || status; }
};

uint32_t IssueTransfers(DeviceNode *node, AsyncRequest *request, uint32_t code, uint32_t size,
                        const TQDEV_CAPTURE_SETTINGS *settings, StartedTransfers *started) {
    uint32_t result = InitOverlapped(&request->dataBlock);
    if (result == TQDEV_RESULT_OK) {
        result = InitOverlapped(&request->statusBlock);
    }
    if (result == TQDEV_RESULT_OK && settings != nullptr) {
        result = InitOverlapped(&request->settingsBlock);
        if (result == TQDEV_RESULT_OK) {
            // The driver only reads the settings.
            result =
                IssueDriverCall(node, kSettingsCode, const_cast<TQDEV_CAPTURE_SETTINGS *>(settings),
                                kSettingsSize, &request->settingsBlock);
            started->settings = result == TQDEV_RESULT_OK;
        }
    }
    if (result == TQDEV_RESULT_OK) {
        result = IssueDriverCall(node, code, request->data, size, &request->dataBlock);
        started->data = result == TQDEV_RESULT_OK;
    }
    if (result == TQDEV_RESULT_OK) {
        result = IssueDriverCall(node, kStatusCode, &request->status, kStatusSize,
                                 &request->statusBlock);
        started->status = result == TQDEV_RESULT_OK;
    }
    return result;
}

uint32_t StartCompletionThread(AsyncRequest *request, CompletionThread *entry) {
    HANDLE thread = CreateThread(nullptr, 0, CallbackThreadFunction, request, 0, nullptr);
    if (thread == nullptr) {
        DWORD error = GetLastError();
        TQDEV_REPORT_FAILED_CALL("CreateThread\n", error);
        return TQDEV_RESULT_SYSTEM_ERROR;
    }
    entry->thread = thread;
    entry->next = libraryState.completionThreads;
    libraryState.completionThreads = entry;
    return TQDEV_RESULT_OK;
}

// After a partial issue the driver holds what it took, waiting for the rest
// (a settings transfer for its data, a data transfer for its status): left
// alone, the next request's transfers would pair with it. A cancel on the
// handle ends them and leaves the handle in step; false when it could not be
// issued.
bool CancelTakenTransfers(DeviceNode *node, AsyncRequest *request) {
    uint32_t result = InitOverlapped(&request->cancelBlock);
    if (result == TQDEV_RESULT_OK) {
        result = IssueDriverCall(node, kCancelCode, nullptr, 0, &request->cancelBlock);
        if (result != TQDEV_RESULT_OK) {
            CloseHandle(request->cancelBlock.hEvent);
            request->cancelBlock.hEvent = nullptr;
        }
    }
    // A removed camera has ended everything it held.
    return result == TQDEV_RESULT_OK || result == TQDEV_RESULT_DEVICE_NOT_FOUND;
}

// A request that failed before its hand-over: the driver may still use the
// blocks of the transfers it took (and of the cancel), so they are waited for
// before the request is freed. Should a wait fail, the request is kept.
void AbandonRequest(AsyncRequest *request, const StartedTransfers &started) {
    const std::pair<OVERLAPPED *, bool> blocks[] = {
        {&request->cancelBlock, request->cancelBlock.hEvent != nullptr},
        {&request->settingsBlock, started.settings},
        {&request->dataBlock, started.data},
        {&request->statusBlock, started.status}};
    for (const auto &[block, taken] : blocks) {
        if (taken && !WaitSignalled(block->hEvent)) {
            KeepAbandoned(request);
            return;
        }
    }
    FreeRequest(request);
}

// A status transfer that ended with an error: its error as a result code.
uint32_t StatusFailure(DWORD error) {
    TQDEV_REPORT_FAILED_CALL("GetOverlappedResult", error);
    switch (error) {
    case ERROR_OPERATION_ABORTED:
        return TQDEV_RESULT_CANCELLED;
    case ERROR_DEVICE_REMOVED:
        TQDEV_DIAG("CallbackThreadFunction(TQDEV_RESULT_DEVICE_NOT_FOUND)\n");
        return TQDEV_RESULT_DEVICE_NOT_FOUND;
    default:
        TQDEV_DIAG("Invalid last value\n");
        return TQDEV_RESULT_SYSTEM_ERROR;
    }
}

} // namespace

bool RequestReturnsData(uint32_t request) {
    return IsOutputCode(RequestCode(request));
}

uint32_t InitOverlapped(OVERLAPPED *overlapped) {
    overlapped->Internal = 0;
    overlapped->InternalHigh = 0;
    overlapped->Offset = 0;
    overlapped->OffsetHigh = 0;
    overlapped->hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (overlapped->hEvent == nullptr) {
        DWORD error = GetLastError();
        TQDEV_REPORT_FAILED_CALL("CreateEvent", error);
        return TQDEV_RESULT_SYSTEM_ERROR;
    }
    return TQDEV_RESULT_OK;
}

void FreeRequest(AsyncRequest *request) {
    if (request == nullptr) {
        return;
    }
    for (OVERLAPPED *block : {&request->settingsBlock, &request->dataBlock, &request->statusBlock,
                              &request->cancelBlock}) {
        if (block->hEvent != nullptr) {
            CloseHandle(block->hEvent);
        }
    }
    FreeMemory(request);
}

uint32_t SubmitRequest(uint32_t device, uint32_t requestNumber, void *data, uint32_t size,
                       CompletionFunction completion, void *context,
                       const TQDEV_CAPTURE_SETTINGS *settings) {
    // Entered until an abandoned request is waited for or kept, so that
    // termination cannot free the library state under it.
    if (!EnterLibrary()) {
        return TQDEV_RESULT_NOT_INITIALIZED;
    }
    AsyncRequest *failed = nullptr;
    StartedTransfers started{};
    uint32_t result = WithDevice(device, [&](DeviceNode *node) {
        if (node->fileHandle == INVALID_HANDLE_VALUE) {
            return TQDEV_RESULT_DEVICE_NOT_OPEN;
        }
        uint32_t code = RequestCode(requestNumber);
        if (code == kInvalidCode) {
            TQDEV_DIAG("Invalid code %d\n", static_cast<int>(requestNumber));
            return TQDEV_RESULT_SYSTEM_ERROR;
        }
        PruneCompletionThreads();
        auto *request = static_cast<AsyncRequest *>(AllocateZeroed(sizeof(AsyncRequest)));
        auto *entry = static_cast<CompletionThread *>(
            request != nullptr ? AllocateZeroed(sizeof(CompletionThread)) : nullptr);
        if (entry == nullptr) {
            FreeMemory(request);
            return TQDEV_RESULT_OUT_OF_MEMORY;
        }
        request->file = node->fileHandle;
        request->data = data;
        request->completion = completion;
        request->context = context;
        uint32_t issued = IssueTransfers(node, request, code, size, settings, &started);
        if (issued == TQDEV_RESULT_OK) {
            issued = StartCompletionThread(request, entry);
        } else if (started.Any() && !CancelTakenTransfers(node, request)) {
            // Only closing the handle still ends what the driver took; kept
            // open, the camera would pair each request with the one before.
            TQDEV_DIAG("Closing the device: its taken transfers could not be cancelled\n");
            StopDeviceThread(node);
        }
        if (issued != TQDEV_RESULT_OK) {
            FreeMemory(entry);
            failed = request;
        }
        return issued;
    });
    if (failed != nullptr) {
        AbandonRequest(failed, started);
    }
    LeaveLibrary();
    return result;
}

DWORD WINAPI CallbackThreadFunction(LPVOID parameter) {
    MarkLibraryThread();
    auto *request = static_cast<AsyncRequest *>(parameter);
    DWORD bytes = 0;
    BOOL ended = GetOverlappedResult(request->file, &request->statusBlock, &bytes, TRUE);
    DWORD error = ended ? ERROR_SUCCESS : GetLastError();
    bool driverMayWrite = false;
    if (ended && !HasOverlappedIoCompleted(&request->statusBlock)) {
        // Closing the camera ends its I/O thread, which ends the transfers
        // that thread issued. Some platforms then signal the event without
        // writing the outcome: no status arrived. The transfer was ended with
        // the thread.
        TQDEV_DIAG("Status transfer ended without its status: cancelled\n");
        request->status.word[0] = TQDEV_RESULT_CANCELLED;
    } else if (!ended) {
        uint32_t failure = StatusFailure(error);
        // The driver owns the request's blocks until the status transfer has
        // ended, and may yet write the status record: the failure is set after
        // that. Should that wait fail too, the request is kept, not freed.
        driverMayWrite = !WaitSignalled(request->statusBlock.hEvent);
        if (driverMayWrite) {
            request->status = TQDEV_STATUS{};
        }
        request->status.word[0] = failure;
    }
    if (request->completion != nullptr) {
        // The requester gets a copy that lives for the call only.
        TQDEV_STATUS status = request->status;
        request->completion(&status, request->data, request->context);
    }
    if (driverMayWrite) {
        KeepAbandoned(request);
    } else {
        FreeRequest(request);
    }
    TQDEV_DIAG("Dll: Terminating thread\n");
    return 0;
}

void PruneCompletionThreads() {
    CompletionThread **link = &libraryState.completionThreads;
    while (*link != nullptr) {
        CompletionThread *entry = *link;
        if (WaitForSingleObject(entry->thread, 0) == WAIT_OBJECT_0) {
            CloseHandle(entry->thread);
            *link = entry->next;
            FreeMemory(entry);
        } else {
            link = &entry->next;
        }
    }
}

void JoinCompletionThreads() {
    for (;;) {
        LockLibrary();
        CompletionThread *entries = libraryState.completionThreads;
        libraryState.completionThreads = nullptr;
        UnlockLibrary();
        if (entries == nullptr) {
            return;
        }
        while (entries != nullptr) {
            CompletionThread *next = entries->next;
            WaitForSingleObject(entries->thread, INFINITE);
            CloseHandle(entries->thread);
            FreeMemory(entries);
            entries = next;
        }
    }
}

// Termination refuses calls only once every completion thread has ended and
// every camera is closed: past that point nothing writes the record any more.
void KeepAbandoned(AsyncRequest *request) {
    if (!EnterLibrary()) {
        FreeRequest(request);
        return;
    }
    LockLibrary();
    request->nextAbandoned = libraryState.abandoned;
    libraryState.abandoned = request;
    UnlockLibrary();
    LeaveLibrary();
}

void ParkUntilTermination(ParkedRecord *link, void (*release)(void *owner), void *owner) {
    if (!EnterLibrary()) {
        release(owner);
        return;
    }
    link->release = release;
    link->owner = owner;
    LockLibrary();
    link->next = libraryState.parked;
    libraryState.parked = link;
    UnlockLibrary();
    LeaveLibrary();
}

// The cameras are closed by now, which ends every transfer of their handles,
// and no completion thread runs: nothing writes these any more.
void FreeAbandonedRequests() {
    while (libraryState.abandoned != nullptr) {
        AsyncRequest *request = libraryState.abandoned;
        libraryState.abandoned = request->nextAbandoned;
        FreeRequest(request);
    }
    while (libraryState.parked != nullptr) {
        ParkedRecord *record = libraryState.parked;
        libraryState.parked = record->next;
        record->release(record->owner);
    }
}
