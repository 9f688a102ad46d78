// Unpacking a packed frame into 16-bit pixels. Rows whose binning has a
// fused kernel go straight from the packed bytes to the pixels, their partial
// first and last groups through a small scratch, so any window start stays on
// the fused kernels. Other rows are cut into chunks of at most kChunkSamples
// window samples; a chunk's whole groups are decoded into a small stack
// buffer, then binned (or copied), mirrored if asked, and stored.
// Source and destination may overlap: the rows or chunks are then walked in
// an order in which no store reaches packed bytes still to be read; rows that
// no such order can keep behind their input (the first rows of a frame with
// lines above its window) are copied to the workspace first. Only when no
// such walk exists are all packed rows copied aside, into the workspace when
// the caller sized it for that.
#include <algorithm>
#include <cstdlib>
#include <cstring>

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
    bool stream; // pixels stored past the cache where a kernel can
};

int64_t PixelBytes(const Plan &plan) {
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

// Sums of `Factor` samples, limited to 4095; the factor known at compile
// time lets the loop vectorise.
template <int Factor> void SumBins(const uint16_t *samples, int64_t pixels, uint16_t *out) {
    for (int64_t k = 0; k < pixels; ++k) {
        uint32_t sum = 0;
        for (int s = 0; s < Factor; ++s)
            sum += samples[k * Factor + s];
        out[k] = static_cast<uint16_t>(sum < 4095 ? sum : 4095);
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

// How a row's samples lie against the 8-sample groups: a head before the
// first group boundary, whole groups, a tail; all three may be empty.
struct RowSplit {
    int64_t first; // stream sample of the row's first window column
    int64_t head, groups, tail;
};

RowSplit SplitRow(const Plan &plan, int64_t line) {
    RowSplit row{};
    row.first = line * plan.geo.w8 + plan.left;
    const int64_t samples = plan.geo.hb == 1 ? plan.width : int64_t{plan.geo.n} * plan.geo.hb;
    row.head = std::min(samples, (8 - row.first % 8) % 8);
    row.groups = (samples - row.head) / 8;
    row.tail = samples - row.head - 8 * row.groups;
    return row;
}

// Rows go straight from the packed bytes to the pixels when the kernels have
// a fused form for their binning; binned rows need every pair in one group.
// Mirrored pairs and bins of four are made from pair sums.
bool CanRunFusedRows(const Plan &plan, const UnpackKernels &kernels) {
    if (plan.geo.hb == 1)
        return !plan.mirror || kernels.decodeReversed != nullptr;
    if (plan.geo.hb == 3)
        return !plan.mirror && !plan.subsample && kernels.decodeSumTriples != nullptr;
    if (plan.left % 2 != 0)
        return false;
    if (plan.geo.hb == 2 && !plan.mirror)
        return plan.subsample ? kernels.decodeKeepPhase != nullptr
                              : kernels.decodeSumPairs != nullptr;
    const bool pairsFill =
        plan.geo.hb == 2 ? plan.mirror && plan.width % 2 == 0 : plan.geo.hb == 4 && !plan.mirror;
    return pairsFill && !plan.subsample && kernels.decodeSumPairs != nullptr;
}

// A row from its pair sums, made a segment at a time in the scratch: bins of
// four sum two pair sums (4095 caps the same either way), mirrored pairs
// are the pair sums in reverse.
void RunPairedRow(const Plan &plan, const UnpackKernels &kernels, const Source &source,
                  uint16_t *out, const RowSplit &row, Scratch &scratch) {
    constexpr int64_t kGroupsPerSegment = 500;
    uint16_t *pairs = scratch.decoded;
    uint16_t *group = scratch.reversed;
    const bool quads = plan.geo.hb == 4;
    int64_t have = 0, done = 0; // pair sums in the scratch, pair sums used
    auto flush = [&](bool last) {
        const int64_t used = quads && !last ? have & ~int64_t{1} : have;
        if (quads)
            kernels.sumPairs(pairs, static_cast<size_t>(used / 2), out + done / 2);
        else
            kernels.reverse(pairs, static_cast<size_t>(used), out + plan.geo.n - done - used);
        done += used;
        if (have > used)
            pairs[0] = pairs[used];
        have -= used;
    };
    const uint8_t *middle = source.At((row.first + row.head) / 8 * 12);
    if (row.head != 0) {
        kernels.decodeGroups(source.At(row.first / 8 * 12), 1, group);
        kernels.sumPairs(group + row.first % 8, static_cast<size_t>(row.head / 2), pairs);
        have = row.head / 2;
    }
    for (int64_t g = 0; g < row.groups; g += kGroupsPerSegment) {
        const int64_t count = std::min(kGroupsPerSegment, row.groups - g);
        kernels.decodeSumPairs(middle + 12 * g, static_cast<size_t>(count), false, pairs + have);
        have += 4 * count;
        flush(false);
    }
    if (row.tail != 0) {
        kernels.decodeGroups(middle + 12 * row.groups, 1, group);
        kernels.sumPairs(group, static_cast<size_t>(row.tail / 2), pairs + have);
        have += row.tail / 2;
    }
    flush(true);
}

// Bins of 3: three groups make 8 pixels. The samples up to a group boundary
// that is also a bin boundary, and those after the last whole three groups,
// go through the scratch.
void RunTriplesRow(const Plan &plan, const UnpackKernels &kernels, const Source &source,
                   uint16_t *out, int64_t line, Scratch &scratch) {
    const int64_t first = line * plan.geo.w8 + plan.left;
    const int64_t samples = 3 * int64_t{plan.geo.n};
    int64_t head = 0;
    while ((first + head) % 8 != 0 || head % 3 != 0)
        ++head;
    head = std::min(head, samples);
    const uint8_t *packed = source.At(first / 8 * 12);
    const int64_t headGroups = (first % 8 + head + 7) / 8;
    const int64_t groups = (samples - head) / 24 * 3;
    const int64_t rest = samples - head - 8 * groups;
    if (head != 0) {
        kernels.decodeGroups(packed, static_cast<size_t>(headGroups), scratch.decoded);
        BinSamples(plan, kernels, scratch.decoded + first % 8, head / 3, out);
        out += head / 3;
    }
    const uint8_t *whole = packed + 12 * headGroups;
    kernels.decodeSumTriples(whole, static_cast<size_t>(groups), out);
    if (rest == 0)
        return;
    kernels.decodeGroups(whole + 12 * groups, static_cast<size_t>((rest + 7) / 8), scratch.decoded);
    BinSamples(plan, kernels, scratch.decoded, rest / 3, out + 8 * groups / 3);
}

// Stores unbinned samples as row columns first .. first + count - 1.
void PlaceSamples(const Plan &plan, uint16_t *out, int64_t first, const uint16_t *samples,
                  int64_t count) {
    for (int64_t k = 0; k < count; ++k)
        out[plan.mirror ? plan.width - 1 - (first + k) : first + k] = samples[k];
}

void RunFusedRow(const Plan &plan, const UnpackKernels &kernels, const Source &source,
                 uint16_t *destination, int64_t line, Scratch &scratch) {
    uint16_t *out = RowOf(plan, destination, line);
    const RowSplit row = SplitRow(plan, line);
    const uint8_t *head = source.At(row.first / 8 * 12);
    const uint8_t *middle = source.At((row.first + row.head) / 8 * 12);
    const uint8_t *tail = middle + 12 * row.groups;
    const auto groups = static_cast<size_t>(row.groups);
    if (plan.geo.hb == 1) {
        if (row.head != 0) {
            kernels.decodeGroups(head, 1, scratch.decoded);
            PlaceSamples(plan, out, 0, scratch.decoded + row.first % 8, row.head);
        }
        if (plan.mirror)
            kernels.decodeReversed(middle, groups, out + plan.width - row.head);
        else
            kernels.decodeGroups(middle, groups, out + row.head);
        if (row.tail != 0) {
            kernels.decodeGroups(tail, 1, scratch.decoded);
            PlaceSamples(plan, out, row.head + 8 * row.groups, scratch.decoded, row.tail);
        }
        return;
    }
    if (plan.geo.hb == 3) {
        RunTriplesRow(plan, kernels, source, out, line, scratch);
        return;
    }
    if (plan.geo.hb == 4 || plan.mirror) {
        RunPairedRow(plan, kernels, source, out, row, scratch);
        return;
    }
    // Factor 2: every whole group makes 4 pixels.
    if (row.head != 0) {
        kernels.decodeGroups(head, 1, scratch.decoded);
        BinSamples(plan, kernels, scratch.decoded + row.first % 8, row.head / 2, out);
    }
    uint16_t *pixels = out + row.head / 2;
    if (plan.subsample)
        kernels.decodeKeepPhase(middle, groups, static_cast<int>(plan.phase), plan.stream, pixels);
    else
        kernels.decodeSumPairs(middle, groups, plan.stream, pixels);
    if (row.tail != 0) {
        kernels.decodeGroups(tail, 1, scratch.decoded);
        BinSamples(plan, kernels, scratch.decoded, row.tail / 2, pixels + 4 * row.groups);
    }
}

// In place, unbinned rows in column order walked from the last line up, and
// each line from its end, never overtake packed bytes still to be read when
// a row's pixels start at or after its packed bytes (its partial groups are
// decoded before anything of it is stored). Pixels grow faster than packed
// bytes, so only the first rows of a frame can fail this: those are copied to
// the workspace beforehand and made from there at the end. Returns how many
// first rows need that, or -1 when a later row fails too (a window that
// leaves much of each line out).
int64_t RowsBehindTheirInput(const Plan &plan, const UnpackKernels &kernels, uintptr_t source,
                             uintptr_t destination) {
    if (plan.geo.hb != 1 || plan.mirror || kernels.decodeGroupsBackward == nullptr)
        return -1;
    int64_t leading = 0;
    for (int64_t line = plan.firstLine; line < plan.endLine; ++line) {
        const RowSplit row = SplitRow(plan, line);
        const int64_t windowRow = line - plan.geo.g;
        const int64_t outRow = plan.flip ? plan.geo.m - 1 - windowRow : windowRow;
        const uintptr_t pixels = destination + static_cast<uintptr_t>(outRow * plan.geo.n * 2);
        const uintptr_t head = source + static_cast<uintptr_t>(row.first / 8 * 12);
        const uintptr_t middle = source + static_cast<uintptr_t>((row.first + row.head) / 8 * 12);
        const bool behind =
            pixels >= head && pixels + static_cast<uintptr_t>(row.head) * 2 >= middle;
        if (behind)
            continue;
        if (leading != line - plan.firstLine)
            return -1;
        leading = line - plan.firstLine + 1;
    }
    return leading;
}

void RunRowBackward(const Plan &plan, const UnpackKernels &kernels, const Source &source,
                    uint16_t *destination, int64_t line, Scratch &scratch) {
    auto decodeBackward =
        plan.stream ? kernels.decodeGroupsBackwardStreaming : kernels.decodeGroupsBackward;
    uint16_t *out = RowOf(plan, destination, line);
    const RowSplit row = SplitRow(plan, line);
    const uint8_t *middle = source.At((row.first + row.head) / 8 * 12);
    // Both partial groups are read before any pixel of the row is stored.
    uint16_t *head = scratch.decoded;
    uint16_t *tail = scratch.reversed;
    if (row.head != 0)
        kernels.decodeGroups(source.At(row.first / 8 * 12), 1, head);
    if (row.tail != 0)
        kernels.decodeGroups(middle + 12 * row.groups, 1, tail);
    decodeBackward(middle, static_cast<size_t>(row.groups), out + row.head);
    auto store = [&](uint16_t *to, const uint16_t *samples, int64_t count) {
        if (plan.stream)
            kernels.storeStreaming(to, samples, static_cast<size_t>(count));
        else
            std::memcpy(to, samples, static_cast<size_t>(count) * 2);
    };
    store(out, head + row.first % 8, row.head);
    store(out + row.head + 8 * row.groups, tail, row.tail);
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

// `source` is the address of stream byte 0.
Span PackedBytes(uintptr_t source, const Chunk &chunk) {
    const int64_t first = chunk.first / 8 * 12;
    const int64_t end = (chunk.first + chunk.count + 7) / 8 * 12;
    return {source + static_cast<uintptr_t>(first), source + static_cast<uintptr_t>(end)};
}

Span PixelBytes(const Plan &plan, uintptr_t destination, const Chunk &chunk) {
    const uintptr_t begin =
        destination + static_cast<uintptr_t>((chunk.row * plan.geo.n + chunk.pixel) * 2);
    return {begin, begin + static_cast<uintptr_t>(chunk.pixels) * 2};
}

// True when walking the chunks in the given order never stores a pixel over
// packed bytes that a chunk visited later still reads. The chunks visited
// after a given one all read within one span: the hull of their packed bytes.
bool WalkIsSafe(const Plan &plan, uintptr_t source, uintptr_t destination, bool backward) {
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

// Memory from the caller's workspace when it is large enough, else from its
// allocator (the C heap when it has none), given back at the end.
class Borrowed {
  public:
    Borrowed(const UnpackWorkspace &workspace, int64_t bytes) : workspace_(workspace) {
        if (bytes <= 0)
            return;
        if (workspace.buffer != nullptr && static_cast<uint64_t>(bytes) <= workspace.bytes) {
            data_ = static_cast<uint8_t *>(workspace.buffer);
            return;
        }
        const auto size = static_cast<uint64_t>(bytes);
        data_ = static_cast<uint8_t *>(workspace.allocate != nullptr
                                           ? workspace.allocate(size)
                                           : std::malloc(static_cast<size_t>(size)));
        owned_ = data_ != nullptr;
    }
    ~Borrowed() {
        if (!owned_)
            return;
        if (workspace_.release != nullptr)
            workspace_.release(data_);
        else
            std::free(data_);
    }
    Borrowed(const Borrowed &) = delete;
    Borrowed &operator=(const Borrowed &) = delete;
    uint8_t *data() const { return data_; }

  private:
    const UnpackWorkspace &workspace_;
    uint8_t *data_ = nullptr;
    bool owned_ = false;
};

int64_t LeadingRowBytes(const Plan &plan, int64_t leading) {
    return LineByte(plan, plan.firstLine + leading) - LineByte(plan, plan.firstLine);
}

// Reverses `count` pixels in place, a piece from either end at a time.
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

// A flipped or mirrored frame has no walk that keeps behind its input, but
// its pixels are those of the plain frame with rows or columns reversed: the
// plain frame is unpacked in place, then turned. Rows change places only when
// all of them are made (rows left out keep what the buffer held); mirroring
// turns each row made. Mirroring commutes with binning only when the bins
// tile the row and all of each bin counts.
bool CanTurnAfterwards(const Plan &plan) {
    const bool whole = plan.endLine - plan.firstLine == plan.geo.m;
    const bool mirrorCommutes =
        !plan.mirror || plan.geo.hb == 1 || (!plan.subsample && plan.width % plan.geo.hb == 0);
    return (plan.flip || plan.mirror) && (whole || !plan.flip) && mirrorCommutes;
}

Plan PlainOf(const Plan &plan) {
    Plan plain = plan;
    plain.flip = plain.mirror = false;
    return plain;
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
        for (int64_t row = 0; row < plan.endLine - plan.firstLine; ++row)
            ReverseInPlace(kernels, destination + row * n, n, scratch);
    }
}

// The first rows the backward walk leaves to the workspace, for the frame or
// else for its plain form turned afterwards (`turned`); -1 when neither has
// that walk.
int64_t LeadingRows(const Plan &plan, const UnpackKernels &kernels, uintptr_t source,
                    uintptr_t destination, bool *turned) {
    *turned = false;
    const int64_t leading = RowsBehindTheirInput(plan, kernels, source, destination);
    if (leading >= 0 || !CanTurnAfterwards(plan))
        return leading;
    const int64_t plain = RowsBehindTheirInput(PlainOf(plan), kernels, source, destination);
    *turned = plain >= 0;
    return plain;
}

uint32_t WalkBehindInput(const Plan &plan, const UnpackKernels &kernels, const Source &source,
                         uint16_t *destination, const UnpackWorkspace &workspace, int64_t leading) {
    const int64_t begin = LineByte(plan, plan.firstLine);
    const int64_t bytes = LeadingRowBytes(plan, leading);
    Borrowed copy(workspace, bytes);
    if (bytes != 0 && copy.data() == nullptr)
        return TQDEV_RESULT_OUT_OF_MEMORY;
    if (bytes != 0)
        std::memcpy(copy.data(), source.At(begin), static_cast<size_t>(bytes));
    Scratch scratch;
    for (int64_t line = plan.endLine - 1; line >= plan.firstLine + leading; --line) {
        // Each row is walked from its end, but read first at its start, a
        // row away from where the walk is: ask for the next row's start now.
        if (line > plan.firstLine)
            __builtin_prefetch(source.At(SplitRow(plan, line - 1).first / 8 * 12));
        RunRowBackward(plan, kernels, source, destination, line, scratch);
    }
    Plan first = plan;
    first.endLine = plan.firstLine + leading;
    if (leading != 0)
        WalkSeparate(first, kernels, Source{copy.data(), begin}, destination);
    if (plan.stream)
        kernels.finishStreaming();
    return TQDEV_RESULT_OK;
}

// How an unpack in place goes, and the memory it takes: the backward row
// walk, of the frame or of its plain form turned afterwards, its first rows
// through the workspace; else a chunk walk, which takes none; else all packed
// rows copied aside.
struct Route {
    enum Way { kRows, kTurned, kChunksBackward, kChunksForward, kCopy } way;
    int64_t leading; // first rows of the row walk made from the workspace
    int64_t bytes;
};

// `source` is the address of stream byte 0.
Route RouteOverlapping(const Plan &plan, const UnpackKernels &kernels, uintptr_t source,
                       uintptr_t destination) {
    bool turned = false;
    const int64_t leading = LeadingRows(plan, kernels, source, destination, &turned);
    if (leading >= 0)
        return {turned ? Route::kTurned : Route::kRows, leading, LeadingRowBytes(plan, leading)};
    // Pixels that outgrow the packed bytes are walked from the end; binned
    // or windowed frames shrink, so they are walked from the start.
    if (WalkIsSafe(plan, source, destination, true))
        return {Route::kChunksBackward, 0, 0};
    if (WalkIsSafe(plan, source, destination, false))
        return {Route::kChunksForward, 0, 0};
    return {Route::kCopy, 0, LineByte(plan, plan.endLine) - LineByte(plan, plan.firstLine)};
}

uint32_t UnpackOverlapping(const Plan &plan, const UnpackKernels &kernels, const Source &source,
                           uint16_t *destination, const UnpackWorkspace &workspace,
                           int64_t streamFrom) {
    const Route route = RouteOverlapping(plan, kernels, reinterpret_cast<uintptr_t>(source.At(0)),
                                         reinterpret_cast<uintptr_t>(destination));
    if (route.way == Route::kRows) {
        Plan walked = plan;
        walked.stream = kernels.decodeGroupsBackwardStreaming != nullptr &&
                        kernels.storeStreaming != nullptr && PixelBytes(plan) > streamFrom;
        return WalkBehindInput(walked, kernels, source, destination, workspace, route.leading);
    }
    if (route.way == Route::kTurned) {
        const uint32_t result =
            WalkBehindInput(PlainOf(plan), kernels, source, destination, workspace, route.leading);
        if (result == TQDEV_RESULT_OK)
            Turn(plan, kernels, destination);
        return result;
    }
    if (route.way != Route::kCopy) {
        WalkChunks(plan, kernels, source, destination, route.way == Route::kChunksBackward);
        return TQDEV_RESULT_OK;
    }
    const int64_t begin = LineByte(plan, plan.firstLine);
    const int64_t bytes = route.bytes;
    Borrowed copy(workspace, bytes);
    if (copy.data() == nullptr)
        return TQDEV_RESULT_OUT_OF_MEMORY;
    std::memcpy(copy.data(), source.At(begin), static_cast<size_t>(bytes));
    WalkSeparate(plan, kernels, Source{copy.data(), begin}, destination);
    return TQDEV_RESULT_OK;
}

} // namespace

uint32_t UnpackFrameWith(const UnpackKernels &kernels, const TQDEV_FRAME_INFO &info,
                         int32_t rowLimit, const void *source, uint16_t *destination,
                         const UnpackWorkspace &workspace, const StreamingFrom &streaming) {
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
        return UnpackOverlapping(plan, kernels, packed, destination, workspace, streaming.inPlace);
    Plan separate = plan;
    separate.stream = kernels.finishStreaming != nullptr && PixelBytes(plan) > streaming.separate;
    WalkSeparate(separate, kernels, packed, destination);
    if (separate.stream)
        kernels.finishStreaming();
    return TQDEV_RESULT_OK;
}

uint32_t UnpackFrame(const TQDEV_FRAME_INFO &info, int32_t rowLimit, const void *source,
                     uint16_t *destination, const UnpackWorkspace &workspace) {
    return UnpackFrameWith(BestUnpackKernels(), info, rowLimit, source, destination, workspace);
}

// The workspace covers whatever route the unpack takes, the copy too.
bool InPlaceTakesOnlyTheWorkspace(const TQDEV_FRAME_INFO &info, int32_t /*rowLimit*/) {
    return FrameInfoIsConsistent(info);
}

uint64_t InPlaceWorkspaceBytes(const TQDEV_FRAME_INFO &info, int32_t rowLimit) {
    if (!FrameInfoIsConsistent(info))
        return 0;
    const Plan plan = MakePlan(info, rowLimit);
    if (plan.endLine <= plan.firstLine || plan.geo.n == 0)
        return 0;
    // One buffer: the addresses are offsets from its start.
    return static_cast<uint64_t>(RouteOverlapping(plan, BestUnpackKernels(), 0, 0).bytes);
}
