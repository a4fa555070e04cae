#!/usr/bin/env bash
# The test command. Installs what is missing (scripts/deps.sh), then runs
# every workflow preset of CMakePresets.json (configure, build, ctest) and
# the lint, docs, ABI and package checks, in two lanes side by side on the
# two cores. Each stage's output goes to build/test-logs/<stage>.log; a
# failed stage prints the end of its log. The last line is
# "summary: N passed, M failed" (ctest tests and script stages); the exit
# status is non-zero when anything failed. The elapsed time and the stage
# times are written into docs/testing.md.
set -uo pipefail
cd "$(dirname "$0")/.."
start=$(date +%s)
load_before=$(cut -d' ' -f1-3 /proc/loadavg)

logs=build/test-logs
rm -rf "$logs"
mkdir -p "$logs"

# One stage: its name, then the command. Leaves "name status seconds passed
# failed" in $logs/name.result. A ctest run counts its tests; any other
# stage counts as one check.
stage() {
  local name=$1 log=$logs/$1.log t0 rc=0 seconds total bad passed failed
  shift
  t0=$(date +%s)
  "$@" >"$log" 2>&1 || rc=$?
  seconds=$(($(date +%s) - t0))
  read -r bad total < <(sed -n 's/.* \([0-9]*\) tests\{0,1\} failed out of \([0-9]*\).*/\1 \2/p' "$log" |
    awk '{ b += $1; t += $2 } END { print b + 0, t + 0 }')
  if [ "$total" -gt 0 ]; then
    passed=$((total - bad)) failed=$bad
    [ "$rc" -ne 0 ] && [ "$bad" -eq 0 ] && failed=1
  elif [ "$rc" -eq 0 ]; then
    passed=1 failed=0
  else
    passed=0 failed=1
  fi
  echo "$name $rc $seconds $passed $failed" >"$logs/$name.result"
  if [ "$rc" -eq 0 ]; then
    echo "stage $name: passed ($passed checks, ${seconds}s)"
  else
    echo "stage $name: FAILED (status $rc, ${seconds}s; log $log)"
    tail -n 60 "$log" | sed "s/^/  $name| /"
  fi
}

workflow() { cmake --workflow --preset "$1"; }
# The armhf suite once more against the library and stand-ins built for size:
# undefined behaviour often shows at one optimisation level only.
size_suite() { cmake --workflow --preset armhf-os && ctest --preset armhf-os; }

stage deps bash scripts/deps.sh
deps_seconds=$(cut -d' ' -f3 "$logs/deps.result")

# Lane one needs the host configuration before lint (compile commands) and
# the armhf library before the ABI check; lane two ends with the packages.
{
  stage host workflow host
  stage lint bash scripts/lint.sh
  stage armhf workflow armhf
  stage abi bash scripts/abi.sh
  stage armhf-os size_suite
  stage docs bash scripts/docs.sh
} &
lane_one=$!
{
  stage fuzz workflow fuzz
  stage tsan workflow tsan
  stage valgrind workflow valgrind
  stage armhf-fuzz-replay workflow armhf-fuzz-replay
  stage packages bash scripts/package.sh --check
} &
lane_two=$!
wait "$lane_one" "$lane_two"

elapsed=$(($(date +%s) - start))
passed=0
failed=0
table=""
for name in deps host lint armhf abi armhf-os docs fuzz tsan valgrind armhf-fuzz-replay packages; do
  if [ ! -f "$logs/$name.result" ]; then
    failed=$((failed + 1))
    table+="| $name | did not run | | |"$'\n'
    continue
  fi
  read -r _ rc seconds p f <"$logs/$name.result"
  passed=$((passed + p))
  failed=$((failed + f))
  outcome=passed
  [ "$rc" -eq 0 ] || outcome="FAILED ($f)"
  table+="| $name | $outcome | $p | $seconds |"$'\n'
done

{
  echo "Last run of \`bash scripts/test.sh\`: $(date -u '+%Y-%m-%d %H:%M UTC'), commit" \
    "$(git rev-parse --short HEAD 2>/dev/null || echo '?'), $(nproc) cores," \
    "load average $load_before at the start and $(cut -d' ' -f1-3 /proc/loadavg) at the end."
  echo "Elapsed: **$((elapsed / 60)) min $((elapsed % 60)) s** in all, of which ${deps_seconds} s" \
    "installing packages; $passed checks passed, $failed failed."
  echo
  echo "| stage | result | checks passed | seconds |"
  echo "| --- | --- | ---: | ---: |"
  printf '%s' "$table"
} | python3 scripts/report_section.py docs/testing.md test-run 2>/dev/null || true

echo "elapsed: $((elapsed / 60)) min $((elapsed % 60)) s"
echo "summary: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
