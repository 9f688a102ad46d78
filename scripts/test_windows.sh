#!/usr/bin/env bash
# Builds the Windows DLL, the camera driver, its install tool and the
# integration suite, and runs the suite on the real DLL under Wine: a fresh
# prefix, one Wine server for the whole run (killed on exit, whatever
# happens), two cameras installed, the suite through CTest. Every step has a
# time-out.
set -euo pipefail
cd "$(dirname "$0")/.."

need=()
command -v wine >/dev/null || need+=(wine wine64)
command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64)
[[ -d /usr/src/googletest ]] || need+=(googletest)
if ((${#need[@]})); then
  echo "=== installing ${need[*]} ==="
  export DEBIAN_FRONTEND=noninteractive
  timeout 300 apt-get update -qq
  timeout 600 apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

echo "=== wine build ==="
timeout 900 cmake --preset wine >/dev/null
timeout 1200 cmake --build --preset wine -j "$(nproc)"

bin=$PWD/build/wine/bin
export WINEPREFIX=$PWD/build/wine/prefix
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
rm -rf "$WINEPREFIX"

cleanup() { timeout 30 wineserver -k 2>/dev/null || true; }
trap cleanup EXIT

echo "=== wine prefix ==="
timeout 180 wine wineboot -i >/dev/null 2>&1
# The driver only starts in a prefix whose first boot has finished.
timeout 120 wineserver -w
timeout 30 wineserver -p
timeout 120 wine wineboot >/dev/null 2>&1

echo "=== cameras ==="
timeout 120 wine "$bin/tqcamctl.exe" install 2

echo "=== wine suite ==="
timeout 900 ctest --preset wine
echo "=== driver counters ==="
timeout 60 wine "$bin/tqcamctl.exe" counters
