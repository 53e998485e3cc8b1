#!/usr/bin/env bash
# The whole program, tried as a person would: the built lotrixGUI with the real lotrix beside
# it, on a virtual X display, driven by keystrokes.
#   desktop_test.sh BIN_DIR [SCREENSHOT.png]
set -uo pipefail
bin=$(cd "$1" && pwd)
shot=${2:-}
here=$(cd "$(dirname "$0")" && pwd)
for tool in Xvfb xdotool python3; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/lotrix-XXXXXX")
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
cleanup() {
  kill "${gui:-}" "$xvfb" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=:$(cat "$work/display")

failures=0
passes=0
check() {  # description, condition
  if eval "$2"; then
    passes=$((passes + 1))
  else
    failures=$((failures + 1))
    echo "FAIL: $1" >&2
  fi
}
# Waits up to 10 s for a visible window titled exactly $1; prints its id.
window_named() {
  for _ in $(seq 100); do
    xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1 | grep . && return 0
    sleep 0.1
  done
  return 1
}
# With no window manager, keystrokes go to the window that was last given the focus.
keys() { xdotool key --delay 30 "$@" 2>/dev/null; }
type_text() { xdotool type --delay 10 -- "$1" 2>/dev/null; }
# Presses OK in the "information" box that the run should bring up; true if it came.
dismiss_done() {
  local box
  box=$(window_named information) || return 1
  xdotool windowfocus --sync "$box" 2>/dev/null
  keys Return
  for _ in $(seq 50); do
    xdotool search --onlyvisible --name '^information$' >/dev/null 2>&1 || return 0
    sleep 0.1
  done
  return 1
}
lines_in() { [ -f "$1" ] && wc -l <"$1" || echo none; }

seq 1 500 | sed 's/^/hit /' >"$work/make hits.txt"
seq 1 300 | sed 's/^/other /' >"$work/other.txt"
seq 1 200 | sed 's/^/picked /' >"$work/picked.txt"
cd "$work"
"$bin/lotrixGUI" 2>"$work/gui.log" &
gui=$!
main=$(window_named Lotrix)
check "the window opens" '[ -n "$main" ]'
xdotool windowfocus --sync "$main" 2>/dev/null

# Type a path, walk the focus to the size and to Run, and run.
type_text "$work/make hits.txt"
sleep 0.3
if [ -n "$shot" ] && command -v import >/dev/null; then
  import -window "$main" "$shot" && echo "screenshot: $shot"
fi
keys Tab Tab       # Browse, then the sample size with its text selected
type_text 7
keys Tab space     # Run
check "Run brings up the information box, and OK dismisses it" 'dismiss_done'
check "the sample holds 7 lines" '[ "$(lines_in "$work/make hits_sample7.txt")" = 7 ]'

# From Run, Tab goes back to the path.
xdotool windowfocus --sync "$main" 2>/dev/null
keys Tab
type_text "$work/other.txt"
keys Tab Tab Tab space
check "a second run, after Tab led back to the path" 'dismiss_done'
check "its sample is of the other file" '[ "$(lines_in "$work/other_sample7.txt")" = 7 ]'

# Browse: pick a file in the dialog by typing its name, then run.
xdotool windowfocus --sync "$main" 2>/dev/null
keys shift+Tab shift+Tab space   # from Run back to Browse, and press it
sleep 1
type_text "$work/picked.txt"
keys Return
sleep 0.5
xdotool windowfocus --sync "$main" 2>/dev/null
keys Tab Tab space               # from Browse to Run
check "a run on the file picked with Browse" 'dismiss_done'
check "its sample is of the picked file" '[ "$(lines_in "$work/picked_sample7.txt")" = 7 ]'

# Enter in either field starts nothing.
rm -f "$work"/*_sample7.txt
xdotool windowfocus --sync "$main" 2>/dev/null
keys Tab Return Tab Tab Return   # path field, Enter; sample size, Enter
sleep 1.5
check "Enter in a field shows no box" '! xdotool search --onlyvisible --name "^information$" >/dev/null 2>&1'
check "Enter in a field writes no sample" '[ -z "$(ls "$work"/*_sample7.txt 2>/dev/null)" ]'

# Closing the window ends the program.
python3 "$here/close_window.py" "$main"
for _ in $(seq 50); do kill -0 "$gui" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$gui" 2>/dev/null; then
  check "closing the window ends the program" false
else
  wait "$gui"
  status=$?
  check "closing the window ends the program, with status 0" '[ $status -eq 0 ]'
  [ $status -eq 0 ] || tail -n 80 "$work/gui.log" >&2
fi

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
