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
probe() { timeout 30 "$LOTRIX_WINE64" "$LOTRIX_WINDOW_PROBE" "$@" 2>/dev/null | tr -d '\r'; }
# The box titled $1 as the probe reads it (see window_probe.cpp): its frame, the screen, its
# default button, and its controls' class, id and text, line breaks written as \n.
read_box() { probe box "$1" >"$work/box"; }
in_box() { grep -qxF "$1" "$work/box"; }
# The box's texts joined, without the line breaks that it puts in to fit long lines.
box_texts() { sed -n 's/^Static\t[0-9-]*\t//p' "$work/box" | tr -d '\n' | sed 's/\\n//g'; }
box_width_fits() {
  read -r _ left _ right _ <<<"$(grep '^frame' "$work/box")"
  read -r _ screen _ <<<"$(grep '^screen' "$work/box")"
  [ -n "$left" ] && [ "$left" -ge 0 ] && [ "$right" -le "$screen" ]
}
set_dpi() {
  "$LOTRIX_WINE64" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f \
    >/dev/null 2>&1
}
seq 1 500 | sed 's/^/hit /' >"$work/make hits.txt"
seq 1 200 | sed 's/^/picked /' >"$work/picked.txt"
set_dpi 96
step "the window opens" 130
"$LOTRIX_WINE64" "$bin/lotrixGUI.exe" 2>"$work/gui.log" &
program=$!
# A new Wine prefix takes its time over the first window it shows.
main=$(wait_seconds=120 window_named Lotrix) || { cat "$work/gui.log" >&2; check "the window opens" false; finish; exit; }
focus "$main"

step "the window's size, drop target and labels" 60
check "the client area is 480 x 207 at 96 dpi" '[ "$(client_size "$main")" = 480x207 ]'
check "the window takes files dropped on it" 'probe accepts-files'
# Windows' accessibility names a field after the label right before it in the child order.
probe children >"$work/children"
check "each field comes right after its label" \
  'grep -A1 -x "Static	&Input File" "$work/children" | tail -n 1 | grep -q "^Edit" &&
   grep -A1 -x "Static	&Sample" "$work/children" | tail -n 1 | grep -qx "Edit	30"'

# The README's picture shows a path a user would have; then the real one is typed instead.
shown='C:\Users\ana\corpus\hits.txt'
type_text "$shown"
sleep 0.3
if [ -n "$shot" ] && command -v import >/dev/null; then
  import -window "$main" "$shot" && echo "screenshot: $shot"
