#!/usr/bin/env bash
# pwrlog as an administrator uses it: a wrapped ring in time order, converted
# to UTF-8, --raw bytes, and a clear error for a file that is no ring log.
set -euo pipefail
pwrlog=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

line() { printf '%-80s\r\n' "$1"; }
{
  line "QX/WOL LOG FILE 0003"
  line "2001/10/05 01:39:14.003 newest but one"
  line "2001/10/05 01:39:14.004 $(printf '\x83\x47\x81\x5b\x83\x57\x83\x46\x83\x93\x83\x67\x8b\x4e\x93\xae')"
  line ""
  for i in $(seq 4 1999); do line "2001/10/05 01:39:13.000 old $i"; done
} >"$dir/QX_WOL_A.LOG"

"$pwrlog" "$dir/QX_WOL_A.LOG" >"$dir/out"
[ "$(wc -l <"$dir/out")" -eq 1998 ] || fail "expected 1998 records"
[ "$(head -n 1 "$dir/out")" = "2001/10/05 01:39:13.000 old 4" ] || fail "oldest first: $(head -n 1 "$dir/out")"
[ "$(tail -n 1 "$dir/out")" = "2001/10/05 01:39:14.004 エージェント起動" ] || fail "newest last, UTF-8: $(tail -n 1 "$dir/out")"
"$pwrlog" --raw "$dir/QX_WOL_A.LOG" | tail -n 1 | cmp -s - <(printf '2001/10/05 01:39:14.004 \x83\x47\x81\x5b\x83\x57\x83\x46\x83\x93\x83\x67\x8b\x4e\x93\xae\n') ||
  fail "--raw keeps the bytes"

printf 'not a log\n' >"$dir/other.txt"
rc=0; "$pwrlog" "$dir/other.txt" >"$dir/out" 2>"$dir/err" || rc=$?
[ $rc -eq 1 ] || fail "exit code $rc for a foreign file"
[ "$(wc -l <"$dir/err")" -eq 1 ] && grep -q 'not a ring log' "$dir/err" || fail "error line: $(cat "$dir/err")"
[ ! -s "$dir/out" ] || fail "nothing on stdout for a foreign file"

rc=0; "$pwrlog" "$dir/missing" 2>/dev/null || rc=$?
[ $rc -eq 1 ] || fail "exit code $rc for a missing file"
rc=0; "$pwrlog" 2>/dev/null || rc=$?
[ $rc -eq 2 ] || fail "exit code $rc without arguments"
echo "pwrlog: all cases passed"
