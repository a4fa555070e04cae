#!/usr/bin/env bash
# Runs zubsh with scripted standard input or commands and compares what it
# prints. Arguments: the section to run (console, inspector, tables,
# command-line, diagnostics), the zubsh program, then the emulator command
# (if any).
set -uo pipefail
section=$1
zubsh=$2
shift 2
emulator=("$@")
run() { "${emulator[@]}" "$zubsh" "$@"; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0

check() { # name, expected file, actual file
  if ! diff -u "$2" "$3"; then
    echo "FAILED: $1"
    failed=1
  fi
}
fail() { echo "FAILED: $*"; failed=1; }

case $section in
console)
# Commands, quoting, an empty line, an unknown command; ends at end of input.
printf '%s\n' 'help' 'echo hello   "quoted  text" '"'"'single'"'"'' '' 'sort pear apple fig apple' \
  'class a b' 'nosuch 1 2' 'echo last' | ZUB_DEBUG=1 run >"$work/out" 2>"$work/err"
status=$?
cat >"$work/want" <<'TEXT'
commands:
  class    name the root class, then copy the arguments
  decode   decode [--lib LIB] [--json] TYPE HEX... | --file PATH: print a stream
  echo     print the arguments
  encode   encode [--lib LIB] TYPE VALUES... [--file PATH]: make a stream
  help     list the commands
  mktime   print the seconds of YYYY-MM-DD hh:mm:ss (fields repaired)
  quit     leave zubsh
  sort     print the arguments in byte order (string list)
  time     print the UTC date of SECONDS since 1970
TYPE: a predefined type, or with --lib LIB a table the shared object LIB exports
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
printf 'echo before\nquit\necho after\n' | ZUB_DEBUG=none run >"$work/out" 2>"$work/err"
status=$?
printf 'before\n' >"$work/want"
check "quit" "$work/want" "$work/out"
[ "$status" -eq 0 ] || { echo "FAILED: exit status $status after quit"; failed=1; }
[ -s "$work/err" ] && { echo "FAILED: unexpected output on stderr"; cat "$work/err"; failed=1; }

# Time conversion both ways, with the repairs shown.
printf '%s\n' 'time 951782400' 'time -1' 'mktime 2001-02-31 07:08:60' 'mktime 2000-13-01 25:00:00' \
  'time x' | ZUB_DEBUG=none run >"$work/out" 2>"$work/err"
cat >"$work/want" <<'TEXT'
2000-02-29 00:00:00 (Tue, day 59 of the year)
1969-12-31 23:59:59 (Wed, day 364 of the year)
983603280  2001-03-03 07:08:00 (Sat, day 61 of the year)
946684800  2000-01-01 00:00:00 (Sat, day 0 of the year)
usage: time SECONDS (-2147483648 to 2147483647)
TEXT
check "time" "$work/want" "$work/out"

# No input at all.
run </dev/null >"$work/out" 2>/dev/null
status=$?
[ "$status" -eq 0 ] && [ ! -s "$work/out" ] || { echo "FAILED: empty input (status $status)"; failed=1; }

;;
inspector)
# Stream inspector: encode prints the stream, decode reads it back, and a
# stream that ends early or asks for too much names where the walk stopped.
printf '%s\n' 'encode blob-i16 -1 300' 'encode blob-u64 0x0102030405060708' 'encode vector-u8 255 0' \
  'encode string "hi there"' 'encode string-array a "" bc' 'encode time 1700000000 5' \
  'encode blob-i8 128' 'encode blob-u8 -1' 'encode nosuch' \
  'decode blob-i16 00000002 ffff012c' 'decode string-array 00000003 00000001 61000000 00000000 0262 63' \
  'decode blob-string 00000001 0000000568 656c6c6f' 'decode time 000000006553f100 00000005' \
  'decode blob-u8 00000003 0102' 'decode blob-string 00000002 00000001 61 000000' \
  'decode time 000000006553f1' 'decode blob-u32 40000000' 'decode blob-string 0fffffff' \
  'decode vector-u8 00000001 0102' 'decode blob-u8 0g' 'decode blob-u8 000' |
  ZUB_DEBUG=none run >"$work/out" 2>"$work/err"
