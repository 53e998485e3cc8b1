#!/usr/bin/env bash
# The sampler as a user meets it on the command line: where the sample goes, what it says, and
# that no error leaves a file behind or harms an earlier sample. The shim, preloaded, makes the
# system misbehave on cue (see its head).
#   cli_test.sh PATH/TO/lotrix PATH/TO/libio_shim.so
set -uo pipefail
lotrix=$1
shim=$2
umask 022
work=$(mktemp -d)
trap '[ "$BASHPID" = "$$" ] && rm -rf "$work"' EXIT  # not in a child between fork and exec
chmod 755 "$work"
failures=0
passes=0
# Whether lotrix runs under the sanitizers, which need /proc and more memory. (grep reads all of
# ldd's output: with -q it could stop early, and under pipefail ldd's broken pipe would count.)
sanitized=false
ldd "$lotrix" | grep libasan >/dev/null && sanitized=true

check() {  # description, condition: passes when the condition (a shell command) holds
  local what=$1
  if eval "$2"; then
    passes=$((passes + 1))
  else
    failures=$((failures + 1))
    echo "FAIL: $what" >&2
  fi
}

# Runs lotrix with the given arguments, behind the command words in ${before[@]} (empty, or
# env with the shim's settings); leaves its exit status in $status and its standard error in
# $err.
before=()
run() {
  "${before[@]}" "$lotrix" "$@" 2>"$work/err" >"$work/out"
  status=$?
  err=$(cat "$work/err")
}
shimmed() { before=(env LD_PRELOAD="$shim" "$@"); }

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
printf 'one' >"$work/one"
run "$work/one" 5 -o "$work/one.out"
check "a single unended line is a line" '[[ $err == *"has only 1 line;"* && $(cat "$work/one.out") == one ]]'
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
for args in "--bogus" "--seedling 5" "--output-dir $work/x" "-x"; do
  run $args "$work/lines.txt" 3
  word=${args%% *}
  check "'$args' is no option" '[[ $status -eq 2 && $err == *"option"*"${word##*-}"* && ! -e $work/x ]]'
done
run "$work/lines.txt" 3 -o
check "-o without a file is a usage error" '[ "$status" -eq 2 ]'
run --help
check "--help says where the sample goes" '[[ $status -eq 0 && $(cat "$work/out") == *"lines_sample30.txt"*"lines_sample30-2.txt"* ]]'
check "--help says what a last line without an ending gets" '[[ $(cat "$work/out") == *"without an ending"* ]]'
run --version
check "--version" '[[ $status -eq 0 && $(cat "$work/out") == "lotrix $LOTRIX_PROJECT_VERSION" ]]'

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

# Reruns and runs at once never replace an earlier sample, whichever way the file system lets a
# name be claimed: an unnamed file linked in, a hidden one linked, or (FAT) a name created first.
same_files() { [ "$(files_in "$1")" = "$(printf '%s\n' "${@:2}" | sort | tr '\n' ' ')" ]; }
whole_samples() {
  for file in "$@"; do [[ $(wc -l <"$file") -eq 30 && $(stat -c %a "$file") == 644 ]] || return 1; done
}
for system in "" "LOTRIX_SHIM_NO_TMPFILE=1" "LOTRIX_SHIM_NO_TMPFILE=1 LOTRIX_SHIM_NO_LINKS=1"; do
  dir=$work/claims
  rm -rf "$dir" "$work/events" && mkdir "$dir"
  seq 1 1000 >"$dir/hits.txt"
  printf 'annotated by hand\n' >"$dir/hits_sample30.txt"
  shimmed $system LOTRIX_SHIM_LOG="$work/events"
  run "$dir/hits.txt" 30
  check "${system:-unnamed}: a rerun says where its sample went" \
    '[[ $status -eq 0 && $err == "lotrix: $dir/hits_sample30.txt exists; the sample is in $dir/hits_sample30-2.txt" ]]'
  check "${system:-unnamed}: the sample is on disk before it has a name" \
    '[[ $(head -n 1 "$work/events") == fsync && $(sed -n 2p "$work/events") == link* ]]'
  for _ in 1 2 3 4 5; do "${before[@]}" "$lotrix" "$dir/hits.txt" 30 2>/dev/null & done
  wait
  check "${system:-unnamed}: runs at once take names of their own" \
    'same_files "$dir" hits.txt hits_sample30{,-2,-3,-4,-5,-6,-7}.txt'
  check "${system:-unnamed}: the earlier sample is untouched" '[ "$(cat "$dir/hits_sample30.txt")" = "annotated by hand" ]'
  check "${system:-unnamed}: each is whole, and readable as a new file is" \
    'whole_samples "$dir"/hits_sample30-*.txt'
done
before=()

