// Unpacking a packed frame into 16-bit pixels. Each image row is cut into
// chunks of at most kChunkSamples window samples; a chunk's whole groups are
// decoded into a small stack buffer, then binned (or copied), mirrored if
// asked, and stored. Source and destination may be the same buffer: the
// chunks are then walked in an order in which no store reaches packed bytes
// that a later chunk still reads, or, when no such order exists, the packed
// rows are first copied aside.
#include <algorithm>
#include <cstring>
#include <new>

#include "image_data.h"
#include "unpack_kernels.h"

namespace {

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
};

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

Plan MakePlan(const TQDEV_FRAME_INFO &info, int32_t rowLimit) {
    Plan plan{};
    plan.geo = DeriveGeometry(info);
    plan.left = info.left;
    plan.width = info.width;
    plan.mirror = (info.flags & TQDEV_FRAME_MIRROR) != 0;
    plan.flip = (info.flags & TQDEV_FRAME_FLIP) != 0;
    plan.subsample = (info.ext_flags & TQDEV_FRAME_EXT_SUBSAMPLE) != 0 ||
                     (info.flags & TQDEV_FRAME_SUBSAMPLE) != 0;
    plan.phase = (info.ext_flags & TQDEV_FRAME_EXT_PHASE1) != 0 ? 1 % plan.geo.hb : 0;
    plan.firstLine = plan.geo.g;
    plan.endLine = std::clamp<int64_t>(rowLimit, plan.firstLine, int64_t{plan.geo.g} + plan.geo.m);
    plan.pixelsPerChunk = std::max<int64_t>(1, kChunkSamples / plan.geo.hb);
    plan.chunksPerRow = (plan.geo.n + plan.pixelsPerChunk - 1) / plan.pixelsPerChunk;
    return plan;
}

