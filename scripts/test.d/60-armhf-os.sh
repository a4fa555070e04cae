#!/usr/bin/env bash
# The armhf suite once more, built for size (-Os, MinSizeRel) in
# build/armhf-Os: the armhf preset itself is -O2, and undefined behaviour
# often shows at one level only.
set -euo pipefail
cd "$(dirname "$0")/../.."
dir=build/armhf-Os
cmake --preset armhf -B "$dir" -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
cmake --build "$dir" -j2
ctest --test-dir "$dir" -j2 --output-on-failure --timeout 900
