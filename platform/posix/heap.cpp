// The process heap, with a count of live blocks so that tests can prove that
// nothing was left behind.
#include <atomic>
#include <cstdlib>
#include <unordered_set>

#include "objects.h"
#include "tqsim.h"

namespace tqsim {
namespace {

// GetProcessHeap's handle; not in the handle table because it is never closed.
HANDLE const processHeap = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x0F00));

struct Blocks {
    std::mutex lock;
    std::unordered_set<void *> live;
};

Blocks &State() {
    static Blocks blocks;
    return blocks;
}

// Allocations counted since TqsimStartAllocationCount: those of the thread
// that started the count and of the threads made after it.
std::atomic<std::uint32_t> countGeneration{0};
thread_local std::uint32_t startedGeneration = 0;
std::atomic<DWORD> countFromThread{~DWORD{0}};
std::atomic<std::uint32_t> countedAllocations{0};

void CountAllocation() {
    const DWORD thread = CurrentThreadId();
    const bool counted = startedGeneration != 0 && startedGeneration == countGeneration.load();
    if (counted || (thread != 0 && thread >= countFromThread.load())) {
        countedAllocations.fetch_add(1);
    }
}

} // namespace
} // namespace tqsim

using namespace tqsim;

HANDLE WINAPI GetProcessHeap(void) {
    DWORD error = 0;
    if (InjectedFault(Call::GetProcessHeap, &error)) {
        return FailWith<HANDLE>(error, nullptr);
    }
    return processHeap;
}

LPVOID WINAPI HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
    DWORD error = 0;
    // A failing HeapAlloc only returns null; it does not set the last error.
    if (InjectedFault(Call::HeapAlloc, &error, bytes) || heap != processHeap) {
        return nullptr;
    }
    // A zero-byte request still yields a distinct block, as on Windows.
    const SIZE_T size = bytes == 0 ? 1 : bytes;
    void *block = (flags & HEAP_ZERO_MEMORY) != 0 ? std::calloc(1, size) : std::malloc(size);
    if (block == nullptr) {
        return nullptr;
    }
    CountAllocation();
    Blocks &blocks = State();
    std::lock_guard guard(blocks.lock);
    blocks.live.insert(block);
    return block;
}

BOOL WINAPI HeapFree(HANDLE heap, DWORD, LPVOID memory) {
    DWORD error = 0;
    if (InjectedFault(Call::HeapFree, &error)) {
        return FailWith(error, FALSE);
    }
    if (heap != processHeap) {
        return FailWith(ERROR_INVALID_HANDLE, FALSE);
    }
    if (memory == nullptr) {
        return TRUE;
    }
    {
        Blocks &blocks = State();
        std::lock_guard guard(blocks.lock);
        // A block that is not live (freed twice, or never ours) is refused
        // instead of corrupting the heap.
        if (blocks.live.erase(memory) == 0) {
            return FailWith(ERROR_INVALID_PARAMETER, FALSE);
        }
    }
    std::free(memory);
    return TRUE;
}

uint32_t TqsimHeapBlockCount(void) {
    Blocks &blocks = State();
    std::lock_guard guard(blocks.lock);
    return static_cast<uint32_t>(blocks.live.size());
}

void TqsimStartAllocationCount(void) {
    startedGeneration = countGeneration.fetch_add(1) + 1;
    countFromThread.store(NextThreadId());
    countedAllocations.store(0);
}

uint32_t TqsimAllocationCount(void) {
    return countedAllocations.load();
}
