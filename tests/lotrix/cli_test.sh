#!/usr/bin/env bash
# The sampler as a user meets it on the command line: where the sample goes, what it says, and
# that no error leaves a file behind or harms an earlier sample.
#   cli_test.sh PATH/TO/lotrix
set -uo pipefail
lotrix=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
failures=0
passes=0

check() {  # description, condition: passes when the condition (a shell command) holds
  local what=$1
  if eval "$2"; then
    passes=$((passes + 1))
  else
    failures=$((failures + 1))
    echo "FAIL: $what" >&2
  fi
}

# Runs lotrix with the given arguments; leaves its exit status in $status and its standard
# error in $err.
run() {
  "$lotrix" "$@" 2>"$work/err" >"$work/out"
  status=$?
  err=$(cat "$work/err")
}

files_in() { ls -A "$1" | sort | tr '\n' ' '; }

seq 1 100 | sed 's/^/concordance line /' >"$work/lines.txt"
mkdir "$work/corpus v2"
printf 'x\ny\n' >"$work/corpus v2/notes"

# Where the sample goes.
run "$work/lines.txt" 30
check "a sample of 30 exits 0" '[ "$status" -eq 0 ]'
check "lines.txt gives lines_sample30.txt" '[ "$(wc -l <"$work/lines_sample30.txt")" -eq 30 ]'
check "nothing said on success" '[ -z "$err" ]'
check "no temporary file is left" '[ "$(files_in "$work")" = "corpus v2 err lines.txt lines_sample30.txt out " ]'
run "$work/corpus v2/notes" 30
check "a name without extension gets _sample30" '[ "$(cat "$work/corpus v2/notes_sample30")" = "$(printf "x\ny")" ]'
check "more than there are: a note, and all lines" '[[ $status -eq 0 && $err == *"has only 2 lines"* ]]'
run "$work/lines.txt" 0 -o "$work/zero.txt"
check "zero lines: an empty file" '[[ $status -eq 0 && -f $work/zero.txt && ! -s $work/zero.txt ]]'
run --seed 7 "$work/lines.txt" 5 -o "$work/a.txt"
run --seed=7 --output="$work/b.txt" "$work/lines.txt" 5
check "the same seed draws the same lines" 'cmp -s "$work/a.txt" "$work/b.txt"'

# Command-line mistakes: status 2, nothing written.
for args in "-5" "abc" "3.5" "" "1e3"; do
  run "$work/lines.txt" "$args" -o "$work/bad.txt"
  check "sample size '$args' is a usage error" '[[ $status -eq 2 && ! -e $work/bad.txt ]]'
done
run "$work/lines.txt"
check "a missing sample size is a usage error" '[ "$status" -eq 2 ]'
run --bogus "$work/lines.txt" 3
check "an unknown option is a usage error" '[[ $status -eq 2 && $err == *"--bogus"* ]]'
run "$work/lines.txt" 3 -o
check "-o without a file is a usage error" '[ "$status" -eq 2 ]'
run --help
check "--help says where the sample goes" '[[ $status -eq 0 && $(cat "$work/out") == *"lines_sample30.txt"* ]]'
run --version
check "--version" '[[ $status -eq 0 && $(cat "$work/out") == "lotrix 1.0.0" ]]'

# Files that cannot be used: status 1, one line naming the file, nothing written.
run "$work/missing.txt" 3
check "a missing input" '[[ $status -eq 1 && $err == "lotrix: $work/missing.txt: No such file or directory" ]]'
check "a missing input writes nothing" '[ ! -e "$work/missing_sample3.txt" ]'
run "$work/corpus v2" 3 -o "$work/dir.txt"
check "a folder as input" '[[ $status -eq 1 && $err == *": Is a directory" && ! -e $work/dir.txt ]]'
cp "$work/lines.txt" "$work/keep.txt"
run "$work/keep.txt" 3 -o "$work/keep.txt"
check "the input as output is refused" '[[ $status -eq 1 ]]' && check "and left alone" 'cmp -s "$work/keep.txt" "$work/lines.txt"'
ln -s keep.txt "$work/link.txt"
run "$work/keep.txt" 3 -o "$work/link.txt"
check "the input through a link is refused too" '[[ $status -eq 1 ]]'
run "$work/lines.txt" 3 -o "$work/no such folder/s.txt"
check "a missing output folder" '[[ $status -eq 1 && $err == "lotrix: $work/no such folder/s.txt: No such file or directory" ]]'

# A write that fails half-way (the file-size limit stands in for a full disk) keeps the earlier
# sample and leaves no debris.
seq 1 200000 >"$work/many.txt"
printf 'earlier sample\n' >"$work/many_sample150000.txt"
before=$(files_in "$work")
(ulimit -f 64; trap '' XFSZ; exec "$lotrix" "$work/many.txt" 150000) 2>"$work/err"
status=$?
check "a failed write exits 1" '[[ $status -eq 1 && $(cat "$work/err") == "lotrix: $work/many_sample150000.txt: "* ]]'
check "the earlier sample is intact" '[ "$(cat "$work/many_sample150000.txt")" = "earlier sample" ]'
check "no half-written file is left" '[ "$(files_in "$work")" = "$before" ]'

# Permissions, checked as an ordinary user where we are root.
as_user=()
[ "$(id -u)" -eq 0 ] && as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
mkdir "$work/locked"
cp "$work/lines.txt" "$work/locked/lines.txt"
chmod 555 "$work/locked"
"${as_user[@]}" "$lotrix" "$work/locked/lines.txt" 3 2>"$work/err"
status=$?
check "an unwritable folder exits 1" '[[ $status -eq 1 && $(cat "$work/err") == *"locked/lines_sample3.txt: Permission denied" ]]'
check "and writes nothing" '[ "$(ls -A "$work/locked")" = "lines.txt" ]'
cp "$work/lines.txt" "$work/secret.txt"
chmod 000 "$work/secret.txt"
"${as_user[@]}" "$lotrix" "$work/secret.txt" 3 -o "$work/secret_out.txt" 2>"$work/err"
status=$?
check "an unreadable input exits 1" '[[ $status -eq 1 && $(cat "$work/err") == *"secret.txt: Permission denied" ]]'

# Progress shows on a terminal, for a large input only, and never elsewhere.
head -c $((65 << 20)) /dev/zero | tr '\0' 'x' | fold -w 99 >"$work/large.txt"
run "$work/large.txt" 3
check "no progress when standard error is no terminal" '[[ $status -eq 0 && -z $err ]]'
if command -v script >/dev/null; then
  script -qec "'$lotrix' '$work/large.txt' 3" /dev/null >"$work/tty"
  check "a progress line on a terminal" 'grep -q 100% "$work/tty"'
fi

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
