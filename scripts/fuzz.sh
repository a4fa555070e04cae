#!/usr/bin/env bash
# Runs one fuzz target for longer: scripts/fuzz.sh TARGET SECONDS
# (TARGET without the _fuzz suffix, e.g. console). The seed corpus is copied
# to a temporary directory, so the checked-in one only grows by hand; a
# crashing input is left in build/fuzz/artifacts/.
set -euo pipefail
if [ $# -ne 2 ]; then
  echo "usage: $0 TARGET SECONDS" >&2
  exit 2
fi
target=${1%_fuzz}
seconds=$2
cd "$(dirname "$0")/.."
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target "${target}_fuzz"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for corpus in "fuzz/corpus/$target" "fuzz/corpus/${target}_fuzz"; do
  if [ -d "$corpus" ]; then
    cp -r "$corpus/." "$work/"
  fi
done
mkdir -p build/fuzz/artifacts
# Diagnostics stay on (the targets capture them); a target's own stderr
# output such as backtraces is kept out of the log with -close_fd_mask when
# ZUB_FUZZ_QUIET is set.
extra=()
[ -n "${ZUB_FUZZ_QUIET:-}" ] && extra+=(-close_fd_mask=2)
"build/fuzz/fuzz/${target}_fuzz" "${extra[@]}" -rss_limit_mb=2048 -max_total_time="$seconds" -max_len=4096 -timeout=10 \
  -print_final_stats=1 -artifact_prefix="build/fuzz/artifacts/${target}-" "$work"