// Chunk `index` of `line`, counted in stream order. Mirrored rows meet their
// pixels from the right end, so stream order runs over them backwards.
Chunk ChunkAt(const Plan &plan, int64_t line, int64_t index) {
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

// Bins (or copies) `samples`, already in column order, into `out`.
void BinSamples(const Plan &plan, const UnpackKernels &kernels, const uint16_t *samples,
                int64_t pixels, uint16_t *out) {
    const int64_t hb = plan.geo.hb;
    if (hb == 1) {
        std::memcpy(out, samples, static_cast<size_t>(pixels) * 2);
    } else if (plan.subsample) {
        if (hb == 2) {
            kernels.keepEven(samples + plan.phase, static_cast<size_t>(pixels), out);
        } else {
            for (int64_t k = 0; k < pixels; ++k)
                out[k] = samples[k * hb + plan.phase];
        }
    } else if (hb == 2) {
        kernels.sumPairs(samples, static_cast<size_t>(pixels), out);
    } else {
        for (int64_t k = 0; k < pixels; ++k) {
            uint32_t sum = 0;
            for (int64_t s = 0; s < hb; ++s)
                sum += samples[k * hb + s];
            out[k] = static_cast<uint16_t>(std::min<uint32_t>(sum, 4095));
        }
    }
}

// A bin wider than a chunk: one pixel, decoded piece by piece.
uint16_t WideBinPixel(const Plan &plan, const UnpackKernels &kernels, const Source &source,
                      const Chunk &chunk, Scratch &scratch) {
    const int64_t hb = plan.geo.hb;
    if (plan.subsample) {
        const int64_t sample =
            plan.mirror ? chunk.first + hb - 1 - plan.phase : chunk.first + plan.phase;
        kernels.decodeGroups(source.At(sample / 8 * 12), 1, scratch.decoded);
        return scratch.decoded[sample % 8];
    }
    uint32_t sum = 0;
    for (int64_t done = 0; done < chunk.count && sum < 4095; done += kChunkSamples) {
        const int64_t first = chunk.first + done;
        const int64_t count = std::min(kChunkSamples, chunk.count - done);
        const int64_t group = first / 8;
        kernels.decodeGroups(source.At(group * 12),
                             static_cast<size_t>((first + count + 7) / 8 - group), scratch.decoded);
        for (int64_t s = 0; s < count; ++s)
            sum += scratch.decoded[first - group * 8 + s];
    }
    return static_cast<uint16_t>(std::min<uint32_t>(sum, 4095));
}

// Decodes all of a chunk's samples before storing any pixel, so a chunk may
// overlap its own packed bytes.
void RunChunk(const Plan &plan, const UnpackKernels &kernels, const Source &source,
              uint16_t *destination, const Chunk &chunk, Scratch &scratch) {
    uint16_t *out = destination + chunk.row * plan.geo.n + chunk.pixel;
    if (chunk.count > kChunkSamples) {
        *out = WideBinPixel(plan, kernels, source, chunk, scratch);
        return;
    }
    const int64_t group = chunk.first / 8;
    kernels.decodeGroups(source.At(group * 12),
                         static_cast<size_t>((chunk.first + chunk.count + 7) / 8 - group),
                         scratch.decoded);
    const uint16_t *samples = scratch.decoded + (chunk.first - group * 8);
    if (plan.mirror) {
        kernels.reverse(samples, static_cast<size_t>(chunk.count), scratch.reversed);
        samples = scratch.reversed;
    }
    BinSamples(plan, kernels, samples, chunk.pixels, out);
}

// Unbinned rows in column order whose window starts on a group boundary:
// whole groups decode straight into the row, only the last few samples
// pass through the scratch buffer.
bool CanDecodeDirectly(const Plan &plan) {
    return plan.geo.hb == 1 && !plan.mirror && plan.left % 8 == 0;
}

void RunDirectRow(const Plan &plan, const UnpackKernels &kernels, const Source &source,
                  uint16_t *destination, int64_t line, Scratch &scratch) {
    const int64_t windowRow = line - plan.geo.g;
    uint16_t *out = destination + (plan.flip ? plan.geo.m - 1 - windowRow : windowRow) * plan.geo.n;
    const int64_t first = line * plan.geo.w8 + plan.left;
    const int64_t groups = plan.width / 8;
    kernels.decodeGroups(source.At(first / 8 * 12), static_cast<size_t>(groups), out);
    const int64_t rest = plan.width % 8;
    if (rest != 0) {
        kernels.decodeGroups(source.At((first / 8 + groups) * 12), 1, scratch.decoded);
        std::memcpy(out + groups * 8, scratch.decoded, static_cast<size_t>(rest) * 2);
    }
}

template <typename Visit> void ForEachChunk(const Plan &plan, bool backward, Visit visit) {
    const int64_t lines = plan.endLine - plan.firstLine;
    for (int64_t l = 0; l < lines; ++l) {
        const int64_t line = backward ? plan.endLine - 1 - l : plan.firstLine + l;
        for (int64_t c = 0; c < plan.chunksPerRow; ++c)
            visit(ChunkAt(plan, line, backward ? plan.chunksPerRow - 1 - c : c));
    }
}

void Walk(const Plan &plan, const UnpackKernels &kernels, const Source &source,
          uint16_t *destination, bool backward, bool direct) {
    Scratch scratch;
    if (direct) {
        for (int64_t line = plan.firstLine; line < plan.endLine; ++line)
            RunDirectRow(plan, kernels, source, destination, line, scratch);
        return;
    }
    ForEachChunk(plan, backward, [&](const Chunk &chunk) {
        RunChunk(plan, kernels, source, destination, chunk, scratch);
    });
}

// Byte ranges as addresses, to compare the packed input with the pixels
// written over it.
struct Span {
    uintptr_t begin, end;
    bool Meets(const Span &other) const { return begin < other.end && other.begin < end; }
};

Span PackedBytes(const Source &source, const Chunk &chunk) {
    const int64_t first = chunk.first / 8 * 12;
    const int64_t end = (chunk.first + chunk.count + 7) / 8 * 12;
    return {reinterpret_cast<uintptr_t>(source.At(first)),
            reinterpret_cast<uintptr_t>(source.At(first)) + static_cast<uintptr_t>(end - first)};
}

Span PixelBytes(const Plan &plan, const uint16_t *destination, const Chunk &chunk) {
    const auto begin =
        reinterpret_cast<uintptr_t>(destination + chunk.row * plan.geo.n + chunk.pixel);
    return {begin, begin + static_cast<uintptr_t>(chunk.pixels) * 2};
}

// True when walking the chunks in the given order never stores a pixel over
// packed bytes that a chunk visited later still reads. The chunks visited
// after a given one all read within one span: the hull of their packed bytes.
bool WalkIsSafe(const Plan &plan, const Source &source, const uint16_t *destination,
                bool backward) {
    bool safe = true;
    bool any = false;
    Span later{0, 0};
    // Visit in the opposite order of the walk, growing the hull of the chunks
    // that the walk meets after the current one.
    ForEachChunk(plan, !backward, [&](const Chunk &chunk) {
        if (!safe)
            return;
        if (any && PixelBytes(plan, destination, chunk).Meets(later))
            safe = false;
        const Span packed = PackedBytes(source, chunk);
        later = any ? Span{std::min(later.begin, packed.begin), std::max(later.end, packed.end)}
                    : packed;
        any = true;
    });
    return safe;
}

int64_t LineByte(const Plan &plan, int64_t line) {
    return line * plan.geo.w8 / 8 * 12;
}

uint32_t UnpackOverlapping(const Plan &plan, const UnpackKernels &kernels, const Source &source,
                           uint16_t *destination) {
    // Without flip the pixels usually outgrow the packed bytes, so walk
    // from the end; binned or windowed frames shrink, so walk from the start.
    if (WalkIsSafe(plan, source, destination, true)) {
        Walk(plan, kernels, source, destination, true, false);
        return TQDEV_RESULT_OK;
    }
    if (WalkIsSafe(plan, source, destination, false)) {
        Walk(plan, kernels, source, destination, false, false);
        return TQDEV_RESULT_OK;
    }
    const int64_t begin = LineByte(plan, plan.firstLine);
    const int64_t bytes = LineByte(plan, plan.endLine) - begin;
    auto *copy = new (std::nothrow) uint8_t[static_cast<size_t>(bytes)];
    if (copy == nullptr)
        return TQDEV_RESULT_OUT_OF_MEMORY;
    std::memcpy(copy, source.At(begin), static_cast<size_t>(bytes));
    Walk(plan, kernels, Source{copy, begin}, destination, false, CanDecodeDirectly(plan));
    delete[] copy;
    return TQDEV_RESULT_OK;
}

} // namespace

