#!/usr/bin/env bash
# lotrix.exe under Wine: a file whose name is not ASCII, the same sample for the same seed as on
# Linux, the error for a missing file, and what Windows does differently from Linux around the
# output: a name claimed by moving without replacing, the read-only attribute, devices, a hidden
# file that goes with its handle, a console left as it was found, Ctrl-C; and a file read once or
# twice, missing standard handles, the folder for temporary files, a report pipe left unread.
#   wine_cli_test.sh PATH/TO/lotrix.exe       (LOTRIX_WINE64 and WINEPREFIX set)
set -uo pipefail
exe=$1
work=$(mktemp -d)
# Wine's server ends a moment after its last program, and one started in that moment loses it
# ("wine client error"): a sampler reading a silent FIFO keeps it up while the script runs.
mkfifo "$work/keep"
exec 7<>"$work/keep"
"$LOTRIX_WINE64" "$exe" "$(printf 'Z:%s' "${work//\//\\}")\\keep" 1 >/dev/null 2>&1 &
keeper=$!
trap '[ "$BASHPID" = "$$" ] && { kill $keeper; rm -rf "$work"; }' EXIT  # not in a child
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

run() {  # in $work; leaves $status and $err
  (cd "$work" && "$LOTRIX_WINE64" "$exe" "$@" 2>"$work/err" >"$work/out")
  status=$?
  err=$(tr -d '\r' <"$work/err")
}
seq 1 1000 >"$work/a.txt"
run --seed 42 a.txt 3
run --seed 42 a.txt 3
check "a rerun takes a new name and says so" \
  '[[ $status -eq 0 && $err == "lotrix: a_sample3.txt exists; the sample is in a_sample3-2.txt" ]] && cmp -s "$work/a_sample3.txt" "$work/a_sample3-2.txt"'
seq 1 1000 | "$LOTRIX_WINE64" "$exe" --seed 42 - 3 >"$work/piped" 2>/dev/null
check "standard input draws what the file draws, to standard output, bytes unchanged" 'cmp -s "$work/piped" "$work/a_sample3.txt"'
cp "$work/a.txt" "$work/kept.txt" && chmod 444 "$work/kept.txt"
run a.txt 3 -o kept.txt
check "a read-only file is never replaced" '[[ $status -eq 1 && $err == "lotrix: kept.txt: is write-protected" ]] && cmp -s "$work/a.txt" "$work/kept.txt"'
run a.txt 3 -o NUL
check "a device is written as it is" '[[ $status -eq 0 && -z $(ls -A "$work" | grep -i -e nul -e lotrix) ]]'
deep=$work/$(printf 'folder-of-thirty-characters-%02d/' {1..9})
mkdir -p "$deep" && cp "$work/a.txt" "$deep/a.txt"
"$LOTRIX_WINE64" "$exe" "$(windows_path "$deep/a.txt")" 3 2>/dev/null
check "a path of ${#deep} characters" '[ "$(wc -l <"$deep/a_sample3.txt" 2>/dev/null)" = 3 ]'
check "longer paths are declared" 'grep -q longPathAware "$exe"'
check "the console's code page and mode are left alone" \
  '! "${OBJDUMP:-x86_64-w64-mingw32-objdump}" -p "$exe" | grep -q -e SetConsoleOutputCP -e SetConsoleMode'
mkdir "$work/killed"
(sleep 30; echo) 2>/dev/null | "$LOTRIX_WINE64" "$exe" - 3 -o "$(windows_path "$work/killed/s.txt")" 2>/dev/null &
for _ in $(seq 100); do [ -n "$(ls -A "$work/killed")" ] && break; sleep 0.05; done
pkill -KILL -f "lotrix.exe - 3 -o" && sleep 1
check "killed, it leaves no hidden file" '[[ -z $(ls -A "$work/killed") ]]'

# -o FILE as the shell's > treats it, as on Linux. A file that cannot be opened for writing (an
# immutable one) is refused before the input is read (standard input is a FIFO held open and
# silent); a file of one name is replaced by ReplaceFileW, without the hidden attribute of the
# sample's temporary; one with a second name is written over, so that both names see the sample.
not_hidden() {  # Wine keeps the attributes that a Unix file cannot show in user.DOSATTRIB
  python3 -c 'import os, sys
a = os.getxattr(sys.argv[1], "user.DOSATTRIB") if "user.DOSATTRIB" in os.listxattr(sys.argv[1]) else b"0"
sys.exit(int(a, 16) & 2)' "$1"
}
mkfifo "$work/quiet"
exec 4<>"$work/quiet"
while IFS='|' read -r name make input want outcome; do
  dir=$work/$name
  mkdir "$dir" && printf 'earlier\n' >"$dir/out"
  eval "$make" || { echo "$name left out: '$make' failed" >&2; continue; }
  (cd "$work" && timeout 20 "$LOTRIX_WINE64" "$exe" "$input" 3 -o "$name\\out" <"$work/quiet" 2>"$work/err" >/dev/null)
  status=$?
  chattr -i "$dir/out" 2>/dev/null
  err=$(tr -d '\r' <"$work/err")
  check "-o as >: $name" '[[ $status -eq $want ]] && '"$outcome"
done <<'CASES'
replaced|:|a.txt|0|[[ $(wc -l <"$dir/out") -eq 3 && $(ls -A "$dir") == out ]] && not_hidden "$dir/out"
second-name|ln "$dir/out" "$dir/other"|a.txt|0|[[ $(wc -l <"$dir/out") -eq 3 ]] && cmp -s "$dir/out" "$dir/other"
unwritable|chattr +i "$dir/out"|-|1|[[ $(cat "$dir/out") == earlier && $err == "lotrix: $name\\out: "* ]]
CASES
exec 4>&-

# The words of the command line and of the messages, as on Linux: status, arguments, what is
# said (a trailing * for any reason the system gives). $'\u...' gives UTF-8 in a UTF-8 locale only.
export LC_ALL=C.UTF-8
try=$'\n'"Try 'lotrix --help' for more information."
while IFS='|' read -r want arguments said; do
  eval "words=($arguments)"
  run "${words[@]}"
  [ "$want" -eq 2 ] && said+=$try
  check "lotrix $arguments" '[[ $status -eq $want && $err == "${said%\*}"* && ( $said == *\* || $err == "$said" ) ]]'
done <<'EOF'
2|a.txt -5|lotrix: -5: the sample size must be a whole number of 0 or more
2|-5 a.txt|lotrix: a.txt: the sample size must be a whole number of 0 or more; the input file comes first, then the size
2|--seed -5 a.txt 3|lotrix: -5: the seed must be a whole number
2|'' 3|lotrix: no input file was named
2|-o '' a.txt 3|lotrix: -o: needs a file name
1|$'a.txt\n' 3|lotrix: $'a.txt\n': *
1|$'\e[31mred.txt' 3|lotrix: $'\e[31mred.txt': *
1|$'txt.\u202eexe' 3|lotrix: $'txt.\u202eexe': *
0|-o -5 a.txt 3|
EOF
check "-o -5 names the output" '[ "$(wc -l <"$work/-5")" = 3 ]'

# Started without a standard handle (as another program may start it), lotrix finds NUL there:
# "-" reads nothing, and a sample meant for standard output is refused, as cat refuses a closed
# one. A small launcher, built with the toolchain that built lotrix.exe, passes no handle for each
# of the letters i, o, e it is given, and sets the variables given after the command line; for r,
# it names a 2 KiB report pipe in LOTRIX_REPORT, which it reads only once lotrix has ended.
compiler=${OBJDUMP:-x86_64-w64-mingw32-objdump}
compiler=${compiler%objdump}gcc
cat >"$work/launch.c" <<'EOF'
#include <wchar.h>
#include <windows.h>
int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 125;
  for (int i = 3; i < argc; ++i) {
    wchar_t* value = wcschr(argv[i], L'=');
    if (!value) return 125;
    *value++ = L'\0';
    SetEnvironmentVariableW(argv[i], value);
  }
  HANDLE report = NULL, writer = NULL;
  SECURITY_ATTRIBUTES inherited = {sizeof inherited, NULL, TRUE};
  if (wcschr(argv[1], L'r')) {
    if (!CreatePipe(&report, &writer, &inherited, 2048)) return 124;
    SetHandleInformation(report, HANDLE_FLAG_INHERIT, 0);
    wchar_t name[32];
    swprintf(name, 32, L"%llu", (unsigned long long)(ULONG_PTR)writer);
    SetEnvironmentVariableW(L"LOTRIX_REPORT", name);
  }
  STARTUPINFOW startup = {sizeof startup};
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = wcschr(argv[1], L'i') ? NULL : GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = wcschr(argv[1], L'o') ? NULL : GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = wcschr(argv[1], L'e') ? NULL : GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process;
  if (!CreateProcessW(NULL, argv[2], NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process)) return 126;
  if (writer) CloseHandle(writer);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 127, got, put;
  GetExitCodeProcess(process.hProcess, &code);
  char buffer[4096];
  while (report && ReadFile(report, buffer, sizeof buffer, &got, NULL) && got > 0)
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), buffer, got, &put, NULL);
  return (int)code;
}
EOF
if "$compiler" -municode -o "$work/launch.exe" "$work/launch.c" 2>/dev/null; then
  launch() {  # letters, arguments of lotrix.exe, variables; leaves $status, $err, $took, $work/out
    local start=$SECONDS
    (cd "$work" && timeout 60 "$LOTRIX_WINE64" launch.exe "$1" "\"$(windows_path "$exe")\" $2" "${@:3}" 2>"$work/err" >"$work/out")
    status=$?
    took=$((SECONDS - start))
    err=$(tr -d '\r' <"$work/err")
  }
  launch i "- 3"
  check "no standard input: - reads nothing" '[[ $status -eq 0 && ! -s $work/out && $err == *"standard input: has only 0 lines"* ]]'
  for arguments in "- 10" "-o - a.txt 2"; do
    launch o "$arguments"
    check "no standard output: lotrix $arguments says it is closed" \
      '[[ $status -eq 1 && ! -s $work/out && $err == "lotrix: standard output: is closed"* ]]'
  done
  # A temporary file is needed at once for -o naming a file of two names.
  launch "" "a.txt 3 -o second-name\\out" 'TMP=Z:\nowhere' 'TEMP=Z:\nowhere'
  check "a missing folder for temporary files is named, and what names it" \
    '[[ $status -eq 1 && $err == "lotrix: Z:\\nowhere\\: the folder for temporary files (TMP or TEMP names it): "* ]]'
