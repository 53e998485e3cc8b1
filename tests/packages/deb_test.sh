#!/usr/bin/env bash
# The Debian package, as a user meets it: built, checked as Debian checks packages, installed
# with dpkg, used from PATH (the sampler in a terminal, the window on a virtual display with
# one Run), removed, and nothing left. It installs for real, so it runs only as root.
#   deb_test.sh BUILD_DIR
set -uo pipefail
build=$(cd "$1" && pwd)
[ "$(id -u)" -eq 0 ] || { echo "SKIP: installs a package, so it needs root"; exit 77; }
source "$(dirname "$0")/../e2e/desktop_lib.sh"
start_display

cmake --build "$build" --target package >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log" >&2; exit 1; }
deb=$(ls "$build"/packages/lotrix_*_amd64.deb)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
check "the package is named for the project's version" '[ "$(basename "$deb")" = "lotrix_${version}_amd64.deb" ]'

# As Debian checks packages: no lintian error, valid desktop entry and AppStream data.
lintian "$deb" 2>/dev/null >"$work/lintian"
check "lintian finds no error" '! grep "^E:" "$work/lintian"'
grep "^W:" "$work/lintian" >&2
dpkg-deb -x "$deb" "$work/root"
check "the desktop entry is valid" 'desktop-file-validate "$work/root/usr/share/applications/lotrix.desktop"'
check "the AppStream data is valid" \
  '! appstreamcli validate --no-net "$work/root/usr/share/metainfo/lotrix.metainfo.xml" | grep "^E:"'
field() { dpkg-deb -f "$deb" "$1"; }
check "Depends, from the libraries the programs use" '[[ $(field Depends) == *libqt6widgets6* && $(field Depends) == *libc6* ]]'
check "Recommends qt6-wayland and the window's font, with a section and a priority" \
  '[[ $(field Recommends) == "qt6-wayland, fonts-liberation" && -n $(field Section) && $(field Priority) == optional ]]'
stripped() { ! readelf -S "$1" | grep -qE "\.symtab|\.debug"; }
# Hardened as Debian builds its packages (what hardening-check looks for, read with binutils):
# position independent, relocations read-only and bound at start, a stack protector, checked
# buffer functions.
hardened() {  # (read whole first: grep -q would stop early, a broken pipe under pipefail)
  local headers symbols
  headers=$(readelf -hld "$1") && symbols=$(nm -D "$1") || return 1
  grep -q "Type: *DYN" <<<"$headers" && grep -q GNU_RELRO <<<"$headers" &&
    grep -q BIND_NOW <<<"$headers" && grep -q " __stack_chk_fail@" <<<"$symbols" &&
    grep -qE " __[a-z]+_chk@" <<<"$symbols"
}
for program in lotrix lotrixGUI; do
  check "$program is hardened" 'hardened "$work/root/usr/libexec/lotrix/$program"'
done
check "the programs are stripped" 'stripped "$work/root/usr/libexec/lotrix/lotrix" && stripped "$work/root/usr/libexec/lotrix/lotrixGUI"'
icons=()
for size in 16 32 48 64 128 256; do icons+=("usr/share/icons/hicolor/${size}x$size/apps/lotrix.png"); done
for file in usr/share/man/man1/lotrix.1.gz usr/share/man/man1/lotrixGUI.1.gz \
  usr/share/doc/lotrix/copyright usr/share/doc/lotrix/changelog.gz \
  usr/share/icons/hicolor/scalable/apps/lotrix.svg "${icons[@]}"; do
  check "it holds /$file" '[ -s "$work/root/$file" ]'
done
check "the manual says how to name the output and what the exit status means" \
  'zcat "$work/root/usr/share/man/man1/lotrix.1.gz" | grep -q "hits_sample30" && zcat "$work/root/usr/share/man/man1/lotrix.1.gz" | grep -qi "exit status"'

# Installed, from PATH.
dpkg -i "$deb" >"$work/dpkg.log" 2>&1 || cat "$work/dpkg.log" >&2
dpkg -L lotrix >"$work/installed"
check "lotrix on PATH is the installed one" '[ "$(command -v lotrix)" = /usr/bin/lotrix ] && lotrix --version | grep -qx "lotrix $version"'
mkdir "$work/corpus"
seq 1 500 | sed 's/^/hit /' >"$work/corpus/hits.txt"
lotrix "$work/corpus/hits.txt" 20
check "lotrix samples a file" '[ "$(lines_in "$work/corpus/hits_sample20.txt")" = 20 ]'

lotrixGUI 2>"$work/gui.log" &
program=$!
main=$(window_named Lotrix) && focus "$main"
type_text "$work/corpus/hits.txt"
keys Tab Tab
type_text 7
keys Tab space
check "the installed window runs the installed sampler: Done!" 'dismiss information'
check "and its sample is there" '[ "$(lines_in "$work/corpus/hits_sample7.txt")" = 7 ]'
[ -n "${main:-}" ] && close_and_expect_end "$main"

# Removed: nothing of it is left.
dpkg --purge lotrix >"$work/dpkg.log" 2>&1 || cat "$work/dpkg.log" >&2
left() {
  while read -r path; do [[ -f $path || -L $path ]] && echo "$path"; done <"$work/installed"
  for folder in /usr/libexec/lotrix /usr/share/doc/lotrix; do [ -d "$folder" ] && echo "$folder"; done
}
hash -r
check "removed, it leaves nothing" '[ -z "$(left)" ] && ! command -v lotrix >/dev/null'
finish
