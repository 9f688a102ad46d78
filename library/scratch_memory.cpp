// The unpacker's scratch block comes from the library's allocator.
#include "image_data.h"
#include "tqdev_lib_internal.h"

const ScratchMemory &LibraryScratchMemory() {
    static constexpr ScratchMemory memory{AllocateZeroed, FreeMemory};
    return memory;
}
