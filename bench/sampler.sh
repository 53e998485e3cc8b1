#!/usr/bin/env bash
# The sampler's speed and memory beside the reference tools, from one run on one machine, as a
# table that says which targets are met. Times are the median of RUNS runs, memory the largest peak
# resident size; `cat f >/dev/null` is the floor every time is divided by, since a sample cannot be
# drawn without reading the input once.
#   bench/sampler.sh [RUNS] [modes]  (build first: scripts/setup test; needs GNU time; LOTRIX=binary)
# With "modes", only the options' rows: shares, chance, random order, replacement, several
# inputs and compressed input, beside shuf and each format's decompressor.
set -euo pipefail
[ -n "${BENCH_TRACE:-}" ] && set -x
# A decimal point in $EPOCHREALTIME and awk whatever the caller's locale; the reference tools are
# also at their fastest in C.
export LC_ALL=C
top=$(cd "$(dirname "$0")/.." && pwd)
lotrix=${LOTRIX:-$top/build/bin/lotrix}
runs=${1:-5}
only=${2:-}
seed=1
[[ $runs =~ ^[1-9][0-9]*$ && $only =~ ^(modes)?$ ]] || { echo "usage: $0 [RUNS] [modes]" >&2; exit 2; }
[ -x "$lotrix" ] || { echo "no sampler at $lotrix: build it or set LOTRIX" >&2; exit 1; }
command -v /usr/bin/time >/dev/null || { echo "needs GNU time: apt-get install time" >&2; exit 1; }
work=$(mktemp -d "${TMPDIR:-/var/tmp}/lotrix-bench.XXXXXX")
trap '[ "$BASHPID" = "$$" ] && { rm -rf "$work"; }' EXIT  # a child between fork and exec must not

echo "making test files in $work ..."
# base64 turns 3 random bytes into 4 characters, so 4 lines of W characters need 3 * W bytes:
# every line is whole and the same length, with no padding at the end.
lines() {  # FILE WIDTH SIZE: as many lines of WIDTH characters and a newline as fit in SIZE bytes
  local groups=$(($3 / (4 * ($2 + 1))))
  head -c $((groups * 3 * $2)) /dev/urandom | base64 -w "$2" >"$1"
}
lines "$work/big.txt" 99 $((512 << 20))      # 5.4 million 100-byte lines
if [ -z "$only" ]; then
  lines "$work/short.txt" 9 $((512 << 20))   # 54 million 10-byte lines
  lines "$work/huge.txt" 9 1000000000        # 100 million 10-byte lines
  head -c $((512 << 20)) /dev/zero | tr '\0' 'x' >"$work/one-line.txt"
  head -c $((300 << 20)) /dev/zero | tr '\0' 'x' >"$work/one-line-300M.txt"
  head -c $((512 << 20)) /dev/zero | tr '\0' '\n' >"$work/empty-lines.txt"
fi

# Median seconds and the largest peak resident size (KiB) over $runs runs of a command that
# reads INPUT. The clock is the shell's, to the microsecond: GNU time's %e has 10 ms steps, a
# fifth of what cat takes on 512 MiB.
measure() {  # INPUT COMMAND...
  local times=() peak=0 start end kb i
  cat "$1" >/dev/null  # into the page cache
  shift
  for ((i = 0; i < runs; i++)); do
    start=$EPOCHREALTIME
    /usr/bin/time -o "$work/time" -f '%M' "$@" >/dev/null 2>"$work/stderr" \
      || { echo "failed: $*" >&2; cat "$work/stderr" >&2; exit 1; }
    end=$EPOCHREALTIME
    times+=("$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')")
    kb=$(tail -n 1 "$work/time")
    if ((kb > peak)); then peak=$kb; fi
  done
  printf '%s %s\n' "$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p")" "$peak"
}