cat >"$work/want" <<'TEXT'
8 bytes: 00000002 ffff012c
12 bytes: 00000001 01020304 05060708
6 bytes: 00000002 ff00
12 bytes: 00000008 68692074 68657265
19 bytes: 00000003 00000001 61000000 00000000 026263
12 bytes: 00000000 6553f100 00000005
encode: "128" is not a 8-bit signed integer
encode: "-1" is not a 8-bit unsigned integer
encode: TYPE is one of blob-i8 blob-i16 blob-i32 blob-i64 blob-u8 blob-u16 blob-u32 blob-u64 vector-u8 vector-u16 vector-u32 string string-array blob-string time
count 2: -1 300
count 3: [0] "a" [1] "" [2] "bc"
count 1: [0] "hello"
seconds 1700000000 nanoseconds 5
decode: stopped in blob-u8, member elements (entry 0, field ZUB_DESER_NODEBUG), after 6 of 6 bytes, 2 of its 3 bytes read: the stream ends here, more bytes needed
decode: stopped in blob-string element 1, member length (entry 0, field ZUB_DESER_NODEBUG), after 12 of 12 bytes, 3 of its 4 bytes read: the stream ends here, more bytes needed
decode: stopped in time, member seconds (entry 0, field ZUB_DESER_NODEBUG), after 7 of 7 bytes, 7 of its 8 bytes read: the stream ends here, more bytes needed
decode: stopped in blob-u32, member count (entry 0, field ZUB_DESER_NODEBUG), after 4 of 4 bytes: the member's data exceed 0x200000 bytes
decode: stopped in blob-string, member count (entry 0, field ZUB_DESER_NODEBUG), after 4 of 4 bytes: a count asks for more than the 4194304-byte budget
count 1: 1
decode: 1 bytes after the end of the vector-u8 left over
decode: "0g" is not hex
decode: odd number of hex digits
TEXT
check "stream inspector" "$work/want" "$work/out"

# Every type round-trips: what encode prints, decode reads back to the
# same values (extremes of each width included).
cases=('blob-i8|-128 127 0' 'blob-i16|-32768 32767' 'blob-i32|-2147483648 2147483647'
  'blob-i64|-9223372036854775808 9223372036854775807' 'blob-u8|255 1' 'blob-u16|65535'
  'blob-u32|4294967295 7' 'blob-u64|18446744073709551615' 'vector-u8|' 'vector-u16|1 2 3'
  'vector-u32|305419896' 'string|' 'string-array|x yz' 'blob-string|' 'time|-1 999999999')
for c in "${cases[@]}"; do echo "encode ${c%%|*} ${c#*|}"; done | ZUB_DEBUG=none run >"$work/hex" 2>/dev/null
i=0
while read -r count hex; do
  c=${cases[$i]}
  echo "decode ${c%%|*} ${hex#bytes: }"
  i=$((i + 1))
done <"$work/hex" | ZUB_DEBUG=none run >"$work/out" 2>/dev/null
cat >"$work/want" <<'TEXT'
count 3: -128 127 0
count 2: -32768 32767
count 2: -2147483648 2147483647
count 2: -9223372036854775808 9223372036854775807
count 2: 255 1
count 1: 65535
count 2: 4294967295 7
count 1: 18446744073709551615
count 0:
count 3: 1 2 3
count 1: 305419896
count 0: ""
count 2: [0] "x" [1] "yz"
count 0:
seconds -1 nanoseconds 999999999
TEXT
check "round trip of every type" "$work/want" "$work/out"

