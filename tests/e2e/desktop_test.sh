#!/usr/bin/env bash
# The whole program, tried as a person would: the built lotrixGUI with the real lotrix beside
# it, on a virtual X display, driven by keystrokes.
#   desktop_test.sh BIN_DIR [SCREENSHOT.png]
set -uo pipefail
bin=$(cd "$1" && pwd)
shot=${2:-}
source "$(dirname "$0")/desktop_lib.sh"
start_display

seq 1 500 | sed 's/^/hit /' >"$work/make hits.txt"
seq 1 300 | sed 's/^/other /' >"$work/other.txt"
seq 1 200 | sed 's/^/picked /' >"$work/picked.txt"
cd "$work"
"$bin/lotrixGUI" 2>"$work/gui.log" &
program=$!
main=$(window_named Lotrix) || { cat "$work/gui.log" >&2; check "the window opens" false; finish; exit; }
focus "$main"
# Docks match a window to its launcher by the window's class.
class=$(sed -n 's/^StartupWMClass=//p' "$e2e_dir/../../src/resources/lotrix.desktop.in")
check "the window's class is the one its desktop entry names" \
  '[ -n "$class" ] && xprop -id "$main" WM_CLASS | grep -q ", \"$class\"\$"'
has_icon() {  # (the property may come a moment after the window)
  for _ in $(seq 30); do
    xprop -id "$1" _NET_WM_ICON | grep -q "Icon (48 x 48)" && return 0
    sleep 0.1
  done
  return 1
}
check "the window has its icon, as the desktop reads it" 'has_icon "$main"'

# The README's picture shows a path a user would have; then the real one is typed instead.
shown='/home/ana/corpus/hits.txt'
type_text "$shown"
sleep 0.3
if [ -n "$shot" ] && command -v import >/dev/null; then
  import -window "$main" "$shot" && echo "screenshot: $shot"
fi
keys --repeat ${#shown} BackSpace

# Type a path, walk the focus to the size and to Run, and run.
run_with "$work/make hits.txt" 7
check "Run brings up the information box, and OK dismisses it" 'dismiss information'
check "the sample holds 7 lines" '[ "$(lines_in "$work/make hits_sample7.txt")" = 7 ]'

# From Run, Tab goes back to the path; Enter on Run presses it.
focus "$main"
keys Tab
type_text "$work/other.txt"
keys Tab Tab Tab Return
check "a second run, after Tab led back to the path, by Enter on Run" 'dismiss information'
check "its sample is of the other file" '[ "$(lines_in "$work/other_sample7.txt")" = 7 ]'

# Browse: pick a file in the dialog by typing its name, then run.
focus "$main"
keys shift+Tab shift+Tab space   # from Run back to Browse, and press it
dialog=$(window_named Open) && focus "$dialog"
type_text "$work/picked.txt"
keys Return
gone "$dialog"
focus "$main"
keys Tab Tab space               # from Browse to Run
check "a run on the file picked with Browse" 'dismiss information'
check "its sample is of the picked file" '[ "$(lines_in "$work/picked_sample7.txt")" = 7 ]'

# Enter in either field starts nothing.
rm -f "$work"/*_sample7.txt
focus "$main"
keys Tab Return Tab Tab Return   # path field, Enter; sample size, Enter
sleep 1.5
check "Enter in a field shows no box" '[ -z "$(windows_named information)" ]'
check "Enter in a field writes no sample" '[ -z "$(ls "$work"/*_sample7.txt 2>/dev/null)" ]'

close_and_expect_end "$main"

# A run that would not end by itself, held open by a named pipe that no one writes: Escape stops
# it and the window says so; closing the window stops it and ends the program at once. Neither
# leaves the sampler running or a sample behind.
mkfifo "$work/held"
sampler_of() {  # the sampler that $program started, once it has
  local pid
  for _ in $(seq 100); do
    pid=$(ps -o pid=,comm= --ppid "$program" | awk '$2 == "lotrix" { print $1 }')
    [ -n "$pid" ] && echo "$pid" && return 0
    sleep 0.1
  done
  return 1
}
while IFS='|' read -r -u 4 what stop; do
  kill ${program:-} 2>/dev/null   # one that a failed row left behind
  "$bin/lotrixGUI" 2>>"$work/gui.log" &
  program=$!
  main=$(window_named Lotrix) || { check "$what: the window opens" false; continue; }
  focus "$main"
  type_text "$work/held"
  keys alt+r
  if ! sampler=$(sampler_of); then
    check "$what: Run starts the sampler" false
    kill "$program"
    continue
  fi
  eval "$stop"
  for _ in $(seq 50); do kill -0 "$sampler" 2>/dev/null || break; sleep 0.1; done
  check "$what: the sampler is stopped" '! kill -0 "$sampler" 2>/dev/null'
  check "$what: no sample is left" '! ls "$work" | grep -q held_'
  if [ "$what" = Escape ]; then
    check "Escape: a box says the run was stopped" 'dismiss Lotrix "$main"'
    close_and_expect_end "$main"
  else
    check "closing: the window goes at once" 'gone "$main"'
    check "closing: no box comes" '[ -z "$(windows_named Lotrix)" ]'
    expect_end "closing: the program ends"
  fi
  kill "$sampler" 2>/dev/null
done 4<<'EOF'
Escape|keys Escape
closing|python3 "$e2e_dir/close_window.py" "$main"
EOF

[ "$failures" -eq 0 ] || tail -n 80 "$work/gui.log" >&2
finish
