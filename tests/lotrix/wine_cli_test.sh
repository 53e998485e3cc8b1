#!/usr/bin/env bash
# lotrix.exe under Wine: a file whose name is not ASCII, the same sample for the same seed as on
# Linux, and the error for a missing file.
#   wine_cli_test.sh PATH/TO/lotrix.exe       (LOTRIX_WINE64 and WINEPREFIX set)
set -uo pipefail
exe=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
passes=0
check() {
  if eval "$2"; then passes=$((passes + 1)); else failures=$((failures + 1)); echo "FAIL: $1" >&2; fi
}
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

seq 1 1000 | sed 's/^/line /' >"$work/中文 行.txt"
"$LOTRIX_WINE64" "$exe" --seed 42 "$(windows_path "$work/中文 行.txt")" 3 2>"$work/err"
status=$?
check "a non-ASCII name is read and the sample written beside it" '[ $status -eq 0 ]'
# The sample that seed 42 draws on Linux, line for line.
check "seed 42 draws what it draws on Linux" \
  '[ "$(cat "$work/中文 行_sample3.txt" 2>/dev/null)" = "$(printf "line 111\nline 551\nline 563")" ]'
check "CR LF nowhere but where the input had it" '! grep -q $'"'"'\r'"'"' "$work/中文 行_sample3.txt"'

"$LOTRIX_WINE64" "$exe" "$(windows_path "$work/missing 文.txt")" 3 2>"$work/err"
status=$?
check "a missing input exits 1" '[ $status -eq 1 ]'
check "and names the file" 'grep -q "missing 文.txt: " "$work/err"'
check "and writes nothing" '[ "$(ls "$work" | grep -c _sample)" = 1 ]'

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
