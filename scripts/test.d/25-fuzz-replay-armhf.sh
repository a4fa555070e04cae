#!/usr/bin/env bash
# Every fuzz target built for armhf as a replay program (no libFuzzer, which
# does not cross-compile) under UndefinedBehaviorSanitizer, run under
# qemu-user over its seed corpus and its campaign corpus: the 32-bit size
# arithmetic meets the inputs that the 64-bit fuzzing found interesting.
set -euo pipefail
cd "$(dirname "$0")/../.."

cmake --preset armhf-fuzz-replay >/dev/null
cmake --build --preset armhf-fuzz-replay
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# Diagnostics off: oversize members write backtraces, which are slow under
# emulation and only noise here.
export ZUB_DEBUG=none
for source in fuzz/*_fuzz.cpp; do
  target=$(basename "$source" _fuzz.cpp)
  corpora=()
  for dir in "fuzz/corpus/$target" "fuzz/corpus/${target}_fuzz" "fuzz/campaign/$target"; do
    [ -d "$dir" ] && corpora+=("$dir")
  done
  [ ${#corpora[@]} -eq 0 ] && continue
  echo "--- replay $target (armhf): ${corpora[*]} ---"
  qemu-arm -L /usr/arm-linux-gnueabihf "build/armhf-fuzz-replay/fuzz/${target}_fuzz" "${corpora[@]}"
done
