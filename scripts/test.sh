#!/usr/bin/env bash
# The test command: installs what is missing, then builds and runs every
# test on the host (AddressSanitizer + UndefinedBehaviorSanitizer) and on
# armhf under qemu-user.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh

passed=0
log=$(mktemp)
trap 'rm -f "$log"' EXIT

run_preset() {
  local preset=$1
  echo "=== $preset: configure and build ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  echo "=== $preset: test ==="
  ctest --preset "$preset" | tee "$log"
  passed=$((passed + $(sed -n 's/.*tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -n 1)))
}

run_preset host
run_preset armhf
for stage in scripts/test.d/*.sh; do
  [ -f "$stage" ] || continue
  echo "=== $(basename "$stage" .sh) ==="
  bash "$stage"
  passed=$((passed + 1))
done
echo "=== all test suites passed ==="
echo "summary: $passed passed, 0 failed"
