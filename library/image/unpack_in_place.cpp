// Unpacking over overlapping buffers. The rows or chunks are walked in an
// order in which no store reaches packed bytes still to be read; rows that no
// such order can keep behind their input (the first rows of a frame with
// lines above its window) are copied to the workspace first. Only when no
// such walk exists are all packed rows copied aside, into the workspace when
// the caller sized it for that.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "unpack_plan.h"

namespace unpacker {
namespace {

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

} // namespace

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

} // namespace unpacker

using namespace unpacker;

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