met=0
missed=0
format='  %-46s %8s %7s %10s   %-16s %s\n'
header() {
  echo
  echo "$1"
}
# One line of the table. FLOOR is cat's time on the same input (the x cat column), or that of the
# tool named in $against; a time target is a LIMIT on that ratio, a memory target a LIMIT in KiB.
against=cat
row() {  # LABEL SECONDS KIB [FLOOR [time|mem LIMIT]]
  local label=$1 s=$2 kb=$3 floor=${4:-} kind=${5:-} limit=${6:-} ratio=- target=- verdict=
  [ -n "$floor" ] && ratio=$(awk -v a="$s" -v b="$floor" 'BEGIN { printf "%.2f", a / b }')
  case $kind in
    time)
      target="<= $limit x $against"
      verdict=$(awk -v a="$s" -v b="$floor" -v l="$limit" 'BEGIN { print (a <= l * b) ? "ok" : "MISSED" }')
      ;;
    mem)
      target="<= $limit KiB"
      if ((kb <= limit)); then verdict=ok; else verdict=MISSED; fi
      ;;
  esac
  case $verdict in
    ok) met=$((met + 1)) ;;
    MISSED) missed=$((missed + 1)) ;;
  esac
  # shellcheck disable=SC2059  # the format is the table's, shared by every line
  printf "$format" "$label" "$s" "$ratio" "$kb" "$target" "$verdict"
}

echo
echo "lotrix: $lotrix"
echo "$(nproc) cores, $(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo 2>/dev/null || true)"
echo "median time of $runs runs, largest peak of them; files in the page cache; every lotrix"
echo "on a file writes with -o into $work and --seed $seed; a pipe's sample goes to /dev/null"
# shellcheck disable=SC2059
printf "$format" "" "time (s)" "x cat" "peak (KiB)" "target" ""

# A file: the floor and the reference tools, then lotrix for each N with its target ratio.
file_rows() {  # FILE TITLE SHUF_NS LOTRIX_N:LIMIT...
  local f=$work/$1 name=$1 shuf_ns=$2 cat_s s kb n wanted
  shift 2
  read -r cat_s kb < <(measure "$f" cat "$f")
  row "cat $name >/dev/null" "$cat_s" "$kb" "$cat_s"
  read -r s kb < <(measure "$f" wc -l "$f")
  row "wc -l $name" "$s" "$kb" "$cat_s"
  for n in $shuf_ns; do
    read -r s kb < <(measure "$f" shuf -n "$n" "$f")
    row "shuf -n $n $name" "$s" "$kb" "$cat_s"
  done
  for wanted in "$@"; do
    n=${wanted%:*}
    read -r s kb < <(measure "$f" "$lotrix" -o "$work/sample.txt" --seed "$seed" "$f" "$n")
    row "lotrix $name $n" "$s" "$kb" "$cat_s" time "${wanted#*:}"
  done
}

compressed() {
  header "compressed input: x is against the format's own decompressor to /dev/null"
  # Words of English at random, 8 to 21 to a line, between a line number and a document: text that
  # compresses as a corpus does (about 3:1 with gzip), unlike random characters.
  awk 'BEGIN { srand(7); n = split("the of and to in a is that for it as was with be by on not he " \
    "this are or his from at which but have an they you were her she there been one all we their " \
    "has would when if so no will more said what up its about into than them can only other new " \
    "some could time these two may then do first any my now such like our over man me even most", w)
    for (i = 0; i < 750000; i++) { line = ""; k = 8 + int(rand() * 14)
      for (j = 0; j < k; j++) line = line w[1 + int(rand() * n)] " "
      print i "\t" line "\tdoc" int(rand() * 5000) } }' >"$work/corpus.txt"
  for tool in gzip bzip2 xz zstd; do
    against=$tool
    "$tool" -c -q "$work/corpus.txt" >"$work/corpus.$tool"
    input=$work/corpus.$tool
    read -r tool_s kb < <(measure "$input" "$tool" -dc "$input")
    row "$tool -dc corpus.$tool >/dev/null" "$tool_s" "$kb" "$tool_s"
    read -r s kb < <(measure "$input" "$lotrix" -o "$work/sample.txt" --seed "$seed" "$input" 30)
    row "lotrix corpus.$tool 30" "$s" "$kb" "$tool_s" time 1.1
  done
  rm -f "$work"/corpus.*
  against=cat
}

