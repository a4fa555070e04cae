#!/usr/bin/env bash
# Static analysis and formatting check (scripts/lint.sh).
set -euo pipefail
cd "$(dirname "$0")/../.."
bash scripts/lint.sh
