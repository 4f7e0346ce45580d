#!/usr/bin/env bash
# pwrlog as an administrator uses it: a wrapped ring in time order, converted
# to UTF-8, a foreign remnant on one line, --raw bytes, and exit codes and one
# error line for what it cannot read.
set -euo pipefail
pwrlog=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

start=$'\x83\x47\x81\x5b\x83\x57\x83\x46\x83\x93\x83\x67\x8b\x4e\x93\xae'  # エージェント起動 in CP932
printf '%-80s\r\n' "QX/WOL LOG FILE 0003" "2001/10/05 01:39:14.003 newest but one" \
  "2001/10/05 01:39:14.004 $start" "" "2001/10/05 01:39:13.000 old 4" "2001/10/05 01:39:13.000 old 5" \
  $'foreign\r\ntail' >"$dir/QX_WOL_A.LOG"
[ "$("$pwrlog" "$dir/QX_WOL_A.LOG")" = $'2001/10/05 01:39:13.000 old 4\n2001/10/05 01:39:13.000 old 5\nforeign  tail\n2001/10/05 01:39:14.003 newest but one\n2001/10/05 01:39:14.004 エージェント起動' ] ||
  fail "oldest first, in UTF-8: $("$pwrlog" "$dir/QX_WOL_A.LOG")"
[ "$("$pwrlog" --raw "$dir/QX_WOL_A.LOG" | tail -n 1)" = "2001/10/05 01:39:14.004 $start" ] || fail "--raw keeps the bytes"

printf 'not a log\n' >"$dir/other.txt"
rc=0; "$pwrlog" "$dir/other.txt" >"$dir/out" 2>"$dir/err" || rc=$?
[ $rc -eq 1 ] && [ ! -s "$dir/out" ] || fail "exit code $rc, or output, for a foreign file"
[ "$(wc -l <"$dir/err")" -eq 1 ] && grep -q 'not a ring log' "$dir/err" || fail "error line: $(cat "$dir/err")"
rc=0; "$pwrlog" "$dir/missing" 2>/dev/null || rc=$?; [ $rc -eq 1 ] || fail "exit code $rc for a missing file"
rc=0; "$pwrlog" 2>/dev/null || rc=$?; [ $rc -eq 2 ] || fail "exit code $rc without arguments"
echo "pwrlog: all cases passed"
