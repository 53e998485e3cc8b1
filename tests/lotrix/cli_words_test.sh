#!/usr/bin/env bash
# The words on the sampler's command line and in what it says back: a size given as typed
# (negative numbers too) reaches the size, an empty name is no name, every name a message carries
# reads plainly or in the shell's $'...' form, and closed standard descriptors stay closed to the
# files it opens.
#   cli_words_test.sh PATH/TO/lotrix
set -uo pipefail
export LC_ALL=C.UTF-8  # for $'\u...' to give UTF-8, as the names in the messages are
lotrix=$(realpath "$1")
work=$(mktemp -d)
trap '[ "$BASHPID" = "$$" ] && rm -rf "$work"' EXIT  # not in a child between fork and exec
failures=0
passes=0
check() {  # description, condition: passes when the condition (a shell command) holds
  if eval "$2"; then passes=$((passes + 1)); else failures=$((failures + 1)); echo "FAIL: $1" >&2; fi
}
run() {  # in $work, so that names stay short; leaves $status and $err
  (cd "$work" && timeout 20 "$lotrix" "$@") 2>"$work/.err" >"$work/.out"
  status=$?
  err=$(cat "$work/.err")
}
files() { (cd "$work" && ls -A | grep -v '^\.err$\|^\.out$'); }
try=$'\n'"Try 'lotrix --help' for more information."
trim() { local text=$1; text=${text#"${text%%[! ]*}"}; printf '%s' "${text%"${text##*[! ]}"}"; }

seq 1 100 | sed 's/^/hit /' >"$work/hits.txt"

# Usage errors, and what the options keep as theirs: status, what is said, the arguments. A run
# that fails writes nothing; one that succeeds writes 3 lines to the file named "-5".
while IFS='|' read -r want said arguments; do
  arguments=$(trim "$arguments")
  eval "words=($arguments)"
  before=$(files)
  run "${words[@]}"
  said=$(trim "$said")
  [ "$want" -eq 2 ] && said="lotrix: $said$try"
  [ "$want" -eq 0 ] && said=""
  check "lotrix $arguments" '[[ $status -eq $want && $err == "$said" ]]'
  if [ "$want" -eq 0 ]; then
    check "lotrix $arguments: the sample is in -5" '[ "$(wc -l <"$work/-5")" -eq 3 ]'
    rm -f "$work/-5"
  else
    check "lotrix $arguments: writes nothing" '[ "$(files)" = "$before" ]'
  fi
done <<'EOF'
2| -5: the sample size must be a whole number of 0 or more                  | hits.txt -5
2| -0: the sample size must be a whole number of 0 or more                  | hits.txt -0
2| -5: the sample size must be a whole number of 0 or more                  | -o out.txt hits.txt -5
2| -5: the sample size must be a whole number of 0 or more                  | --seed 3 hits.txt -5
2| -5.5: the sample size must be a whole number of 0 or more                | hits.txt -5.5
2| hits.txt: the sample size must be a whole number of 0 or more; the input file comes first, then the size | -5 hits.txt
2| needs an input file and a sample size; several inputs take the size as -n N before them | hits.txt -5 -7
2| -5: the seed must be a whole number                                       | --seed -5 hits.txt 3
2| -5: the seed must be a whole number                                       | --se -5 hits.txt 3
2| -5: the seed must be a whole number                                       | --seed=-5 hits.txt 3
2| '': the seed must be a whole number                                       | --seed '' hits.txt 3
2| invalid option -- 'x'                                                     | -x hits.txt -5
2| option requires an argument -- 'o'                                        | hits.txt -5 -o
2| no input file was named                                                   | '' 3
2| -o: needs a file name                                                     | -o '' hits.txt 3
2| -o: needs a file name                                                     | --output= hits.txt 3
0|                                                                           | -o -5 hits.txt 3
0|                                                                           | -o-5 hits.txt 3
0|                                                                           | --out=-5 hits.txt 3
0|                                                                           | hits.txt --ou -5 3
EOF
run -- -5 3
check "after --, -5 is the input" '[[ $status -eq 1 && $err == "lotrix: -5: No such file or directory" ]]'
(export POSIXLY_CORRECT=1; run hits.txt -5; [[ $status -eq 2 && $err == "lotrix: -5: the sample"* ]])
check "POSIXLY_CORRECT: -5 is the size" '[ $? -eq 0 ]'

# Names in messages: a name, and how a message shows it ("=" as it is). Each shown name, pasted
# into the shell, gives the name's bytes back.
while IFS='|' read -r name shown; do
  eval "name=$name"
  [ "$shown" = "=" ] && shown=$name
  run "$name" 3
  check "missing $shown" '[[ $status -eq 1 && $err == "lotrix: $shown: No such file or directory" ]]'
  back=${err#lotrix: }
  back=${back%: No such file or directory}
  [[ $back == "\$'"* ]] && eval "back=$back"
  check "$shown gives its bytes back" '[ "$back" = "$name" ]'
done <<'EOF'
'plain name.txt'|=
"don't.txt"|=
'中文 行.txt'|=
$'fa\u200cmily'|=
$'hits.txt\n'|$'hits.txt\n'
$'a\tb\rc'|$'a\tb\rc'
$'\e[31mred'|$'\e[31mred'
$'x\x01y\x7fz'|$'x\x01y\x7fz'
$'\x0123'|$'\x0123'
$'bad\xff\xfe'|$'bad\xff\xfe'
$'overlong\xc0\xaf'|$'overlong\xc0\xaf'
$'surrogate\xed\xa0\x80'|$'surrogate\xed\xa0\x80'
' lead.txt'|$' lead.txt'
'trail.txt '|$'trail.txt '
$'nbsp.txt\u00a0'|$'nbsp.txt\u00a0'
$'it\'s a\\b\n'|$'it\'s a\\b\n'
$'txt.\u202eexe'|$'txt.\u202eexe'
EOF

# Every other message that carries a name or a word typed: status, the arguments, what is said
# (with the usage line after it for status 2).
printf 'one\ntwo\n' >"$work/"$'tab\there.txt'
seq 1 10 >"$work/"$'two\nlines.txt'
run $'two\nlines.txt' 3
while IFS='|' read -r want arguments said; do
  arguments=$(trim "$arguments")
  eval "words=($arguments)"
  run "${words[@]}"
  said=$(trim "$said")
  [ "$want" -eq 2 ] && said+=$try
  check "lotrix $arguments" '[[ $status -eq $want && $err == "$said" ]]'
done <<'EOF'
0| $'tab\there.txt' 5 -o out.txt   | lotrix: $'tab\there.txt': has only 2 lines; the sample holds all of them
0| $'two\nlines.txt' 3              | lotrix: $'two\nlines_sample3.txt' exists; the sample is in $'two\nlines_sample3-2.txt'
1| hits.txt 3 -o $'no such\n/s.txt' | lotrix: $'no such\n/s.txt': No such file or directory
2| hits.txt $'3\n'                  | lotrix: $'3\n': the sample size must be a whole number of 0 or more
2| --seed $'\e[2J' hits.txt 3       | lotrix: $'\e[2J': the seed must be a whole number
2| $'--bo\ngus' hits.txt 3          | lotrix: unrecognized option $'--bo\ngus'
2| $'-\x01' hits.txt 3              | lotrix: invalid option -- $'\x01'
2| hits.txt 18446744073709551616    | lotrix: 18446744073709551616: the sample size must be at most 18446744073709551615
2| --seed=+99999999999999999999 hits.txt 3 | lotrix: +99999999999999999999: the seed must be at most 18446744073709551615
0| --seed 18446744073709551615 hits.txt 3 -o out.txt |
2| hits.txt 99999999999999999999x   | lotrix: 99999999999999999999x: the sample size must be a whole number of 0 or more
EOF
printf 'earlier\n' >"$work/target" && ln "$work/target" "$work/target-link"
(cd "$work" && TMPDIR=/no/such timeout 20 "$lotrix" hits.txt 3 -o target) 2>"$work/.err"
status=$?
check "a missing TMPDIR is named as the folder for temporary files" \
  '[[ $status -eq 1 && $(cat "$work/.err") == "lotrix: /no/such: the folder for temporary files (TMPDIR names it): No such file or directory" ]]'
if command -v script >/dev/null; then
  big=$'big\e[7m.txt'
  truncate -s 65M "$work/$big"
  (cd "$work" && LOTRIX=$lotrix NAME=$big timeout 60 script -qec '"$LOTRIX" "$NAME" 5 -o /dev/null' \
    /dev/null </dev/null >"$work/tty")
  check "the progress line shows the name quoted" \
    'grep -aqF "lotrix: \$'"'"'big\\e[7m.txt'"'"': 100%" "$work/tty" && ! grep -aqF "$big" "$work/tty"'
  rm -f "$work/$big"
fi

# Closed standard descriptors: the files lotrix opens never take their places.
seq 1 5 >"$work/five.txt"
rm -f "$work/five_sample10.txt"
(cd "$work" && timeout 20 "$lotrix" five.txt 10 2>&-)
check "2>&-: the note stays out of the sample" 'cmp -s "$work/five.txt" "$work/five_sample10.txt"'
(cd "$work" && timeout 20 "$lotrix" - 10 -o piped.txt <five.txt 2>&-)
check "2>&-: the note stays out of a stream's sample" 'cmp -s "$work/five.txt" "$work/piped.txt"'
(cd "$work" && timeout 20 "$lotrix" - 5 <&-) >"$work/.out" 2>"$work/.err"
status=$?
check "<&-: - reads nothing" '[[ $status -eq 0 && ! -s $work/.out && $(cat "$work/.err") == *"has only 0 lines"* ]]'
for arguments in "- 10" "-o - five.txt 2" "-o /dev/stdout five.txt 2"; do
  (cd "$work" && timeout 20 "$lotrix" $arguments <five.txt >&-) 2>"$work/.err"
  status=$?
  check ">&-: lotrix $arguments says standard output is closed" \
    '[[ $status -eq 1 && $(cat "$work/.err") == "lotrix: "*"is closed"* ]]'
done
(cd "$work" && timeout 20 "$lotrix" -o /dev/stdout five.txt 3 | wc -l >.out)
check "-o /dev/stdout into a pipe" '[ "$(cat "$work/.out")" -eq 3 ]'
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