# -o FILE: what FILE is decides how it is written.
printf 'keep\n' >"$work/protected.txt"
chmod 444 "$work/protected.txt"
run "$work/lines.txt" 3 -o "$work/protected.txt"
check "a write-protected file is never replaced, by root neither" \
  '[[ $status -eq 1 && $err == "lotrix: $work/protected.txt: is write-protected" && $(cat "$work/protected.txt") == keep ]]'
printf 'old\n' >"$work/private.txt"
chmod 600 "$work/private.txt"
ln -s private.txt "$work/pointer.txt"
rm -f "$work/events"
shimmed LOTRIX_SHIM_LOG="$work/events"
run "$work/lines.txt" 3 -o "$work/pointer.txt"
before=()
check "a link stays a link; the file it names gets the sample and stays private" \
  '[[ $status -eq 0 && -L $work/pointer.txt && $(wc -l <"$work/private.txt") -eq 3 && $(stat -c %a "$work/private.txt") == 600 ]]'
check "a replacing sample is on disk before it replaces, and its folder after" \
  '[ "$(tr "\n" " " <"$work/events")" = "fsync linkat rename fsync " ]'
run "$work/lines.txt" 3 -o /dev/null
check "a device is written in place, never replaced" '[[ $status -eq 0 && -c /dev/null ]]'
mkfifo "$work/fifo"
cat "$work/fifo" >"$work/from-fifo" &
run "$work/lines.txt" 3 -o "$work/fifo"
wait
check "a FIFO is written in place" '[[ $status -eq 0 && -p $work/fifo && $(wc -l <"$work/from-fifo") -eq 3 ]]'
run "$work/lines.txt" 3 -o -
check "- is standard output" '[[ $status -eq 0 && $(wc -l <"$work/out") -eq 3 ]]'
long=$work/$(printf 'n%.0s' {1..251}).txt
run "$work/lines.txt" 3 -o "$long"
check "a name at the system's limit" '[[ $status -eq 0 && $(wc -l <"$long") -eq 3 ]]'
rm -f "$long" "$work/private.txt" "$work/pointer.txt" "$work/protected.txt" "$work/fifo" "$work/from-fifo"

# -o FILE as the shell's > treats it. A file the runner could not open for writing is refused
# before any input is read (the input here is a FIFO held open and silent); a replaced file keeps
# its owner, group and mode, less setuid and setgid; where a new file would differ from the old
# one, or could not be put in its place, the finished sample is written over the file itself.
# Each case: who runs lotrix (root, or user: nobody), its folder's owner:mode, the file's
# owner:group:mode and what more it has; then the exit status, the file's owner:group:mode
# after, and how it was written.
if [ "$(id -u)" -eq 0 ]; then
  mkfifo "$work/quiet"
  exec 4<>"$work/quiet"
  while read -r name runner folder file more want after how; do
    dir=$work/replace/$name
    mkdir -p "$dir" && chown "${folder%:*}" "$dir" && chmod "${folder#*:}" "$dir"
    printf 'earlier\n' >"$dir/out"
    chown "${file%:*}" "$dir/out" && chmod "${file##*:}" "$dir/out"
    case $more in
      link) ln "$dir/out" "$dir/other" ;;
      attribute)
        python3 -c 'import os, sys; os.setxattr(sys.argv[1], "user.note", b"kept")' "$dir/out" ||
          continue ;;
    esac
    inode=$(stat -c %i "$dir/out")
    who=()
    [ "$runner" = user ] && who=("${as_user[@]}")
    input=$work/lines.txt
    [ "$how" = refused ] && input=$work/quiet
    timeout 10 "${who[@]}" "$lotrix" "$input" 3 -o "$dir/out" 2>"$work/err"
    status=$?
    case $how in
      refused) outcome='[[ $(cat "$dir/out") == earlier && $(cat "$work/err") == "lotrix: $dir/out: Permission denied" ]]' ;;
      replaced) outcome='[[ $(wc -l <"$dir/out") -eq 3 && $(stat -c %i "$dir/out") != "$inode" ]]' ;;
      overwritten) outcome='[[ $(wc -l <"$dir/out") -eq 3 && $(stat -c %i "$dir/out") == "$inode" ]]' ;;
    esac
    case $more in
      link) outcome+=' && cmp -s "$dir/out" "$dir/other"' ;;
      attribute) outcome+=' && [ "$(python3 -c "import os, sys; print(os.getxattr(sys.argv[1], \"user.note\").decode())" "$dir/out")" = kept ]' ;;
    esac
    check "-o as >: $name: exit $want, $after, $how" \
      '[[ $status -eq $want && $(stat -c %U:%G:%a "$dir/out") == "$after" && -z $(ls -A "$dir" | grep -vx -e out -e other) ]] && '"$outcome"
  done <<'CASES'
