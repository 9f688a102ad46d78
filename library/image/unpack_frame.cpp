// Unpacking a packed frame into 16-bit pixels. Rows whose window starts on a
// group boundary and whose binning has a fused kernel go straight from the
// packed bytes to the pixels. Other rows are cut into chunks of at most
// kChunkSamples window samples; a chunk's whole groups are decoded into a
// small stack buffer, then binned (or copied), mirrored if asked, and stored.
// Source and destination may overlap: the rows or chunks are then walked in
// an order in which no store reaches packed bytes still to be read, or, when
// no such order exists, the packed rows are first copied aside.
#include <algorithm>
#include <cstring>
#include <new>

#include "image_data.h"
#include "unpack_kernels.h"

namespace {

constexpr int64_t kChunkSamples = 2048;
// Frames with more pixel bytes than this are stored past the cache by the
// kernels that can: keeping them would push the packed data out of it.
constexpr int64_t kStreamBytes = 8 << 20;
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

// Bins of a fixed width: the compiler unrolls each bin and vectorises the
// pixels.
template <int Width> void SumBins(const uint16_t *samples, int64_t pixels, uint16_t *out) {
    for (int64_t k = 0; k < pixels; ++k) {
        uint32_t sum = 0;
        for (int s = 0; s < Width; ++s)
            sum += samples[k * Width + s];
        out[k] = static_cast<uint16_t>(std::min<uint32_t>(sum, 4095));
    }
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
    } else if (hb == 3) {
        SumBins<3>(samples, pixels, out);
    } else if (hb == 4) {
        SumBins<4>(samples, pixels, out);
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

uint16_t *RowOf(const Plan &plan, uint16_t *destination, int64_t line) {
    const int64_t windowRow = line - plan.geo.g;
    return destination + (plan.flip ? plan.geo.m - 1 - windowRow : windowRow) * plan.geo.n;
}

// Samples before the first fused group: enough to end on a group boundary
// and on a bin boundary; -1 when no count does both (a bin of 2 or 4
// starting between the window's groups' bins).
int64_t FusedHead(const Plan &plan) {
    const int64_t shift = plan.left % 8;
    for (int64_t head = 0; head <= 8 * plan.geo.hb; ++head) {
        if ((shift + head) % 8 == 0 && head % plan.geo.hb == 0)
            return head;
    }
    return -1;
}

// Rows go straight from the packed bytes to the pixels when the kernels have a
// fused form for their binning; the partial groups at either end of a row go
// through the scratch.
// A mirrored factor-2 row holds the bins of a plain row in reverse order: the
// plain row leaves out the first sample when the width is odd, and keeps the
// other sample of each pair when sub-sampling.
Plan PlainPairsOfMirrored(const Plan &plan) {
    Plan plain = plan;
    plain.mirror = false;
    plain.stream = false;
    if (plan.width % 2 != 0) {
        plain.left += 1;
        plain.width -= 1;
    }
    plain.phase = plan.subsample ? 1 - plan.phase : plan.phase;
    return plain;
}

bool CanRunFusedRows(const Plan &plan, const UnpackKernels &kernels) {
    const int64_t hb = plan.geo.hb;
    if (hb == 1)
        return !plan.mirror || kernels.decodeReversed != nullptr;
    if (hb == 2 && plan.mirror)
        return CanRunFusedRows(PlainPairsOfMirrored(plan), kernels);
    if (plan.mirror || FusedHead(plan) < 0)
        return false;
    if (hb == 2)
        return plan.subsample ? kernels.decodeKeepPhase != nullptr
                              : kernels.decodeSumPairs != nullptr;
    return (hb == 3 || hb == 4) && !plan.subsample && kernels.decodeSumBins != nullptr;
}

// A row of `samples` window samples starting `shift` samples into its first
// group: `head` samples from that group, then whole groups, then `rest`
// samples of one more group.
struct RowParts {
    int64_t shift, head, groups, rest;
};

RowParts PartsOf(const Plan &plan, int64_t samples) {
    RowParts parts{};
    parts.shift = plan.left % 8;
    parts.head = parts.shift == 0 ? 0 : std::min(8 - parts.shift, samples);
    parts.groups = (samples - parts.head) / 8;
    parts.rest = (samples - parts.head) % 8;
    return parts;
}

const uint8_t *RowPacked(const Plan &plan, const Source &source, int64_t line) {
    return source.At((line * plan.geo.w8 + plan.left) / 8 * 12);
}

// Unbinned row. Both partial groups are decoded before any pixel is stored,
// and with `backward` the whole groups from the last one, each read before
// its pixels are stored: in place that is safe when the row's pixels start
// at or after its packed bytes, and the whole groups' pixels at or after
// theirs.
void RunUnbinnedRow(const Plan &plan, const UnpackKernels &kernels, const uint8_t *packed,
                    uint16_t *out, bool backward, Scratch &scratch) {
    const RowParts parts = PartsOf(plan, plan.width);
    const uint8_t *whole = packed + (parts.head != 0 ? 12 : 0);
    if (parts.head != 0)
        kernels.decodeGroups(packed, 1, scratch.decoded);
    if (parts.rest != 0)
        kernels.decodeGroups(whole + 12 * parts.groups, 1, scratch.reversed);
    const auto groups = static_cast<size_t>(parts.groups);
    const int64_t tail = parts.head + 8 * parts.groups;
    if (plan.mirror) {
        kernels.decodeReversed(whole, groups, out + plan.width - parts.head);
        for (int64_t k = 0; k < parts.head; ++k)
            out[plan.width - 1 - k] = scratch.decoded[parts.shift + k];
        for (int64_t k = 0; k < parts.rest; ++k)
            out[plan.width - 1 - tail - k] = scratch.reversed[k];
        return;
    }
    if (backward)
        kernels.decodeGroupsBackward(whole, groups, out + parts.head);
    else
        kernels.decodeGroups(whole, groups, out + parts.head);
    std::memcpy(out, scratch.decoded + parts.shift, static_cast<size_t>(parts.head) * 2);
    std::memcpy(out + tail, scratch.reversed, static_cast<size_t>(parts.rest) * 2);
}

void RunBinnedRow(const Plan &plan, const UnpackKernels &kernels, const uint8_t *packed,
                  uint16_t *out, Scratch &scratch) {
    // Binned: the head up to a group and bin boundary and the rest after
    // the last whole unit of groups (3 groups for bins of 3) through the
    // scratch, the groups between on the fused kernel.
    const int64_t hb = plan.geo.hb, shift = plan.left % 8;
    const int64_t samples = hb * int64_t{plan.geo.n};
    const int64_t head = std::min(FusedHead(plan), samples);
    const int64_t headGroups = (shift + head + 7) / 8;
    const int64_t unit = hb == 3 ? 3 : 1;
    const int64_t groups = (samples - head) / (8 * unit) * unit;
    const int64_t rest = samples - head - 8 * groups;
    if (head != 0) {
        kernels.decodeGroups(packed, static_cast<size_t>(headGroups), scratch.decoded);
        BinSamples(plan, kernels, scratch.decoded + shift, head / hb, out);
        out += head / hb;
    }
    const uint8_t *whole = packed + 12 * headGroups;
    if (hb == 2 && plan.subsample)
        kernels.decodeKeepPhase(whole, static_cast<size_t>(groups), static_cast<int>(plan.phase),
                                plan.stream, out);
    else if (hb == 2)
        kernels.decodeSumPairs(whole, static_cast<size_t>(groups), plan.stream, out);
    else
        kernels.decodeSumBins(whole, static_cast<size_t>(groups), static_cast<int>(hb), out);
    if (rest == 0)
        return;
    kernels.decodeGroups(whole + 12 * groups, static_cast<size_t>((rest + 7) / 8), scratch.decoded);
    BinSamples(plan, kernels, scratch.decoded, rest / hb, out + 8 * groups / hb);
}

// A mirrored factor-2 row: pieces of the plain row made in the scratch and
// stored reversed from the row's end.
void RunMirroredPairsRow(const Plan &plan, const UnpackKernels &kernels, const Source &source,
                         int64_t line, uint16_t *out, Scratch &scratch) {
    const Plan plain = PlainPairsOfMirrored(plan);
    const int64_t n = plan.geo.n;
    for (int64_t done = 0; done < n; done += kChunkSamples) {
        const int64_t count = std::min(kChunkSamples, n - done);
        Plan piece = plain;
        piece.left = plain.left + 2 * done;
        piece.width = 2 * count;
        piece.geo.n = static_cast<int32_t>(count);
        RunBinnedRow(piece, kernels, RowPacked(piece, source, line), scratch.reversed, scratch);
        kernels.reverse(scratch.reversed, static_cast<size_t>(count), out + n - done - count);
    }
}

void RunFusedRow(const Plan &plan, const UnpackKernels &kernels, const Source &source,
                 uint16_t *destination, int64_t line, Scratch &scratch) {
    uint16_t *out = RowOf(plan, destination, line);
    if (plan.geo.hb == 1)
        RunUnbinnedRow(plan, kernels, RowPacked(plan, source, line), out, false, scratch);
    else if (plan.mirror)
        RunMirroredPairsRow(plan, kernels, source, line, out, scratch);
    else
        RunBinnedRow(plan, kernels, RowPacked(plan, source, line), out, scratch);
}

template <typename Visit> void ForEachChunk(const Plan &plan, bool backward, Visit visit) {
    const int64_t lines = plan.endLine - plan.firstLine;
    for (int64_t l = 0; l < lines; ++l) {
        const int64_t line = backward ? plan.endLine - 1 - l : plan.firstLine + l;
        for (int64_t c = 0; c < plan.chunksPerRow; ++c)
            visit(ChunkAt(plan, line, backward ? plan.chunksPerRow - 1 - c : c));
    }
}

// Rows written from the last up, or from their right end, each start a new
// stream of addresses that the CPU does not foresee: ask for the next row
// while this one is made.
void PrefetchRow(const Plan &plan, const uint16_t *row) {
    const auto *bytes = reinterpret_cast<const char *>(row);
    for (int64_t offset = 0; offset < int64_t{plan.geo.n} * 2; offset += 64)
        __builtin_prefetch(bytes + offset, 1);
}

// Separate packed bytes and pixels: rows in stream order.
void WalkSeparate(const Plan &plan, const UnpackKernels &kernels, const Source &source,
                  uint16_t *destination) {
    Scratch scratch;
    if (CanRunFusedRows(plan, kernels)) {
        for (int64_t line = plan.firstLine; line < plan.endLine; ++line) {
            if ((plan.flip || plan.mirror) && line + 1 < plan.endLine)
                PrefetchRow(plan, RowOf(plan, destination, line + 1));
            RunFusedRow(plan, kernels, source, destination, line, scratch);
        }
        return;
    }
    ForEachChunk(plan, false, [&](const Chunk &chunk) {
        RunChunk(plan, kernels, source, destination, chunk, scratch);
    });
}

void WalkChunks(const Plan &plan, const UnpackKernels &kernels, const Source &source,
                uint16_t *destination, bool backward) {
    Scratch scratch;
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

uintptr_t Address(const void *pointer) {
    return reinterpret_cast<uintptr_t>(pointer);
}

// In place, unbinned rows walked from the last line up never overtake packed
// bytes still to be read when each row's pixels start at or after its packed
// bytes (the lines above lie below those) and its whole groups' pixels at or
// after theirs. Pixels grow faster than packed bytes, so from some line on
// every row meets this: the first such line, endLine when none does.
int64_t FirstBackwardLine(const Plan &plan, const UnpackKernels &kernels, const Source &source,
                          uint16_t *destination) {
    if (plan.geo.hb != 1 || plan.mirror || kernels.decodeGroupsBackward == nullptr)
        return plan.endLine;
    const RowParts parts = PartsOf(plan, plan.width);
    int64_t line = plan.endLine;
    for (; line > plan.firstLine; --line) {
        const uint16_t *out = RowOf(plan, destination, line - 1);
        const uint8_t *packed = RowPacked(plan, source, line - 1);
        if (Address(out) < Address(packed) ||
            Address(out + parts.head) < Address(packed + (parts.head != 0 ? 12 : 0)))
            break;
    }
    return line;
}

// Whether a line's chunks, walked forward or backward, keep their pixels off
// the packed bytes still to be read: those of the chunks after them and of
// the lines after this one up to `end`.
bool RowOrderIsSafe(const Plan &plan, const Source &source, const uint16_t *destination,
                    int64_t line, int64_t end, bool backward) {
    Span later{0, 0};
    bool any = line + 1 < end;
    if (any)
        later = {Address(source.At(LineByte(plan, line + 1))),
                 Address(source.At(LineByte(plan, end)))};
    for (int64_t c = 0; c < plan.chunksPerRow; ++c) {
        const Chunk chunk = ChunkAt(plan, line, backward ? c : plan.chunksPerRow - 1 - c);
        if (any && PixelBytes(plan, destination, chunk).Meets(later))
            return false;
        const Span packed = PackedBytes(source, chunk);
        later = any ? Span{std::min(later.begin, packed.begin), std::max(later.end, packed.end)}
                    : packed;
        any = true;
    }
    return true;
}

// The lines before `end`, walked from the first down, each row's chunks in
// the order that is safe; false when some row has none.
bool RowsHaveSafeOrders(const Plan &plan, const Source &source, const uint16_t *destination,
                        int64_t end) {
    for (int64_t line = plan.firstLine; line < end; ++line) {
        if (!RowOrderIsSafe(plan, source, destination, line, end, false) &&
            !RowOrderIsSafe(plan, source, destination, line, end, true))
            return false;
    }
    return true;
}

// The frame's lines from `split` on walked backward on the fused kernels,
// then the lines before it through the chunks.
void WalkSplit(const Plan &plan, const UnpackKernels &kernels, const Source &source,
               uint16_t *destination, int64_t split) {
    Scratch scratch;
    for (int64_t line = plan.endLine - 1; line >= split; --line)
        RunUnbinnedRow(plan, kernels, RowPacked(plan, source, line), RowOf(plan, destination, line),
                       true, scratch);
    for (int64_t line = plan.firstLine; line < split; ++line) {
        const bool backward = !RowOrderIsSafe(plan, source, destination, line, split, false);
        for (int64_t c = 0; c < plan.chunksPerRow; ++c)
            RunChunk(plan, kernels, source, destination,
                     ChunkAt(plan, line, backward ? plan.chunksPerRow - 1 - c : c), scratch);
    }
}

// Reverses `count` pixels in place, a chunk from either end at a time.
void ReverseInPlace(const UnpackKernels &kernels, uint16_t *pixels, int64_t count,
                    Scratch &scratch) {
    constexpr int64_t kPiece = kChunkSamples / 2;
    int64_t low = 0, high = count;
    for (; high - low >= 2 * kPiece; low += kPiece, high -= kPiece) {
        std::memcpy(scratch.decoded, pixels + low, kPiece * 2);
        kernels.reverse(pixels + high - kPiece, kPiece, pixels + low);
        kernels.reverse(scratch.decoded, kPiece, pixels + high - kPiece);
    }
    std::memcpy(scratch.decoded, pixels + low, static_cast<size_t>(high - low) * 2);
    kernels.reverse(scratch.decoded, static_cast<size_t>(high - low), pixels + low);
}

void SwapRows(uint16_t *a, uint16_t *b, int64_t count, Scratch &scratch) {
    for (int64_t done = 0; done < count; done += kChunkSamples) {
        const auto bytes = static_cast<size_t>(std::min(kChunkSamples, count - done)) * 2;
        std::memcpy(scratch.decoded, a + done, bytes);
        std::memcpy(a + done, b + done, bytes);
        std::memcpy(b + done, scratch.decoded, bytes);
    }
}

// A whole flipped or mirrored frame has no walk that keeps behind its input,
// but its pixels are those of the plain frame with rows or columns reversed:
// the plain frame is unpacked in place, then turned. Mirroring commutes with
// binning only when the bins tile the row and all of each bin counts.
bool CanTurnAfterwards(const Plan &plan) {
    const bool whole = plan.endLine - plan.firstLine == plan.geo.m;
    const bool mirrorCommutes =
        !plan.mirror || plan.geo.hb == 1 || (!plan.subsample && plan.width % plan.geo.hb == 0);
    return (plan.flip || plan.mirror) && whole && mirrorCommutes;
}

void Turn(const Plan &plan, const UnpackKernels &kernels, uint16_t *destination) {
    Scratch scratch;
    const int64_t m = plan.geo.m, n = plan.geo.n;
    if (plan.flip && plan.mirror) {
        ReverseInPlace(kernels, destination, m * n, scratch);
    } else if (plan.flip) {
        for (int64_t row = 0; row < m / 2; ++row)
            SwapRows(destination + row * n, destination + (m - 1 - row) * n, n, scratch);
    } else {
        for (int64_t row = 0; row < m; ++row)
            ReverseInPlace(kernels, destination + row * n, n, scratch);
    }
}

// In place, rows on the fused kernels walked from the first line down never
// overtake their input when every row's pixels end before its packed bytes
// begin: binned frames shrink that much.
bool RowsEndBeforeTheirInput(const Plan &plan, const Source &source, uint16_t *destination) {
    for (int64_t line = plan.firstLine; line < plan.endLine; ++line) {
        if (Address(RowOf(plan, destination, line) + plan.geo.n) >
            Address(RowPacked(plan, source, line)))
            return false;
    }
    return true;
}

// Whether the frame has a walk that needs no copy of its packed rows; runs
// it when `run`.
bool WalkWithoutCopy(const Plan &plan, const UnpackKernels &kernels, const Source &source,
                     uint16_t *destination, bool run) {
    if (plan.geo.hb > 1 && CanRunFusedRows(plan, kernels) &&
        RowsEndBeforeTheirInput(plan, source, destination)) {
        if (run)
            WalkSeparate(plan, kernels, source, destination);
        return true;
    }
    const int64_t split = FirstBackwardLine(plan, kernels, source, destination);
    if (RowsHaveSafeOrders(plan, source, destination, split)) {
        if (run)
            WalkSplit(plan, kernels, source, destination, split);
        return true;
    }
    // Other frames whose pixels outgrow the packed bytes are walked from the
    // end.
    if (WalkIsSafe(plan, source, destination, true)) {
        if (run)
            WalkChunks(plan, kernels, source, destination, true);
        return true;
    }
    return false;
}

// Whether the frame, or the plain frame turned afterwards, has such a walk;
// runs it when `run`.
bool UnpackWithoutCopy(const Plan &plan, const UnpackKernels &kernels, const Source &source,
                       uint16_t *destination, bool run) {
    if (WalkWithoutCopy(plan, kernels, source, destination, run))
        return true;
    if (!CanTurnAfterwards(plan))
        return false;
    Plan plain = plan;
    plain.flip = plain.mirror = false;
    if (!WalkWithoutCopy(plain, kernels, source, destination, run))
        return false;
    if (run)
        Turn(plan, kernels, destination);
    return true;
}

uint32_t UnpackOverlapping(const Plan &plan, const UnpackKernels &kernels, const Source &source,
                           uint16_t *destination, const ScratchMemory &memory) {
    if (UnpackWithoutCopy(plan, kernels, source, destination, true))
        return TQDEV_RESULT_OK;
    const int64_t begin = LineByte(plan, plan.firstLine);
    const int64_t bytes = LineByte(plan, plan.endLine) - begin;
    auto *copy = static_cast<uint8_t *>(memory.allocate(static_cast<uint64_t>(bytes)));
    if (copy == nullptr)
        return TQDEV_RESULT_OUT_OF_MEMORY;
    std::memcpy(copy, source.At(begin), static_cast<size_t>(bytes));
    WalkSeparate(plan, kernels, Source{copy, begin}, destination);
    memory.release(copy);
    return TQDEV_RESULT_OK;
}

} // namespace

const ScratchMemory &HeapScratchMemory() {
    static constexpr ScratchMemory heap{
        [](uint64_t bytes) -> void * { return new (std::nothrow) uint8_t[bytes]; },
        [](void *block) { delete[] static_cast<uint8_t *>(block); }};
    return heap;
}

namespace {

bool Overlaps(const Plan &plan, const Source &packed, const uint16_t *destination) {
    const Span input{Address(packed.At(LineByte(plan, plan.firstLine))),
                     Address(packed.At(LineByte(plan, plan.endLine)))};
    const auto output = Address(destination);
    const Span pixels{output,
                      output + static_cast<uintptr_t>(int64_t{plan.geo.m} * plan.geo.n * 2)};
    return input.Meets(pixels);
}

} // namespace

bool UnpackNeedsMemory(const TQDEV_FRAME_INFO &info, int32_t rowLimit, const void *source,
                       uint16_t *destination) {
    if (!FrameInfoIsConsistent(info))
        return false;
    const Plan plan = MakePlan(info, rowLimit);
    if (plan.endLine <= plan.firstLine || plan.geo.n == 0)
        return false;
    const Source packed{static_cast<const uint8_t *>(source), 0};
    return Overlaps(plan, packed, destination) &&
           !UnpackWithoutCopy(plan, BestUnpackKernels(), packed, destination, false);
}

uint32_t UnpackFrameWith(const UnpackKernels &kernels, const TQDEV_FRAME_INFO &info,
                         int32_t rowLimit, const void *source, uint16_t *destination,
                         const ScratchMemory &memory) {
    if (!FrameInfoIsConsistent(info))
        return TQDEV_RESULT_INVALID_PARAMETER;
    const Plan plan = MakePlan(info, rowLimit);
    if (plan.endLine <= plan.firstLine || plan.geo.n == 0)
        return TQDEV_RESULT_OK;
    const Source packed{static_cast<const uint8_t *>(source), 0};
    if (Overlaps(plan, packed, destination))
        return UnpackOverlapping(plan, kernels, packed, destination, memory);
    Plan separate = plan;
    separate.stream =
        kernels.finishStreaming != nullptr && int64_t{plan.geo.m} * plan.geo.n * 2 > kStreamBytes;
    WalkSeparate(separate, kernels, packed, destination);
    if (separate.stream)
        kernels.finishStreaming();
    return TQDEV_RESULT_OK;
}

uint32_t UnpackFrame(const TQDEV_FRAME_INFO &info, int32_t rowLimit, const void *source,
                     uint16_t *destination, const ScratchMemory &memory) {
    return UnpackFrameWith(BestUnpackKernels(), info, rowLimit, source, destination, memory);
}