modes() {
  local f=$work/big.txt cat_s s kb
  header "the options on 512 MiB of 100-byte lines (5.4 million), beside shuf"
  read -r cat_s kb < <(measure "$f" cat "$f")
  row "cat big.txt >/dev/null" "$cat_s" "$kb" "$cat_s"
  while IFS='@' read -r label command; do
    read -r s kb < <(measure "$f" sh -c "$command" sh "$f" "$lotrix" "$work" </dev/null)
    row "$label" "$s" "$kb" "$cat_s"
  done <<'ROWS'
lotrix big.txt 10%@"$2" --seed 1 -o "$3/s.txt" "$1" 10%
lotrix --prob 0.1 big.txt@"$2" --seed 1 -o "$3/s.txt" --prob 0.1 "$1"
shuf -n 30 big.txt@shuf -n 30 "$1"
lotrix --shuffle big.txt 30@"$2" --seed 1 -o "$3/s.txt" --shuffle "$1" 30
shuf big.txt (all lines)@shuf "$1"
lotrix --shuffle big.txt 100%@"$2" --seed 1 -o "$3/s.txt" --shuffle "$1" 100%
cat big.txt | lotrix --shuffle - 100%@cat "$1" | "$2" --seed 1 --shuffle - 100%
shuf -r -n 1000000 big.txt@shuf -r -n 1000000 "$1"
lotrix --replace big.txt 1000000@"$2" --seed 1 -o "$3/s.txt" --replace "$1" 1000000
lotrix -n 30 big.txt big.txt@"$2" --seed 1 -o "$3/s.txt" -n 30 "$1" "$1"
lotrix --header --with-name -n 30 big.txt@"$2" --seed 1 -o "$3/s.txt" --header --with-name -n 30 "$1"
ROWS
}

if [ -n "$only" ]; then
  modes
  compressed
  echo
  echo "targets: $met ok, $missed MISSED"
  exit 0
fi

header "512 MiB of 100-byte lines"
file_rows big.txt "30 32767" 30:1.2 32767:2
header "512 MiB of 10-byte lines"
file_rows short.txt "30 32767" 30:1.2 32767:2
header "1 GB of 100 million 10-byte lines"
# shuf -n 1000000 takes about 5 s a run on 2 cores: kept, as it is the only reference for a large
# N and the whole script still runs in a few minutes.
file_rows huge.txt "1000000" 1000000:5

header "streams: lotrix - N reading a pipe from cat (sh -c 'cat f | lotrix - N')"
for shape in "one-line-300M.txt 1" "huge.txt 1000000" "big.txt 30"; do
  input=$work/${shape% *}
  # shellcheck disable=SC2016  # expanded by that shell, from its arguments
  read -r s kb < <(measure "$input" sh -c 'cat "$1" | "$2" - "$3"' sh "$input" "$lotrix" "${shape#* }")
  row "cat ${shape% *} | lotrix - ${shape#* }" "$s" "$kb" "" mem 65536
done

compressed

modes

header "lotrix on files of other shapes: peak memory"
# 2^62: every line is the sample, and nothing may be kept per line.
for shape in "one-line.txt 30" "empty-lines.txt 30" "big.txt 32767" "empty-lines.txt 4611686018427387904"; do
  input=$work/${shape% *}
  read -r s kb < <(measure "$input" "$lotrix" -o "$work/sample.txt" --seed "$seed" "$input" "${shape#* }")
  row "lotrix $shape" "$s" "$kb" "" mem 16384
done

echo
echo "targets: $met ok, $missed MISSED"
