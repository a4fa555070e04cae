#!/usr/bin/env bash
# ABI baseline of the armhf library, kept in abi/libzub-vorn.armhf.abi.
#   bash scripts/abi.sh           builds the armhf preset's library (with
#                                 debug information; build/armhf, which the
#                                 armhf suite uses too) and compares it with
#                                 the baseline: any change to exported
#                                 functions, variables or the layout of a
#                                 record they reach fails;
#   bash scripts/abi.sh --update  writes the baseline from that build; commit
#                                 it together with the change that moved the
#                                 ABI.
# The dump leaves out what varies from one checkout or machine to the next
# (source locations, the corpus and compilation paths; sources are compiled
# with their path mapped to "."), so an unchanged library compares equal and
# a refreshed baseline of an unchanged library is byte for byte the same.
set -euo pipefail
cd "$(dirname "$0")/.."
baseline=abi/libzub-vorn.armhf.abi
dir=build/armhf
cmake --preset armhf >/dev/null
cmake --build --preset armhf --target zub-vorn
library=$dir/libzub-vorn.so
dump() {
  abidw --no-corpus-path --no-comp-dir-path --no-show-locs --type-id-style hash \
    --headers-dir include/zub --drop-private-types "$library"
}

if [ "${1:-}" = "--update" ]; then
  dump > "$baseline"
  echo "abi: wrote $baseline ($(grep -c '<elf-symbol ' "$baseline") exported symbols)"
  exit 0
fi
# Both sides are dumps made the same way, so only real changes differ.
fresh=$dir/libzub-vorn.armhf.abi
dump > "$fresh"
grep -q "<function-decl" "$fresh" || { echo "abi: no debug information in $library" >&2; exit 1; }
status=0
abidiff --no-default-suppression "$baseline" "$fresh" || status=$?
if [ $status -ne 0 ]; then
  echo "abi: libzub-vorn.so (armhf) differs from $baseline (abidiff status $status)." >&2
  echo "abi: if the change is meant, run 'bash scripts/abi.sh --update' and commit the new baseline with it." >&2
  exit 1
fi
echo "abi: the armhf library matches $baseline"
