#!/usr/bin/env bash
# Builds the Debian packages for amd64 (the host) and armhf (cross-built with
# cmake/toolchain-armhf.cmake) and writes all six .deb files into
# build/packages/: libzub-vorn, libzub-vorn-dev and
# libzub-vorn-platform-standins for each architecture.
#
# With --check it then tests them as a user meets them:
#  - lintian finds no error and no warning that is not overridden;
#  - dpkg installs both architectures side by side into one throwaway root;
#    the library and its -dev package alone wait for libzub-platform-libs,
#    which the stand-ins provide;
#  - examples/hello.c builds against that root for each architecture, with
#    pkg-config for a sysroot and with a find_package(zubvorn) project
#    (tests/consumer, for armhf with the toolchain file), and runs (armhf
#    under qemu-arm);
#  - the same project adds the library from this source tree with
#    add_subdirectory, which builds none of its examples, and links the same
#    target name.
set -euo pipefail
cd "$(dirname "$0")/.."
case ${1:-} in
  --check) check=1 ;;
  "") check=0 ;;
  *) echo "usage: $0 [--check]" >&2 && exit 2 ;;
esac
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

amd64=$(dpkg-architecture -aamd64 -qDEB_HOST_MULTIARCH 2>/dev/null)
armhf=arm-linux-gnueabihf
toolchain=$PWD/cmake/toolchain-armhf.cmake
build amd64 "$amd64"
build armhf "$armhf" -DCMAKE_TOOLCHAIN_FILE="$toolchain"
rm -rf "$out/_CPack_Packages"
ls -1 "$out"/*.deb
[ "$check" = 1 ] || exit 0

# There is no archive upload, so there is no bug for the first changelog
# entry to close.
lintian --fail-on error,warning --suppress-tags initial-upload-closes-no-bugs "$out"/*.deb

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "package check: $*" >&2 && exit 1; }

# The throwaway root's dpkg knows both architectures and a C library for each.
root=$work/root
admin=$root/var/lib/dpkg
mkdir -p "$admin/info" "$admin/updates"
touch "$admin/available"
for arch in amd64 armhf; do
  printf '%s\n' 'Package: libc6' 'Status: install ok installed' 'Maintainer: none' \
    "Architecture: $arch" 'Multi-Arch: same' "Version: $(dpkg-query -W -f='${Version}' libc6)" \
    'Description: the C library of this machine' ''
  touch "$admin/info/libc6:$arch.list" "$admin/info/libc6:$arch.md5sums"
done >"$admin/status"
dpkg_root() { dpkg --root="$root" --force-not-root --log=/dev/null "$@"; }
dpkg_root --add-architecture amd64
dpkg_root --add-architecture armhf
if dpkg_root -i "$out"/libzub-vorn{,-dev}_*.deb >"$work/dpkg.log" 2>&1; then
  fail "libzub-vorn installed without libzub-platform-libs"
fi
if ! grep -q 'depends on libzub-platform-libs' "$work/dpkg.log"; then
  cat "$work/dpkg.log" && fail "libzub-vorn failed for another reason than libzub-platform-libs"
fi
dpkg_root -i "$out"/libzub-vorn-platform-standins_*.deb >/dev/null
dpkg_root --configure -a >/dev/null
[ -z "$(dpkg_root --audit)" ] || { dpkg_root --audit && fail "packages left unconfigured"; }
# dpkg takes a package of another architecture without "Multi-Arch: same"
# as a replacement of the installed one: all six must be there.
want=$(for deb in "$out"/*.deb; do dpkg-deb -W --showformat='${Package}:${Architecture}\n' "$deb"; done | sort)
got=$(dpkg-query --root="$root" -W -f='${Package}:${Architecture} ${db:Status-Status}\n' 'libzub-vorn*' |
  sed -n 's/ installed$//p' | sort)
[ "$got" = "$want" ] || fail "installed side by side: $got"
echo "amd64 and armhf packages installed side by side"

# Runs a program with the installed libraries and checks its greeting.
expect_hello() { # library folder, command...
  local libdir=$1 got
  shift
  got=$(LD_LIBRARY_PATH=$libdir "$@")
  [[ $got == "hello from libzub-vorn"* ]] || fail "unexpected output: $got"
}

consumers() { # architecture, multiarch triplet, C compiler, emulator, CMake arguments...
  local arch=$1 compiler=$3 run=$4 libdir=$root/usr/lib/$2 flags
  shift 4
  # pkg-config for a sysroot: the .pc file's paths are taken inside the root.
  flags=$(PKG_CONFIG_SYSROOT_DIR=$root PKG_CONFIG_LIBDIR=$libdir/pkgconfig pkg-config --cflags --libs zub-vorn)
  "$compiler" -std=c99 -Wall -Werror examples/hello.c -o "$work/hello-pkgconfig-$arch" $flags
  expect_hello "$libdir" $run "$work/hello-pkgconfig-$arch"
  echo "$arch: hello built with pkg-config runs"
  cmake -S tests/consumer -B "$work/consumer-$arch" -G Ninja -DCMAKE_PREFIX_PATH="$root/usr" "$@" >/dev/null
  cmake --build "$work/consumer-$arch" >/dev/null
  expect_hello "$libdir" $run "$work/consumer-$arch/consumer-hello"
  echo "$arch: hello built with find_package(zubvorn) runs"
}
consumers amd64 "$amd64" cc ""
consumers armhf "$armhf" "$armhf-gcc" "qemu-arm -L /usr/$armhf" -DCMAKE_TOOLCHAIN_FILE="$toolchain"

# The same project with the library added from this source tree.
sub=$work/subdirectory
cmake -S tests/consumer -B "$sub" -G Ninja -DZUB_SOURCE_DIR="$PWD" >/dev/null
if ninja -C "$sub" -t targets all | grep -q '^zubsh:'; then
  fail "add_subdirectory configured the examples"
fi
cmake --build "$sub" -j2 >/dev/null
expect_hello "" "$sub/consumer-hello"
echo "hello built with add_subdirectory runs"