others-file    user  nobody:755  root:root:644       -          1  root:root:644       refused
own-file       user  nobody:755  nobody:nogroup:640  -          0  nobody:nogroup:640  replaced
users-file     root  nobody:755  nobody:nogroup:640  -          0  nobody:nogroup:640  replaced
setuid         root  root:755    root:root:6755      -          0  root:root:755       replaced
locked-folder  user  root:755    nobody:nogroup:644  -          0  nobody:nogroup:644  overwritten
sticky-folder  user  root:1777   root:root:666       -          0  root:root:666       overwritten
foreign-group  user  nobody:755  nobody:root:664     -          0  nobody:root:664     overwritten
group-member   user  root:755    root:nogroup:464    -          0  root:nogroup:464    overwritten
hard-linked    root  root:755    root:root:644       link       0  root:root:644       overwritten
linked-setuid  root  root:755    root:root:4755      link       0  root:root:755       overwritten
attributes     root  root:755    root:root:644       attribute  0  root:root:644       overwritten
CASES
  exec 4>&-
fi

# Written over, a file changes only once the sample is complete: not when the input fails, nor
# when its disk cannot take the sample (a small tmpfs, in a mount namespace of its own).
dir=$work/replace/failing
mkdir -p "$dir"
seq 1 20000 >"$dir/input"
printf 'earlier\n' >"$dir/out" && ln "$dir/out" "$dir/other"
shimmed LOTRIX_SHIM_BEFORE_PREAD="echo more >>'$dir/input'" LOTRIX_SHIM_BEFORE_PREAD_PAST=65536
run "$dir/input" 50 -o "$dir/out"
before=()
check "-o as >: an input that fails leaves a file to write over as it was" \
  '[[ $status -eq 1 && $(cat "$dir/out") == earlier && $(cat "$dir/other") == earlier ]]'
# The file grows; or it has holes, which take room as they are written; or the file system
# claims no room ahead (ext2), where the free room must show it.
if unshare --mount --propagation private true 2>/dev/null; then
  seq 1 100000 >"$work/replace/big"
  for file in grows holes unclaimed; do
    holes=true preload=
    [ "$file" = holes ] && holes="truncate -s 2M '$dir/out'"
    [ "$file" = unclaimed ] && preload="env LD_PRELOAD='$shim' LOTRIX_SHIM_NO_FALLOCATE=1"
    timeout 20 unshare --mount --propagation private sh -c "mount -t tmpfs -o size=64k none '$dir' &&
      printf 'earlier\n' >'$dir/out' && $holes && ln '$dir/out' '$dir/other' && cksum <'$dir/out' >'$work/before' &&
      { $preload '$lotrix' '$work/replace/big' 90000 -o '$dir/out'; echo \$? >'$work/status'; } &&
      cmp '$dir/out' '$dir/other' && cksum <'$dir/out' >'$work/after'" 2>"$work/err"
    check "-o as >: a disk too full for the sample leaves a file to write over as it was ($file)" \
      '[[ $(cat "$work/status") -eq 1 && $(cat "$work/err") == *"No space left"* ]] && cmp -s "$work/before" "$work/after"'
  done
fi
# A stop that comes while the sample is written over a file waits until the file holds all of it.
"$lotrix" --seed 4 "$dir/input" 15000 -o "$work/expected"
for signal in INT TERM HUP; do
  printf 'earlier\n' >"$dir/out" && chmod 4755 "$dir/out" && ln -f "$dir/out" "$dir/other"
  shimmed LOTRIX_SHIM_SIGNAL_AFTER_FALLOCATE="$(kill -l "$signal")"
  run --seed 4 "$dir/input" 15000 -o "$dir/out"
  before=()
  check "-o as >: SIG$signal while the file is written over stops the run once it is whole" \
    '[[ $status -eq $((128 + $(kill -l "$signal"))) && $(stat -c %a "$dir/out") == 755 ]] && cmp -s "$dir/out" "$work/expected" && cmp -s "$dir/other" "$work/expected"'
done
rm -rf "$work/replace" "$work/quiet" "$work/status" "$work/before" "$work/after" "$work/expected"

# The output's place is tried before the input is read, as the shell tries a redirection: a FIFO
# that has no writer yet (whose opening would wait for one), or one held open and silent, cannot
# hide a bad place. A writer that comes later is waited for.
mkfifo "$work/silent"
printf 'keep\n' >"$work/locked.txt" && chmod 444 "$work/locked.txt"
for writer in none held; do
  [ "$writer" = held ] && exec 3<>"$work/silent"
  for place in "no such folder/s.txt" locked.txt; do
    timeout 10 "$lotrix" "$work/silent" 3 -o "$work/$place" 2>/dev/null
    status=$?
    check "a bad output place ($place) fails before any input is read, writer: $writer" '[ $status -eq 1 ]'
  done
