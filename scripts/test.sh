#!/usr/bin/env bash
# Builds and runs every test: optimised, under AddressSanitizer +
# UndefinedBehaviorSanitizer, and under ThreadSanitizer (the threaded tests
# five times); the Python package and its viewer (under a virtual display);
# checks the installed package with applications built against it; builds the
# Windows DLL and checks its exports; runs the integration suite on the real
# DLL and camera driver under Wine; runs the unpacker's fuzz target for a
# bounded time; builds the API reference with warnings as errors.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
jobs=$(nproc)

for preset in default asan tsan; do
  echo "=== $preset ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  if [[ $preset == tsan ]]; then
    # Every test once; the threaded ones four more times, as races show
    # only now and then.
    ctest --preset "$preset" -j "$jobs"
    ctest --preset "$preset" -j "$jobs" -L threaded --repeat until-fail:4
  else
    ctest --preset "$preset" -j "$jobs"
  fi
done

echo "=== docs ==="
# The API reference (any Doxygen warning fails) and the architecture diagram.
cmake -S docs -B build/docs -G Ninja >/dev/null
cmake --build build/docs

echo "=== python ==="
# Debian's interpreter: it has the python3-* packages deps.sh installs.
TQDEV_BUILD_DIR=build/default /usr/bin/python3 -m pytest -q -p no:cacheprovider tests/python
# The package installs with no package index into a fresh environment that sees Debian's
# numpy and setuptools, and imports from outside the tree with the project's version.
venv=$(mktemp -d)
/usr/bin/python3 -m venv --system-site-packages "$venv"
rm -rf python/build python/tqdev.egg-info  # pip builds in the tree; nothing stale goes in
"$venv/bin/pip" install -q --no-build-isolation --no-deps ./python
installed=$(cd "$venv" && bin/python -c "import tqdev; print(tqdev.__version__)")
echo "installed tqdev $installed"
grep -qx "Version: $installed" build/default/library/tqdev.pc
rm -rf "$venv"

echo "=== package ==="
./scripts/check_package.sh

echo "=== mingw ==="
cmake --preset mingw >/dev/null
cmake --build --preset mingw -j "$jobs" --target tqdev_lib64
./scripts/check_dll_exports.sh build/mingw/library/tqdev_lib64.dll library/tqdev_lib64.def

echo "=== windows (wine) ==="
timeout 1500 ./scripts/test_windows.sh

echo "=== fuzz ==="
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs" --target unpack_image_fuzzer
./fuzz/run.sh build/fuzz 60
