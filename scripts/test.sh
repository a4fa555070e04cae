#!/usr/bin/env bash
# The test command: installs what is missing, then builds and runs every
# test on the host (AddressSanitizer + UndefinedBehaviorSanitizer) and on
# armhf under qemu-user.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh

run_preset() {
  local preset=$1
  echo "=== $preset: configure and build ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  echo "=== $preset: test ==="
  ctest --preset "$preset"
}

run_preset host
run_preset armhf
echo "=== all test suites passed ==="