done
mkfifo "$work/late"
"$lotrix" --seed 1 "$work/late" 3 -o "$work/late.txt" &
sleep 0.3
seq 1 10 >"$work/late"
wait $!
status=$?
check "a FIFO's writer may come after the run has started" '[[ $status -eq 0 && $(wc -l <"$work/late.txt") -eq 3 ]]'
rm -f "$work/late" "$work/late.txt" "$work/locked.txt"

# Stopped by a signal while the input is still coming, a run leaves no hidden file behind.
mkdir "$work/stopped"
set -m  # so that the background run does not start with SIGINT ignored
for signal in INT TERM HUP; do
  env LD_PRELOAD="$shim" LOTRIX_SHIM_NO_TMPFILE=1 "$lotrix" "$work/silent" 3 -o "$work/stopped/s.txt" &
  for _ in $(seq 100); do [ -n "$(ls -A "$work/stopped")" ] && break; sleep 0.05; done
  kill -s "$signal" $!
  { wait $!; } 2>/dev/null
  status=$?
  check "SIG$signal removes the hidden file" '[[ $status -eq $((128 + $(kill -l "$signal"))) && -z $(ls -A "$work/stopped") ]]'
done
set +m
exec 3>&-
rm -rf "$work/silent" "$work/stopped"

# A stream is read once, and draws what the file draws for the same seed, however its reads are
# cut; so does a file read in short pieces.
shape() {  # the bytes of input shape $1
  case $1 in
    lf) seq 1 3000 ;;
    crlf) seq 1 3000 | sed 's/$/\r/' ;;
    unended) printf 'a\nb\r\nc' ;;
    bom) printf '\xef\xbb\xbf'; seq 1 50 ;;
    utf16le) printf '\xff\xfe'; seq 1 500 | sed 's/$/\r/' | iconv -f ascii -t utf-16le; printf '\x2a\x0a\x00\x30!' ;;
    utf16be) printf '\xfe\xff'; seq 1 500 | iconv -f ascii -t utf-16be; printf '\x00z' ;;
    long) seq 1 5; head -c 200000 /dev/zero | tr '\0' 'w'; seq 1 5 ;;
    empty) ;;
  esac
}
for name in lf crlf unended bom utf16le utf16be long empty; do
  shape "$name" >"$work/shape"
  for size in 0 1 3 7 100000; do
    "$lotrix" --seed 9 "$work/shape" "$size" -o "$work/from-file" 2>/dev/null
    shape "$name" | env LD_PRELOAD="$shim" LOTRIX_SHIM_READ_MAX=7 "$lotrix" --seed 9 - "$size" >"$work/from-pipe" 2>/dev/null
    env LD_PRELOAD="$shim" LOTRIX_SHIM_READ_MAX=7 "$lotrix" --seed 9 "$work/shape" "$size" -o "$work/short-reads" 2>/dev/null
    check "$name, $size lines: a pipe and short reads draw what the file draws" \
      'cmp -s "$work/from-file" "$work/from-pipe" && cmp -s "$work/from-file" "$work/short-reads"'
  done
done
rm -f "$work"/shape "$work"/from-* "$work/short-reads"

# An input that changes while it is read gives an error, never fragments, and leaves an earlier
# output as it was: changed during the one read of a small sample (N 50), or between the scan and
# the copy of a large one (N 15000 or more of 20000), even where its size and time stay as they
# were (all newlines gone, or one moved) or its time moves within the same second.
seq 1 20000 | sed 's/^/concordance line /' >"$work/original.txt"
touch -d "$(date -r "$work/original.txt" '+%Y-%m-%d %H:%M:%S')" "$work/original.txt"
export work changing=$work/changing.txt  # for the commands, which the shim runs
while IFS='|' read -r size when change; do
  cp -p "$work/original.txt" "$changing"
  printf 'earlier\n' >"$work/kept.txt"
  shimmed LOTRIX_SHIM_BEFORE_PREAD="$change"
  [ "$when" = during ] && before+=(LOTRIX_SHIM_BEFORE_PREAD_PAST=131072)
  run --seed 1 "$changing" "$size" -o "$work/kept.txt"
  before=()
  check "changed $when the read (N $size): $change" \
    '[[ $status -eq 1 && $err == "lotrix: $changing: changed while it was being read; nothing written" && $(cat "$work/kept.txt") == earlier ]]'
