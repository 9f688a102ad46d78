#include "hex_dump.h"

#include <cstdio>

void PrintHexDump(const uint8_t *data, size_t size, size_t first_offset) {
    constexpr size_t kPerLine = 16;
    for (size_t line = 0; line < size; line += kPerLine) {
        std::printf("    %04zx:", first_offset + line);
        for (size_t i = line; i < size && i < line + kPerLine; ++i) {
            std::printf(" %02x", data[i]);
        }
        std::printf("\n");
    }
}
