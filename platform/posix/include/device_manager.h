// The virtual device manager: device interfaces that simulated drivers plug and
// unplug, and the dispatch through which the Win32 subset reaches a driver.
// Internal to libtqsim; hosts use tqsim.h.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "win32_subset.h"

// Exported, under Tqsim names only, so that tests can plug devices with
// drivers of their own.
#define TQSIM_INTERNAL_API __attribute__((visibility("default")))

namespace tqsim {

// One named registry value of a device key, stored as raw bytes (a number is
// 4 bytes, a text its characters and the terminator; any size may be stored).
struct RegistryValue {
    std::string name;
    DWORD type = REG_BINARY;
    std::vector<std::uint8_t> data;
};

// One driver call as the driver receives it. The buffers are the caller's
// (METHOD_BUFFERED copies are not modelled) and stay valid until the call is
// completed.
struct IoRequest {
    void *file; // the driver's context of the open handle
    DWORD code;
    const void *in;
    DWORD inSize;
    void *out;
    DWORD outSize;
    OVERLAPPED *overlapped;
};

// A driver's entry points. Every function is called without any lock of the
// device manager held, so a driver may complete requests from inside them.
// Ordering the driver may rely on: remove starts only once no create or
// deviceControl is running, and none starts after it; close of a file starts
// once that file's deviceControl calls have returned, and none follows it.
// A driver must not unplug its own device from inside create or deviceControl.
struct DriverDispatch {
    // A handle is opened: returns the driver's file context, or null with
    // *error set (the open then fails with that error).
    void *(*create)(void *device, DWORD *error);
    // A call is issued on an open handle. Returns ERROR_IO_PENDING when the
    // driver took the request (it completes it later, or already did, with
    // CompleteIo), or an error that refuses the call (no completion follows).
    // ERROR_SUCCESS means the driver completed the call before returning;
    // DeviceIoControl then succeeds at once.
    DWORD (*deviceControl)(void *device, const IoRequest &request);
    // The handle is closed: the driver completes every request of that file
    // with ERROR_OPERATION_ABORTED before it returns, and forgets the file.
    void (*close)(void *device, void *file);
    // The device is unplugged: the driver completes every request with
    // ERROR_DEVICE_REMOVED before it returns. Later calls on handles that are
    // still open are refused by the subset with ERROR_DEVICE_REMOVED.
    void (*remove)(void *device);
    // The device manager no longer references the device: no handle is open
    // and it has been unplugged (or reset). The driver may free it.
    void (*release)(void *device);
};

extern "C" {

// Stores the outcome of a taken request in its OVERLAPPED block and then
// signals the block's event, as the I/O manager does.
TQSIM_INTERNAL_API void TqsimDeviceCompleteIo(OVERLAPPED *overlapped, DWORD error, DWORD bytes);

// Plugs a device interface of the given class; enumeration order is plug order.
// Returns false when the path is already present.
TQSIM_INTERNAL_API bool TqsimDevicePlug(const GUID &interfaceClass, const std::string &path,
                                        std::vector<RegistryValue> values,
                                        const DriverDispatch *dispatch, void *device);

// Unplugs the device with this path: it leaves enumeration, its driver's remove
// runs, and release follows once its last handle is closed. Returns false when
// no such device is plugged.
TQSIM_INTERNAL_API bool TqsimDeviceUnplug(const std::string &path);

// Unplugs every device.
TQSIM_INTERNAL_API void TqsimDeviceUnplugAll();

} // extern "C"

inline void CompleteIo(OVERLAPPED *overlapped, DWORD error, DWORD bytes) {
    TqsimDeviceCompleteIo(overlapped, error, bytes);
}
inline bool PlugDevice(const GUID &interfaceClass, const std::string &path,
                       std::vector<RegistryValue> values, const DriverDispatch *dispatch,
                       void *device) {
    return TqsimDevicePlug(interfaceClass, path, std::move(values), dispatch, device);
}
inline bool UnplugDevice(const std::string &path) {
    return TqsimDeviceUnplug(path);
}
inline void UnplugAllDevices() {
    TqsimDeviceUnplugAll();
}

} // namespace tqsim
