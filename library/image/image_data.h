// Image data: the frame descriptor, the packed 12-bit sample stream, the
// packed image container, the calibration stamp, unpacking and averaging.
// Pure functions: no platform, no threads, no state.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tqdev.h"

// ---- Frame descriptor -------------------------------------------------------------

// The quantities every image operation derives from a descriptor (signed
// 32-bit arithmetic, division truncating toward zero).
struct FrameGeometry {
    int32_t hb, vb; // binning factors, 0 read as 1
    int32_t w8;     // stream line length in samples, a multiple of 8
    int32_t lines;  // stream lines L = line_count / vb
    int32_t g;      // first window line = top / vb
    int32_t m, n;   // output rows and columns
    int64_t total;  // samples in the stream, L x w8
};
FrameGeometry DeriveGeometry(const TQDEV_FRAME_INFO &info);

// True when the descriptor keeps the relations the unpacker relies on:
// line_width >= 1, left >= 0, top >= 0, left + width <= w8, g + m <= L,
// m x n x 2 <= image_size, L x w8 / 8 x 12 <= packed_size (and nothing
// overflows). Unpacking a descriptor that fails this could leave its buffers.
bool FrameInfoIsConsistent(const TQDEV_FRAME_INFO &info);

// ---- Packed image container ----------------------------------------------------------

constexpr uint32_t ImageHeaderSize() {
    return 76;
}
void WriteImageHeader(void *header, const TQDEV_FRAME_INFO &info);
// Pointer to the packed data behind the header, or null for a wrong magic (the
// descriptor output is then not written).
const uint8_t *ParseImageHeader(const void *image, TQDEV_FRAME_INFO *info);

// ---- Packed samples -------------------------------------------------------------------

void PackSampleGroup(const uint16_t samples[8], uint8_t out[12]);
void PackSamples(const uint16_t *samples, uint32_t bytes, uint8_t *out);
void BytesToSamples(const uint32_t *words, uint32_t bytes, uint16_t *samples);

// ---- Calibration stamp -------------------------------------------------------------------

constexpr uint32_t STAMP_NORM = 0x6E6F726D;
constexpr uint32_t STAMP_DARK = 0x6461726B;
// Writes the stamp into a captured image (modes 0 and 1 only). A stamp that
// would not fit the image the descriptor describes (image_size under 320
// bytes; a packed stamp passing 76 + packed_size) is skipped.
void WriteCalibrationStamp(void *image, uint32_t mode, bool packedOutput, uint32_t integrationTime,
                           uint32_t stampValue, const TQDEV_FRAME_INFO &info);

// ---- Unpacking -------------------------------------------------------------------------------

int32_t BinningShift(uint32_t factor);

// Memory an unpack whose source and destination overlap may need. A buffer
// the caller keeps between frames is used when large enough; otherwise the
// memory comes from allocate (the C heap when null) and goes back to release.
struct UnpackWorkspace {
    void *buffer = nullptr;
    uint64_t bytes = 0;
    void *(*allocate)(uint64_t bytes) = nullptr; // null on failure
    void (*release)(void *memory) = nullptr;
};
// The workspace an unpack in place (source and destination the same buffer)
// of this frame takes: the first rows that cannot stay behind their packed
// bytes, or all packed rows when no walk exists; 0 when it needs none. Made
// once, it spares every frame an allocation.
uint64_t InPlaceWorkspaceBytes(const TQDEV_FRAME_INFO &info, int32_t rowLimit);
// True when that unpack needs nothing beyond the workspace, so cannot fail.
bool InPlaceTakesOnlyTheWorkspace(const TQDEV_FRAME_INFO &info, int32_t rowLimit);

// Unpacks the packed stream `source` into m x n 16-bit pixels at
// `destination`, processing stream lines below rowLimit. Source and
// destination may be the same buffer (the pixels are then those of a
// separate copy). Returns TQDEV_RESULT_OK; TQDEV_RESULT_INVALID_PARAMETER,
// writing nothing, for a descriptor that FrameInfoIsConsistent refuses;
// TQDEV_RESULT_OUT_OF_MEMORY, writing nothing, when an overlapping frame
// needs memory beyond the workspace and none can be had.
uint32_t UnpackFrame(const TQDEV_FRAME_INFO &info, int32_t rowLimit, const void *source,
                     uint16_t *destination, const UnpackWorkspace &workspace = {});

// The exported unpacker of stored containers.
uint32_t UnpackImage(const void *image, uint16_t *pixels, uint32_t *imageSize, uintptr_t reserved,
                     const UnpackWorkspace &workspace = {});

// ---- Averaging ------------------------------------------------------------------------------

void AccumulateFrame(const TQDEV_FRAME_INFO &info, const uint16_t *frame, uint32_t *sums,
                     bool first);
int32_t AverageFrames(const TQDEV_FRAME_INFO &info, const uint32_t *sums, uint16_t *result,
                      int32_t frameCount);
