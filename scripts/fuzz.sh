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
if [ -d "fuzz/corpus/$target" ]; then
  cp -r "fuzz/corpus/$target/." "$work/"
fi
mkdir -p build/fuzz/artifacts
"build/fuzz/fuzz/${target}_fuzz" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
  -print_final_stats=1 -artifact_prefix="build/fuzz/artifacts/${target}-" "$work"
