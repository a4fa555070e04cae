#!/usr/bin/env bash
# The benchmark report's table builder: pairing of runs with their peers,
# choice of figures and judgement of the aims, on small made-up results.
set -euo pipefail
cd "$(dirname "$0")/../.."
python3 scripts/bench_table_test.py