else
  echo "no $compiler: the runs without standard handles or with a report pipe are left out" >&2
fi

# Real inputs on Windows: a mark past 64 KiB stays in front; the end of a pipe whose writer has
# gone is the end of the input; a new sample shows (no hidden attribute). A file is read once
# where its chosen lines take little room (boundary.txt: a 64 KiB boundary between the first
# lines and a replacing one), else twice (two-read.txt, whose first line outruns the first read
# and whose size outruns what would be kept): then the first lines are read again at their
# places, across 64 KiB boundaries, while the scan goes on, which must not move the scan. Each
# draws what the same seed draws on Linux.
{ printf '\xef\xbb\xbf'; seq 1 20000; } >"$work/marked.txt"
{ echo a; head -c 70000 /dev/zero | tr '\0' w; echo; seq 1 200000; } >"$work/boundary.txt"
{ head -c 300000 /dev/zero | tr '\0' w; echo; seq 1 1500000; } >"$work/two-read.txt"
drawn() { tr -d '\r' <"$work/$1" | cut -c1-8 | paste -sd ' '; }
while IFS='|' read -r name arguments outcome; do
  eval "words=($arguments)"
  run "${words[@]}"
  check "windows input: $name" '[[ $status -eq 0 ]] && '"$outcome"
done <<'CASES'
mark|--seed 1 marked.txt 5 -o marked.out|[[ $(head -c 3 "$work/marked.out" | od -An -tx1) == " ef bb bf" && $(wc -l <"$work/marked.out") -eq 5 ]]
read once 1|--seed 1 boundary.txt 2 -o b1.out|[[ $(drawn b1.out) == "98217 133348" ]]
read once 2|--seed 2 boundary.txt 2 -o b2.out|[[ $(drawn b2.out) == "189916 196989" ]]
read once 3|--seed 3 boundary.txt 2|[[ $(drawn boundary_sample2.txt) == "63209 74413" ]] && not_hidden "$work/boundary_sample2.txt"
read twice 1|--seed 1 two-read.txt 2 -o t1.out|[[ $(drawn t1.out) == "1086458 1491945" ]]
read twice 2|--seed 2 two-read.txt 2 -o t2.out|[[ $(drawn t2.out) == "189917 731088" ]]
CASES
printf 'a\nb\n' | (cd "$work" && timeout 60 "$LOTRIX_WINE64" "$exe" - 5 >"$work/piped" 2>"$work/err")
check "the end of a pipe is the end of the input" '[[ $? -eq 0 && $(tr -d "\r" <"$work/piped") == "$(printf "a\nb")" ]]'

