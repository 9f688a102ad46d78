// Device files: opening a plugged device path, overlapped device I/O control
// and its results. The driver is always called without any lock held.
#include <atomic>

#include "objects.h"

namespace tqsim {
namespace {

std::atomic_ref<ULONG_PTR> Status(OVERLAPPED &overlapped) {
    return std::atomic_ref<ULONG_PTR>(overlapped.Internal);
}

// Counts a call into the driver on this file, or says why it is refused.
DWORD BeginCall(FileObject &file) {
    Device &device = *file.device;
    std::lock_guard guard(device.lock);
    if (file.closing) {
        return ERROR_INVALID_HANDLE;
    }
    if (device.removed) {
        return ERROR_DEVICE_REMOVED;
    }
    ++device.callsInProgress;
    ++file.callsInProgress;
    return ERROR_SUCCESS;
}

void EndCall(FileObject &file) {
    Device &device = *file.device;
    {
        std::lock_guard guard(device.lock);
        --device.callsInProgress;
        --file.callsInProgress;
    }
    device.idle.notify_all();
}

// The driver's answer to an issued call, as DeviceIoControl reports it.
BOOL IssuedResult(DWORD answer, OVERLAPPED &overlapped, LPDWORD bytesReturned) {
    if (answer == ERROR_IO_PENDING) {
        return FailWith(ERROR_IO_PENDING, FALSE);
    }
    if (answer != ERROR_SUCCESS) {
        // Refused at issue: no completion follows and the event stays as it
        // is, but the block no longer reads as pending.
        Status(overlapped).store(answer, std::memory_order_release);
        return FailWith(answer, FALSE);
    }
    // A driver that answers success has completed the call already.
    const ULONG_PTR status = Status(overlapped).load(std::memory_order_acquire);
    if (status != STATUS_PENDING && status != ERROR_SUCCESS) {
        return FailWith(static_cast<DWORD>(status), FALSE);
    }
    if (bytesReturned != nullptr) {
        *bytesReturned = static_cast<DWORD>(
            std::atomic_ref<ULONG_PTR>(overlapped.InternalHigh).load(std::memory_order_relaxed));
    }
    return TRUE;
}

BOOL CallDriver(FileObject &file, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                LPDWORD bytesReturned, OVERLAPPED &overlapped) {
    DWORD refused = BeginCall(file);
    if (refused != ERROR_SUCCESS) {
        return FailWith(refused, FALSE);
    }
    if (overlapped.hEvent != nullptr) {
        ResetEventHandle(overlapped.hEvent);
    }
    std::atomic_ref<ULONG_PTR>(overlapped.InternalHigh).store(0, std::memory_order_relaxed);
    Status(overlapped).store(STATUS_PENDING, std::memory_order_release);
    if (bytesReturned != nullptr) {
        *bytesReturned = 0;
    }
    IoRequest request{file.context, code, in, inSize, out, outSize, &overlapped};
    DWORD answer = file.device->dispatch->deviceControl(file.device->context, request);
    EndCall(file);
    return IssuedResult(answer, overlapped, bytesReturned);
}

// The outcome of a call as GetOverlappedResult reports it, waiting if asked.
BOOL OverlappedResult(OVERLAPPED &overlapped, LPDWORD bytesTransferred, BOOL wait,
                      const DWORD *injected) {
    // An injected failure comes at once, as when the wait itself fails: the
    // caller must not free a block the driver may still complete.
    if (injected != nullptr) {
        return FailWith(*injected, FALSE);
    }
    ULONG_PTR status = Status(overlapped).load(std::memory_order_acquire);
    if (status == STATUS_PENDING && !wait) {
        return FailWith(ERROR_IO_INCOMPLETE, FALSE);
    }
    if (status == STATUS_PENDING) {
        // Without an event there is nothing to wait on (files are not waitable here).
        if (overlapped.hEvent == nullptr) {
            return FailWith(ERROR_INVALID_PARAMETER, FALSE);
        }
        if (WaitHandle(overlapped.hEvent, INFINITE) != WAIT_OBJECT_0) {
            return FALSE;
        }
        // As on Windows, a block still pending once its event is signalled
        // (the event set without the outcome) reads as success.
        status = Status(overlapped).load(std::memory_order_acquire);
        if (status == STATUS_PENDING) {
            status = ERROR_SUCCESS;
        }
    }
    if (bytesTransferred != nullptr) {
        *bytesTransferred = static_cast<DWORD>(
            std::atomic_ref<ULONG_PTR>(overlapped.InternalHigh).load(std::memory_order_relaxed));
    }
    if (status != ERROR_SUCCESS) {
        return FailWith(static_cast<DWORD>(status), FALSE);
    }
    return TRUE;
}

// A call without an OVERLAPPED block waits for its own completion.
BOOL CallDriverAndWait(FileObject &file, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                       DWORD outSize, LPDWORD bytesReturned) {
    auto event = std::make_shared<EventObject>();
    event->manualReset = true;
    OVERLAPPED overlapped{};
    overlapped.hEvent = InsertHandle(event);
    BOOL result = CallDriver(file, code, in, inSize, out, outSize, bytesReturned, overlapped);
    if (!result && GetLastError() == ERROR_IO_PENDING) {
        result = OverlappedResult(overlapped, bytesReturned, TRUE, nullptr);
    }
    RemoveHandle(overlapped.hEvent, ObjectKind::Event);
    return result;
}

std::shared_ptr<FileObject> OpenFile(const std::shared_ptr<Device> &device, DWORD *error) {
    {
        std::lock_guard guard(device->lock);
        if (device->removed) {
            *error = ERROR_FILE_NOT_FOUND;
            return nullptr;
        }
        ++device->callsInProgress;
        ++device->openFiles;
    }
    DWORD driverError = ERROR_SUCCESS;
    void *context = device->dispatch->create(device->context, &driverError);
    bool release = false;
    {
        std::lock_guard guard(device->lock);
        --device->callsInProgress;
        if (context == nullptr) {
            --device->openFiles;
            release = TakeReleaseDue(*device);
        }
    }
    device->idle.notify_all();
    if (release) {
        device->dispatch->release(device->context);
    }
    if (context == nullptr) {
        *error = driverError != ERROR_SUCCESS ? driverError : ERROR_ACCESS_DENIED;
        return nullptr;
    }
    auto file = std::make_shared<FileObject>();
    file->device = device;
    file->context = context;
    return file;
}

} // namespace

void CloseDeviceFile(FileObject &file) {
    Device &device = *file.device;
    {
        // Calls already in the driver finish first; later ones are refused.
        std::unique_lock held(device.lock);
        file.closing = true;
        device.idle.wait(held, [&] { return file.callsInProgress == 0; });
    }
    device.dispatch->close(device.context, file.context);
    bool release = false;
    {
        std::lock_guard guard(device.lock);
        --device.openFiles;
        release = TakeReleaseDue(device);
    }
    if (release) {
        device.dispatch->release(device.context);
    }
}

} // namespace tqsim

