// Frame synthesis: the samples of the stream lines and the pixels of the
// unpacked image, and writing either into the data buffer.
#include "camera/frame_model.h"

namespace tqsim {
namespace {

constexpr std::uint32_t kMaxSample = 4095;

std::uint32_t StreamLines(const FrameGeometry &frame) {
    return frame.height / frame.vb + 2;
}

std::uint32_t PaddedLineWidth(const FrameGeometry &frame) {
    return (static_cast<std::uint32_t>(frame.info.line_width) + 7) / 8 * 8;
}

std::uint16_t Piece(std::uint32_t value, std::uint32_t index) {
    return static_cast<std::uint16_t>((value >> (12 * index)) & 0xFFFu);
}

// The camera bins vertically: the sum of vb sensor lines, limited to 4095.
std::uint16_t WindowSample(const FrameGeometry &frame, std::uint32_t row, std::uint32_t column,
                           const FrameStamp &stamp) {
    std::uint32_t sum = 0;
    for (std::uint32_t k = 0; k < frame.vb; ++k) {
        sum += PatternSample(frame.y0 + row * frame.vb + k, frame.x0 + column, stamp.number,
                             stamp.seed);
    }
    return static_cast<std::uint16_t>(sum > kMaxSample ? kMaxSample : sum);
}

std::uint16_t StatusSample(std::uint32_t sample, const FrameStamp &stamp) {
    if (sample < 3) {
        return Piece(stamp.number, sample);
    }
    if (sample < 6) {
        return Piece(stamp.ticket, sample - 3);
    }
    return 0;
}

std::size_t PackedLineBytes(const FrameGeometry &frame) {
    return PaddedLineWidth(frame) / 8 * 12;
}

void WriteStreamGroup(const FrameGeometry &frame, std::uint32_t line, std::uint32_t first,
                      const FrameStamp &stamp, std::uint8_t *out) {
    std::uint16_t group[8];
    for (std::uint32_t k = 0; k < 8; ++k) {
        group[k] = StreamSample(frame, line, first + k, stamp);
    }
    PackGroup(group, out);
}

std::size_t WritePacked(const FrameGeometry &frame, const FrameStamp &stamp, std::uint8_t *out) {
    const std::uint32_t lines = StreamLines(frame);
    const std::uint32_t padded = PaddedLineWidth(frame);
    std::size_t offset = 0;
    for (std::uint32_t line = 0; line < lines; ++line) {
        for (std::uint32_t first = 0; first < padded; first += 8) {
            WriteStreamGroup(frame, line, first, stamp, out + offset);
            offset += 12;
        }
    }
    return offset;
}

// What a prepared stream depends on.
void KeyOf(const FrameGeometry &frame, std::uint32_t seed, std::uint32_t key[8]) {
    const std::uint32_t values[8] = {1,
                                     frame.x0,
                                     frame.y0,
                                     frame.width,
                                     frame.height,
                                     frame.vb,
                                     static_cast<std::uint32_t>(frame.info.line_width),
                                     seed};
    for (int i = 0; i < 8; ++i) {
        key[i] = values[i];
    }
}

bool SameKey(const std::uint32_t a[8], const std::uint32_t b[8]) {
    for (int i = 0; i < 8; ++i) {
        if (a[i] != b[i]) {
            return false;
        }
    }
    return true;
}

// The window lines of the stream with position parts only; the dark columns
// and the padding are written per frame.
void Prepare(const FrameGeometry &frame, std::uint32_t seed, std::uint8_t *bytes) {
    const std::uint32_t lineWidth = static_cast<std::uint32_t>(frame.info.line_width);
    const std::uint32_t padded = PaddedLineWidth(frame);
    std::size_t offset = PackedLineBytes(frame);
    for (std::uint32_t row = 0; row < frame.height; ++row) {
        for (std::uint32_t first = 0; first < padded; first += 8) {
            std::uint16_t group[8];
            for (std::uint32_t k = 0; k < 8; ++k) {
                const std::uint32_t sample = first + k;
                const bool window = sample >= TQSIM_DARK_COLUMNS && sample < lineWidth;
                group[k] = window ? PositionSample(frame.y0 + row,
                                                   frame.x0 + sample - TQSIM_DARK_COLUMNS, seed)
                                  : 0;
            }
            PackGroup(group, bytes + offset);
            offset += 12;
        }
    }
}

// Packing is bitwise, so a mask applied to every sample is the packed mask
// applied to every group: 24 bytes (two groups) at a time in 64-bit words.
void ApplyMask(const std::uint8_t *from, std::uint8_t *to, std::size_t bytes, std::uint16_t mask) {
    const std::uint16_t masks[8] = {mask, mask, mask, mask, mask, mask, mask, mask};
    std::uint8_t packed[24];
    PackGroup(masks, packed);
    PackGroup(masks, packed + 12);
    std::uint64_t words[3];
    __builtin_memcpy(words, packed, sizeof words);
    std::size_t i = 0;
    for (; i + 24 <= bytes; i += 24) {
        for (int k = 0; k < 3; ++k) {
            std::uint64_t word;
            __builtin_memcpy(&word, from + i + 8 * k, 8);
            word ^= words[k];
            __builtin_memcpy(to + i + 8 * k, &word, 8);
        }
    }
    for (std::size_t k = 0; i < bytes; ++i, ++k) {
        to[i] = static_cast<std::uint8_t>(from[i] ^ packed[k]);
    }
}

std::size_t WriteFromPrepared(const FrameGeometry &frame, const FrameStamp &stamp,
                              const std::uint8_t *prepared, std::uint8_t *out) {
    const std::uint32_t lines = StreamLines(frame);
    const std::uint32_t padded = PaddedLineWidth(frame);
    const std::size_t lineBytes = PackedLineBytes(frame);
    ApplyMask(prepared + lineBytes, out + lineBytes, lineBytes * frame.height,
              FrameMask(stamp.number, stamp.seed));
    for (std::uint32_t first = 0; first < padded; first += 8) {
        WriteStreamGroup(frame, 0, first, stamp, out + first / 8 * 12);
        WriteStreamGroup(frame, lines - 1, first, stamp,
                         out + (lines - 1) * lineBytes + first / 8 * 12);
    }
    const bool partial = frame.info.line_width % 8 != 0;
    for (std::uint32_t line = 1; line + 1 < lines; ++line) {
        std::uint8_t *start = out + line * lineBytes;
        WriteStreamGroup(frame, line, 0, stamp, start);
        if (partial) {
            WriteStreamGroup(frame, line, padded - 8, stamp, start + lineBytes - 12);
        }
    }
    return lines * lineBytes;
}

std::size_t WriteImage(const FrameGeometry &frame, const FrameStamp &stamp, std::uint8_t *out) {
    const std::uint32_t rows = frame.height / frame.vb;
    const std::uint32_t columns = frame.width / frame.hb;
    std::size_t offset = 0;
    for (std::uint32_t row = 0; row < rows; ++row) {
        for (std::uint32_t column = 0; column < columns; ++column) {
            const std::uint16_t pixel = ImagePixel(frame, row, column, stamp);
            out[offset] = static_cast<std::uint8_t>(pixel & 0xFFu);
            out[offset + 1] = static_cast<std::uint8_t>(pixel >> 8);
            offset += 2;
        }
    }
    return offset;
}

} // namespace

std::uint16_t StreamSample(const FrameGeometry &frame, std::uint32_t line, std::uint32_t sample,
                           const FrameStamp &stamp) {
    const std::uint32_t lineWidth = static_cast<std::uint32_t>(frame.info.line_width);
    if (line + 1 == StreamLines(frame)) {
        return StatusSample(sample, stamp);
    }
    if (sample >= lineWidth) {
        return 0; // padding
    }
    if (line == 0 || sample < TQSIM_DARK_COLUMNS) {
        return static_cast<std::uint16_t>(stamp.dark & 0xFFFu);
    }
    return WindowSample(frame, line - 1, sample - TQSIM_DARK_COLUMNS, stamp);
}

std::uint16_t ImagePixel(const FrameGeometry &frame, std::uint32_t row, std::uint32_t column,
                         const FrameStamp &stamp) {
    const std::uint32_t rows = frame.height / frame.vb;
    const std::uint32_t columns = frame.width / frame.hb;
    if (row >= rows || column >= columns) {
        return 0;
    }
    const std::uint32_t windowRow = frame.flip ? rows - 1 - row : row;
    // Column x of the walk holds window column j = x, or width - 1 - x mirrored.
    auto windowColumn = [&](std::uint32_t x) { return frame.mirror ? frame.width - 1 - x : x; };
    const std::uint32_t first = column * frame.hb;
    if (frame.subsample) {
        const std::uint32_t phase = frame.phase1 ? 1 % frame.hb : 0;
        return WindowSample(frame, windowRow, windowColumn(first + phase), stamp);
    }
    std::uint32_t sum = 0;
    for (std::uint32_t k = 0; k < frame.hb; ++k) {
        sum += WindowSample(frame, windowRow, windowColumn(first + k), stamp);
    }
    return static_cast<std::uint16_t>(sum > kMaxSample ? kMaxSample : sum);
}

std::size_t WriteFrame(const FrameGeometry &frame, const FrameStamp &stamp, std::uint8_t *out,
                       std::size_t size) {
    if (size < DeliveredBytes(frame)) {
        return 0;
    }
    if (frame.packedOutput || frame.packedInPlace) {
        return WritePacked(frame, stamp, out);
    }
    return WriteImage(frame, stamp, out);
}

std::size_t PreparedStreamBytes(const FrameGeometry &frame) {
    const bool packed = frame.packedOutput || frame.packedInPlace;
    return packed && frame.vb == 1 ? StreamLines(frame) * PackedLineBytes(frame) : 0;
}

std::size_t WriteFramePrepared(const FrameGeometry &frame, const FrameStamp &stamp,
                               PreparedStream *prepared, std::uint8_t *out, std::size_t size) {
    const std::size_t needed = PreparedStreamBytes(frame);
    if (prepared == nullptr || needed == 0 || size < DeliveredBytes(frame) ||
        prepared->capacity < needed) {
        return WriteFrame(frame, stamp, out, size);
    }
    std::uint32_t key[8];
    KeyOf(frame, stamp.seed, key);
    if (!SameKey(key, prepared->key)) {
        Prepare(frame, stamp.seed, prepared->bytes);
        for (int i = 0; i < 8; ++i) {
            prepared->key[i] = key[i];
        }
    }
    return WriteFromPrepared(frame, stamp, prepared->bytes, out);
}

} // namespace tqsim
