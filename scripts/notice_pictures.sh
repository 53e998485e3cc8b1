#!/usr/bin/env bash
# Takes the README's pictures of the notice after a run, on Linux and on Windows (under Wine),
# each on a virtual display, with the stand-in sampler of the tests reporting a path a user
# would have rather than the scratch folder's.
#   scripts/notice_pictures.sh          (after scripts/setup test; writes docs/lotrix-done*.png)
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
source "$top/tests/e2e/desktop_lib.sh"
command -v import >/dev/null || { echo "needs ImageMagick's import" >&2; exit 1; }
start_display

# picture GUI STAND-IN PATH REPORTED-PATH OUT [WINE]: the notice of one run, as a PNG
picture() {
  local gui=$1 stand_in=$2 typed=$3 reported=$4 out=$5 wine=${6:-}
  rm -rf "$work/app" && mkdir "$work/app"
  cp "$gui" "$stand_in" "$work/app/"
  LOTRIX_FAKE_SAYS=$(printf 'seed 2365974922140700731\nsample %s' "$reported") \
    $wine "$work/app/$(basename "$gui")" 2>"$work/gui.log" &
  program=$!
  main=$(wait_seconds=120 window_named Lotrix) || { cat "$work/gui.log" >&2; return 1; }
  focus "$main"
  type_text "$typed"
  keys Tab Tab Tab space
  box=$(window_named information "$main") || return 1
  sleep 1
  import -window "$box" "$out" && echo "picture: $out"
  focus "$box"
  keys Return
  close_and_expect_end "$main"
}

picture "$top/build/bin/lotrixGUI" "$top/build/tests/bin/lotrix" /home/ana/corpus/hits.txt \
  /home/ana/corpus/hits_sample30-2.txt "$top/docs/lotrix-done.png"
if [ -x "$top/build-win/bin/lotrixGUI.exe" ]; then
  export WINEPREFIX=$top/build-win/wine WINEDEBUG=-all
  picture "$top/build-win/bin/lotrixGUI.exe" "$top/build-win/tests/bin/lotrix.exe" \
    'C:\Users\ana\corpus\hits.txt' 'C:\Users\ana\corpus\hits_sample30-2.txt' \
    "$top/docs/lotrix-done-windows.png" /usr/lib/wine/wine64
fi
finish
