#!/usr/bin/env bash
# Runs fuzz targets for longer.
#
#   scripts/fuzz.sh TARGET SECONDS       one target (without the _fuzz suffix,
#                                        e.g. console) for SECONDS
#   scripts/fuzz.sh all MINUTES [TARGET...]
#                                        the campaign: every target (or the
#                                        named ones) in turn, MINUTES each
#
# A run starts from the target's seed corpus (fuzz/corpus/<target>/ or
# fuzz/corpus/<target>_fuzz/) and its campaign corpus (fuzz/campaign/<target>/),
# copied to a temporary directory. A single run leaves the checked-in corpora
# as they are; the campaign minimizes what it found (-merge=1) and rewrites
# fuzz/campaign/<target>/ with the inputs that add coverage beyond the seeds,
# for review and commit. Its logs go to build/fuzz/campaign/; its figures
# (executions, coverage and inputs kept per target) replace the campaign
# table of docs/testing.md. A crashing input is left in build/fuzz/artifacts/.
set -euo pipefail
if [ $# -lt 2 ]; then
  echo "usage: $0 TARGET SECONDS | $0 all MINUTES [TARGET...]" >&2
  exit 2
fi
cd "$(dirname "$0")/.."
cmake --preset fuzz >/dev/null
mkdir -p build/fuzz/artifacts

seed_dirs() {
  local target=$1 dir
  for dir in "fuzz/corpus/$target" "fuzz/corpus/${target}_fuzz"; do
    [ -d "$dir" ] && echo "$dir"
  done
  return 0
}

# Copies the seed and campaign corpora of $1 into directory $2.
gather() {
  local target=$1 into=$2 dir
  for dir in $(seed_dirs "$target") "fuzz/campaign/$target"; do
    if [ -d "$dir" ]; then
      cp -r "$dir/." "$into/"
    fi
  done
}

# Runs target $1 for $2 seconds over corpus directory $3; an input that
# takes longer than $4 seconds (default 10) is reported as a hang.
run() {
  local target=$1 seconds=$2 corpus=$3 limit=${4:-10}
  # Diagnostics stay on (the targets capture them); a target's own stderr
  # output such as backtraces is kept out of the log with -close_fd_mask
  # when ZUB_FUZZ_QUIET is set. The sanitizers' and the fuzzer's reports
  # still come through.
  local extra=()
  [ -n "${ZUB_FUZZ_QUIET:-}" ] && extra+=(-close_fd_mask=2)
  "build/fuzz/fuzz/${target}_fuzz" "${extra[@]}" -rss_limit_mb=2048 -max_total_time="$seconds" \
    -max_len=4096 -timeout="$limit" -print_final_stats=1 -artifact_prefix="build/fuzz/artifacts/${target}-" \
    "$corpus"
}

if [ "$1" != all ]; then
  target=${1%_fuzz}
  cmake --build --preset fuzz --target "${target}_fuzz"
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  gather "$target" "$work"
  run "$target" "$2" "$work"
  exit 0
fi

minutes=$2
shift 2
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for source in fuzz/*_fuzz.cpp; do
    targets+=("$(basename "$source" _fuzz.cpp)")
  done
fi
logs=build/fuzz/campaign
mkdir -p "$logs"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=()
rows=()
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
for target in "${targets[@]}"; do
  target=${target%_fuzz}
  cmake --build --preset fuzz --target "${target}_fuzz"
  rm -rf "${work:?}"/*
  mkdir "$work/run" "$work/merged"
  gather "$target" "$work/run"
  log="$logs/$target.log"
  echo "--- $target: ${minutes} min, log in $log ---"
  status=ok
  # A minute per input before a hang is reported: on a machine shared with
  # other builds a run can stall for more than ten seconds.
  ZUB_FUZZ_QUIET=1 run "$target" $((minutes * 60)) "$work/run" 60 >"$log" 2>&1 || status=FAILED
  [ "$status" = ok ] || failed+=("$target")
  # Minimize: the seeds go into the merge first, so only inputs that add
  # coverage beyond them are kept, then the seeds are taken out again.
  for dir in $(seed_dirs "$target"); do
    cp -r "$dir/." "$work/merged/"
  done
  "build/fuzz/fuzz/${target}_fuzz" -merge=1 -close_fd_mask=2 -rss_limit_mb=2048 -max_len=4096 -timeout=10 \
    "$work/merged" "$work/run" >"$log.merge" 2>&1
  for dir in $(seed_dirs "$target"); do
    (cd "$dir" && find . -type f -print0) | (cd "$work/merged" && xargs -0 rm -f)
  done
  rm -rf "fuzz/campaign/$target"
  mkdir -p "fuzz/campaign/$target"
  cp -r "$work/merged/." "fuzz/campaign/$target/"
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  cov=$(grep -oE 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -n 1)
  kept=$(find "fuzz/campaign/$target" -type f | wc -l)
  echo "$target: $status, ${minutes} min, ${execs:-?} executions, ${cov:-cov: ?}, $kept campaign inputs kept"
  cov=${cov#cov: }
  rows+=("| $target | $status | ${execs:-?} | ${cov/ ft: / / } | $kept |")
done
{
  echo "Last campaign (\`scripts/fuzz.sh all $minutes\`): $(date -u '+%Y-%m-%d %H:%M UTC'), commit" \
    "$(git rev-parse --short HEAD), $minutes min per target, one target at a time on $(nproc) cores," \
    "load average $load_before at the start and $(cut -d' ' -f1-3 /proc/loadavg) at the end."
  echo "Executions and coverage as libFuzzer counts them (\`cov\` edges / \`ft\` features);"
  echo "inputs kept: what \`-merge=1\` left in \`fuzz/campaign/<target>/\` beyond the seeds."
  echo
  echo "| target | result | executions | coverage (cov / ft) | inputs kept |"
  echo "| --- | --- | ---: | ---: | ---: |"
  printf '%s\n' "${rows[@]}"
} | python3 scripts/report_section.py docs/testing.md fuzz-campaign
if [ ${#failed[@]} -ne 0 ]; then
  echo "failed: ${failed[*]} (inputs in build/fuzz/artifacts/)" >&2
  exit 1
fi
