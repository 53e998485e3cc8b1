#!/usr/bin/env bash
# `cmake --install` puts the front end and the sampler side by side, links the front end into
# bin/, and adds the desktop entry and the icons.
set -euo pipefail
build=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
DESTDIR=$root cmake --install "$build" --prefix /usr >/dev/null

fail() { echo "install: $*" >&2; exit 1; }
home=$root/usr/libexec/lotrix
for program in lotrixGUI lotrix; do
  [ -x "$home/$program" ] || fail "$program is not installed in $home"
done
[ "$(readlink -f "$root/usr/bin/lotrixGUI")" = "$home/lotrixGUI" ] ||
  fail "bin/lotrixGUI does not lead to $home/lotrixGUI"
grep -qx 'Exec=lotrixGUI' "$root/usr/share/applications/lotrix.desktop" ||
  fail "no desktop entry that starts lotrixGUI"
for size in 16 32 48; do
  [ -s "$root/usr/share/icons/hicolor/${size}x$size/apps/lotrix.png" ] || fail "no ${size}px icon"
done
echo "install layout as expected"
