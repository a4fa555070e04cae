#!/usr/bin/env bash
# Mutation score of one family's tests, or of several (comma-separated, or
# "all"): scripts/mutate.sh FAMILY [COUNT]. COUNT mutants per source
# (default 20), the same ones on every run over the same sources. Builds in
# build/mutate (no sanitizers, -O1, so that a mutant rebuilds and runs in
# seconds); every mutated source is written back, also when the run is
# interrupted. scripts/mutate.py --list FAMILY shows the mutants.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build/mutate
trap 'python3 scripts/mutate.py --restore' EXIT
trap 'exit 130' INT TERM
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_FLAGS_DEBUG=-O1 \
    -DCMAKE_CXX_FLAGS_DEBUG=-O1 -DZUB_BUILD_TESTS=ON -DZUB_BUILD_EXAMPLES=OFF \
    -DCMAKE_LINK_DEPENDS_NO_SHARED=ON >/dev/null
fi
nice -n 10 cmake --build "$dir" -j2 >/dev/null
nice -n 10 python3 scripts/mutate.py "$@"
