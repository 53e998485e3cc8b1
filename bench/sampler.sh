#!/usr/bin/env bash
# The sampler's speed and memory beside the reference tools, from one run on one machine:
# a 512 MiB file of 100-byte lines in the page cache, sampled for 30 lines, against `wc -l` (the
# floor: the file must be read once) and `shuf -n 30`; then peak memory on files of extreme
# line lengths.
#   bench/sampler.sh [RUNS]       (build first: scripts/setup test; needs GNU time)
set -euo pipefail
[ -n "${BENCH_TRACE:-}" ] && set -x
top=$(cd "$(dirname "$0")/.." && pwd)
lotrix=${LOTRIX:-$top/build/bin/lotrix}
runs=${1:-5}
command -v /usr/bin/time >/dev/null || { echo "needs GNU time: apt-get install time" >&2; exit 1; }
work=$(mktemp -d "${TMPDIR:-/var/tmp}/lotrix-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

echo "making test files in $work ..."
# 384 MiB of random bytes in base64, 99 characters a line: 512 MiB of 100-byte lines.
head -c $((384 << 20)) /dev/urandom | base64 -w 99 >"$work/big.txt"
head -c $((512 << 20)) /dev/zero | tr '\0' 'x' >"$work/one-line.txt"
head -c $((512 << 20)) /dev/zero | tr '\0' '\n' >"$work/empty-lines.txt"

# Median seconds and the largest peak resident size (KiB) over $runs runs of a command that
# reads INPUT.
measure() {  # INPUT COMMAND...
  local times=() peak=0 line
  cat "$1" >/dev/null  # into the page cache
  shift
  for ((i = 0; i < runs; i++)); do
    /usr/bin/time -o "$work/time" -f '%e %M' "$@" >/dev/null 2>&1
    line=$(tail -n 1 "$work/time")
    times+=("${line% *}")
    ((${line#* } > peak)) && peak=${line#* }
  done
  printf '%s %s\n' "$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p")" "$peak"
}

big=$work/big.txt
read -r wc_s wc_kb < <(measure "$big" wc -l "$big")
read -r lx_s lx_kb < <(measure "$big" "$lotrix" -o "$work/sample.txt" "$big" 30)
read -r shuf_s shuf_kb < <(measure "$big" shuf -n 30 "$big")

echo
echo "512 MiB, 100-byte lines, in the page cache; median of $runs runs"
printf '  %-28s %8s s %10s KiB peak   %s\n' "wc -l big.txt" "$wc_s" "$wc_kb" "1.00 x wc"
printf '  %-28s %8s s %10s KiB peak   %s\n' "lotrix big.txt 30" "$lx_s" "$lx_kb" \
  "$(awk -v a="$lx_s" -v b="$wc_s" 'BEGIN { printf "%.2f x wc", a / b }')"
printf '  %-28s %8s s %10s KiB peak   %s\n' "shuf -n 30 big.txt" "$shuf_s" "$shuf_kb" \
  "$(awk -v a="$shuf_s" -v b="$wc_s" 'BEGIN { printf "%.2f x wc", a / b }')"
read -r pipe_s pipe_kb < <(measure "$big" sh -c "cat '$big' | '$lotrix' - 30")
printf '  %-28s %8s s %10s KiB peak   %s\n' "cat big.txt | lotrix - 30" "$pipe_s" "$pipe_kb" \
  "$(awk -v a="$pipe_s" -v b="$wc_s" 'BEGIN { printf "%.2f x wc", a / b }')"
echo "  target: lotrix at most 1.30 x wc, under 16384 KiB peak"

echo
echo "peak memory of lotrix on other shapes (target: under 16384 KiB)"
# 2^62: every line is the sample, and nothing may be kept per line.
for shape in "one-line.txt 30" "empty-lines.txt 30" "big.txt 32767" "empty-lines.txt 4611686018427387904"; do
  input=$work/${shape% *}
  read -r s kb < <(measure "$input" "$lotrix" -o "$work/sample.txt" "$input" "${shape#* }")
  printf '  %-44s %8s s %10s KiB peak\n' "lotrix ${shape}" "$s" "$kb"
done
