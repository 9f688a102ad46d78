#!/usr/bin/env bash
# The package as an application meets it: a plain Release build with the
# compiler's own flags (no presets, no -Werror), installed under a temporary
# prefix and then moved; applications built through find_package and through
# pkg-config (C11 and C++17, -Wpedantic -Werror) run without any library path
# set. Also checks what the shared libraries export and the installed tool.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${1:-build/package}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "package: $*" >&2; exit 1; }

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTQDEV_BUILD_TESTS=OFF \
  -DTQDEV_BUILD_BENCH=OFF -DTQDEV_BUILD_EXAMPLES=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"
cmake --install "$build" --prefix "$work/staged" >/dev/null
# Installed somewhere, used from somewhere else.
mv "$work/staged" "$work/prefix"
prefix=$work/prefix
libdir=$(dirname "$(find "$prefix" -name 'libtqdev_lib64.so' | head -n1)")
[[ -d $libdir ]] || fail "library not installed"

# Exports: the 28 Tqdev functions; libtqsim nothing but Tqsim names.
exports=$(nm -D --defined-only "$libdir/libtqdev_lib64.so" | awk '{print $3}')
[[ $(grep -c '^Tqdev' <<<"$exports") == 28 && $(wc -l <<<"$exports") == 28 ]] ||
  fail "libtqdev_lib64.so exports other names: $(grep -v '^Tqdev' <<<"$exports" | head)"
others=$(nm -D --defined-only "$libdir/libtqsim.so" | awk '{print $3}' | grep -v '^Tqsim' || true)
[[ -z $others ]] || fail "libtqsim.so exports non-Tqsim names: $(head -n5 <<<"$others")"

# Versioned sonames, run paths relative to the library.
readelf -d "$libdir/libtqdev_lib64.so" | grep -q 'SONAME.*libtqdev_lib64\.so\.2\]' ||
  fail "unversioned soname"
readelf -d "$libdir/libtqdev_lib64.so" | grep -q 'RUNPATH.*\[\$ORIGIN\]' || fail "no \$ORIGIN run path"
[[ -f $prefix/share/doc/tqdev/LICENSE ]] || fail "LICENSE not installed"

# The installed tool finds its libraries and knows its version.
"$prefix/bin/tqdev" --version | grep -q "2.05" || fail "tool version"
"$prefix/bin/tqdev" --sim 1 list | grep -q "1 camera" || fail "tool cannot list"

# find_package
cmake -S tests/package -B "$work/cmake-consumer" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake-consumer" >/dev/null
"$work/cmake-consumer/consumer_c"
"$work/cmake-consumer/consumer_cxx"

# pkg-config, through the moved prefix
export PKG_CONFIG_PATH=$libdir/pkgconfig
flags=$(pkg-config --cflags --libs tqdev)
[[ $flags == *"$prefix"* || $flags == *"$(realpath "$prefix")"* ]] || fail "tqdev.pc not relocatable: $flags"
rpath=-Wl,-rpath,$libdir
gcc -std=c11 -Wall -Wextra -Wpedantic -Werror tests/package/consumer.c -o "$work/pc_c" $flags -ltqsim "$rpath"
g++ -std=c++17 -Wall -Wextra -Wpedantic -Werror tests/package/consumer.cpp -o "$work/pc_cxx" $flags -ltqsim "$rpath"
"$work/pc_c"
"$work/pc_cxx"

# An application that links only the library, and a ctypes load: libtqsim is
# found beside the library through its own run path.
printf '#include <tqdev.h>\nint main(void) { TQDEV_LIBRARY_VERSION v; return (int)TqdevLibraryVersion(&v); }\n' |
  gcc -std=c11 -Wpedantic -Werror -x c - -o "$work/version_only" $flags "$rpath"
"$work/version_only" || fail "library-only application does not start"
if command -v python3 >/dev/null; then
  python3 -c "import ctypes, sys; ctypes.CDLL(sys.argv[1])" "$libdir/libtqdev_lib64.so" ||
    fail "ctypes cannot load the library"
fi
echo "package: OK"
