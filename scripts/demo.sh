#!/usr/bin/env bash
# Builds the library in release mode and installs it, with its headers, the
# platform stand-ins and the demo console zubsh, into a staging folder
# (build/stage by default), then starts zubsh on this terminal: type help
# for its commands, quit or end of input (Ctrl-D) to leave.
set -euo pipefail
cd "$(dirname "$0")/.."
stage=${1:-$PWD/build/stage}

cmake -S . -B build/demo -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$stage" >/dev/null
cmake --build build/demo -j2
cmake --install build/demo >/dev/null
echo "library:  $stage/lib/libzub-vorn.so (with libzub-debug.so and libzub-osal-common.so)"
echo "headers:  $stage/include/zub/"
echo "cmake:    find_package(zubvorn) with CMAKE_PREFIX_PATH=$stage"
echo "pkg-config: PKG_CONFIG_PATH=$stage/lib/pkgconfig pkg-config --cflags --libs zub-vorn"

# A user's program, built against the staged install through pkg-config.
export PKG_CONFIG_PATH="$stage/lib/pkgconfig"
cc -std=c99 -Wall -Werror examples/hello.c -o build/demo/hello-installed \
  $(pkg-config --cflags --libs zub-vorn) -Wl,-rpath,"$stage/lib"
./build/demo/hello-installed

echo "zubsh:    $stage/bin/zubsh (type help for the commands, quit or Ctrl-D to leave)"
exec "$stage/bin/zubsh"
