// The device channel's records and functions: the requests in flight, their
// completion threads, and the I/O thread that issues every driver call.
#pragma once

#include "device_node.h"

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
