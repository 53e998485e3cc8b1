#!/usr/bin/env bash
# The sampler started with standard descriptors closed: the files it opens never take their
# places.
#   cli_words_test.sh PATH/TO/lotrix
set -uo pipefail
lotrix=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
passes=0
check() {  # description, condition: passes when the condition (a shell command) holds
  if eval "$2"; then passes=$((passes + 1)); else failures=$((failures + 1)); echo "FAIL: $1" >&2; fi
}

seq 1 5 >"$work/five.txt"
rm -f "$work/five_sample10.txt"
(cd "$work" && timeout 20 "$lotrix" five.txt 10 2>&-)
check "2>&-: the note stays out of the sample" 'cmp -s "$work/five.txt" "$work/five_sample10.txt"'
(cd "$work" && timeout 20 "$lotrix" - 10 -o piped.txt <five.txt 2>&-)
check "2>&-: the note stays out of a stream's sample" 'cmp -s "$work/five.txt" "$work/piped.txt"'
(cd "$work" && timeout 20 "$lotrix" - 5 <&-) >"$work/.out" 2>"$work/.err"
status=$?
check "<&-: - reads nothing" '[[ $status -eq 0 && ! -s $work/.out && $(cat "$work/.err") == *"has only 0 lines"* ]]'
mkfifo "$work/fifo"
exec 3<>"$work/fifo"  # held open and silent, so that the run waits while we look
for fd in 0 1 2; do
  # Not inherited, the FIFO shows among its descriptors once lotrix has opened it.
  eval '"$lotrix" "$work/fifo" 3 -o "$work/waiting.txt" 3>&- '"$fd"'>&- &'
  pid=$!
  for _ in $(seq 200); do
    ls -l "/proc/$pid/fd" 2>/dev/null | grep -q "$work/fifo" && break
    sleep 0.05
  done
  check "$fd>&-: descriptor $fd is the null device" '[ "$(readlink "/proc/$pid/fd/$fd")" = /dev/null ]'
  kill "$pid"
  wait "$pid" 2>/dev/null
done
exec 3>&-

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
