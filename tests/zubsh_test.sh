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
  quit     leave zubsh
  sort     print the arguments in byte order (string list)
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

# No input at all.
run "$@" </dev/null >"$work/out" 2>/dev/null
status=$?
[ "$status" -eq 0 ] && [ ! -s "$work/out" ] || { echo "FAILED: empty input (status $status)"; failed=1; }

[ "$failed" -eq 0 ] && echo "zubsh: all scripted sessions passed"
exit "$failed"
