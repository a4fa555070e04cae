#!/usr/bin/env bash
# Valgrind memcheck over the host test programs in an optimised build
# without sanitizers (build/valgrind: the release preset's settings without
# the benchmarks). Any memory error or definite leak fails the stage.
set -euo pipefail
cd "$(dirname "$0")/../.."
dir=build/valgrind
cmake --preset release -B "$dir" -DZUB_BUILD_BENCH=OFF -DZUB_BUILD_TOOLS=OFF >/dev/null
cmake --build "$dir" -j2
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
run_one() {
  local program=$1 logs=$2 name
  name=$(basename "$program")
  if valgrind --quiet --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite \
       --track-origins=yes --log-file="$logs/$name.vg" "$program" >"$logs/$name.out" 2>&1; then
    echo "valgrind: $name clean"
  else
    echo "valgrind: $name FAILED"
    tail -n 30 "$logs/$name.out"
    cat "$logs/$name.vg"
    return 1
  fi
}
export -f run_one
find "$dir/tests" -maxdepth 1 -type f -name '*_test' -perm -u+x | sort |
  xargs -P 2 -I{} bash -c 'run_one "$@"' _ {} "$logs"
