#!/usr/bin/env bash
# The Windows program, tried as a person would: lotrixGUI.exe with lotrix.exe beside it, under
# Wine on a virtual X display, driven by keystrokes.
#   wine_desktop_test.sh BIN_DIR [SCREENSHOT.png]
#   (LOTRIX_WINE64, LOTRIX_WINESERVER and WINEPREFIX set)
set -uo pipefail
bin=$(cd "$1" && pwd)
shot=${2:-}
source "$(dirname "$0")/desktop_lib.sh"
start_display
# Wine's desktop belongs to its server; one left over from tests without a display would keep
# our windows off this one. Wait for it to go, so that a new one starts here.
"$LOTRIX_WINESERVER" --wait

client_size() { xdotool getwindowgeometry "$1" 2>/dev/null | sed -n 's/.*Geometry: //p'; }
set_dpi() {
  "$LOTRIX_WINE64" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f \
    >/dev/null 2>&1
}
seq 1 500 | sed 's/^/hit /' >"$work/make hits.txt"
seq 1 200 | sed 's/^/picked /' >"$work/picked.txt"
set_dpi 96
"$LOTRIX_WINE64" "$bin/lotrixGUI.exe" 2>"$work/gui.log" &
program=$!
# A new Wine prefix takes its time over the first window it shows.
main=$(wait_seconds=120 window_named Lotrix) || { cat "$work/gui.log" >&2; check "the window opens" false; finish; exit; }
focus "$main"

check "the client area is 480 x 207 at 96 dpi" '[ "$(client_size "$main")" = 480x207 ]'
# Windows' accessibility names a field after the label right before it in the child order.
"$LOTRIX_WINE64" "$LOTRIX_WINDOW_PROBE" children 2>/dev/null | tr -d '\r' >"$work/children"
check "each field comes right after its label" \
  'grep -A1 -x "Static	Input File" "$work/children" | tail -n 1 | grep -q "^Edit" &&
   grep -A1 -x "Static	Sample" "$work/children" | tail -n 1 | grep -qx "Edit	30"'

# The README's picture shows a path a user would have; then the real one is typed instead.
shown='C:\Users\ana\corpus\hits.txt'
type_text "$shown"
sleep 0.3
if [ -n "$shot" ] && command -v import >/dev/null; then
  import -window "$main" "$shot" && echo "screenshot: $shot"
fi
keys --repeat ${#shown} BackSpace
type_text "$(windows_path "$work/make hits.txt")"
keys Tab Tab
type_text 7
keys Tab space
check "Run brings up the information box, and OK dismisses it" 'dismiss information'
check "the sample holds 7 lines" '[ "$(lines_in "$work/make hits_sample7.txt")" = 7 ]'

# A size that is no number: an error box, and the window stays with its fields.
focus "$main"
keys shift+Tab
type_text abc
keys Tab space
check "a bad size gives an error box" 'dismiss Lotrix "$main"'
check "and the window stays" 'windows_named Lotrix | grep -qx "$main"'
check "and nothing is written" '[ "$(ls "$work" | grep -c _sample)" = 1 ]'

# Enter in a field starts nothing.
focus "$main"
keys shift+Tab shift+Tab shift+Tab Return
sleep 1.5
check "Enter in the path field shows no box" '[ -z "$(windows_named information)" ]'

# Browse: pick a file in the dialog by typing its name, then run.
focus "$main"
keys Tab space                   # from the path field to Browse, and press it
dialog=$(window_named Open) && focus "$dialog"
type_text "$(windows_path "$work/picked.txt")"
keys Return
gone "$dialog"
focus "$main"
keys Tab                         # from Browse to the size, still "abc"
type_text 7
keys Tab space
check "a run on the file picked with Browse" 'dismiss information'
check "its sample is of the picked file" '[ "$(lines_in "$work/picked_sample7.txt")" = 7 ]'

close_and_expect_end "$main"

# Closed by its handle (as automation and task managers do) while a box or the open-file dialog
# is up: the window goes, what is up stays until it is dismissed, and the program then ends.
start_window() {
  "$LOTRIX_WINE64" "$bin/lotrixGUI.exe" 2>>"$work/gui.log" &
  program=$!
  main=$(window_named Lotrix) && focus "$main"
}
for what in "Done!:make hits.txt:information" "a failure:no such file.txt:Lotrix" "the open-file dialog::Open"; do
  IFS=: read -r shown input title <<<"$what"
  start_window
  if [ -n "$input" ]; then
    type_text "$(windows_path "$work/$input")"
    keys Tab Tab Tab space
  else
    keys Tab space
  fi
  up=$(window_named "$title" "$main")
  "$LOTRIX_WINE64" "$LOTRIX_WINDOW_PROBE" close 2>/dev/null
  gone "$main"
  check "closed while $shown is up, the window goes and $shown stays" \
    '[ -n "$up" ] && windows_named "$title" | grep -qx "$up" && kill -0 $program'
  focus "$up"
  keys Escape
  expect_end "and once $shown is dismissed the program ends"
done

# An outer run's tool keeps its errors read while an inner run's "Done!" waits for the user:
# with the stand-in sampler beside the window, size 7 keeps quiet, then writes four pipes' worth
# of errors and ends; size 8 ends at once.
mkdir "$work/stand-in"
cp "$bin/lotrixGUI.exe" "$LOTRIX_FAKE_DIR/lotrix.exe" "$work/stand-in/"
LOTRIX_FAKE_QUIET_MS_7=2500 LOTRIX_FAKE_STDERR_BYTES_7=262144 LOTRIX_FAKE_ENDED_7="$work/outer-ended" \
  "$LOTRIX_WINE64" "$work/stand-in/lotrixGUI.exe" 2>>"$work/gui.log" &
program=$!
main=$(window_named Lotrix) && focus "$main"
keys Tab Tab
type_text 7
keys Tab space shift+Tab
type_text 8
keys Tab space
inner=$(window_named information "$main")
for _ in $(seq 100); do [ -e "$work/outer-ended" ] && break; sleep 0.1; done
check "an outer tool's errors are read while the inner Done! is up" \
  '[ -n "$inner" ] && [ -e "$work/outer-ended" ] && windows_named information | grep -qx "$inner"'
focus "$inner" && keys Return && gone "$inner"
check "then the outer run says Done! too" 'dismiss information "$main"'
close_and_expect_end "$main"

# At 144 dpi the window grows with the system's scale.
set_dpi 144
"$LOTRIX_WINE64" "$bin/lotrixGUI.exe" 2>>"$work/gui.log" &
program=$!
main=$(window_named Lotrix)
check "the client area is 720 x 310 at 144 dpi" '[ "$(client_size "$main")" = 720x310 ]'
close_and_expect_end "$main"
set_dpi 96

[ "$failures" -eq 0 ] || tail -n 40 "$work/gui.log" >&2
finish
