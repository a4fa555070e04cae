#!/usr/bin/env bash
# Benchmark report.
#
#   scripts/bench.sh [--min-time SECONDS] [--keep DIR]
#       Builds the release preset's benchmarks, runs each briefly and prints
#       one Markdown table: operation, our figure, each peer's figure and
#       the ratio (scripts/bench_table.py). Each program's own output and
#       its JSON go to DIR (default: a temporary directory, removed).
#   scripts/bench.sh --instructions [--keep DIR]
#       Instructions per operation counted by valgrind's callgrind (repeatable
#       run to run): the representative message's serialization and
#       deserialization and the bitmask searches, each as
#       (run with N - run with 0) / N of tools/instructions.cpp.
#
# Needs the release preset's packages (scripts/deps.sh); --instructions also
# needs valgrind. Timings carry whatever else the machine is doing: the
# header names the machine and its load average.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
mode=time
min_time=0.05
keep=
while [ $# -gt 0 ]; do
  case $1 in
    --instructions) mode=instructions ;;
    --min-time) min_time=$2; shift ;;
    --keep) keep=$2; shift ;;
    -h|--help) sed -n '2,17p' "$0"; exit 0 ;;
    *) echo "bench.sh: unknown argument $1" >&2; exit 2 ;;
  esac
  shift
done

if [ -n "$keep" ]; then
  mkdir -p "$keep"
  out=$(cd "$keep" && pwd)
else
  out=$(mktemp -d)
  trap 'rm -rf "$out"' EXIT
fi

cd "$root"
build=build/release
echo "configuring and building the release preset (log: $out/build.log)" >&2
if ! { cmake --preset release && cmake --build --preset release --target \
         $(for f in bench/*_bench.cpp; do basename "$f" .cpp; done) instructions; } >"$out/build.log" 2>&1; then
  tail -30 "$out/build.log" >&2
  echo "bench.sh: the build failed" >&2
  exit 1
fi

machine() {
  local cpu
  cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)
  [ -n "$cpu" ] || cpu=$(uname -m)
  echo "Machine: $(nproc) cores, $cpu; load average $(cut -d' ' -f1-3 /proc/loadavg);" \
       "$(date -u '+%Y-%m-%d %H:%M UTC'); commit $(git rev-parse --short HEAD 2>/dev/null || echo '?')"
}

if [ "$mode" = instructions ]; then
  command -v valgrind >/dev/null || { echo "bench.sh: valgrind is not installed" >&2; exit 1; }
  tool=$build/tools/instructions
  # Total instructions of one run: callgrind's "summary:" (or "totals:") line.
  count() {
    local file=$out/callgrind.$1.$2
    valgrind --tool=callgrind --callgrind-out-file="$file" "$tool" "$1" "$2" >/dev/null 2>"$file.log" ||
      { cat "$file.log" >&2; echo "bench.sh: callgrind failed on $1" >&2; exit 1; }
    sed -n 's/^\(summary\|totals\): *\([0-9]*\).*/\2/p' "$file" | head -1
  }
  row() { # operation, N, description
    local base full
    base=$(count "$1" 0)
    full=$(count "$1" "$2")
    awk -v op="$1" -v what="$3" -v n="$2" -v b="$base" -v f="$full" \
      'BEGIN { printf "| %s | %s | %.1f |\n", op, what, (f - b) / n }'
  }
  echo "$(machine)"
  echo
  echo "| Operation | What one operation is | Instructions per operation |"
  echo "| --- | --- | ---: |"
  row serialize 2000 "zubSimpleSerializeInto of the representative message (598 bytes)"
  row serialize-64 2000 "the same through 64-byte buffers (_zubSerializeTableInto per buffer)"
  row serialize-hand 2000 "hand-written straight-line encoder of the same message"
  row deserialize 2000 "_zubDeserializeTableFrom in one chunk + _zubDeserMemoryDealloc (19 blocks, malloc/free included)"
  row deserialize-hand 2000 "hand-written decoder, the same 19 blocks, then freed"
  row first-sparse 20000 "zubBitmaskFindFirstOne, 2^20 bits, one set in 100,000"
  row first-last 20000 "zubBitmaskFindFirstOne, 2^20 bits, only the last set"
  row next-sparse 20000 "zubBitmaskFindNextOne per set bit found, one in 100,000"
  row next-medium 20000 "zubBitmaskFindNextOne per set bit found, one in 100"
  row next-dense 20000 "zubBitmaskFindNextOne per set bit found, one in 2"
  row next-dense-flat 20000 "flat 64-bit word scan per set bit found, one in 2 (peer)"
  row prev-dense 20000 "zubBitmaskFindPrevOne per set bit found, one in 2"
  row set-reset 20000 "zubBitmaskSetBit + zubBitmaskResetBit of one index"
  echo
  echo "x86-64 instructions of the release build (valgrind callgrind), fixed cost subtracted."
  exit 0
fi

status=0
for program in $build/bench/*_bench; do
  name=$(basename "$program")
  echo "running $name" >&2
  if ! "$program" --benchmark_min_time="$min_time" --benchmark_out="$out/$name.json" \
       --benchmark_out_format=json >"$out/$name.txt" 2>&1; then
    echo "bench.sh: $name failed (output in $out/$name.txt)" >&2
    status=1
  fi
done
echo "$(machine)"
echo
python3 "$root/scripts/bench_table.py" "$out"
exit "$status"
