#include "hex_dump.h"

#include <algorithm>
#include <cstdio>

namespace {

bool AllZero(const uint8_t *data, size_t size) {
    return std::all_of(data, data + size, [](uint8_t byte) { return byte == 0; });
}

} // namespace

void PrintHexDump(const uint8_t *data, size_t size, size_t first_offset) {
    constexpr size_t kPerLine = 16;
    bool skipping = false;
    for (size_t line = 0; line < size; line += kPerLine) {
        const size_t count = std::min(kPerLine, size - line);
        // Driver records are mostly zero: a run of zero lines after the
        // first shows as one "*".
        const bool zero = AllZero(data + line, count) && line > 0 &&
                          AllZero(data + line - kPerLine, kPerLine) && line + count < size;
        if (zero) {
            if (!skipping) {
                std::printf("    *\n");
            }
            skipping = true;
            continue;
        }
        skipping = false;
        std::printf("    %04zx:", first_offset + line);
        for (size_t i = line; i < line + count; ++i) {
            std::printf(" %02x", data[i]);
        }
        std::printf("\n");
    }
}
