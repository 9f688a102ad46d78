// Hex dumps of the driver-defined bytes of camera records.
#pragma once

#include <cstddef>
#include <cstdint>

// Prints size bytes, 16 a line, each line indented and led by the offset of
// its first byte within the record (first_offset is the offset of data).
// Repeated zero lines show as one "*", the last line always shows.
void PrintHexDump(const uint8_t *data, size_t size, size_t first_offset);
