// Feeds containers built from fuzz input to UnpackImage, and the same frames
// to UnpackFrame in place and into a separate buffer. Checks that a refused
// container writes nothing, that an accepted one touches no byte outside the
// container and the image_size pixel bytes, and that small frames give the
// reference pixels.
//
// Input: byte 0 chooses the variant (bit 0: also unpack in place and apart;
// bit 1: header_size 80; bit 2: wrong magic; bit 3: set image_size and
// packed_size to what the shape needs; bit 4: take the in-place row limit
// from byte 69; bit 5: header_size 60 + the first stream byte, inside the
// header below 76; bit 6: stream the pixels past the cache whatever the
// frame's size, as large frames are), bytes 1..68 are the descriptor, the
// rest fills the packed stream, repeated.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "image_data.h"
#include "reference_unpacker.h"
#include "unpack_kernels.h"

namespace {

constexpr size_t kGuard = 32;
constexpr uint8_t kGuardByte = 0xA7;
constexpr uint64_t kLargest = 4u << 20;        // bytes of any buffer the fuzzer makes
constexpr int64_t kReferenceSamples = 1 << 18; // frames small enough to check pixel by pixel

void Require(bool condition) {
    if (!condition)
        std::abort();
}

// A buffer with guard bytes on both sides.
struct Guarded {
    std::vector<uint8_t> bytes;
    explicit Guarded(size_t size) : bytes(size + 2 * kGuard, kGuardByte) {}
    uint8_t *data() { return bytes.data() + kGuard; }
    size_t size() const { return bytes.size() - 2 * kGuard; }
    void CheckGuards() const {
        for (size_t i = 0; i < kGuard; ++i)
            Require(bytes[i] == kGuardByte && bytes[bytes.size() - 1 - i] == kGuardByte);
    }
};

void Fill(uint8_t *out, size_t size, const uint8_t *from, size_t available) {
    for (size_t i = 0; i < size; ++i)
        out[i] = available == 0 ? 0 : from[i % available];
}

void FitSizes(TQDEV_FRAME_INFO &info) {
    const FrameGeometry geo = DeriveGeometry(info);
    const int64_t image = int64_t{geo.m} * geo.n * 2, packed = geo.total / 8 * 12;
    if (geo.m >= 0 && geo.n >= 0 && image <= UINT32_MAX && packed >= 0 && packed <= UINT32_MAX) {
        info.image_size = static_cast<uint32_t>(image);
        info.packed_size = static_cast<uint32_t>(packed);
    }
}

bool SmallFrame(const FrameGeometry &geo) {
    return geo.total <= kReferenceSamples && int64_t{geo.m} * geo.n <= kReferenceSamples;
}

void CheckContainer(uint8_t variant, const TQDEV_FRAME_INFO &info, const uint8_t *stream,
                    size_t streamSize) {
    uint32_t headerSize = (variant & 2) != 0 ? 80 : 76;
    if ((variant & 32) != 0 && streamSize > 0) {
        headerSize = 60 + stream[0];
    }
    const bool consistent = FrameInfoIsConsistent(info);
    const uint64_t packedBytes = consistent ? info.packed_size : 0;
    if (headerSize + packedBytes > kLargest || (consistent && info.image_size > kLargest))
        return;
    Guarded container(std::max<uint64_t>(76, headerSize + packedBytes));
    WriteImageHeader(container.data(), info);
    std::memcpy(container.data() + 4, &headerSize, 4);
    if ((variant & 4) != 0)
        container.data()[1] ^= 0x10;
    Fill(container.data() + headerSize, packedBytes, stream, streamSize);
    const std::vector<uint8_t> before = container.bytes;

    uint32_t size = 0xDEADBEEF;
    const uint32_t query = UnpackImage(container.data(), nullptr, &size, 0);
    const bool accepted = consistent && (variant & 4) == 0 && headerSize >= 76;
    Require(query == (accepted ? TQDEV_RESULT_OK : TQDEV_RESULT_INVALID_PARAMETER));
    Require(size == (accepted ? info.image_size : 0xDEADBEEF));
    Guarded pixels(accepted ? info.image_size : 64);
    std::memset(pixels.data(), 0x3C, pixels.size());
    Require(UnpackImage(container.data(), reinterpret_cast<uint16_t *>(pixels.data()), &size, 0) ==
            query);
    container.CheckGuards();
    pixels.CheckGuards();
    Require(container.bytes == before);
    if (!accepted) {
        for (size_t i = 0; i < pixels.size(); ++i)
            Require(pixels.data()[i] == 0x3C);
        return;
    }
    const FrameGeometry geo = DeriveGeometry(info);
    if (!SmallFrame(geo))
        return;
    std::vector<uint8_t> expected(pixels.size(), 0x3C);
    ReferenceUnpackFrame(info, info.line_count, container.data() + headerSize,
                         reinterpret_cast<uint16_t *>(expected.data()));
    Require(expected.empty() || std::memcmp(expected.data(), pixels.data(), expected.size()) == 0);
}

// Packed stream at the start of a buffer that then receives the pixels, and
// the same stream unpacked into a buffer of its own.
void CheckInPlace(const TQDEV_FRAME_INFO &info, int32_t rowLimit, const StreamingFrom &streaming,
                  const uint8_t *stream, size_t streamSize) {
    if (!FrameInfoIsConsistent(info))
        return;
    const FrameGeometry geo = DeriveGeometry(info);
    if (!SmallFrame(geo))
        return;
    const size_t packedBytes = static_cast<size_t>(geo.total / 8 * 12);
    const size_t size = std::max(packedBytes, static_cast<size_t>(int64_t{geo.m} * geo.n * 2));
    Guarded buffer(size);
    Fill(buffer.data(), size, stream, streamSize);
    const std::vector<uint8_t> packed(buffer.data(), buffer.data() + packedBytes);
    std::vector<uint8_t> expected(buffer.data(), buffer.data() + size);
    ReferenceUnpackFrame(info, rowLimit, packed.data(),
                         reinterpret_cast<uint16_t *>(expected.data()));
    Guarded apart(size);
    Fill(apart.data(), size, stream, streamSize);
    const UnpackKernels &kernels = BestUnpackKernels();
    Require(UnpackFrameWith(kernels, info, rowLimit, buffer.data(),
                            reinterpret_cast<uint16_t *>(buffer.data()), {},
                            streaming) == TQDEV_RESULT_OK);
    Require(UnpackFrameWith(kernels, info, rowLimit, packed.data(),
                            reinterpret_cast<uint16_t *>(apart.data()), {},
                            streaming) == TQDEV_RESULT_OK);
    buffer.CheckGuards();
    apart.CheckGuards();
    Require(size == 0 || std::memcmp(expected.data(), buffer.data(), size) == 0);
    Require(size == 0 || std::memcmp(expected.data(), apart.data(), size) == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1 + sizeof(TQDEV_FRAME_INFO))
        return 0;
    const uint8_t variant = data[0];
    TQDEV_FRAME_INFO info;
    std::memcpy(&info, data + 1, sizeof info);
    if ((variant & 8) != 0)
        FitSizes(info);
    const uint8_t *stream = data + 1 + sizeof info;
    const size_t streamSize = size - 1 - sizeof info;
    CheckContainer(variant, info, stream, streamSize);
    if ((variant & 1) != 0) {
        const int32_t rowLimit = (variant & 16) != 0 && streamSize > 0
                                     ? static_cast<int32_t>(stream[0]) - 2
                                     : info.line_count;
        const StreamingFrom streaming = (variant & 64) != 0 ? StreamingFrom{0, 0} : StreamingFrom{};
        CheckInPlace(info, rowLimit, streaming, stream, streamSize);
    }
    return 0;
}
