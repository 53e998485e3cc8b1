#!/usr/bin/env bash
# The Windows packages, as a user meets them, under Wine: the zip's contents; the MSI's record of
# the programs; the MSI installed with msiexec (the files, the Start-menu shortcut, the entry in
# the installed programs and where it says they are), replaced by another build of the same
# version (the programs, window and sampler, working from there), replaced by a later version,
# refused as an earlier one, and uninstalled without a trace.
#   msi_test.sh BUILD_DIR     (LOTRIX_WINE64 and WINEPREFIX set)
set -uo pipefail
build=$(cd "$1" && pwd)
source "$(dirname "$0")/../e2e/desktop_lib.sh"
start_display
wine() { "$LOTRIX_WINE64" "$@" 2>/dev/null; }

cmake --build "$build" --target package >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log" >&2; exit 1; }
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
zip=$build/packages/Lotrix-$version-win64.zip
msi=$build/packages/Lotrix-$version-x64.msi
check "a zip and an MSI named for the version" '[ -s "$zip" ] && [ -s "$msi" ]'

python3 -m zipfile -l "$zip" | awk 'NR > 1 { print $1 }' | sort >"$work/zip"
check "the zip holds one folder with the programs, the licences and a README" \
  '[ "$(tr "\n" " " <"$work/zip")" = "Lotrix-$version-win64/LICENSE.txt Lotrix-$version-win64/README.txt Lotrix-$version-win64/THIRD-PARTY.txt Lotrix-$version-win64/lotrix.exe Lotrix-$version-win64/lotrixGUI.exe " ]'
python3 -m zipfile -e "$zip" "$work/unzipped"
stripped() { ! "${OBJDUMP:-x86_64-w64-mingw32-objdump}" -h "$1" | grep -q "\.debug"; }
# Notepad before Windows 10 shows a text of bare LF ends as one long line.
crlf() { [ -s "$1" ] && [ "$(grep -cv $'\r$' "$1")" = 0 ]; }
check "its README and licences end their lines with CR LF" \
  'crlf "$work/unzipped/Lotrix-$version-win64/README.txt" && crlf "$work/unzipped/Lotrix-$version-win64/LICENSE.txt" && crlf "$work/unzipped/Lotrix-$version-win64/THIRD-PARTY.txt"'
check "its programs are stripped" 'stripped "$work/unzipped/Lotrix-$version-win64/lotrix.exe" && stripped "$work/unzipped/Lotrix-$version-win64/lotrixGUI.exe"'

