// One overlapped control call on a device file, with its own manual-reset
// event: for tests that drive a device directly, through the Win32 subset on
// Linux and through Windows (or Wine) alike.
#pragma once

#include "platform.h"

namespace testsupport {

class OverlappedCall {
  public:
    OverlappedCall() { overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr); }
    ~OverlappedCall() { CloseHandle(overlapped.hEvent); }
    OverlappedCall(const OverlappedCall &) = delete;
    OverlappedCall &operator=(const OverlappedCall &) = delete;

    // Issues the call; returns the issue's error: ERROR_IO_PENDING when the
    // driver took it, 0 when it completed at once, else the refusal.
    DWORD Issue(HANDLE file, DWORD code, const void *in, DWORD inSize, void *out, DWORD outSize) {
        SetLastError(0);
        issued = DeviceIoControl(file, code, const_cast<void *>(in), inSize, out, outSize, nullptr,
                                 &overlapped)
                     ? 0
                     : GetLastError();
        return issued;
    }

    // The error it was refused with at issue; 0 when taken.
    DWORD Refusal() const { return issued == ERROR_IO_PENDING ? 0 : issued; }

    // Whether its event is set: the call has completed.
    bool Completed() const { return WaitForSingleObject(overlapped.hEvent, 0) == WAIT_OBJECT_0; }

    // The completion error held in the block, once completed.
    DWORD Outcome() const { return static_cast<DWORD>(overlapped.Internal); }

    // The outcome as GetOverlappedResult gives it: 0 with the byte count, or
    // the error. With `wait` it waits for the completion.
    DWORD Result(HANDLE file, BOOL wait, DWORD *bytes = nullptr) {
        DWORD transferred = 0;
        const BOOL ok = GetOverlappedResult(file, &overlapped, &transferred, wait);
        if (bytes != nullptr) {
            *bytes = transferred;
        }
        return ok ? 0 : GetLastError();
    }

    // Waits for the completion: 0, or its error.
    DWORD Wait(HANDLE file, DWORD *bytes = nullptr) { return Result(file, TRUE, bytes); }

    OVERLAPPED overlapped{};
    DWORD issued = 0;
};

} // namespace testsupport
