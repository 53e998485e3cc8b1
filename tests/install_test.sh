#!/usr/bin/env bash
# `cmake --install` puts the front end and the sampler side by side, links them into bin/, and
# adds the desktop entry, the manuals and the icons, all naming the prefix of that install; the
# uninstall target takes every one of them away again.
#   install_test.sh BUILD_DIR
set -uo pipefail
build=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap '[ "$BASHPID" = "$$" ] && { rm -rf "$work"; }' EXIT  # a child between fork and exec must not
failures=0
fail() {
  echo "install: $*" >&2
  failures=$((failures + 1))
}

# As a package installs it, and into a home folder, whose name may hold characters that the
# desktop entry must quote or escape; each with its entry's Exec line.
while IFS='|' read -r -u 3 prefix exec; do
  root=$work/root
  DESTDIR=$root cmake --install "$build" --prefix "$prefix" >/dev/null || fail "$prefix: install failed"
  home=$root$prefix/libexec/lotrix
  for program in lotrixGUI lotrix; do
    [ -x "$home/$program" ] || fail "$program is not installed in $home"
    [ "$(readlink -f "$root$prefix/bin/$program")" = "$home/$program" ] ||
      fail "bin/$program does not lead to $home/$program"
    [[ $(readlink "$root$prefix/bin/$program") == ../* ]] || fail "bin/$program is no relative link"
  done
  entry=$root$prefix/share/applications/lotrix.desktop
  # By its full path: a menu started before ~/.local/bin came onto PATH still finds it.
  grep -qxF "Exec=$exec" "$entry" || fail "the desktop entry does not start $exec"
  ! command -v desktop-file-validate >/dev/null || desktop-file-validate "$entry" ||
    fail "the desktop entry for $prefix is not valid"
  # Docks match the window to its entry by the window's class.
  grep -qx 'StartupWMClass=lotrixGUI' "$entry" || fail "the desktop entry names no window class"
  zcat "$root$prefix/share/man/man1/lotrixGUI.1.gz" | grep -qx ".I $prefix/libexec/lotrix/lotrix" ||
    fail "the window's manual does not name $prefix/libexec/lotrix/lotrix"
  for size in 16 32 48; do
    [ -s "$root$prefix/share/icons/hicolor/${size}x$size/apps/lotrix.png" ] || fail "no ${size}px icon"
  done
  # Nothing is left: no file and no link (the bin/ links were once left behind, dangling); a
  # folder that holds a file of someone else's stays, with it.
  touch "$home/theirs"
  DESTDIR=$root cmake --build "$build" --target uninstall >/dev/null || fail "$prefix: uninstall failed"
  rm "$home/theirs" || fail "uninstall took a file it had not installed"
  left=$(find "$root" ! -type d -o -name lotrix ! -path "$home")
  [ -z "$left" ] || fail "uninstall left $left"
  rm -rf "$root"
done 3<<'EOF'
/usr|/usr/bin/lotrixGUI
/home/ana/.local|/home/ana/.local/bin/lotrixGUI
/home/ana/Ana Maria/.local|"/home/ana/Ana Maria/.local/bin/lotrixGUI"
/home/ana/50% $off/.local|"/home/ana/50%% \\$off/.local/bin/lotrixGUI"
EOF

# Distribution build macros pass absolute install folders: the link still leads to the program,
# by the path from bin/ to it.
{
  echo 'set(CMAKE_INSTALL_PREFIX /usr)'
  echo "set(ENV{DESTDIR} \"$work/absolute\")"
  echo "include(\"$here/../cmake/install_time.cmake\")"
  echo "lotrix_install_link(bin /usr/libexec/lotrix lotrix \"$work/stage\")"
} >"$work/link.cmake"
cmake -P "$work/link.cmake" >/dev/null || fail "the link script failed"
[ "$(readlink "$work/absolute/usr/bin/lotrix")" = ../libexec/lotrix/lotrix ] ||
  fail "with an absolute libexec folder the link is $(readlink "$work/absolute/usr/bin/lotrix")"

[ "$failures" -eq 0 ] && echo "install layout as expected"
[ "$failures" -eq 0 ]