# An input replaced under its name while it is read is never sampled in part. Its 1000000 lines
# of 8000000 are read twice; the same file left alone gives a whole sample. A refusal counts only
# where the replacement came while the run was still going.
seq -f 'old %.0f' 1 8000000 >"$work/replaced.txt"
seq -f 'new %.0f' 1 8000000 >"$work/replacement.txt"
cp "$work/replaced.txt" "$work/moving.txt"
run moving.txt 1000000 -o moving.out
check "left alone, the file read twice gives a whole sample" \
  '[[ $status -eq 0 && $(grep -c "^old " "$work/moving.out") -eq 1000000 ]]'
detected=0
for _ in 1 2 3; do
  cp "$work/replaced.txt" "$work/moving.txt"
  rm -f "$work/moving.out"
  (cd "$work" && exec timeout 120 "$LOTRIX_WINE64" "$exe" moving.txt 1000000 -o moving.out 2>"$work/err") &
  # The hidden file comes just before the input is read.
  for _ in $(seq 400); do compgen -G "$work/.lotrix-*" >/dev/null && break; sleep 0.02; done
  cp "$work/replacement.txt" "$work/moving.new" && mv "$work/moving.new" "$work/moving.txt"
  kill -0 $! 2>/dev/null && during=1 || during=0
  wait $!
  status=$?
  if [ $status -eq 1 ] && grep -q "changed while it was being read" "$work/err"; then
    detected=$((detected + 1))
    check "replaced while read: refused, and nothing written" '[[ $during -eq 1 && ! -e $work/moving.out ]]'
  else
    check "replaced once read: a whole sample of one file" \
      '[[ $status -eq 0 && ( $(grep -c "^old " "$work/moving.out") -eq 1000000 || $(grep -c "^new " "$work/moving.out") -eq 1000000 ) ]]'
  fi
