// Picks the fastest unpacker kernels the running CPU supports.
#include "unpack_kernels.h"

const UnpackKernels &BestUnpackKernels() {
    static const UnpackKernels &best = []() -> const UnpackKernels & {
        if (const UnpackKernels *avx2 = Avx2UnpackKernels())
            return *avx2;
        if (const UnpackKernels *ssse3 = Ssse3UnpackKernels())
            return *ssse3;
        return ScalarUnpackKernels();
    }();
    return best;
}