uint32_t UnpackFrameWith(const UnpackKernels &kernels, const TQDEV_FRAME_INFO &info,
                         int32_t rowLimit, const void *source, uint16_t *destination) {
    if (!FrameInfoIsConsistent(info))
        return TQDEV_RESULT_INVALID_PARAMETER;
    const Plan plan = MakePlan(info, rowLimit);
    if (plan.endLine <= plan.firstLine || plan.geo.n == 0)
        return TQDEV_RESULT_OK;
    const Source packed{static_cast<const uint8_t *>(source), 0};
    const Span input{reinterpret_cast<uintptr_t>(packed.At(LineByte(plan, plan.firstLine))),
                     reinterpret_cast<uintptr_t>(packed.At(LineByte(plan, plan.endLine)))};
    const auto output = reinterpret_cast<uintptr_t>(destination);
    const Span pixels{output,
                      output + static_cast<uintptr_t>(int64_t{plan.geo.m} * plan.geo.n * 2)};
    if (input.Meets(pixels))
        return UnpackOverlapping(plan, kernels, packed, destination);
    Walk(plan, kernels, packed, destination, false, CanDecodeDirectly(plan));
    return TQDEV_RESULT_OK;
}

uint32_t UnpackFrame(const TQDEV_FRAME_INFO &info, int32_t rowLimit, const void *source,
                     uint16_t *destination) {
    return UnpackFrameWith(BestUnpackKernels(), info, rowLimit, source, destination);
}
