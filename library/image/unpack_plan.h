// What the unpacker's files share: the plan of a frame, how its rows are cut
// into chunks, and where its packed bytes lie. Row decoding is in
// unpack_rows.cpp, the walk over overlapping buffers in unpack_in_place.cpp.
#pragma once

#include <algorithm>
#include <cstdint>

#include "image_data.h"
#include "unpack_kernels.h"

// A named namespace: these generic names stay out of the library's others.
namespace unpacker {

constexpr int64_t kChunkSamples = 2048;
// Room for a chunk's groups: up to 7 samples before and after the window.
constexpr int64_t kScratchSamples = kChunkSamples + 32;

struct Plan {
    FrameGeometry geo;
    int64_t left, width;
    bool mirror, flip, subsample;
    int64_t phase;              // kept phase when sub-sampling
    int64_t firstLine, endLine; // stream lines processed: g .. min(row limit, g + m)
    int64_t pixelsPerChunk;
    int64_t chunksPerRow;
    bool stream; // pixels stored past the cache where a kernel can
};

inline int64_t PixelBytes(const Plan &plan) {
    return int64_t{plan.geo.m} * plan.geo.n * 2;
}

// One chunk: stream samples [first, first + count) make pixels
// [pixel, pixel + pixels) of destination row `row`.
struct Chunk {
    int64_t first, count;
    int64_t row, pixel, pixels;
};

// Where the packed stream lies: stream byte b is at base + b - baseByte.
struct Source {
    const uint8_t *base;
    int64_t baseByte;
    const uint8_t *At(int64_t byte) const { return base + (byte - baseByte); }
};

struct alignas(32) Scratch {
    uint16_t decoded[kScratchSamples];
    uint16_t reversed[kScratchSamples];
};

Plan MakePlan(const TQDEV_FRAME_INFO &info, int32_t rowLimit);

// Chunk `index` of `line`, counted in stream order. Mirrored rows meet their
// pixels from the right end, so stream order runs over them backwards.
inline Chunk ChunkAt(const Plan &plan, int64_t line, int64_t index) {
    const int64_t hb = plan.geo.hb;
    const int64_t slot = plan.mirror ? plan.chunksPerRow - 1 - index : index;
    Chunk chunk{};
    chunk.pixel = slot * plan.pixelsPerChunk;
    chunk.pixels = std::min(plan.pixelsPerChunk, int64_t{plan.geo.n} - chunk.pixel);
    chunk.count = chunk.pixels * hb;
    // Window column x = pixel x hb + phase; mirrored rows take column
    // width - 1 - x, so a chunk's samples end where its first bin begins.
    const int64_t column =
        plan.mirror ? plan.width - (chunk.pixel + chunk.pixels) * hb : chunk.pixel * hb;
    chunk.first = line * plan.geo.w8 + plan.left + column;
    const int64_t windowRow = line - plan.geo.g;
    chunk.row = plan.flip ? plan.geo.m - 1 - windowRow : windowRow;
    return chunk;
}

inline uint16_t *RowOf(const Plan &plan, uint16_t *destination, int64_t line) {
    const int64_t windowRow = line - plan.geo.g;
    return destination + (plan.flip ? plan.geo.m - 1 - windowRow : windowRow) * plan.geo.n;
}

// How a row's samples lie against the 8-sample groups: a head before the
// first group boundary, whole groups, a tail; all three may be empty.
struct RowSplit {
    int64_t first; // stream sample of the row's first window column
    int64_t head, groups, tail;
};

inline RowSplit SplitRow(const Plan &plan, int64_t line) {
    RowSplit row{};
    row.first = line * plan.geo.w8 + plan.left;
    const int64_t samples = plan.geo.hb == 1 ? plan.width : int64_t{plan.geo.n} * plan.geo.hb;
    row.head = std::min(samples, (8 - row.first % 8) % 8);
    row.groups = (samples - row.head) / 8;
    row.tail = samples - row.head - 8 * row.groups;
    return row;
}

template <typename Visit> void ForEachChunk(const Plan &plan, bool backward, Visit visit) {
    const int64_t lines = plan.endLine - plan.firstLine;
    for (int64_t l = 0; l < lines; ++l) {
        const int64_t line = backward ? plan.endLine - 1 - l : plan.firstLine + l;
        for (int64_t c = 0; c < plan.chunksPerRow; ++c)
            visit(ChunkAt(plan, line, backward ? plan.chunksPerRow - 1 - c : c));
    }
}

// Byte ranges as addresses, to compare the packed input with the pixels
// written over it.
struct Span {
    uintptr_t begin, end;
    bool Meets(const Span &other) const { return begin < other.end && other.begin < end; }
};

inline int64_t LineByte(const Plan &plan, int64_t line) {
    return line * plan.geo.w8 / 8 * 12;
}

// Separate packed bytes and pixels: rows in stream order.
void WalkSeparate(const Plan &plan, const UnpackKernels &kernels, const Source &source,
                  uint16_t *destination);
// Chunks in stream order or backward, each decoded whole before it is stored.
void WalkChunks(const Plan &plan, const UnpackKernels &kernels, const Source &source,
                uint16_t *destination, bool backward);
// Packed bytes and pixels that overlap.
uint32_t UnpackOverlapping(const Plan &plan, const UnpackKernels &kernels, const Source &source,
                           uint16_t *destination, const UnpackWorkspace &workspace,
                           int64_t streamFrom);

} // namespace unpacker
