// Threads: the routine runs at once on a new thread; the handle is signalled
// once it has returned.
#include <atomic>
#include <chrono>

#include "objects.h"
#include "tqsim.h"

namespace tqsim {
namespace {

std::atomic<std::uint32_t> runningThreads{0};
std::atomic<DWORD> nextThreadId{1};
thread_local DWORD currentThreadId = 0; // 0: a thread CreateThread did not make

void RunThread(std::shared_ptr<ThreadObject> thread, LPTHREAD_START_ROUTINE start, LPVOID parameter,
               DWORD id) {
    currentThreadId = id;
    BindClaimedFaults(thread.get());
    DWORD exitCode = start(parameter);
    AbandonOwnedMutexes();
    // Lowered before the handle is signalled: whoever saw the thread end also
    // sees it no longer counted.
    runningThreads.fetch_sub(1, std::memory_order_acq_rel);
    {
        std::lock_guard guard(thread->lock);
        thread->exitCode = exitCode;
        thread->ended = true;
    }
    thread->changed.notify_all();
}

} // namespace

DWORD CurrentThreadId() {
    return currentThreadId;
}

DWORD NextThreadId() {
    return nextThreadId.load();
}

} // namespace tqsim

using namespace tqsim;

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE start,
                           LPVOID parameter, DWORD creationFlags, LPDWORD threadId) {
    DWORD error = 0;
    if (InjectedFault(Call::CreateThread, &error)) {
        return FailWith<HANDLE>(error, nullptr);
    }
    if (start == nullptr || creationFlags != 0) {
        // Suspended creation and the other flags are not modelled.
        return FailWith<HANDLE>(ERROR_INVALID_PARAMETER, nullptr);
    }
    auto thread = std::make_shared<ThreadObject>();
    ClaimNextThreadFaults(thread.get());
    const DWORD id = nextThreadId.fetch_add(1, std::memory_order_relaxed);
    runningThreads.fetch_add(1, std::memory_order_acq_rel);
    try {
        std::thread(RunThread, thread, start, parameter, id).detach();
    } catch (const std::system_error &) {
        runningThreads.fetch_sub(1, std::memory_order_acq_rel);
        return FailWith<HANDLE>(ERROR_NOT_ENOUGH_MEMORY, nullptr);
    }
    if (threadId != nullptr) {
        *threadId = id;
    }
    return InsertHandle(std::move(thread));
}

void WINAPI Sleep(DWORD milliseconds) {
    if (milliseconds == INFINITE) {
        for (;;) {
            std::this_thread::sleep_for(std::chrono::hours(24));
        }
    }
    if (milliseconds == 0) {
        std::this_thread::yield();
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

uint32_t TqsimRunningThreadCount(void) {
    return runningThreads.load(std::memory_order_acquire);
}
