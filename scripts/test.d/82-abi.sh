#!/usr/bin/env bash
# The armhf library's ABI against the committed baseline
# (abi/libzub-vorn.armhf.abi): a change to exported functions, variables or
# record layouts fails unless the baseline was updated with it
# (scripts/abi.sh).
set -euo pipefail
cd "$(dirname "$0")/../.."
bash scripts/abi.sh
