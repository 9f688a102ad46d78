// The packed image container as tqdev.h lays it out: a TQDEV_IMAGE_HEADER,
// then the 12-bit sample stream its descriptor describes. The tool's own
// copy, from the public records, so that it needs no library internals.
#pragma once

#include <cstdint>
#include <vector>

#include "tqdev.h"

// What a descriptor says of its stream (signed 32-bit arithmetic, division
// truncating toward zero, as the library reads it).
struct StreamLayout {
    int32_t hBinning, vBinning; // 0 read as 1
    int32_t paddedWidth;        // samples per stream line, line_width padded to 8
    int32_t lines;              // stream lines, line_count / v_binning
    int32_t firstLine;          // the window's first stream line, top / v_binning
    int32_t rows, columns;      // of the unpacked image
    int64_t samples;            // in the whole stream
};
StreamLayout DescribeStream(const TQDEV_FRAME_INFO &info);

// True when the window lies inside the stream and the sizes hold the image
// and the stream: a container with any other descriptor is refused on
// unpacking.
bool StreamHoldsWindow(const TQDEV_FRAME_INFO &info);

// Eight samples (12 bits each) to their 12 bytes in the stream.
void PackSampleGroup8(const uint16_t samples[8], uint8_t out[12]);

// The container: the header for info, then the samples (a multiple of 8,
// packed_size / 12 x 8 of them) packed.
std::vector<uint8_t> BuildContainer(const TQDEV_FRAME_INFO &info,
                                    const std::vector<uint16_t> &samples);
