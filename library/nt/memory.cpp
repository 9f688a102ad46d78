// The library's allocator: zero-filled blocks of the process heap, so that
// every allocation goes through the platform like any other resource.
#include "nt_internal.h"

void *AllocateZeroed(uint64_t bytes) {
    static_assert(sizeof(SIZE_T) == sizeof(uint64_t), "64-bit sizes");
    return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, static_cast<SIZE_T>(bytes));
}

void FreeMemory(void *memory) {
    if (memory != nullptr) {
        HeapFree(GetProcessHeap(), 0, memory);
    }
}
