#!/usr/bin/env bash
# Installs what building and testing tqdev needs (Debian 12, as root).
set -euo pipefail
packages=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev
          libtiff-dev g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 clang libclang-rt-14-dev
          python3-numpy python3-pytest python3-pyqtgraph python3-tifffile python3-setuptools
          python3-venv xvfb xauth doxygen graphviz)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