using namespace tqsim;

HANDLE WINAPI CreateFileA(LPCSTR path, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD disposition,
                          DWORD, HANDLE) {
    DWORD error = 0;
    if (InjectedFault(Call::CreateFileA, &error)) {
        return FailWith(error, INVALID_HANDLE_VALUE);
    }
    if (path == nullptr) {
        return FailWith(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    }
    std::shared_ptr<Device> device = FindPluggedDevice(path);
    if (!device) {
        return FailWith(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    }
    if (disposition != OPEN_EXISTING) {
        return FailWith(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE); // devices are not created
    }
    std::shared_ptr<FileObject> file = OpenFile(device, &error);
    if (!file) {
        return FailWith(error, INVALID_HANDLE_VALUE);
    }
    SetLastError(ERROR_SUCCESS);
    return InsertHandle(std::move(file));
}

BOOL WINAPI DeviceIoControl(HANDLE handle, DWORD code, LPVOID inBuffer, DWORD inSize,
                            LPVOID outBuffer, DWORD outSize, LPDWORD bytesReturned,
                            LPOVERLAPPED overlapped) {
    DWORD error = 0;
    if (InjectedFault(Call::DeviceIoControl, &error)) {
        return FailWith(error, FALSE);
    }
    auto file = LookUp<FileObject>(handle, ObjectKind::File);
    if (!file) {
        return FailWith(ERROR_INVALID_HANDLE, FALSE);
    }
    if (overlapped == nullptr) {
        return CallDriverAndWait(*file, code, inBuffer, inSize, outBuffer, outSize, bytesReturned);
    }
    return CallDriver(*file, code, inBuffer, inSize, outBuffer, outSize, bytesReturned,
                      *overlapped);
}

BOOL WINAPI GetOverlappedResult(HANDLE, LPOVERLAPPED overlapped, LPDWORD bytesTransferred,
                                BOOL wait) {
    // The file handle is not consulted: with an event in the block the result
    // is read from the block alone, so it may be asked for after the file has
    // been closed, as on Windows.
    if (overlapped == nullptr) {
        return FailWith(ERROR_INVALID_PARAMETER, FALSE);
    }
    DWORD injected = 0;
    const bool fail = InjectedFault(Call::GetOverlappedResult, &injected);
    return OverlappedResult(*overlapped, bytesTransferred, wait, fail ? &injected : nullptr);
}
