#!/usr/bin/env bash
# Benchmark report.
#
#   scripts/bench.sh [--min-time SECONDS] [--keep DIR]
#       Builds the release preset's benchmarks, runs each briefly and prints
#       one Markdown table: operation, our figure, each peer's figure and
#       the ratio (scripts/bench_table.py). Each program's own output and
#       its JSON go to DIR (default: a temporary directory, removed).
#       The table replaces the timing section of docs/performance.md.
#   scripts/bench.sh --instructions [--keep DIR]
#       x86-64 instructions per operation counted by valgrind's callgrind
#       (repeatable run to run) for every operation of tools/instructions.cpp
#       (its --list), each as (run with 2N - run with N) / N.
#   scripts/bench.sh --arm-instructions [--keep DIR]
#       The same operations cross-built for armhf at the platform's -O2
#       (build/arm-count) and counted under qemu-user, one trace line per
#       executed instruction, beside the callgrind counts.
#   Each instruction mode replaces its own section of docs/performance.md.
#
# Needs the release preset's packages (scripts/deps.sh); --instructions
# needs valgrind, --arm-instructions the cross compiler and qemu-user (and
# valgrind for the x86-64 column). Timings carry whatever else the machine
# is doing: the header names the machine and its load average.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
mode=time
min_time=0.05
keep=
while [ $# -gt 0 ]; do
  case $1 in
    --instructions) mode=instructions ;;
    --arm-instructions) mode=arm-instructions ;;
    --min-time) min_time=$2; shift ;;
    --keep) keep=$2; shift ;;
    -h|--help) sed -n '2,23p' "$0"; exit 0 ;;
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

# Prints what it reads and puts it into section $1 of docs/performance.md,
# whose header says where the figures come from.
report() {
  local text
  text=$(cat)
  printf '%s\n' "$text"
  [ -f docs/performance.md ] || printf '%s\n' "# Performance" "" \
    "Written by \`scripts/bench.sh\` (timings) and \`scripts/bench.sh --instructions\` /" \
    "\`--arm-instructions\` (instruction counts); each section names its machine, load, date and commit." \
    >docs/performance.md
  printf '%s\n' "$text" | python3 scripts/report_section.py docs/performance.md "$1"
}

cd "$root"
build=build/release
echo "configuring and building the release preset (log: $out/build.log)" >&2
if [ "$mode" = time ]; then
  targets=$(for f in bench/*_bench.cpp; do basename "$f" .cpp; done)
else
  targets=instructions
fi
if ! { cmake --preset release && cmake --build --preset release --target $targets; } >"$out/build.log" 2>&1; then
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

# Instruction counts: every operation of the counting program runs N and 2N
# times; the difference over N leaves out start-up, set-up and first calls.
if [ "$mode" != time ]; then
  host_tool=$build/tools/instructions
  have_valgrind=yes
  command -v valgrind >/dev/null || have_valgrind=
  if [ "$mode" = instructions ] && [ -z "$have_valgrind" ]; then
    echo "bench.sh: valgrind is not installed" >&2
    exit 1
  fi
  # Total x86-64 instructions of one run: callgrind's "summary:" (or "totals:") line.
  x86_total() {
    local file=$out/callgrind.$1.$2
    valgrind --tool=callgrind --callgrind-out-file="$file" "$host_tool" "$1" "$2" >/dev/null 2>"$file.log" ||
      { cat "$file.log" >&2; echo "bench.sh: callgrind failed on $1" >&2; exit 1; }
    sed -n 's/^\(summary\|totals\): *\([0-9]*\).*/\2/p' "$file" | head -1
  }
  per_op() { # counter, operation, N
    local once twice
    once=$("$1" "$2" "$3")
    twice=$("$1" "$2" $(($3 * 2)))
    awk -v a="$once" -v b="$twice" -v n="$3" 'BEGIN { printf "%.1f", (b - a) / n }'
  }
  # The counting program, each line: name, N, what one operation is.
  list() { "$host_tool" --list; }
fi

