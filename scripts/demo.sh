#!/usr/bin/env bash
# Builds the library, the simulator and the tqdev tool, then lists two
# simulated cameras.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target tqdev
./build/default/tools/tqdev --sim 2 list
