// A plain unpacker that walks the stream exactly as the frame rules describe
// it (sample ring, 64-sample blocks, one-by-one tail), kept as the oracle the
// fast unpacker is held to.
#pragma once

#include <cstdint>

#include "tqdev.h"

// Decodes whole groups from sample `from` into the 256-entry ring while the
// decode position is below min(wanted + 128, total); returns the new position.
int64_t ReferenceDecodeSamples(uint16_t ring[256], const uint8_t *source, int64_t from,
                               int64_t wanted, int64_t total);

// Mirrored rows of any width put window column j at column width - 1 - j.
void ReferenceUnpackFrame(const TQDEV_FRAME_INFO &info, int32_t rowLimit, const uint8_t *source,
                          uint16_t *destination);