# The files that both packages hold, as CPack staged them.
top=$(cd "$(dirname "$0")/../.." && pwd)
staged=$(ls -d "$build"/packages/_CPack_Packages/*/ZIP/Lotrix-"$version"-win64)

# The programs as Windows Installer knows them: each its own component, keyed by itself, so
# that each is judged by its own version, the build's, which is the one a program's version
# record carries. A versioned file has no hash (Windows Installer compares versions, and its
# validation refuses both) and has a language.
table() { msiinfo export "$msi" "$1" | tr -d '\r' | tail -n +4; }
file_column() { table File | awk -F'\t' -v file="$1" -v column="$2" '$1 == file { print $column }'; }
listed() { file_column "$1" 5; }      # its version
component() { file_column "$1" 2; }
keyed_by_itself() { table Component | awk -F'\t' -v c="$(component "$1")" '$1 == c { print $6 }' | grep -qx "$1"; }
carried() {  # the file version in the program's version record
  python3 -c 'import struct, sys
data = open(sys.argv[1], "rb").read()
at = data.find(struct.pack("<I", 0xFEEF04BD))
if at >= 0:
    high, low = struct.unpack_from("<II", data, at + 8)
    print(f"{high >> 16}.{high & 65535}.{low >> 16}.{low & 65535}")' "$1"
}
check "the MSI records both programs with the version of the build, the one they carry" \
  '[ "$(listed lotrixGUI.exe)" = "$version.0" ] && [ "$(listed lotrix.exe)" = "$version.0" ] && [ "$(carried "$staged/lotrixGUI.exe")" = "$version.0" ] && [ "$(carried "$staged/lotrix.exe")" = "$version.0" ]'
# The same version in each program's version record, as Explorer shows it, and in its manifest.
versioned() {
  local record
  record=$(strings -el "$1") || return 1
  [ "$(grep -A1 -x FileVersion <<<"$record" | tail -n 1)" = "$version" ] &&
    [ "$(grep -A1 -x ProductVersion <<<"$record" | tail -n 1)" = "$version" ] &&
    grep -aq "name=\"Lotrix\.${2}\" version=\"$version\.0\"" "$1"
}
check "and the same version in their records' texts and in their manifests" \
  'versioned "$staged/lotrixGUI.exe" lotrixGUI && versioned "$staged/lotrix.exe" lotrix'
language() { file_column "$1" 6; }
check "and with a language, and no hash" \
  '[ "$(language lotrixGUI.exe)" = 1033 ] && [ "$(language lotrix.exe)" = 1033 ] && ! table MsiFileHash | cut -f1 | grep -qE "^lotrix(GUI)?\.exe$"'
check "each program a component of its own, keyed by the program" \
  '[ "$(component lotrixGUI.exe)" != "$(component lotrix.exe)" ] && keyed_by_itself lotrixGUI.exe && keyed_by_itself lotrix.exe'

# Two more installers of the very same files, made as the package build makes its own: another
# build of this version, and a later version.
make_msi() {  # version, file
  cmake -D "CPACK_LOTRIX_WIXL=$(sed -n 's/^LOTRIX_WIXL:[A-Z]*=//p' "$build/CMakeCache.txt")" \
    -D "CPACK_PACKAGE_VERSION=$1" -D "CPACK_LOTRIX_MSI=$2" -D "CPACK_PACKAGE_DIRECTORY=$work" \
    -D "CPACK_TEMPORARY_DIRECTORY=$staged" -D "CPACK_LOTRIX_ICON=$top/src/resources/lotrix.ico" \
    -D "CPACK_LOTRIX_WXS=$top/packaging/lotrix.wxs" -P "$top/cmake/make_msi.cmake" >"$work/make_msi.log" 2>&1 ||
    cat "$work/make_msi.log" >&2
}
make_msi "$version" "$work/rebuilt.msi"
make_msi 99.0.0 "$work/later.msi"
product_code() { msiinfo export "$1" Property | tr -d '\r' | sed -n 's/^ProductCode\t//p'; }

# Whatever happens below, the prefix is left without Lotrix: an install left behind by a failed
# run would fail the next one.
remove_lotrix() {
  local installer
  for installer in "$msi" "$work/rebuilt.msi" "$work/later.msi"; do
    [ -s "$installer" ] && wine msiexec /x "$(windows_path "$installer")" /qn
  done
}
trap "remove_lotrix; $(trap -p EXIT | sed "s/^trap -- '\(.*\)' EXIT\$/\1/")" EXIT

folder=$WINEPREFIX/drive_c/Program\ Files/Lotrix
# Read to its end before it is searched, so that no Wine program is cut off mid-way by the
# closed pipe of a search that has already found what it looked for.
registry() { local out; out=$(wine reg query "$@"); tr -d '\r' <<<"$out"; }
entry() { registry 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s; }
# The installed programs as the user's list shows them, one a line: {product code}|||name
installed() { local out; out=$(wine uninstaller --list); tr -d '\r' <<<"$out" | grep '|Lotrix$'; }
at_home() { entry | grep -qx ' *InstallLocation *REG_SZ *C:.Program Files.Lotrix.'; }
shortcuts() { find "$WINEPREFIX/drive_c" -name Lotrix.lnk -path "*Start Menu*"; }
same_files() {
  local file
  for file in lotrixGUI.exe lotrix.exe README.txt LICENSE.txt THIRD-PARTY.txt; do
    cmp -s "$folder/$file" "$staged/$file" || return 1
  done
}
wine msiexec /i "$(windows_path "$msi")" /qn
check "msiexec installs both programs side by side in Program Files\\Lotrix" 'same_files'
check "with a Start-menu shortcut" '[ -n "$(shortcuts)" ]'
check "and an entry in the installed programs, with its publisher and version" \
  'entry | grep -q "DisplayName *REG_SZ *Lotrix" && entry | grep -q "Publisher *REG_SZ *the Lotrix authors" && entry | grep -q "DisplayVersion *REG_SZ *$version"'
check "that says where the programs are" 'at_home'
check "and its icon" 'registry "HKLM\Software\Classes\Installer\Products" /s | grep -q "ProductIcon.*lotrix.ico"'

# Another build of the same version, as a second package build makes it, replaces this one.
rebuilt=$(product_code "$work/rebuilt.msi")
check "another build of the version is another product" '[ -n "$rebuilt" ] && [ "$rebuilt" != "$(product_code "$msi")" ]'
wine msiexec /i "$(windows_path "$work/rebuilt.msi")" /qn
check "another build of the same version replaces the one installed: one entry, the new build's" \
  '[ "$(installed)" = "$rebuilt|||Lotrix" ]'
check "with every file in place, and where the entry says" 'same_files && at_home && [ -n "$(shortcuts)" ]'
sample=$(seq 1 100 | "$LOTRIX_WINE64" "C:\\Program Files\\Lotrix\\lotrix.exe" --seed 42 - 3 2>/dev/null | tr -d '\r')
check "the installed sampler draws its sample" '[ "$(grep -cxE "[0-9]+" <<<"$sample")" = 3 ]'
"$LOTRIX_WINE64" "C:\\Program Files\\Lotrix\\lotrixGUI.exe" 2>"$work/gui.log" &
program=$!
main=$(window_named Lotrix) && close_and_expect_end "$main"
[ -n "${main:-}" ] || check "the installed window opens" false

# A later version replaces this one: one entry, the later version; the earlier one is refused.
wine msiexec /i "$(windows_path "$work/later.msi")" /qn
check "a later version replaces this one" \
  '[ "$(installed)" = "$(product_code "$work/later.msi")|||Lotrix" ] && entry | grep -q "DisplayVersion *REG_SZ *99.0.0"'
wine msiexec /i "$(windows_path "$msi")" /qn
refused=$?
check "an earlier version is refused, and the later one kept" \
  '[ "$refused" != 0 ] && [ "$(installed)" = "$(product_code "$work/later.msi")|||Lotrix" ] && same_files'

wine msiexec /x "$(windows_path "$work/later.msi")" /qn
check "msiexec /x removes the programs, the shortcut, the entry and the registry value" \
  '[ ! -e "$folder" ] && [ -z "$(shortcuts)" ] && [ -z "$(installed)" ] && ! entry | grep -q "DisplayName *REG_SZ *Lotrix" && ! wine reg query "HKLM\Software\Lotrix" >/dev/null'
finish
