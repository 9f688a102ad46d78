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

std::size_t WritePacked(const FrameGeometry &frame, const FrameStamp &stamp, std::uint8_t *out) {
    const std::uint32_t lines = StreamLines(frame);
    const std::uint32_t padded = PaddedLineWidth(frame);
    std::size_t offset = 0;
    for (std::uint32_t line = 0; line < lines; ++line) {
        for (std::uint32_t first = 0; first < padded; first += 8) {
            std::uint16_t group[8];
            for (std::uint32_t k = 0; k < 8; ++k) {
                group[k] = StreamSample(frame, line, first + k, stamp);
            }
            PackGroup(group, out + offset);
            offset += 12;
        }
    }
    return offset;
}

void PackLineGroup(const FrameGeometry &frame, std::uint32_t line, std::uint32_t first,
                   const FrameStamp &stamp, std::uint8_t *out) {
    std::uint16_t group[8];
    for (std::uint32_t k = 0; k < 8; ++k) {
        group[k] = StreamSample(frame, line, first + k, stamp);
    }
    PackGroup(group, out);
}

std::size_t LineBytes(const FrameGeometry &frame) {
    return PaddedLineWidth(frame) / 8 * 12;
}

// out = pattern with the 12-byte mask over every group; 8 bytes at a time.
void LayMask(const std::uint8_t *pattern, std::size_t bytes, const std::uint8_t mask[12],
             std::uint8_t *out) {
    std::uint64_t words[3];
    for (int w = 0; w < 3; ++w) {
        std::uint8_t part[8];
        for (int b = 0; b < 8; ++b) {
            part[b] = mask[(w * 8 + b) % 12];
        }
        __builtin_memcpy(&words[w], part, 8);
    }
    std::size_t i = 0;
    for (; i + 24 <= bytes; i += 24) {
        for (int w = 0; w < 3; ++w) {
            std::uint64_t v;
            __builtin_memcpy(&v, pattern + i + 8 * w, 8);
            v ^= words[w];
            __builtin_memcpy(out + i + 8 * w, &v, 8);
        }
    }
    for (; i < bytes; ++i) {
        out[i] = static_cast<std::uint8_t>(pattern[i] ^ mask[i % 12]);
    }
}

// The window lines from the prepared pattern; the groups that hold dark
// columns or padding, which the mask must not touch, are made anew.
std::size_t WritePackedFrom(const FrameGeometry &frame, const FrameStamp &stamp,
                            const std::uint8_t *pattern, std::uint8_t *out) {
    const std::uint32_t lines = StreamLines(frame);
    const std::uint32_t padded = PaddedLineWidth(frame);
    const std::uint32_t lineWidth = static_cast<std::uint32_t>(frame.info.line_width);
    const std::size_t lineBytes = LineBytes(frame);
    for (std::uint32_t first = 0; first < padded; first += 8) {
        PackLineGroup(frame, 0, first, stamp, out + first / 8 * 12);
    }
    const std::uint16_t maskSample = FrameMask(stamp.number);
    const std::uint16_t maskSamples[8] = {maskSample, maskSample, maskSample, maskSample,
                                          maskSample, maskSample, maskSample, maskSample};
    std::uint8_t mask[12];
    PackGroup(maskSamples, mask);
    LayMask(pattern, lineBytes * (lines - 2), mask, out + lineBytes);
    for (std::uint32_t line = 1; line + 1 < lines; ++line) {
        std::uint8_t *lineOut = out + line * lineBytes;
        PackLineGroup(frame, line, 0, stamp, lineOut);
        if (lineWidth % 8 != 0) {
            PackLineGroup(frame, line, padded - 8, stamp, lineOut + lineBytes - 12);
        }
    }
    for (std::uint32_t first = 0; first < padded; first += 8) {
        PackLineGroup(frame, lines - 1, first, stamp,
                      out + (lines - 1) * lineBytes + first / 8 * 12);
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
    if (line == 0 || sample < TQPROTO_DARK_COLUMNS) {
        return static_cast<std::uint16_t>(stamp.dark & 0xFFFu);
    }
    return WindowSample(frame, line - 1, sample - TQPROTO_DARK_COLUMNS, stamp);
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
                       std::size_t size, const std::uint8_t *pattern) {
    if (size < DeliveredBytes(frame)) {
        return 0;
    }
    if (pattern != nullptr && PatternBytes(frame) != 0) {
        return WritePackedFrom(frame, stamp, pattern, out);
    }
    if (frame.packedOutput || frame.packedInPlace) {
        return WritePacked(frame, stamp, out);
    }
    return WriteImage(frame, stamp, out);
}

std::size_t PatternBytes(const FrameGeometry &frame) {
    if (!(frame.packedOutput || frame.packedInPlace) || frame.vb != 1) {
        return 0;
    }
    return LineBytes(frame) * (StreamLines(frame) - 2);
}

void PreparePattern(const FrameGeometry &frame, std::uint32_t seed, std::uint8_t *pattern) {
    const std::uint32_t padded = PaddedLineWidth(frame);
    const std::uint32_t lineWidth = static_cast<std::uint32_t>(frame.info.line_width);
    const std::size_t lineBytes = LineBytes(frame);
    for (std::uint32_t row = 0; row + 2 < StreamLines(frame); ++row) {
        for (std::uint32_t first = 0; first < padded; first += 8) {
            std::uint16_t group[8];
            for (std::uint32_t k = 0; k < 8; ++k) {
                const std::uint32_t sample = first + k;
                // Dark columns and padding are made per frame.
                group[k] = sample < TQPROTO_DARK_COLUMNS || sample >= lineWidth
                               ? 0
                               : BaseSample(frame.y0 + row,
                                            frame.x0 + sample - TQPROTO_DARK_COLUMNS, seed);
            }
            PackGroup(group, pattern + row * lineBytes + first / 8 * 12);
        }
    }
}

} // namespace tqsim
