#!/usr/bin/env bash
# Runs zubsh with scripted standard input and compares what it prints.
# Arguments: the zubsh program, then the emulator command (if any).
set -uo pipefail
zubsh=$1
shift
run() { "$@" "$zubsh"; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0

check() { # name, expected file, actual file
  if ! diff -u "$2" "$3"; then
    echo "FAILED: $1"
    failed=1
  fi
}

# Commands, quoting, an empty line, an unknown command; ends at end of input.
printf '%s\n' 'help' 'echo hello   "quoted  text" '"'"'single'"'"'' '' 'sort pear apple fig apple' \
  'class a b' 'nosuch 1 2' 'echo last' | ZUB_DEBUG=1 run "$@" >"$work/out" 2>"$work/err"
status=$?
cat >"$work/want" <<'TEXT'
commands:
  class    name the root class, then copy the arguments
  echo     print the arguments
  help     list the commands
  mktime   print the seconds of YYYY-MM-DD hh:mm:ss (fields repaired)
  quit     leave zubsh
  sort     print the arguments in byte order (string list)
  time     print the UTC date of SECONDS since 1970
hello quoted  text single
apple apple fig pear
root class "zubObject" a b
last
TEXT
check "commands" "$work/want" "$work/out"
[ "$status" -eq 0 ] || { echo "FAILED: exit status $status at end of input"; failed=1; }
grep -qF 'zubsimplecommandline:264:_vklConsoleThread(): Unknown command: "nosuch".' "$work/err" ||
  { echo "FAILED: no unknown-command message"; cat "$work/err"; failed=1; }

# quit ends the console: the line after it is not run, the status is 0.
printf 'echo before\nquit\necho after\n' | ZUB_DEBUG=none run "$@" >"$work/out" 2>"$work/err"
status=$?
printf 'before\n' >"$work/want"
check "quit" "$work/want" "$work/out"
[ "$status" -eq 0 ] || { echo "FAILED: exit status $status after quit"; failed=1; }
[ -s "$work/err" ] && { echo "FAILED: unexpected output on stderr"; cat "$work/err"; failed=1; }

# Time conversion both ways, with the repairs shown.
printf '%s\n' 'time 951782400' 'time -1' 'mktime 2001-02-31 07:08:60' 'mktime 2000-13-01 25:00:00' \
  'time x' | ZUB_DEBUG=none run "$@" >"$work/out" 2>"$work/err"
cat >"$work/want" <<'TEXT'
2000-02-29 00:00:00 (Tue, day 59 of the year)
1969-12-31 23:59:59 (Wed, day 364 of the year)
983603280  2001-02-31 07:08:00 (Sat, day 61 of the year)
946684800  2000-01-01 00:00:00 (Sat, day 0 of the year)
usage: time SECONDS (-2147483648 to 2147483647)
TEXT
check "time" "$work/want" "$work/out"

# No input at all.
run "$@" </dev/null >"$work/out" 2>/dev/null
status=$?
[ "$status" -eq 0 ] && [ ! -s "$work/out" ] || { echo "FAILED: empty input (status $status)"; failed=1; }

[ "$failed" -eq 0 ] && echo "zubsh: all scripted sessions passed"
exit "$failed"
