#!/usr/bin/env bash
# The whole program as a screen reader user meets it: the built lotrixGUI with the real lotrix
# beside it, driven through the accessibility bus alone (atspi_driver.py), on a private session
# bus; on an X display (Xvfb), or as a native Wayland client of a headless weston.
#   atspi_test.sh BIN_DIR x11|wayland
set -uo pipefail
bin=$(cd "$1" && pwd)
display=$2
here=$(cd "$(dirname "$0")" && pwd)
for tool in dbus-run-session dbus-send /usr/bin/python3; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null || { echo "SKIP: python3-pyatspi is not installed"; exit 77; }

work=$(mktemp -d "${TMPDIR:-/tmp}/lotrix-XXXXXX")
# In this shell only: a child killed between its fork and its exec would run it too.
trap '[ "$BASHPID" = "$$" ] && { kill ${server:-} 2>/dev/null; rm -rf "$work"; }' EXIT
seq 1 500 | sed 's/^/hit /' >"$work/hits.txt"
# The desktop's opener, as the window finds it on PATH; it records what it was asked to open,
# whole or not at all, as the driver may look while it writes.
mkdir "$work/stand-ins"
cat >"$work/stand-ins/xdg-open" <<'EOF'
#!/bin/sh
printf '%s\0' "$@" >"${0%/*}/xdg-open.part" && mv "${0%/*}/xdg-open.part" "${0%/*}/xdg-open.args"
EOF
chmod +x "$work/stand-ins/xdg-open"

case $display in
  x11)
    command -v Xvfb >/dev/null || { echo "SKIP: Xvfb is not installed"; exit 77; }
    exec 3>"$work/display"
    Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp -noreset >/dev/null 2>&1 &
    server=$!
    for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
    export DISPLAY=:$(cat "$work/display") QT_QPA_PLATFORM=xcb
    ;;
  wayland)
    command -v weston >/dev/null || { echo "SKIP: weston is not installed"; exit 77; }
    export XDG_RUNTIME_DIR=$work/runtime
    mkdir -m 700 "$XDG_RUNTIME_DIR"
    weston --backend=headless-backend.so --socket=lotrix --idle-time=0 >"$work/weston.log" 2>&1 &
    server=$!
    for _ in $(seq 100); do [ -S "$XDG_RUNTIME_DIR/lotrix" ] && break; sleep 0.1; done
    [ -S "$XDG_RUNTIME_DIR/lotrix" ] || { cat "$work/weston.log" >&2; echo "FAIL: weston did not start"; exit 1; }
    unset DISPLAY
    # A headless weston has no seat, and Qt 6.4's Wayland text input then crashes as soon as a
    # line edit draws its cursor; a desktop always has a seat. No input method, no text input.
    export WAYLAND_DISPLAY=lotrix QT_QPA_PLATFORM=wayland QT_IM_MODULE=none
    ;;
esac

# A screen reader's bus, up before the window starts, as it is on a desktop; the environment
# variable stands in for a running screen reader.
dbus-run-session -- bash -c '
  dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress >/dev/null
  QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 HOME=$3 PATH=$3/stand-ins:$PATH "$1/lotrixGUI" 2>"$3/gui.log" &
  gui=$!
  /usr/bin/python3 "$2/atspi_driver.py" "$3" "$1"
  status=$?
  kill -0 $gui 2>/dev/null || { echo "FAIL: the window died"; cat "$3/gui.log" >&2; status=1; }
  kill $gui 2>/dev/null
  exit $status
' driver "$bin" "$here" "$work" 2>"$work/bus.log"
status=$?
[ "$status" -eq 0 ] || cat "$work/bus.log" >&2
exit "$status"
