// Decoding rows into 16-bit pixels. Rows whose binning has a fused kernel go
// straight from the packed bytes to the pixels, their partial first and last
// groups through a small scratch, so any window start stays on the fused
// kernels. Other rows are cut into chunks of at most kChunkSamples window
// samples; a chunk's whole groups are decoded into a small stack buffer, then
// binned (or copied), mirrored if asked, and stored.
#include <algorithm>
#include <cstring>

#include "unpack_plan.h"

namespace unpacker {
namespace {

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

// Rows written from the last up, or from their right end, each start a new
// stream of addresses that the CPU does not foresee: ask for the next row
// while this one is made.
void PrefetchRow(const Plan &plan, const uint16_t *row) {
    const auto *bytes = reinterpret_cast<const char *>(row);
    for (int64_t offset = 0; offset < int64_t{plan.geo.n} * 2; offset += 64)
        __builtin_prefetch(bytes + offset, 1);
}

} // namespace

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

} // namespace unpacker
