#!/usr/bin/env bash
# Builds the Debian packages for amd64 (the host) and armhf (cross-built with
# cmake/toolchain-armhf.cmake) and writes all six .deb files into
# build/packages/: libzub-vorn, libzub-vorn-dev and
# libzub-vorn-platform-standins for each architecture.
#   bash scripts/package.sh --check   then checks them as the test command
#                                     does (below).
set -euo pipefail
cd "$(dirname "$0")/.."
check_packages=
[ "${1:-}" = "--check" ] && check_packages=yes
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
[ -n "$check_packages" ] || exit 0

# The check: lintian looks for errors, the amd64 packages are unpacked into
# a throwaway root and examples/hello.c is built against that root twice, with pkg-config and with a CMake
# project that uses find_package(zubvorn), and runs both programs. The armhf
# hello is built the same way against the armhf packages and run under
# qemu-arm; last, the CMake project adds the library from this source tree
# with add_subdirectory and links the same target name.
lintian --fail-on error --suppress-tags initial-upload-closes-no-bugs build/packages/*.deb

# Runs a program with the unpacked libraries and checks its greeting.
expect_hello() { # library folder, command...
  local libdir=$1 out
  shift
  out=$(LD_LIBRARY_PATH=$libdir "$@")
  [[ $out == "hello from libzub-vorn"* ]] || { echo "unexpected output: $out" >&2; exit 1; }
}

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
check() { # architecture, multiarch triplet, C compiler, command prefix to run a program
  local arch=$1 triplet=$2 compiler=$3 run=$4 dest=$root/$1
  for deb in build/packages/*_"$arch".deb; do dpkg-deb -x "$deb" "$dest"; done
  local libdir=$dest/usr/lib/$triplet
  PKG_CONFIG_LIBDIR=$libdir/pkgconfig "$compiler" -std=c99 -Wall -Werror examples/hello.c \
    -o "$root/hello-pkgconfig-$arch" \
    $(PKG_CONFIG_LIBDIR=$libdir/pkgconfig pkg-config --define-variable=prefix="$dest/usr" --cflags --libs zub-vorn)
  expect_hello "$libdir" $run "$root/hello-pkgconfig-$arch"
  echo "$arch: hello built with pkg-config runs"
}
check amd64 "$(dpkg-architecture -aamd64 -qDEB_HOST_MULTIARCH 2>/dev/null)" cc ""
check armhf arm-linux-gnueabihf arm-linux-gnueabihf-gcc "qemu-arm -L /usr/arm-linux-gnueabihf"

# find_package from the amd64 root, as a user's CMake project would.
cmake -S tests/consumer -B "$root/consumer" -G Ninja -DCMAKE_PREFIX_PATH="$root/amd64/usr" >/dev/null
cmake --build "$root/consumer"
expect_hello "$root/amd64/usr/lib/$(dpkg-architecture -aamd64 -qDEB_HOST_MULTIARCH 2>/dev/null)" \
  "$root/consumer/consumer-hello"
echo "amd64: hello built with find_package(zubvorn) runs"

# The same project with the library added from this source tree.
cmake -S tests/consumer -B "$root/subdirectory" -G Ninja -DZUB_SOURCE_DIR="$PWD" >/dev/null
cmake --build "$root/subdirectory" -j2 --target consumer-hello
expect_hello "" "$root/subdirectory/consumer-hello"
echo "hello built with add_subdirectory runs"
