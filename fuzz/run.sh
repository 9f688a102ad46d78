#!/usr/bin/env bash
# Builds the unpacker's fuzz target with the `fuzz` preset, writes a small
# seed corpus of valid frames, and fuzzes for a bounded time.
# Usage: fuzz/run.sh [build-dir] [seconds]   (defaults: build/fuzz, 60)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/fuzz}"
seconds="${2:-60}"
cmake --preset fuzz -B "$build" >/dev/null
cmake --build "$build" -j2 --target unpack_image_fuzzer
work="$build/fuzz-run"
mkdir -p "$work/corpus" "$work/artifacts"
python3 - "$work/corpus" <<'PY'
import random, struct, sys, os
out = sys.argv[1]
random.seed(1)
# variant, line_width, line_count, width, height, left, top, hb, vb, flags, ext_flags
shapes = [
    (8 | 1, 64, 4, 64, 4, 0, 0, 1, 1, 0, 0),
    (8 | 1, 100, 6, 90, 4, 3, 2, 2, 1, 0x4, 0x20),
    (8 | 1, 130, 9, 128, 6, 2, 3, 1, 3, 0x8, 0),
    (8 | 1 | 16, 77, 5, 66, 4, 8, 1, 3, 1, 0xC, 0x60),
    (8, 20, 3, 16, 2, 2, 1, 2, 1, 0, 0),
    (8 | 2, 4096, 2, 4096, 2, 0, 0, 2, 0, 0x20, 0x40),
    (8 | 4, 64, 1, 64, 1, 0, 0, 1, 1, 0, 0),
    (0, 64, 1, 64, 1, 0, 0, 1, 1, 0, 0),
    (8 | 1 | 64, 260, 6, 256, 5, 4, 1, 1, 1, 0, 0),
    (8 | 1 | 64, 100, 6, 90, 4, 3, 2, 2, 1, 0x4, 0x20),
    (8 | 1 | 64, 131, 7, 127, 5, 3, 1, 1, 1, 0x8, 0),
]
for index, (variant, lw, lc, w, h, left, top, hb, vb, flags, ext) in enumerate(shapes):
    info = struct.pack("<IIIIiiIIiiIII16s", 0, 0, flags, 0, lw, lc, w, h, left, top, hb, vb,
                       ext, bytes(16))
    stream = bytes(random.randrange(256) for _ in range(min(4096, (lw + 7) // 8 * 12 * 3)))
    with open(os.path.join(out, "seed%d" % index), "wb") as f:
        f.write(bytes([variant]) + info + stream)
PY
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 "$build/fuzz/unpack_image_fuzzer" -max_total_time="$seconds" -max_len=8192 -rss_limit_mb=2048 \
    -artifact_prefix="$work/artifacts/" "$work/corpus"
