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
    Faults &faults = State();
    if (faults.armed.load(std::memory_order_acquire) == 0) {
        return false;
    }
    std::lock_guard guard(faults.lock);
    bool fail = false;
    for (auto it = faults.pending.begin(); it != faults.pending.end();) {
        const bool counted = it->call == call && (it->thread == std::thread::id{} ||
                                                  it->thread == std::this_thread::get_id());
        if (counted && --it->callsLeft == 0) {
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

} // namespace tqsim

using namespace tqsim;

namespace {

int ArmFault(const char *function, uint32_t nth, uint32_t error, std::thread::id thread) {
    if (function == nullptr || nth == 0) {
        return -1;
    }
    for (std::size_t i = 0; i < callNames.size(); ++i) {
        if (std::strcmp(callNames[i], function) == 0) {
            Faults &faults = State();
            std::lock_guard guard(faults.lock);
            faults.pending.push_back({static_cast<Call>(i), nth, error, thread});
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

void TqsimClearFaults(void) {
    Faults &faults = State();
    std::lock_guard guard(faults.lock);
    faults.pending.clear();
    faults.armed.store(0, std::memory_order_release);
}