;;
tables)
# The inspector on a user's tables: the example message library round-trips
# (encode's stream decoded again), a short stream or a count above its limit
# says where the walk stopped, and a missing library or table, bad values,
# tables that fail the check and nesting without end give one line each.
lib=${ZUBSH_USER_LIB:?the example message library} bad=${ZUBSH_BAD_LIB:?the library of broken tables}
report="--lib $lib sensor_report_table"
echo "encode $report 7 1700000000 5 \"probe one\" 2 1 100 2 4294967295 10 20 30 3 1 2 65535" |
  ZUB_DEBUG=none run >"$work/hex" 2>/dev/null
{
  echo "decode $report $(cut -d: -f2 "$work/hex")"
  printf '%s\n' "decode $report 00070000 00006553 f1000000 00050009 70726f62 65206f6e 65020100 00006402 ffff" \
    "decode $report 0007 0000000000000000 00000000 0000 11" "encode $report 7 1 2 x 0 1 2 3 0 9" \
    "encode $report 7 1 2 x 1 256" "encode $report 7" "decode --lib /nonexistent/libnone.so t 00" \
    "decode --lib $lib nosuch 00" "decode $report 0g" "decode --lib $bad bad_kind 00" \
    "encode --lib $bad past_end 1" "encode --lib $bad nests_itself $(seq -s ' ' 1 20)" \
    "decode --lib $bad nests_itself $(printf '%02x' $(seq 1 21))" 'echo still here'
} | ZUB_DEBUG=none run >"$work/out" 2>/dev/null
cat "$work/hex" "$work/out" >"$work/all"
cat >"$work/want" <<TEXT
52 bytes: 00070000 00006553 f1000000 00050009 70726f62 65206f6e 65020100 00006402 ffffffff 000a0014 001e0000 00030001 0002ffff
offset 0 u16: 7
offset 16 table:
  offset 0 u64: 1700000000
  offset 8 u32: 5
offset 2 string, 9 bytes: "probe one"
offset 4 var8 of 2 structures:
  [0]
    offset 0 u8: 1
    offset 4 u32: 100
  [1]
    offset 0 u8: 2
    offset 4 u32: 4294967295
offset 6 fixed of 3 u16: 10 20 30
offset 12 var32 of 3 u16: 1 2 65535
decode: stopped in sensor_report_table level 2 element 1, member at offset 4, u32 (entry 1, field ZUB_DESER_NODEBUG), after 34 of 34 bytes, 2 of its 4 bytes read: the stream ends here, more bytes needed
decode: stopped in sensor_report_table, member at offset 4, var8 (entry 4, field ZUB_DESER_NODEBUG), after 17 of 17 bytes: a count exceeds its limit
encode: sensor_report_table takes 9 values, more are left
encode: "256" is not a 8-bit integer
encode: more values needed for the u64 at offset 0
decode: cannot load /nonexistent/libnone.so: /nonexistent/libnone.so: cannot open shared object file: No such file or directory
decode: $lib exports no table nosuch
decode: "0g" is not hex
decode: table bad_kind refused: entry 1 (kind 12 at offset 2) of a 4-byte structure: the kind is not a member kind
encode: table past_end refused: entry 0 (u32 at offset 2) of a 4-byte structure: the member ends past its structure
encode: the structures nest deeper than 19 levels
decode: stopped in nests_itself level 20, member at offset 0, table (entry 1, field ZUB_DESER_NODEBUG), after 20 of 21 bytes: the structures nest deeper than the 20-record stack
still here
TEXT
check "user tables" "$work/want" "$work/all"
picked='[.members[1].members[0].value, .members[2].text, .members[3].elements[1][1].value, .members[4].values]'
json=$(run decode --json --lib "$lib" sensor_report_table $(cut -d: -f2 "$work/hex") | jq -c "$picked")
[ "$json" = '[1700000000,"probe one",4294967295,[10,20,30]]' ] || fail "--json of nested structures: $json"

;;
command-line)
# Usage, exit statuses of -c and of a command given as arguments.
run --help >"$work/help" && run -h | cmp -s - "$work/help" || fail "--help and -h"
for word in decode encode --lib --file --json ZUB_DEBUG backtrace; do
  grep -q -- "$word" "$work/help" || fail "--help does not name $word"
done
run -x >/dev/null 2>&1
[ $? -eq 2 ] || fail "an unknown option is not status 2"
statuses=
for c in 'echo a "b  c"' 'time x' 'nosuch 1' 'mktime -2147483648-01-01 00:00:00' \
  'mktime 2000-02-31 25:61:61'; do
  run -c "$c" >>"$work/out" 2>/dev/null
  statuses+=" $?"
done
run -c 'echo 1' -c 'time x' -c 'echo 3' >>"$work/out"
statuses+=" $?"
run echo as given "a  b" >>"$work/out"
statuses+=" $?"
echo "statuses$statuses" >>"$work/out"
cat >"$work/want" <<'TEXT'
a b  c
usage: time SECONDS (-2147483648 to 2147483647)
mktime: each field lies between -1000000000 and 1000000000
951955200  2000-03-02 00:00:00 (Thu, day 61 of the year)
1
usage: time SECONDS (-2147483648 to 2147483647)
as given a  b
statuses 0 1 127 1 0 1 0
TEXT
check "command line" "$work/want" "$work/out"

