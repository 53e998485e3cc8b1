#!/usr/bin/env bash
# The Debian package as Debian checks packages, and what it holds: its name and fields, lintian,
# the desktop entry and AppStream data, hardened and stripped programs, icons and manuals. It is
# installed and used on clean systems by clean_install_test.sh, never on this machine.
#   deb_test.sh BUILD_DIR      (after the target package)
set -uo pipefail
build=$(cd "$1" && pwd)
for tool in lintian desktop-file-validate appstreamcli readelf; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/lotrix-XXXXXX")
trap '[ "$BASHPID" = "$$" ] && { rm -rf "$work"; }' EXIT  # a child between fork and exec must not
source "$(dirname "$0")/../e2e/desktop_lib.sh"  # (check and finish; no display)
passes=0
failures=0

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
# (A package of an earlier version may still lie beside it.)
deb=$build/packages/lotrix_${version}_amd64.deb
check "the package is named for the project's version" '[ -s "$deb" ]'

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
check "folders and programs 0755, other files 0644, whatever the builder's umask" \
  '! dpkg-deb -c "$deb" | grep -vE "^(drwxr-xr-x|-rw-r--r--|-rwxr-xr-x|lrwxrwxrwx) "'
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

finish
