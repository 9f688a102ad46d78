// The inner loops of the unpacker, in a portable form and in SIMD forms for
// x86-64 CPUs that have them. Every form gives exactly the same results.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image_data.h"

struct UnpackKernels {
    const char *name;
    // Decodes `groups` whole 12-byte groups into 8 x groups samples; reads
    // exactly 12 x groups bytes.
    void (*decodeGroups)(const uint8_t *source, size_t groups, uint16_t *samples);
    // out[k] = min(4095, in[2k] + in[2k + 1]) for k < count.
    void (*sumPairs)(const uint16_t *in, size_t count, uint16_t *out);
    // out[k] = in[2k] for k < count; reads in[0 .. 2 x count - 2] only.
    void (*keepEven)(const uint16_t *in, size_t count, uint16_t *out);
    // out[i] = in[count - 1 - i] for i < count.
    void (*reverse)(const uint16_t *in, size_t count, uint16_t *out);
    // decodeGroups from the last group to the first, each group read before
    // its samples are stored: safe in place when the samples of every group
    // start at or after its packed bytes. Reads exactly 12 x groups bytes.
    void (*decodeGroupsBackward)(const uint8_t *source, size_t groups, uint16_t *samples);

    // Decoding fused with binning or mirroring, straight from the packed
    // bytes to the pixels; null where the form has none (the unpacker then
    // goes through decodeGroups and the loops above). Each reads exactly
    // 12 x groups bytes.
    // With `stream`, aligned blocks of pixels are stored past the cache (for
    // frames larger than it); finishStreaming must follow before the pixels
    // are handed on.
    // 4 x groups pixels, each the sum of a sample pair limited to 4095.
    void (*decodeSumPairs)(const uint8_t *source, size_t groups, bool stream, uint16_t *out);
    // 4 x groups pixels, each the sample of a pair at `phase` (0 or 1).
    void (*decodeKeepPhase)(const uint8_t *source, size_t groups, int phase, bool stream,
                            uint16_t *out);
    // 8 x groups samples stored in reverse order, ending just before outEnd.
    void (*decodeReversed)(const uint8_t *source, size_t groups, uint16_t *outEnd);
    // Orders streamed stores before whatever follows.
    void (*finishStreaming)();
    // 8 x groups / 3 pixels (groups a multiple of 3), each the sum of three
    // samples limited to 4095.
    void (*decodeSumTriples)(const uint8_t *source, size_t groups, uint16_t *out);
    // decodeGroupsBackward, its samples stored past the cache where their
    // address allows (8-byte aligned); finishStreaming must follow.
    void (*decodeGroupsBackwardStreaming)(const uint8_t *source, size_t groups, uint16_t *samples);
    // out[k] = samples[k] for k < count, past the cache where out allows (in
    // 8-byte pieces); finishStreaming must follow.
    void (*storeStreaming)(uint16_t *out, const uint16_t *samples, size_t count);
};

const UnpackKernels &ScalarUnpackKernels();
// Null when the CPU (or the build target) lacks the instructions.
const UnpackKernels *Ssse3UnpackKernels();
const UnpackKernels *Avx2UnpackKernels();
// The fastest form this CPU runs, chosen once.
const UnpackKernels &BestUnpackKernels();

// Pixel bytes above which a frame is stored past the cache, by the kernels
// that can. Separate buffers: keeping the pixels would push the packed data
// out of the cache. In place, streaming slows the walk itself but leaves
// memory bandwidth to a camera delivering the next frame meanwhile (live
// focus); frames that fit in the last-level cache (32 MiB on the machine
// measured) are stored through it.
struct StreamingFrom {
    int64_t separate = int64_t{8} << 20;
    int64_t inPlace = int64_t{32} << 20;
};

// UnpackFrame with a given set of kernels, so tests can hold every form to
// the same pixels, and with lower streaming thresholds, so they reach the
// streaming paths on small frames.
uint32_t UnpackFrameWith(const UnpackKernels &kernels, const TQDEV_FRAME_INFO &info,
                         int32_t rowLimit, const void *source, uint16_t *destination,
                         const UnpackWorkspace &workspace = {},
                         const StreamingFrom &streaming = {});
