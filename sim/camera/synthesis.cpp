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

} // namespace tqsim