# Captures as users paste them: 0x, colons, blanks; a 252-byte blob in hex
# on one console line (520 characters); more than 100 values to encode.
hex=$(for i in $(seq 0 251); do printf '%02x' "$i"; done)
{
  echo 'decode blob-u8 0x00000003 de:ad:BE'
  echo "decode blob-u8 000000fc $hex"
  echo "encode blob-u8 $(seq -s , 1 150) 151"
} | run >"$work/out" 2>/dev/null
run -c "decode blob-u16 '0x0000 0x0002' 00:01:ff:ff" >>"$work/out"
run -c "encode blob-u8 $(seq -s ' ' 101 250)" | cut -c1-37 >>"$work/out"
cat >"$work/want" <<TEXT
count 3: 222 173 190
count 252: $(seq -s ' ' 0 251)
155 bytes: 00000097 $(printf '%02x' $(seq 1 151) | sed 's/\(.\{8\}\)/\1 /g')
count 2: 1 65535
154 bytes: 00000096 65666768 696a6b6c
TEXT
check "hex forms and long lines" "$work/want" "$work/out"

# Binary in and out: encode --file writes the stream, a 4404-byte capture
# made here decodes from a file and from standard input, as JSON for jq.
run encode blob-u16 1,2 --file "$work/small.bin" >"$work/out"
printf '\x00\x00\x00\x02\x00\x01\x00\x02' | cmp -s - "$work/small.bin" || fail "encode --file"
[ -s "$work/out" ] && fail "encode --file also printed: $(cat "$work/out")"
{
  printf '\x00\x00\x04\x4c'
  for i in $(seq 0 1099); do printf "\\x00\\x00\\x$(printf %02x $((i >> 8)))\\x$(printf %02x $((i & 255)))"; done
} >"$work/capture.bin"
sum='.members[0] | select(.kind == "var32" and .count == 1100) | .values | add'
run decode --json blob-u32 --file "$work/capture.bin" | jq -e "$sum == 604450" >/dev/null ||
  fail "--json --file of a 4404-byte capture"
run decode blob-u32 --file - --json <"$work/capture.bin" | jq -e "$sum == 604450" >/dev/null ||
  fail "--json --file - of a 4404-byte capture"
head -c 4403 "$work/capture.bin" | run decode blob-u32 --file - >"$work/out"
grep -q 'after 4403 of 4403 bytes, 4399 of its 4400 bytes read' "$work/out" || fail "a short capture: $(cat "$work/out")"
;;
diagnostics)
# A malformed stream costs a program at most one line on standard error by
# default, none with ZUB_DEBUG=none; backtraces only on request. The
# console does not echo each argument unless asked.
env -u ZUB_DEBUG "${emulator[@]}" "$zubsh" decode blob-u64 7fffffff 2>"$work/err" >/dev/null
[ "$(wc -l <"$work/err")" -le 1 ] || fail "default: $(cat "$work/err")"
ZUB_DEBUG=none run decode blob-u64 7fffffff 2>"$work/err" >/dev/null
[ -s "$work/err" ] && fail "ZUB_DEBUG=none: $(cat "$work/err")"
ZUB_DEBUG=1,backtrace run decode blob-u64 7fffffff 2>"$work/err" >/dev/null
grep -q '^Backtrace:' "$work/err" || fail "ZUB_DEBUG=backtrace writes no backtrace"
ZUB_DEBUG=backtrace,none run decode blob-u64 7fffffff 2>"$work/err" >/dev/null
[ -s "$work/err" ] && fail "none does not silence a backtrace: $(cat "$work/err")"
echo 'echo x' | env -u ZUB_DEBUG "${emulator[@]}" "$zubsh" 2>"$work/err" >/dev/null
grep -q 'Argument' "$work/err" && fail "arguments echoed by default"
echo 'echo x' | ZUB_DEBUG=1:5000 run 2>"$work/err" >/dev/null
grep -q 'Argument 1: "x"' "$work/err" || fail "1:5000 shows no echo"
;;
*)
  fail "no section $section"
  ;;
esac
[ "$failed" -eq 0 ] && echo "zubsh $section: all checks passed"
exit "$failed"
