// The virtual device manager: the plugged device interfaces, in plug order.
#include <atomic>
#include <cstring>

#include "objects.h"

namespace tqsim {
namespace {

struct Devices {
    std::mutex lock;
    std::vector<std::shared_ptr<Device>> plugged; // plug order
    DWORD nextDevInst = 1;
};

Devices &State() {
    static Devices devices;
    return devices;
}

bool SameGuid(const GUID &a, const GUID &b) {
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}

std::shared_ptr<Device> TakePlugged(const std::string &path) {
    Devices &devices = State();
    std::lock_guard guard(devices.lock);
    for (auto it = devices.plugged.begin(); it != devices.plugged.end(); ++it) {
        if ((*it)->path == path) {
            std::shared_ptr<Device> device = std::move(*it);
            devices.plugged.erase(it);
            return device;
        }
    }
    return nullptr;
}

// Refuses new opens and calls, waits until the driver has none in progress,
// then lets the driver end what is pending. Release follows with the last handle.
void Remove(Device &device) {
    {
        std::unique_lock held(device.lock);
        device.removed = true;
        device.idle.wait(held, [&] { return device.callsInProgress == 0; });
    }
    device.dispatch->remove(device.context);
    bool release = false;
    {
        std::lock_guard guard(device.lock);
        device.removeDone = true;
        release = TakeReleaseDue(device);
    }
    if (release) {
        device.dispatch->release(device.context);
    }
}

} // namespace

std::vector<InterfaceEntry> SnapshotInterfaces(const GUID &interfaceClass) {
    Devices &devices = State();
    std::lock_guard guard(devices.lock);
    std::vector<InterfaceEntry> entries;
    for (const auto &device : devices.plugged) {
        if (SameGuid(device->interfaceClass, interfaceClass)) {
            entries.push_back(
                {device->interfaceClass, device->path, device->values, device->devInst});
        }
    }
    return entries;
}

std::shared_ptr<Device> FindPluggedDevice(const std::string &path) {
    Devices &devices = State();
    std::lock_guard guard(devices.lock);
    for (const auto &device : devices.plugged) {
        if (device->path == path) {
            return device;
        }
    }
    return nullptr;
}

bool TakeReleaseDue(Device &device) {
    if (!device.removeDone || device.openFiles != 0 || device.released) {
        return false;
    }
    device.released = true;
    return true;
}

void TqsimDeviceCompleteIo(OVERLAPPED *overlapped, DWORD error, DWORD bytes) {
    if (overlapped == nullptr) {
        return;
    }
    // The event is read before the result is published: a poller that sees
    // Internal change may free the block at once.
    HANDLE event = overlapped->hEvent;
    // The result is stored before the event is signalled, so a waiter that
    // wakes (or a poller that sees Internal change) reads the final count.
    std::atomic_ref<ULONG_PTR>(overlapped->InternalHigh).store(bytes, std::memory_order_relaxed);
    std::atomic_ref<ULONG_PTR>(overlapped->Internal).store(error, std::memory_order_release);
    if (event != nullptr) {
        SetEventHandle(event);
    }
}

bool TqsimDevicePlug(const GUID &interfaceClass, const std::string &path,
                     std::vector<RegistryValue> values, const DriverDispatch *dispatch,
                     void *device) {
    if (dispatch == nullptr || path.empty()) {
        return false;
    }
    auto plugged = std::make_shared<Device>();
    plugged->interfaceClass = interfaceClass;
    plugged->path = path;
    plugged->values = std::move(values);
    plugged->dispatch = dispatch;
    plugged->context = device;
    Devices &devices = State();
    std::lock_guard guard(devices.lock);
    for (const auto &other : devices.plugged) {
        if (other->path == path) {
            return false;
        }
    }
    plugged->devInst = devices.nextDevInst++;
    devices.plugged.push_back(std::move(plugged));
    return true;
}

bool TqsimDeviceUnplug(const std::string &path) {
    std::shared_ptr<Device> device = TakePlugged(path);
    if (!device) {
        return false;
    }
    Remove(*device);
    return true;
}

void TqsimDeviceUnplugAll() {
    std::vector<std::shared_ptr<Device>> all;
    {
        Devices &devices = State();
        std::lock_guard guard(devices.lock);
        all.swap(devices.plugged);
    }
    for (const auto &device : all) {
        Remove(*device);
    }
}

} // namespace tqsim
