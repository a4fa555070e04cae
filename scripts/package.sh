#!/usr/bin/env bash
# Builds the Debian packages for amd64 (the host) and armhf (cross-built with
# cmake/toolchain-armhf.cmake) and writes all six .deb files into
# build/packages/: libzub-vorn, libzub-vorn-dev and
# libzub-vorn-platform-standins for each architecture.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$PWD/build/packages
mkdir -p "$out"
rm -f "$out"/*.deb

build() { # name, multiarch triplet, extra configure arguments...
  local dir=build/package-$1 triplet=$2
  shift 2
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZUB_WERROR=ON \
    -DZUB_BUILD_EXAMPLES=OFF -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_INSTALL_LIBDIR="lib/$triplet" \
    "$@" >/dev/null
  cmake --build "$dir" -j2
  (cd "$dir" && cpack -G DEB -B "$out" >/dev/null)
}

build amd64 "$(dpkg-architecture -aamd64 -qDEB_HOST_MULTIARCH 2>/dev/null)"
build armhf arm-linux-gnueabihf -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchain-armhf.cmake"
rm -rf "$out/_CPack_Packages"
ls -1 "$out"/*.deb
