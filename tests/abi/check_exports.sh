#!/usr/bin/env bash
# The shared object's dynamic symbols are exactly the export list:
# nothing missing, nothing extra.
set -euo pipefail
nm_tool=$1 library=$2 expected=$3
actual=$("$nm_tool" -D --defined-only "$library" | awk '{print $NF}' |
  grep -v -E '^(_init|_fini|__bss_start|_edata|_end|__end__|__bss_start__|__bss_end__|_bss_end__)$' | sort -u)
if ! diff -u <(sort -u "$expected") <(printf '%s\n' "$actual") > /tmp/zub-exports.$$; then
  echo "exported symbols differ from the export list (- listed only, + exported only):"
  cat /tmp/zub-exports.$$
  rm -f /tmp/zub-exports.$$
  exit 1
fi
rm -f /tmp/zub-exports.$$
echo "exports match: $(printf '%s\n' "$actual" | wc -l) symbols"
