// Asynchronous requests: the settings, data and status transfers of one
// request, issued back to back, and the completion thread that waits for the
// status and calls the requester back.
#include <utility>

#include "nt_internal.h"
#include "request_codes.h"

namespace {

constexpr uint32_t kSettingsSize = sizeof(TQDEV_CAPTURE_SETTINGS);
constexpr uint32_t kStatusSize = sizeof(TQDEV_STATUS);

// Which transfers of a request reached the driver, and the cancel that ends
// them after a partial issue.
struct StartedTransfers {
    bool settings;
    bool data;
    bool status;
    bool cancelFailed;
    OVERLAPPED cancelBlock;

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
// handle ends them and leaves the handle in step.
void CancelTakenTransfers(DeviceNode *node, StartedTransfers *started) {
    uint32_t result = InitOverlapped(&started->cancelBlock);
    if (result == TQDEV_RESULT_OK) {
        result = IssueDriverCall(node, kCancelCode, nullptr, 0, &started->cancelBlock);
        if (result != TQDEV_RESULT_OK) {
            CloseHandle(started->cancelBlock.hEvent);
            started->cancelBlock.hEvent = nullptr;
        }
    }
    // A removed camera has ended everything it held, so the wait ends too.
    started->cancelFailed = result != TQDEV_RESULT_OK && result != TQDEV_RESULT_DEVICE_NOT_FOUND;
}

// A request that failed before its hand-over: the driver may still use the
// blocks of the transfers it took, so wait for them before freeing.
void AbandonRequest(AsyncRequest *request, StartedTransfers &started) {
    if (started.cancelBlock.hEvent != nullptr) {
        WaitSignalled(started.cancelBlock.hEvent);
        CloseHandle(started.cancelBlock.hEvent);
    }
    if (started.settings) {
        WaitForSingleObject(request->settingsBlock.hEvent, INFINITE);
    }
    if (started.data) {
        WaitForSingleObject(request->dataBlock.hEvent, INFINITE);
    }
    if (started.status) {
        WaitForSingleObject(request->statusBlock.hEvent, INFINITE);
    }
    FreeRequest(request);
}

// Without a cancel the driver keeps what it took until the handle is closed,
// which may be never before termination: the request waits there, on the
// library's list, rather than holding the caller. Only the taken transfers'
// events remain to be waited on.
void KeepAbandoned(AsyncRequest *request, const StartedTransfers &started) {
    const std::pair<OVERLAPPED *, bool> blocks[] = {{&request->settingsBlock, started.settings},
                                                    {&request->dataBlock, started.data},
                                                    {&request->statusBlock, started.status}};
    for (const auto &[block, taken] : blocks) {
        if (!taken && block->hEvent != nullptr) {
            CloseHandle(block->hEvent);
            block->hEvent = nullptr;
        }
    }
    request->nextAbandoned = libraryState.abandoned;
    libraryState.abandoned = request;
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
    for (OVERLAPPED *block :
         {&request->settingsBlock, &request->dataBlock, &request->statusBlock}) {
        if (block->hEvent != nullptr) {
            CloseHandle(block->hEvent);
        }
    }
    FreeMemory(request);
}

uint32_t SubmitRequest(uint32_t device, uint32_t requestNumber, void *data, uint32_t size,
                       CompletionFunction completion, void *context,
                       const TQDEV_CAPTURE_SETTINGS *settings) {
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
        } else if (started.Any()) {
            CancelTakenTransfers(node, &started);
            if (started.cancelFailed) {
                KeepAbandoned(request, started);
                FreeMemory(entry);
                return issued;
            }
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
    return result;
}

DWORD WINAPI CallbackThreadFunction(LPVOID parameter) {
    auto *request = static_cast<AsyncRequest *>(parameter);
    DWORD bytes = 0;
    BOOL ended = GetOverlappedResult(request->file, &request->statusBlock, &bytes, TRUE);
    DWORD error = ended ? ERROR_SUCCESS : GetLastError();
    // Closing the camera ends its I/O thread, which ends the transfers that
    // thread issued. Some platforms then signal the event without writing the
    // outcome: the block still reads pending, no status arrived, and the wait
    // above reports success. The transfer was ended with the thread.
    if (ended && !HasOverlappedIoCompleted(&request->statusBlock)) {
        error = ERROR_OPERATION_ABORTED;
    }
    if (error != ERROR_SUCCESS) {
        uint32_t failure = StatusFailure(error);
        // Should the wait itself have failed, the driver still owns the
        // request's blocks until the status transfer has ended, and may yet
        // write the status record: the failure is set after that.
        WaitSignalled(request->statusBlock.hEvent);
        request->status.word[0] = failure;
    }
    if (request->completion != nullptr) {
        // The requester gets a copy that lives for the call only.
        TQDEV_STATUS status = request->status;
        request->completion(&status, request->data, request->context);
    }
    FreeRequest(request);
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

void FreeAbandonedRequests() {
    while (libraryState.abandoned != nullptr) {
        AsyncRequest *request = libraryState.abandoned;
        libraryState.abandoned = request->nextAbandoned;
        for (OVERLAPPED *block :
             {&request->settingsBlock, &request->dataBlock, &request->statusBlock}) {
            if (block->hEvent != nullptr) {
                WaitSignalled(block->hEvent);
            }
        }
        FreeRequest(request);
    }
}
