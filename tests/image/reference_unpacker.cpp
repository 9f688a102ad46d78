#include "reference_unpacker.h"

#include <algorithm>
#include <cstring>

namespace {

uint32_t LittleWord(const uint8_t *bytes) {
    return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
           uint32_t{bytes[3]} << 24;
}

// The group layout read as three little-endian words.
void DecodeGroup(const uint8_t *group, uint16_t out[8]) {
    const uint32_t w0 = LittleWord(group), w1 = LittleWord(group + 4), w2 = LittleWord(group + 8);
    const uint32_t samples[8] = {
        (w0 >> 24 & 0xFF) | (w0 >> 16 & 0xF) << 8, (w0 >> 20 & 0xF) | (w0 >> 8 & 0xFF) << 4,
        (w0 & 0xFF) | (w1 >> 24 & 0xF) << 8,       (w1 >> 28 & 0xF) | (w1 >> 16 & 0xFF) << 4,
        (w1 >> 8 & 0xFF) | (w1 & 0xF) << 8,        (w1 >> 4 & 0xF) | (w2 >> 24 & 0xFF) << 4,
        (w2 >> 16 & 0xFF) | (w2 >> 8 & 0xF) << 8,  (w2 >> 12 & 0xF) | (w2 & 0xFF) << 4};
    for (int k = 0; k < 8; ++k)
        out[k] = static_cast<uint16_t>(samples[k]);
}

int32_t Shift(int32_t factor) {
    for (int32_t shift = 0; shift <= 4; ++shift)
        if (factor == 1 << shift)
            return shift;
    return -1;
}

struct Walk {
    int32_t hb, n, shift, startPhase, keptPhase;
    bool subsample;
    uint16_t *row;

    void Store(uint16_t sample, int32_t x) const {
        const int32_t k = shift >= 0 ? x >> shift : x / hb;
        const int32_t phase = shift >= 0 ? x & ((1 << shift) - 1) : x % hb;
        if (k >= n)
            return;
        if (subsample) {
            if (phase == keptPhase)
                row[k] = sample;
        } else if (phase == startPhase) {
            row[k] = sample;
        } else {
            row[k] = static_cast<uint16_t>(std::min(4095, row[k] + sample));
        }
    }
};

} // namespace

int64_t ReferenceDecodeSamples(uint16_t ring[256], const uint8_t *source, int64_t from,
                               int64_t wanted, int64_t total) {
    const int64_t limit = std::min(wanted + 128, total);
    int64_t t = from;
    while (t < limit) {
        DecodeGroup(source + 12 * (t / 8), ring + t % 256);
        t += 8;
    }
    return t;
}

void ReferenceUnpackFrame(const TQDEV_FRAME_INFO &info, int32_t rowLimit, const uint8_t *source,
                          uint16_t *destination) {
    const int32_t hb = info.h_binning == 0 ? 1 : static_cast<int32_t>(info.h_binning);
    const int32_t vb = info.v_binning == 0 ? 1 : static_cast<int32_t>(info.v_binning);
    const int32_t w8 = (info.line_width + 7) / 8 * 8;
    const int32_t lines = info.line_count / vb;
    const int32_t g = info.top / vb;
    const int32_t m = static_cast<int32_t>(info.height) / vb;
    const int32_t n = static_cast<int32_t>(info.width) / hb;
    const auto width = static_cast<int32_t>(info.width);
    const int64_t total = int64_t{lines} * w8;
    const bool subsample = (info.ext_flags & TQDEV_FRAME_EXT_SUBSAMPLE) != 0 ||
                           (info.flags & TQDEV_FRAME_SUBSAMPLE) != 0;
    const bool mirror = (info.flags & TQDEV_FRAME_MIRROR) != 0;
    const bool flip = (info.flags & TQDEV_FRAME_FLIP) != 0;
    Walk walk{hb,
              n,
              Shift(hb),
              mirror ? hb - 1 : 0,
              (info.ext_flags & TQDEV_FRAME_EXT_PHASE1) != 0 ? 1 % hb : 0,
              subsample,
              nullptr};
    uint16_t ring[256] = {};
    int64_t t = 0, c = 0;
    for (int32_t r = 0; r < rowLimit && r < g + m; ++r) {
        const int32_t i = r - g;
        // Lines above the window are consumed without a destination row.
        walk.row = i < 0 ? nullptr : destination + int64_t{flip ? m - 1 - i : i} * n;
        c += info.left;
        int32_t x = mirror ? width - 1 : 0;
        const int32_t step = mirror ? -1 : 1;
        int32_t remaining = width;
        for (; remaining >= 64; remaining -= 64) {
            if (t < c + 64)
                t = ReferenceDecodeSamples(ring, source, t, c + 64, total);
            if (i < 0) {
                x += 64 * step;
                c += 64;
                continue;
            }
            for (int s = 0; s < 64; ++s, x += step, ++c)
                walk.Store(ring[c % 256], x);
        }
        for (; remaining > 0; --remaining, x += step, ++c) {
            if (t < c + 1)
                t = ReferenceDecodeSamples(ring, source, t, c + 1, total);
            if (i >= 0)
                walk.Store(ring[c % 256], x);
        }
        c += w8 - width - info.left;
    }
}
