// Unpacking a packed frame into 16-bit pixels: the frame's plan, then the
// walk for separate buffers (unpack_rows.cpp) or for overlapping ones
// (unpack_in_place.cpp).
#include <algorithm>

#include "unpack_plan.h"

namespace unpacker {

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

} // namespace unpacker

using namespace unpacker;

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