done <<'CASES'
15000|between|tr '\n' ' ' <"$work/original.txt" >"$changing.new" && cat "$changing.new" >"$changing" && touch -r "$work/original.txt" "$changing"
19999|between|perl -0pi -e 's/line 1\nconcordance line 2/line 1 concordance line\n2/' "$changing" && touch -r "$work/original.txt" "$changing"
50|during|echo more >>"$changing"
15000|between|echo more >>"$changing"
50|during|cp -p "$changing" "$changing.new" && mv "$changing.new" "$changing"
15000|between|cp -p "$changing" "$changing.new" && mv "$changing.new" "$changing"
50|during|touch -d '1 hour ago' "$changing"
50|during|touch -d "$(date -r "$changing" '+%Y-%m-%d %H:%M:%S').5" "$changing"
15000|between|touch -d "$(date -r "$changing" '+%Y-%m-%d %H:%M:%S').5" "$changing"
CASES
rm -f "$changing"* "$work/kept.txt" "$work/original.txt"

# Nothing is kept per line when every line is the sample: no more memory for 2 million lines
# than for 30 of them.
seq 1 2000000 >"$work/short-lines.txt"
peak() { /usr/bin/time -f %M "$lotrix" "$work/short-lines.txt" "$1" -o "$work/all.txt" 2>&1 >/dev/null | tail -n 1; }
few=$(peak 30)
all=$(peak 4611686018427387904)
check "every line of 2 million in $all KiB (30 lines: $few KiB)" '[ "$all" -lt $((few + 4096)) ] && cmp -s "$work/all.txt" "$work/short-lines.txt"'
rm -f "$work/short-lines.txt" "$work/all.txt"

# Without /proc (a bare chroot), the sample comes through a named hidden file. (Not under the
# sanitizers, which need /proc themselves.)
if ! $sanitized && unshare --mount --propagation private true 2>/dev/null; then
  unshare --mount --propagation private sh -c \
    "mount -t tmpfs none /proc && '$lotrix' '$work/lines.txt' 3 -o '$work/no-proc.txt'" 2>"$work/err"
  status=$?
  check "without /proc" '[[ $status -eq 0 && $(wc -l <"$work/no-proc.txt") -eq 3 && -z $(ls -A "$work" | grep "^\.") ]]'
fi

# Progress shows on a terminal, for a large input only, and never elsewhere.
head -c $((65 << 20)) /dev/zero | tr '\0' 'x' | fold -w 99 >"$work/large.txt"
run "$work/large.txt" 3
check "no progress when standard error is no terminal" '[[ $status -eq 0 && -z $err ]]'
if command -v script >/dev/null; then
  script -qec "'$lotrix' '$work/large.txt' 999999999 -o '$work/all.txt'" /dev/null </dev/null >"$work/tty"
  check "a progress line on a terminal" 'grep -q 100% "$work/tty"'
  script -qec "'$lotrix' '$work/lines.txt' 5 -o '$work/small.txt'" /dev/null </dev/null >"$work/small-tty"
  check "none for an input under 64 MiB, even on a terminal" '! grep -q % "$work/small-tty"'
  check "and what is said after it starts a line of its own" \
    'tr "\r" "\n" <"$work/tty" | grep -q "^$(printf "\033")\[Klotrix: .*has only"'
fi

# A report reader that stops reading holds nothing up: progress that would leave no room for the
# last records is left out, and those wait 5 s at most, all told. Its pipe of one page has had
# FILL bytes written and READ read (the part of a page read is not used again); LATE s in, a
# reader takes the rest, and with REFILL the seed record too, and fills the pipe again.
report_unread() {  # FILL READ LATE REFILL: prints the exit status, seconds, what follows the filler
  python3 - "$lotrix" "$work/large.txt" "$work/unread.txt" "$@" <<'PY'
import contextlib, fcntl, os, select, subprocess, sys, threading, time
lotrix, path, out, fill, read = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), int(sys.argv[5])
late, refill = float(sys.argv[6]), sys.argv[7] == "1"
r, w = os.pipe()
fcntl.fcntl(w, 1031, 4096)  # F_SETPIPE_SZ
os.write(w, b"x" * fill)
os.read(r, read)
def take():
    os.read(r, fill - read)
    if refill and select.select([r], [], [], 5)[0] and os.read(r, 7):
        os.set_blocking(w, False)
        with contextlib.suppress(BlockingIOError):
            while True: os.write(w, b"x")
reader = threading.Timer(late, take)
start = time.monotonic()
if late: reader.start()
status = subprocess.run([lotrix, "--seed", "5", path, "3", "-o", out], pass_fds=[w], timeout=60,
                        env=dict(os.environ, LOTRIX_REPORT=str(w))).returncode
if late: reader.join()
os.close(w)
print(status, round(time.monotonic() - start), os.read(r, 8192).lstrip(b"x").decode().replace("\n", "|"))
PY
}
while read -r fill read late refill most records; do  # records: all, or any
  pattern='*'
  [ "$records" = all ] && pattern="seed 5|*lines 688459 3|sample $work/unread.txt|"
  read -r status took records < <(report_unread "$fill" "$read" "$late" "$refill")
  check "report pipe $fill/$read/$late/$refill: ends in $took s, holding '$records'" \
    '[[ $status -eq 0 && $took -lt $most && $(wc -l <"$work/unread.txt") -eq 3 && $records == $pattern ]]'
