// Shift that divides by a power-of-two binning factor.
#include "image_data.h"

int32_t BinningShift(uint32_t factor) {
    for (int32_t shift = 0; shift <= 4; ++shift)
        if (factor == (1u << shift))
            return shift;
    return -1;
}