if [ "$mode" = arm-instructions ]; then
  for tool in arm-linux-gnueabihf-g++ qemu-arm; do
    command -v "$tool" >/dev/null || { echo "bench.sh: $tool is not installed (scripts/deps.sh)" >&2; exit 1; }
  done
  # Release flags of the platform (-O2); the counting program carries its
  # own C++ runtime so that each run starts in about 0.2 M instructions
  # (a shared libstdc++ would add 1.9 M of relocations and locale set-up).
  arm=build/arm-count
  echo "cross-building the counting program in $arm (log: $out/arm-build.log)" >&2
  if ! { cmake -S . -B "$arm" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-armhf.cmake" \
           -DCMAKE_BUILD_TYPE=Release "-DCMAKE_C_FLAGS_RELEASE=-O2 -DNDEBUG" \
           "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" "-DCMAKE_EXE_LINKER_FLAGS=-static-libstdc++ -static-libgcc" \
           -DZUB_BUILD_TOOLS=ON -DZUB_BUILD_TESTS=OFF -DZUB_BUILD_EXAMPLES=OFF &&
         cmake --build "$arm" -j2 --target instructions; } >"$out/arm-build.log" 2>&1; then
    tail -30 "$out/arm-build.log" >&2
    echo "bench.sh: the armhf build failed" >&2
    exit 1
  fi
  # One translated block per instruction (-singlestep, called
  # -one-insn-per-tb from qemu 8), each logged on execution (nochain keeps
  # chained blocks from skipping the log): one "Trace" line per instruction.
  # The lines are counted through a pipe, never written to a file.
  one_insn=-singlestep
  qemu-arm -h 2>/dev/null | grep -q -- -one-insn-per-tb && one_insn=-one-insn-per-tb
  arm_total() {
    qemu-arm -L /usr/arm-linux-gnueabihf "$one_insn" -d nochain,exec -D /dev/stdout \
      "$arm/tools/instructions" "$1" "$2" 2>>"$out/qemu.log" | grep -c Trace
  }
  {
  echo "## Instructions per operation, ARM and x86-64"
  echo
  echo "$(machine)"
  echo
  echo "| Operation | What one operation is | ARM (armhf -O2) | x86-64 (release) |"
  echo "| --- | --- | ---: | ---: |"
  while IFS=$'\t' read -r op n what; do
    echo "counting $op" >&2
    arm_count=$(per_op arm_total "$op" "$n")
    x86_count=-
    [ -n "$have_valgrind" ] && x86_count=$(per_op x86_total "$op" "$n")
    echo "| $op | $what | $arm_count | $x86_count |"
  done < <(list)
  echo
  echo "Instructions per operation, (count of a run with 2N - count with N) / N: ARM counted by"
  echo "qemu-user (one trace line per executed instruction), x86-64 by valgrind's callgrind."
  echo "Operations ending in -peer are the practical limit or a peer, for comparison."
  } >"$out/report.md"
  report arm-instructions <"$out/report.md"
  exit 0
fi

if [ "$mode" = instructions ]; then
  {
  echo "## Instructions per operation, x86-64"
  echo
  echo "$(machine)"
  echo
  echo "| Operation | What one operation is | Instructions per operation |"
  echo "| --- | --- | ---: |"
  while IFS=$'\t' read -r op n what; do
    echo "| $op | $what | $(per_op x86_total "$op" "$n") |"
  done < <(list)
  echo
  echo "x86-64 instructions of the release build (valgrind callgrind), (2N run - N run) / N."
  } >"$out/report.md"
  report instructions <"$out/report.md"
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
if [ "$status" -ne 0 ]; then
  python3 "$root/scripts/bench_table.py" "$out"
  exit "$status"
fi
{
  echo "## Timings"
  echo
  echo "$(machine); \`scripts/bench.sh --min-time $min_time\`. Timings carry whatever else ran on the machine."
  echo
  python3 "$root/scripts/bench_table.py" "$out"
} >"$out/report.md"
report timing <"$out/report.md"