done <<'CASES'
4096 0    0 0 10 any
2500 2000 0 0 2  all
4096 0    1 0 10 all
4096 0    3 1 7  any
CASES
rm -f "$work/unread.txt"

# Inputs of every kind and size. A stream named by its path writes to standard output as - does;
# a file whose size reads 0 (/proc) is read once as a stream; a byte-order mark starts the
# sample however far into the input the chosen lines lie; a Windows-style file whose 64 KiB
# boundary falls between the first lines and a replacing one samples as any other.
{ printf '\xef\xbb\xbf'; seq 1 20000; } >"$work/marked.txt"
{ printf '\xff\xfe'; seq 1 30000 | iconv -t utf-16le; } >"$work/wide.txt"
{ echo a; head -c 70000 /dev/zero | tr '\0' w; echo; seq 1 200000; } >"$work/boundary.txt"
while IFS='|' read -r name command check_out; do
  eval "$command" >"$work/out" 2>"$work/err" </dev/null
  status=$?
  check "input: $name" '[[ $status -eq 0 ]] && '"$check_out"
done <<'CASES'
marked-file|"$lotrix" --seed 1 "$work/marked.txt" 5 -o -|[[ $(head -c 3 "$work/out" | od -An -tx1) == " ef bb bf" && $(wc -l <"$work/out") -eq 5 ]]
marked-stream|"$lotrix" --seed 1 - 5 <"$work/marked.txt"|[[ $(head -c 3 "$work/out" | od -An -tx1) == " ef bb bf" ]]
wide-file|"$lotrix" --seed 1 "$work/wide.txt" 5 -o -|[[ $(iconv -f utf-16 -t utf-8 <"$work/out" | wc -l) -eq 5 ]]
boundary|"$lotrix" --seed 2 "$work/boundary.txt" 2 -o -|[[ $(wc -l <"$work/out") -eq 2 ]]
dev-stdin|"$lotrix" /dev/stdin 3 <"$work/lines.txt"|[[ $(wc -l <"$work/out") -eq 3 && ! -e /dev/stdin_sample3 && ! -s $work/err ]]
process|"$lotrix" <(cat "$work/lines.txt") 4|[[ $(wc -l <"$work/out") -eq 4 ]]
proc-file|"$lotrix" /proc/self/status 2 -o -|[[ $(wc -l <"$work/out") -eq 2 ]]
sys-file|"$lotrix" /sys/devices/system/cpu/online 1 -o -|[[ $(wc -l <"$work/out") -eq 1 ]]
all-lines|"$lotrix" "$work/lines.txt" 100 -o "$work/all.txt"|[[ ! -s $work/err ]] && cmp -s "$work/all.txt" "$work/lines.txt"
CASES
# Compressed input, told by its content: the text's sample beside it under the text's name, the
# same from a pipe and from streams one after another; a file cut short or corrupt is an error
# that names the byte, and leaves nothing.
seq 1 300000 >"$work/corpus.txt"
"$lotrix" --seed 9 "$work/corpus.txt" 50 -o "$work/ref.txt"
for tool in gzip:gz bzip2:bz2 xz:xz zstd:zst; do
  ext=${tool#*:}
  tool=${tool%:*}
  command -v "$tool" >/dev/null || { check "$tool is installed" false; continue; }
  packed=$work/corpus.txt.$ext
  "$tool" -q -c "$work/corpus.txt" >"$packed"
  run --seed 9 "$packed" 50
  check "$tool: the text's sample, in corpus_sample50.txt" '[[ $status -eq 0 ]] && cmp -s "$work/corpus_sample50.txt" "$work/ref.txt"'
  "$lotrix" --seed 9 - 50 <"$packed" >"$work/out"
  check "$tool: from a pipe" 'cmp -s "$work/out" "$work/ref.txt"'
  cat "$packed" "$packed" | "$lotrix" - 100% | wc -l >"$work/out"
  check "$tool: two streams are one text" '[ "$(cat "$work/out")" -eq 600000 ]'
  size=$(stat -c %s "$packed")
  head -c $((size - 9)) "$packed" >"$work/cut.$ext"
  run "$work/cut.$ext" 5 -o "$work/cut.out"
  check "$tool: cut short" '[[ $status -eq 1 && $err == *"cut.$ext: ends at byte "*", inside its $tool data: it is cut short" && ! -e $work/cut.out ]]'
  cp "$packed" "$work/bad.$ext"
  printf '\x55\xaa\x55\xaa' | dd of="$work/bad.$ext" bs=1 seek=$((size / 2)) conv=notrunc 2>/dev/null
  run "$work/bad.$ext" 5 -o "$work/bad.out"
  check "$tool: corrupt" '[[ $status -eq 1 && $err == *"bad.$ext: is not valid $tool data ("*"), as found by byte "* && ! -e $work/bad.out ]]'
  rm -f "$packed" "$work/cut.$ext" "$work/bad.$ext" "$work/corpus_sample50.txt" "$work/cut.out" \
    "$work/bad.out"
done

# Several inputs, and a batch of them; options that cannot go together fail before anything is
# read (a FIFO without a writer would hold a read up).
printf 'head\nx\n' >"$work/two.txt"
printf 'x1\r\ny1' >"$work/crlf.txt"
printf 'z1\nz2' >"$work/unended.txt"
printf '\xff\xfea\x00\n\x00c\x00X' >"$work/odd16.txt"
mkdir "$work/many"
for i in $(seq 1500); do printf '%s\n%s\n' "$i a" "$i b" >"$work/many/$i.txt"; done
# A skippable frame first, as pzstd writes one.
{ printf '\x50\x2a\x4d\x18\x04\x00\x00\x00abcd'; zstd -q -c "$work/corpus.txt"; } >"$work/skip.zst"
mkfifo "$work/silent"
while IFS='|' read -r want command check_out; do
  eval "timeout 20 $command" >"$work/out" 2>"$work/err" </dev/null
  status=$?
  check "modes: $command" '[[ $status -eq $want ]] && '"$check_out"
done <<'CASES'
0|"$lotrix" --header=5 "$work/two.txt" 3 -o -|cmp -s "$work/out" "$work/two.txt" && [[ $(cat "$work/err") == *"two.txt: has only 2 lines, all of them header; the sample is the header alone" ]]
0|"$lotrix" --header -n 5 "$work/two.txt" "$work/two.txt"|[[ $(cat "$work/out") == $'head\nx\nx' ]]
0|"$lotrix" -n 5 "$work/one" "$work/two.txt"|[[ $(cat "$work/out") == $'one\nhead\nx' ]]
0|"$lotrix" --header -n 5 "$work/two.txt" "$work/lines.txt"|[[ $(head -n 1 "$work/out") == head && $(wc -l <"$work/out") -eq 6 ]]
0|"$lotrix" -n 7 "$work/corpus.txt" "$work/two.txt"|[[ $(wc -l <"$work/out") -eq 7 && ! -e $work/corpus_sample7.txt ]]
0|"$lotrix" --each --seed 9 -n 50 "$work/two.txt" "$work/corpus.txt"|[[ -s $work/two_sample50.txt ]] && cmp -s "$work/corpus_sample50.txt" <("$lotrix" --seed 10 "$work/corpus.txt" 50 -o -)
1|"$lotrix" --each -n 1 "$work/missing.txt" "$work/two.txt"|[[ $(cat "$work/err") == *"missing.txt: No such file"* && -s $work/two_sample1.txt ]]
2|"$lotrix" --each -o "$work/x" -n 3 "$work/silent"|[[ ! -e $work/x ]]
2|"$lotrix" --prob 0.5 "$work/silent" 3|[[ $(cat "$work/err") == *"--prob keeps each line by chance"* ]]
2|"$lotrix" "$work/silent" 101%|[[ $(cat "$work/err") == *"at most 100%"* ]]
2|"$lotrix" --prob 1.5 "$work/silent"|[[ $(cat "$work/err") == *"from 0 to 1"* ]]
0|"$lotrix" -n 9 "$work/crlf.txt" "$work/two.txt" "$work/unended.txt"|[[ $(od -An -c "$work/out" | tr -d ' \n') == 'x1\r\ny1\r\nhead\nx\nz1\nz2\n' ]]
0|sh -c 'ulimit -n 64 && exec "$@"' sh "$lotrix" -n 3000 "$work"/many/*|[[ $(wc -l <"$work/out") -eq 3000 ]]
0|"$lotrix" --seed 1 "$work/skip.zst" 3 -o -|[[ $(grep -c '^[0-9]*$' "$work/out") -eq 3 ]]
1|"$lotrix" --shuffle "$work/odd16.txt" 3 -o "$work/x"|[[ $(cat "$work/err") == *"odd16.txt: ends in half a UTF-16 character"* && ! -e $work/x ]]
CASES
rm -rf "$work"/two_sample* "$work"/corpus_sample* "$work/silent" "$work/many" "$work/skip.zst"

# (A sampler that wrongly wrote beside /dev/stdin leaves no file to trouble the next run.)
rm -f "$work/marked.txt" "$work/wide.txt" "$work/boundary.txt" "$work/all.txt" /dev/stdin_sample3 2>/dev/null

# A stream's chosen lines go to a temporary file past a bound: one 64 MiB line is not held.
# (Not under the sanitizers, whose own bookkeeping takes more than the bound.)
if ! $sanitized; then
  peak=$(head -c $((64 << 20)) /dev/zero | tr '\0' x | /usr/bin/time -f %M "$lotrix" - 1 2>&1 >/dev/null | tail -n 1)
  check "a 64 MiB line of a stream in $peak KiB" '[ "$peak" -lt 40000 ]'
fi

# Under nohup a hangup stays ignored, also while a named hidden file exists; signals that come
# while the hidden file is being made leave nothing behind.
mkfifo "$work/held"
exec 5<>"$work/held"
mkdir "$work/hup"
(trap '' HUP; exec env LD_PRELOAD="$shim" LOTRIX_SHIM_NO_TMPFILE=1 "$lotrix" "$work/held" 3 -o "$work/hup/s.txt") &
for _ in $(seq 100); do [ -n "$(ls -A "$work/hup")" ] && break; sleep 0.05; done
kill -s HUP $!
sleep 0.2
check "an ignored hangup leaves the run going" 'kill -0 $! 2>/dev/null'
kill -s TERM $!
wait $! 2>/dev/null
check "and a stop then removes the hidden file" '[ -z "$(ls -A "$work/hup")" ]'
exec 5>&-
rm -rf "$work/held" "$work/hup"
mkdir "$work/early"
for delay in $(seq 0 19); do
  env LD_PRELOAD="$shim" LOTRIX_SHIM_NO_TMPFILE=1 "$lotrix" "$work/lines.txt" 3 -o "$work/early/s.txt" 2>/dev/null &
  sleep "0.00$((delay / 2))"
  kill -s TERM $! 2>/dev/null
  wait $! 2>/dev/null
done
check "a stop at any moment leaves no hidden file" '[ -z "$(ls -A "$work/early" | grep "^\.")" ]'
rm -rf "$work/early"

# A program that starts lotrix reads its report from the pipe LOTRIX_REPORT names; nothing that
# is not a pipe of its own is ever written to, and a reader that has gone costs the run nothing.
mkdir "$work/report"
cd "$work/report" || exit 1
cp "$work/lines.txt" hits.txt
LOTRIX_REPORT=3 "$lotrix" --seed 9 hits.txt 30 3> >(cat >records) 2>/dev/null
for _ in $(seq 50); do grep -q '^sample' records 2>/dev/null && break; sleep 0.1; done
check "the report names the seed, the lines and the sample's full path" \
  '[ "$(grep -v ^progress records)" = "$(printf "seed 9\nlines 100 30\nsample %s" "$work/report/hits_sample30.txt")" ]'
check "and how far the reading is" 'grep -qx "progress [0-9]* $(wc -c <hits.txt)" records'
"$lotrix" --seed 9 -o - hits.txt 30 >expected
for channel in 1 2 3 4; do
  # Standard output and error a pipe, 3 a file, 4 a file open for reading.
  { LOTRIX_REPORT=$channel "$lotrix" --seed 9 -o - hits.txt 30 3>file 4<hits.txt 2>&1; } | cat >got
  check "LOTRIX_REPORT=$channel, no pipe of its own: nothing but the sample is written" \
    'cmp -s got expected && [ ! -s file ]'
done
{ sleep 0.3; LOTRIX_REPORT=3 "$lotrix" --seed 9 hits.txt 5 3>&1 >/dev/null 2>&1; } | true
ended=${PIPESTATUS[0]}
check "a reader that has gone leaves the run to end well" \
  '[ "$ended" -eq 0 ] && [ "$(wc -l <hits_sample5.txt)" -eq 5 ]'
# Nor is a standard one, under another number: the records would land in the sample.
{ LOTRIX_REPORT=3 "$lotrix" --seed 9 -o - hits.txt 30 3>&1 2>/dev/null; } | cat >got
check "LOTRIX_REPORT naming standard output under another number: only the sample" \
  'cmp -s got expected'
if command -v script >/dev/null; then
  script -qec "'$lotrix' hits.txt 7" /dev/null </dev/null | tr -d '\r' >tty
  check "on a terminal: where the sample is, and the seed that draws it again" \
    'seed=$(sed -n "s/.*--seed \([0-9]*\) draws it again$/\1/p" tty) && [ -n "$seed" ] &&
     grep -q "the sample is in hits_sample7.txt" tty &&
     cmp -s <("$lotrix" --seed "$seed" -o - hits.txt 7) hits_sample7.txt'
  script -qec "'$lotrix' --seed 3 hits.txt 7" /dev/null </dev/null | tr -d '\r' >tty
  check "with the seed given, the seed is not said again" \
    'grep -qx "lotrix: hits_sample7.txt exists; the sample is in hits_sample7-2.txt" tty &&
     [ "$(wc -l <tty)" -eq 1 ]'
fi
cd "$work" || exit 1
rm -rf "$work/report"

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
