#!/usr/bin/env bash
# Both programs load on Windows 7 SP1: every system function they import is one that the
# system's headers declare for Windows 7 (later ones must be looked up at run time), and their
# headers ask for no later subsystem than 6.1. And they are hardened as far as Windows allows.
#   win7_imports_test.sh OBJDUMP CXX_COMPILER EXE...
set -uo pipefail
objdump=$1
cc=$2
shift 2
work=$(mktemp -d)
trap '[ "$BASHPID" = "$$" ] && { rm -rf "$work"; }' EXIT  # a child between fork and exec must not
failures=0
passes=0
for exe in "$@"; do
  name=$(basename "$exe")
  "$objdump" -p "$exe" >"$work/headers"
  # The C runtime's own imports are not the system's; the rest must compile against Windows 7.
  awk '/DLL Name:/ { dll = tolower($3) }
       /^\t[0-9a-f]+\t +[0-9]+ +[A-Za-z_]/ { if (dll != "msvcrt.dll") print $3 }' \
    "$work/headers" | sort -u >"$work/imports"
  {
    echo '#define WINVER 0x0601'
    echo '#define _WIN32_WINNT 0x0601'
    echo '#include <windows.h>'
    echo '#include <commdlg.h>'
    echo 'void* imported[] = {'
    sed 's/.*/  (void*)\&&,/' "$work/imports"
    echo '};'
  } >"$work/check.c"
  if [ -s "$work/imports" ] && "$cc" -x c++ -fsyntax-only "$work/check.c" 2>"$work/errors"; then
    passes=$((passes + 1))
  else
    failures=$((failures + 1))
    echo "FAIL: $name imports functions that Windows 7 lacks:" >&2
    grep -o "'[A-Za-z0-9_]*' undeclared" "$work/errors" >&2
  fi
  major=$(awk '/MajorSubsystemVersion/ { print $2 }' "$work/headers")
  minor=$(awk '/MinorSubsystemVersion/ { print $2 }' "$work/headers")
  if [ $((major * 100 + minor)) -le 601 ]; then
    passes=$((passes + 1))
  else
    failures=$((failures + 1))
    echo "FAIL: $name asks for subsystem $major.$minor" >&2
  fi
  # Hardened where Windows can be: randomised addresses, no-execute data, a stack protector
  # (whose check shows in the unstripped build's symbols).
  if grep -q DYNAMIC_BASE "$work/headers" && grep -q NX_COMPAT "$work/headers" &&
    "${objdump%objdump}nm" "$exe" | grep __stack_chk_fail >/dev/null; then
    passes=$((passes + 1))
  else
    failures=$((failures + 1))
    echo "FAIL: $name lacks address randomisation, no-execute data or a stack protector" >&2
  fi
done
echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