fi
keys --repeat ${#shown} BackSpace
step "the first run, and Done!" 60
run_with "$(windows_path "$work/make hits.txt")" 7
# "Done!" names the sample and the seed, which draws the same sample again from the command line.
box=$(window_named information "$main") && read_box information
sample=$(windows_path "$work/make hits_sample7.txt")
seed=$(box_texts | sed -n 's/.*Seed \([0-9]*\): "lotrix --seed \1" draws the same sample again\.$/\1/p')
check "the notice says Done!" 'in_box "Static	0	Done!"'
check "it names the sample's full path" 'box_texts | grep -qF "The sample is in$sample"'
check "it names the seed" '[ -n "$seed" ]'
check "the seed draws the same sample again" \
  '"$LOTRIX_WINE64" "$bin/lotrix.exe" --seed "$seed" -o "$(windows_path "$work/again.txt")" \
     "$(windows_path "$work/make hits.txt")" 7 >/dev/null 2>&1 &&
   cmp -s "$work/again.txt" "$work/make hits_sample7.txt"'
check "it offers Open and OK, and Enter presses OK" \
  'in_box "Button	100	Open" && in_box "Button	1	OK" && in_box "default	1"'
focus "$box"
keys Return
check "OK dismisses it" 'gone "$box"'
check "the sample holds 7 lines" '[ "$(lines_in "$work/make hits_sample7.txt")" = 7 ]'

# A size that is no number: an error box, and the window stays with its fields.
step "a bad size" 30
focus "$main"
keys shift+Tab
type_text abc
keys Tab space
check "a bad size gives an error box" 'dismiss Lotrix "$main"'
check "and the window stays" 'windows_named Lotrix | grep -qx "$main"'
check "and nothing is written" '[ "$(ls "$work" | grep -c _sample)" = 1 ]'

# Enter in a field starts nothing, nor does Esc with no run to stop.
step "Enter and Esc in the path field" 20
focus "$main"
keys shift+Tab shift+Tab shift+Tab Return Escape
sleep 1.5
check "Enter and Esc in the path field show no box" \
  '[ -z "$(windows_named information)" ] && [ -z "$(windows_named Lotrix | grep -vx "$main")" ]'

# Browse by its access key. Esc closes the dialog and leaves the focus on Browse, which no Tab
# has made the default button; Enter presses it all the same. Then a file picked in the dialog by
# its name alone, which it finds as it opens in the folder of the file in the path field; a run.
step "Browse by Alt+B and by the keypad's Enter" 60
focus "$main"
keys alt+b
dialog=$(window_named Open "$main") && focus "$dialog" && keys Escape && gone "$dialog"
focus "$main"
keys KP_Enter
dialog=$(window_named Open "$main")
check "Alt+B opens the open-file dialog, and after Esc, Enter on Browse opens it again" \
  '[ -n "$dialog" ]'
focus "$dialog"
type_text picked.txt
keys Return
check "the open-file dialog closes on the name of a file" 'gone "$dialog"'
focus "$main"
keys Tab                         # from Browse to the size, still "abc"
type_text 7
keys Tab space
# Open asks the system to open the sample. This prefix has no program for .txt files, so the
# system declines, and a box says so, naming the sample.
box=$(window_named information "$main") && focus "$box"
keys shift+Tab space             # from OK to Open, and press it
check "a run on the file picked with Browse; Open names the sample where nothing opens it" \
  'window_named Lotrix "$main" >/dev/null && read_box Lotrix &&
   box_texts | grep -qF "no application is set to open it:$(windows_path "$work/picked_sample7.txt")"'
dismiss Lotrix "$main"
check "its sample is of the picked file" '[ "$(lines_in "$work/picked_sample7.txt")" = 7 ]'

step "the first window closes" 30
close_and_expect_end "$main"

start_window() {
  kill ${program:-} 2>/dev/null  # one that a failed step left behind
  "$LOTRIX_WINE64" "$bin/lotrixGUI.exe" 2>>"$work/gui.log" &
  program=$!
  main=$(window_named Lotrix) && focus "$main"
}

# A path longer than Windows' old limit of 260 characters, typed into the field: the run works,
# and "Done!" names the whole sample. The access keys lead to each field, its text selected, and
# press Run; in a new window, where no Tab has made Run the default button.
step "access keys, and a path over 260 characters" 60
deep=$work
for i in $(seq 12); do deep+=/folder-with-a-long-name-$i; done
mkdir -p "$deep" && seq 1 300 >"$deep/hits.txt"
start_window
keys alt+s
type_text 5
keys alt+i
type_text "$(windows_path "$deep/hits.txt")"
keys alt+r
box=$(window_named information "$main") && read_box information
check "Alt+I, Alt+S, Alt+R: a path over 260 characters runs, and Done! names its sample whole" \
  '[ "$(lines_in "$deep/hits_sample5.txt")" = 5 ] &&
   box_texts | grep -qF "The sample is in$(windows_path "$deep/hits_sample5.txt")"'
focus "$box"
keys Return
gone "$box"
focus "$main"
keys Return
check "Enter on Run, which Alt+R left with the focus, runs again" 'dismiss information "$main"'
close_and_expect_end "$main"

# Closed by its handle (as automation and task managers do) while a box or the open-file dialog
# is up: the window goes, what is up stays until it is dismissed, and the program then ends.
for what in "Done!:make hits.txt:information" "a failure:no such file.txt:Lotrix" "the open-file dialog::Open"; do
  IFS=: read -r shown input title <<<"$what"
  step "closed while $shown is up" 40
  start_window
  if [ -n "$input" ]; then
    type_text "$(windows_path "$work/$input")"
    keys Tab Tab Tab space
  else
    keys alt+b
  fi
  up=$(window_named "$title" "$main")
  probe close
  check "closed while $shown is up, the window goes" 'gone "$main"'
  check "and $shown stays" '[ -n "$up" ] && windows_named "$title" | grep -qx "$up" && kill -0 $program'
  focus "$up"
  # Wine's task dialog ignores Escape (Windows' closes as OK); Enter presses OK in both.
  if [ "$title" = information ]; then keys Return; else keys Escape; fi
  expect_end "and once $shown is dismissed the program ends"
done

# An outer run's tool keeps its errors read while an inner run's "Done!" waits for the user:
# with the stand-in sampler beside the window, size 7 keeps quiet, then writes four pipes' worth
# of errors and ends; size 8 ends at once.
step "an outer run's errors read under an inner Done!" 60
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

# Failures as the stand-in sampler acts them, one sample size each: every box fits the screen,
# however long the sampler's last line, and each failure brings up our box and nothing else.
#   size|exit status|signal|its last line|what the box says
failing=(
  "11|1||$(printf 'could not read the line %.0s' $(seq 40))|The sampler failed with exit status 1."
  "12|1||$(printf 'x%.0s' $(seq 1000))|The sampler failed with exit status 1."
  "13|0|11||The sampler crashed with status 0xC0000005 (access violation)."
  "14|1||$(printf 'W%.0s' $(seq 300))|The sampler failed with exit status 1."
)
settings=()
for row in "${failing[@]}"; do
  IFS='|' read -r size status signal words _ <<<"$row"
  settings+=("LOTRIX_FAKE_STATUS_$size=$status" "LOTRIX_FAKE_SIGNAL_$size=$signal")
  [ -n "$words" ] && settings+=("LOTRIX_FAKE_LAST_WORDS_$size=$words")
done
# Wine starts its debugger on a crash whatever the error mode (it neither honours nor passes on
# SEM_NOGPFAULTERRORBOX), and its "Program Error" box would hold the crashed sampler until
# dismissed; Windows shows none. Told not to show it here, Wine ends the sampler at once.
"$LOTRIX_WINE64" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
  >/dev/null 2>&1
step "the failures' window opens" 30
env "${settings[@]}" "$LOTRIX_WINE64" "$work/stand-in/lotrixGUI.exe" 2>>"$work/gui.log" &
program=$!
main=$(window_named Lotrix) && focus "$main"
keys Tab Tab                      # to the sample size
for row in "${failing[@]}"; do
  IFS='|' read -r size _ _ _ said <<<"$row"
  step "the failure of size $size" 40
  focus "$main"
  keys Home shift+End
  type_text "$size"
  keys Tab space
  box=$(window_named Lotrix "$main") && read_box Lotrix
  check "size $size: the box says \"$said\"" 'box_texts | grep -qF "$said"'
  check "size $size: the box is no wider than the screen ($(grep -E '^(frame|screen)' "$work/box" | tr '\t\n' '  '))" \
    'box_width_fits'
  check "size $size: no other window comes" \
    '[ "$(windows_named ".*" | grep -cvx -e "$main" -e "$box")" -le 1 ]'  # 1: the root
  focus "$box"
  keys Return
  gone "$box"
  focus "$main"
  keys shift+Tab                  # from Run back to the sample size
done
"$LOTRIX_WINE64" reg delete 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /f >/dev/null 2>&1
step "the failures' window closes" 30
close_and_expect_end "$main"

# Files dropped on the window, made in the probe's own process (see window_probe.cpp): the
# path field takes the first, whole.
#   what|the files dropped, separated by ":"|what the field then holds
drops=(
  "one file|$work/make hits.txt|$work/make hits.txt"
  "several files: the first|$work/picked.txt:$work/make hits.txt|$work/picked.txt"
  "letters of other scripts|$work/two  spaces é中.txt|$work/two  spaces é中.txt"
  "a path over 260 characters|$deep/hits.txt|$deep/hits.txt"
)
: >"$work/two  spaces é中.txt"
for row in "${drops[@]}"; do
  IFS='|' read -r what files expected <<<"$row"
  IFS=: read -ra dropped <<<"$files"
  for i in "${!dropped[@]}"; do dropped[i]=$(windows_path "${dropped[i]}"); done
  step "dropped, $what" 40
  check "dropped, $what: the path field holds it" \
    '[ "$(probe drop "${dropped[@]}")" = "$(windows_path "$expected")" ]'
done

# A run held open by an input that would take the sampler an hour (a terabyte of holes with a
# line end every 256 MiB), ended three ways: Esc says so; closing the window ends the program
# without a word; a task manager's end must not read as done. The sample is marked for deletion
# until it is complete, so none is left.
#   how it ends|what does it|what the box says, if one comes
held=(
  "Esc|focus \"\$main\" && keys Escape|The run was stopped. Nothing was written."
  "closing the window|python3 \"\$e2e_dir/close_window.py\" \"\$main\"|"
  "a task manager|end_samplers|The sampler ended before it had finished"
)
mkdir "$work/held"
python3 -c 'import sys
with open(sys.argv[1], "wb") as f:
    for at in range(1 << 28, (1 << 40) + 1, 1 << 28): f.seek(at - 1); f.write(b"\n")' \
  "$work/held/held.txt"
input=$(windows_path "$work/held/held.txt")
# Whether a sampler reads it: under Wine the sampler is no child of the window's process.
reading() { ps -eo comm=,args= | grep -F -- "$input" | grep -q '^lotrix '; }
# As Windows' task manager does: a console program that a Unix signal kills leaves its console,
# and with it Wine's server, running for good.
end_samplers() { "$LOTRIX_WINE64" taskkill /F /IM lotrix.exe >/dev/null 2>&1; }
for row in "${held[@]}"; do
  IFS='|' read -r how ending said <<<"$row"
  step "a run ended by $how" 40
  start_window
  run_with "$input" 3
  for _ in $(seq "$(tenths 10)"); do reading && break; sleep 0.1; done
  check "$how: Run starts the sampler" reading
  eval "$ending"
  if [ -n "$said" ]; then
    window_named Lotrix "$main" >/dev/null && read_box Lotrix
    check "$how: a box says \"$said\"" 'box_texts | grep -qF "$said"'
    dismiss Lotrix "$main"
    close_and_expect_end "$main"
  else
    check "$how: the window goes at once" 'gone "$main"'
    expect_end "$how: the program ends with no box"
  fi
  check "$how: no sampler and no sample are left" '! reading && [ "$(ls -A "$work/held")" = held.txt ]'
  reading && end_samplers  # left by a failed row
done

# At 144 dpi the window grows with the system's scale.
step "the window at 144 dpi" 60
set_dpi 144
"$LOTRIX_WINE64" "$bin/lotrixGUI.exe" 2>>"$work/gui.log" &
program=$!
main=$(window_named Lotrix)
check "the client area is 720 x 310 at 144 dpi" '[ "$(client_size "$main")" = 720x310 ]'
close_and_expect_end "$main"
set_dpi 96

[ "$failures" -eq 0 ] || tail -n 40 "$work/gui.log" >&2
finish
