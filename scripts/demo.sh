#!/usr/bin/env bash
# Builds the library, the simulator and the tqdev tool, lists two simulated
# cameras and captures an averaged image from one of them as a 16-bit TIFF.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target tqdev
./build/default/tools/tqdev --sim 2 list
./build/default/tools/tqdev --sim 1 capture 0 --mode averaged --frames 8 -o averaged.tiff
