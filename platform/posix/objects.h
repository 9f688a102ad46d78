// Kernel objects of the Win32 subset and the handle table that names them.
// Internal to libtqsim.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device_manager.h"
#include "win32_subset.h"

namespace tqsim {

// Errors the subset reports beyond those the header names.
constexpr DWORD ERROR_INVALID_FUNCTION = 1;
constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
constexpr DWORD ERROR_NOT_OWNER = 288;
constexpr DWORD ERROR_MR_MID_NOT_FOUND = 317;
constexpr DWORD ERROR_INVALID_USER_BUFFER = 1784;

enum class ObjectKind { Mutex, Event, Thread, File, DeviceInfoSet, RegistryKey, Module };

// What every handle refers to. Objects are shared: a handle holds one
// reference and whoever works with the object (a running thread, a call in
// progress) holds another, so closing a handle never frees an object in use.
struct KernelObject {
    explicit KernelObject(ObjectKind k) : kind(k) {}
    virtual ~KernelObject() = default;
    const ObjectKind kind;
};

struct MutexObject : KernelObject {
    MutexObject() : KernelObject(ObjectKind::Mutex) {}
    std::mutex lock;
    std::condition_variable changed;
    std::thread::id owner; // default id: not owned
    std::uint32_t recursion = 0;
    bool abandoned = false; // its owner ended without releasing it
};

struct EventObject : KernelObject {
    EventObject() : KernelObject(ObjectKind::Event) {}
    std::mutex lock;
    std::condition_variable changed;
    bool manualReset = false;
    bool signalled = false;
};

struct ThreadObject : KernelObject {
    ThreadObject() : KernelObject(ObjectKind::Thread) {}
    std::mutex lock;
    std::condition_variable changed;
    bool ended = false;
    DWORD exitCode = 0;
};

// A plugged (or unplugged but still referenced) device of the device manager.
struct Device {
    GUID interfaceClass{};
    std::string path;
    std::vector<RegistryValue> values;
    const DriverDispatch *dispatch = nullptr;
    void *context = nullptr; // the driver's device
    DWORD devInst = 0;

    std::mutex lock;
    std::condition_variable idle;      // callsInProgress or a file's calls reached 0
    bool removed = false;              // unplugged: new opens and calls are refused
    bool removeDone = false;           // the driver's remove has returned
    bool released = false;             // the driver's release has been called
    std::uint32_t callsInProgress = 0; // create and deviceControl calls in the driver
    std::uint32_t openFiles = 0;
};

struct FileObject : KernelObject {
    FileObject() : KernelObject(ObjectKind::File) {}
    std::shared_ptr<Device> device;
    void *context = nullptr; // the driver's file context
    // Guarded by the device's lock.
    bool closing = false;
    std::uint32_t callsInProgress = 0;
};

// One device interface as a device information set saw it.
struct InterfaceEntry {
    GUID interfaceClass;
    std::string path;
    std::vector<RegistryValue> values;
    DWORD devInst;
};

struct DeviceInfoSetObject : KernelObject {
    DeviceInfoSetObject() : KernelObject(ObjectKind::DeviceInfoSet) {}
    std::vector<InterfaceEntry> entries;
};

struct RegistryKeyObject : KernelObject {
    RegistryKeyObject() : KernelObject(ObjectKind::RegistryKey) {}
    std::vector<RegistryValue> values;
};

struct ModuleObject : KernelObject {
    ModuleObject() : KernelObject(ObjectKind::Module) {}
};

// ---- Handle table (handles.cpp) ----------------------------------------------

// Enters an object and returns its new handle; handle values are never reused.
HANDLE InsertHandle(std::shared_ptr<KernelObject> object);

// The object behind a handle if it is open and of that kind, else null.
std::shared_ptr<KernelObject> LookUpHandle(HANDLE handle, ObjectKind kind);

template <typename T> std::shared_ptr<T> LookUp(HANDLE handle, ObjectKind kind) {
    return std::static_pointer_cast<T>(LookUpHandle(handle, kind));
}

// Takes a handle of that kind out of the table; null when it is not open.
std::shared_ptr<KernelObject> RemoveHandle(HANDLE handle, ObjectKind kind);

// Same, for a handle of any kind that CloseHandle accepts.
std::shared_ptr<KernelObject> RemoveKernelHandle(HANDLE handle);

// ---- Objects (sync_objects.cpp, device_files.cpp) ----------------------------

void SignalEvent(EventObject &event);

// Releases every mutex the calling thread still owns, marking it abandoned;
// runs when a thread ends.
void AbandonOwnedMutexes();

// The calls as the subset itself makes them: never counted by fault injection.
bool SetEventHandle(HANDLE event);
bool ResetEventHandle(HANDLE event);
DWORD WaitHandle(HANDLE handle, DWORD milliseconds);
void CloseDeviceFile(FileObject &file);

// ---- Device manager (device_manager.cpp) -------------------------------------

// Copies of the plugged interfaces of a class, in plug order.
std::vector<InterfaceEntry> SnapshotInterfaces(const GUID &interfaceClass);

// The plugged device with exactly this path, or null.
std::shared_ptr<Device> FindPluggedDevice(const std::string &path);

// Called with device.lock held: true when the driver's release is now due
// (unplugged, remove returned, no handle left); marks it as done.
bool TakeReleaseDue(Device &device);

// ---- Fault injection (fault_injection.cpp) -----------------------------------

enum class Call {
    CreateMutexA,
    ReleaseMutex,
    CreateEventA,
    SetEvent,
    ResetEvent,
    WaitForSingleObject,
    CreateThread,
    CloseHandle,
    GetProcessHeap,
    HeapAlloc,
    HeapFree,
    CreateFileA,
    DeviceIoControl,
    GetOverlappedResult,
    SetupDiGetClassDevsA,
    SetupDiEnumDeviceInterfaces,
    SetupDiGetDeviceInterfaceDetailA,
    SetupDiOpenDevRegKey,
    SetupDiDestroyDeviceInfoList,
    RegQueryValueExA,
    RegCloseKey,
    FormatMessageA,
    LocalFree,
    LoadLibraryExA,
    FreeLibrary,
    GetStdHandle,
    WriteFile,
    Count
};

// Counts one call of the function; true (with the error) when this call is to
// fail.
bool InjectedFault(Call call, DWORD *error);
// The same for an allocation of this many bytes.
bool InjectedFault(Call call, DWORD *error, std::uint64_t size);
// Faults armed for the next thread: claimed for a thread object as it is
// created, then bound to the thread as it starts, before it calls anything.
void ClaimNextThreadFaults(const void *owner);
void BindClaimedFaults(const void *owner);

// The id CreateThread gave the calling thread (0 for other threads), and the
// id the next thread it makes will get.
DWORD CurrentThreadId();
DWORD NextThreadId();

// ---- Small helpers ---------------------------------------------------------

// Sets the calling thread's last error and returns the given failure value.
template <typename T> T FailWith(DWORD error, T result) {
    SetLastError(error);
    return result;
}

} // namespace tqsim