done
check "an input replaced under its name is caught ($detected of 3 runs)" '[ $detected -gt 0 ]'
rm -f "$work"/moving.* "$work/replacement.txt"

# Ctrl-C while the sample is written over a file (one of two names) waits until the file holds
# all of it: it comes once the file has grown to the sample's size, which the copy starts with.
printf 'earlier\n' >"$work/whole" && ln -f "$work/whole" "$work/whole-too"
(cd "$work" && exec "$LOTRIX_WINE64" "$exe" replaced.txt 9000000 -o whole 2>/dev/null) &
size=$(stat -c %s "$work/replaced.txt")
for _ in $(seq 1000); do [ "$(stat -c %s "$work/whole")" = "$size" ] && break; sleep 0.01; done
kill -INT $!
wait $!
check "Ctrl-C while a file is written over leaves it the whole sample" 'cmp -s "$work/whole" "$work/replaced.txt"'
rm -f "$work/whole" "$work/whole-too"

# A report pipe that is read only once the run has ended holds nothing up: progress that would
# leave less than 1 KiB of it free is left out, and a last record that does not fit (a path of
# 1200 bytes) waits 5 s at most.
if [ -e "$work/launch.exe" ]; then
  records() { tr '\n' '|' <"$work/out"; }
  launch r "--seed 5 replaced.txt 3 -o report.out"
  check "an unread report: the last records come whole after what progress fitted ($took s)" \
    '[[ $status -eq 0 && $took -lt 5 && $(records) == "seed 5|progress "*"|lines 8000000 3|sample $(windows_path "$work")\\report.out|" && $(grep -c "^progress" "$work/out") -lt 100 ]]'
  deep=$(printf 'folder-of-thirty-characters-%02d\\' {1..40})
  mkdir -p "$work/${deep//\\//}"
  launch r "--seed 5 replaced.txt 3 -o ${deep}report.out"
  check "an unread report: a record that does not fit is given up ($took s)" \
    '[[ $status -eq 0 && $took -lt 20 && $(records) == "seed 5|progress "*"|lines 8000000 3|" ]]'
fi
rm -f "$work/replaced.txt"

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
