#!/usr/bin/env bash
# Every fuzz target but the deserializer's (stage 20 runs that one) for
# about 20 seconds each (ZUB_FUZZ_SECONDS), from its seed and campaign
# corpora (scripts/fuzz.sh).
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${ZUB_FUZZ_SECONDS:-20}
log=$(mktemp)
trap 'rm -f "$log"' EXIT
for source in fuzz/*_fuzz.cpp; do
  target=$(basename "$source" _fuzz.cpp)
  [ "$target" = deserializer ] && continue
  echo "--- fuzz $target (${seconds}s) ---"
  if ! bash scripts/fuzz.sh "$target" "$seconds" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "fuzz target $target failed" >&2
    exit 1
  fi
  grep -E '^(stat::number_of_executed_units|Done )' "$log" || true
done
