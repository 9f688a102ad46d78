// Platform fault injection: the nth next call of a named function fails with a
// chosen error, counted over every thread or over one thread's calls.
#include <array>
#include <atomic>
#include <cstring>
#include <thread>

#include "objects.h"
#include "tqsim.h"

namespace tqsim {
namespace {

constexpr std::array<const char *, static_cast<std::size_t>(Call::Count)> callNames = {
    "CreateMutexA",
    "ReleaseMutex",
    "CreateEventA",
    "SetEvent",
    "ResetEvent",
    "WaitForSingleObject",
    "CreateThread",
    "CloseHandle",
    "GetProcessHeap",
    "HeapAlloc",
    "HeapFree",
    "CreateFileA",
    "DeviceIoControl",
    "GetOverlappedResult",
    "SetupDiGetClassDevsA",
    "SetupDiEnumDeviceInterfaces",
    "SetupDiGetDeviceInterfaceDetailA",
    "SetupDiOpenDevRegKey",
    "SetupDiDestroyDeviceInfoList",
    "RegQueryValueExA",
    "RegCloseKey",
    "FormatMessageA",
    "LocalFree",
    "LoadLibraryExA",
    "FreeLibrary",
    "GetStdHandle",
    "WriteFile",
};

struct Fault {
    Call call;
    std::uint32_t callsLeft; // 1: the next call fails
    DWORD error;
    std::thread::id thread; // none: calls of every thread count
    // For the next thread created: claimed by its thread object before it
    // runs, then bound to its id; no call counts until then.
    bool nextThread;
    const void *owner;
    // Allocations only: counts those of exactly this size.
    bool sized;
    std::uint64_t size;

    bool Counts(Call made, std::uint64_t madeSize) const {
        return call == made && !nextThread && owner == nullptr && (!sized || size == madeSize) &&
               (thread == std::thread::id{} || thread == std::this_thread::get_id());
    }
};

struct Faults {
    std::mutex lock;
    std::vector<Fault> pending;
    // Lets calls skip the lock while nothing is armed.
    std::atomic<std::uint32_t> armed{0};
};

Faults &State() {
    static Faults faults;
    return faults;
}

} // namespace

bool InjectedFault(Call call, DWORD *error) {
    return InjectedFault(call, error, 0);
}

bool InjectedFault(Call call, DWORD *error, std::uint64_t size) {
    Faults &faults = State();
    if (faults.armed.load(std::memory_order_acquire) == 0) {
        return false;
    }
    std::lock_guard guard(faults.lock);
    bool fail = false;
    for (auto it = faults.pending.begin(); it != faults.pending.end();) {
        if (it->Counts(call, size) && --it->callsLeft == 0) {
            if (!fail) {
                *error = it->error;
                fail = true;
            }
            it = faults.pending.erase(it);
        } else {
            ++it;
        }
    }
    faults.armed.store(static_cast<std::uint32_t>(faults.pending.size()),
                       std::memory_order_release);
    return fail;
}

void ClaimNextThreadFaults(const void *owner) {
    Faults &faults = State();
    if (faults.armed.load(std::memory_order_acquire) == 0) {
        return;
    }
    std::lock_guard guard(faults.lock);
    for (Fault &fault : faults.pending) {
        if (fault.nextThread) {
            fault.nextThread = false;
            fault.owner = owner;
        }
    }
}

void BindClaimedFaults(const void *owner) {
    Faults &faults = State();
    if (faults.armed.load(std::memory_order_acquire) == 0) {
        return;
    }
    std::lock_guard guard(faults.lock);
    for (Fault &fault : faults.pending) {
        if (fault.owner == owner) {
            fault.owner = nullptr;
            fault.thread = std::this_thread::get_id();
        }
    }
}

} // namespace tqsim

using namespace tqsim;

namespace {

int ArmFault(const char *function, uint32_t nth, uint32_t error, std::thread::id thread,
             bool nextThread = false, bool sized = false, std::uint64_t size = 0) {
    if (function == nullptr || nth == 0) {
        return -1;
    }
    for (std::size_t i = 0; i < callNames.size(); ++i) {
        if (std::strcmp(callNames[i], function) == 0) {
            Faults &faults = State();
            std::lock_guard guard(faults.lock);
            faults.pending.push_back(
                {static_cast<Call>(i), nth, error, thread, nextThread, nullptr, sized, size});
            faults.armed.store(static_cast<std::uint32_t>(faults.pending.size()),
                               std::memory_order_release);
            return 0;
        }
    }
    return -1;
}

} // namespace

int TqsimFailCall(const char *function, uint32_t nth, uint32_t error) {
    return ArmFault(function, nth, error, std::thread::id{});
}

int TqsimFailCallOnThread(const char *function, uint32_t nth, uint32_t error) {
    return ArmFault(function, nth, error, std::this_thread::get_id());
}

int TqsimFailCallOnNextThread(const char *function, uint32_t nth, uint32_t error) {
    return ArmFault(function, nth, error, std::thread::id{}, true);
}

int TqsimFailAllocationOfSize(uint64_t bytes, uint32_t nth) {
    return ArmFault("HeapAlloc", nth, 0, std::thread::id{}, false, true, bytes);
}

void TqsimClearFaults(void) {
    Faults &faults = State();
    std::lock_guard guard(faults.lock);
    faults.pending.clear();
    faults.armed.store(0, std::memory_order_release);
}
