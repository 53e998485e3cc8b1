#!/usr/bin/env bash
# The Windows packages, as a user meets them, under Wine: the zip's contents; the MSI installed
# with msiexec (the files, the Start-menu shortcut, the entry in the installed programs, the
# installed window started), replaced by a later version, and uninstalled without a trace.
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
check "the zip holds one folder with the programs, the licence and a README" \
  '[ "$(tr "\n" " " <"$work/zip")" = "Lotrix-$version-win64/LICENSE.txt Lotrix-$version-win64/README.txt Lotrix-$version-win64/lotrix.exe Lotrix-$version-win64/lotrixGUI.exe " ]'
python3 -m zipfile -e "$zip" "$work/unzipped"
stripped() { ! "${OBJDUMP:-x86_64-w64-mingw32-objdump}" -h "$1" | grep -q "\.debug"; }
# Notepad before Windows 10 shows a text of bare LF ends as one long line.
crlf() { [ -s "$1" ] && [ "$(grep -cv $'\r$' "$1")" = 0 ]; }
check "its README and licence end their lines with CR LF" \
  'crlf "$work/unzipped/Lotrix-$version-win64/README.txt" && crlf "$work/unzipped/Lotrix-$version-win64/LICENSE.txt"'
check "its programs are stripped" 'stripped "$work/unzipped/Lotrix-$version-win64/lotrix.exe" && stripped "$work/unzipped/Lotrix-$version-win64/lotrixGUI.exe"'

# Whatever happens below, the prefix is left without Lotrix: an install left behind by a failed
# run would fail the next one.
remove_lotrix() {
  wine msiexec /x "$(windows_path "$msi")" /qn
  [ -s "$work/later.msi" ] && wine msiexec /x "$(windows_path "$work/later.msi")" /qn
}
trap "remove_lotrix; $(trap -p EXIT | sed "s/^trap -- '\(.*\)' EXIT\$/\1/")" EXIT

folder=$WINEPREFIX/drive_c/Program\ Files/Lotrix
entry() { wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s | tr -d '\r'; }
shortcuts() { find "$WINEPREFIX/drive_c" -name Lotrix.lnk -path "*Start Menu*"; }
wine msiexec /i "$(windows_path "$msi")" /qn
check "msiexec installs both programs side by side in Program Files\\Lotrix" \
  'cmp -s "$folder/lotrix.exe" "$work/unzipped/Lotrix-$version-win64/lotrix.exe" && [ -s "$folder/lotrixGUI.exe" ]'
check "with a Start-menu shortcut" '[ -n "$(shortcuts)" ]'
check "and an entry in the installed programs, with its publisher and version" \
  'entry | grep -q "DisplayName *REG_SZ *Lotrix" && entry | grep -q "Publisher *REG_SZ *the Lotrix authors" && entry | grep -q "DisplayVersion *REG_SZ *$version"'
check "and its icon" 'wine reg query "HKLM\Software\Classes\Installer\Products" /s | grep -q "ProductIcon.*lotrix.ico"'

"$LOTRIX_WINE64" "C:\\Program Files\\Lotrix\\lotrixGUI.exe" 2>"$work/gui.log" &
program=$!
main=$(window_named Lotrix) && close_and_expect_end "$main"
[ -n "${main:-}" ] || check "the installed window opens" false

# A later version replaces this one: one entry, the later version.
top=$(cd "$(dirname "$0")/../.." && pwd)
staged=$(ls -d "$build"/packages/_CPack_Packages/*/ZIP/Lotrix-"$version"-win64)
icon=$(realpath --relative-to="$staged" "$top/src/resources/lotrix.ico")
(cd "$staged" && wixl --arch x64 -D Version=99.0.0 -D Staged=. -D "Icon=$icon" \
  -o "$work/later.msi" "$top/packaging/lotrix.wxs" 2>/dev/null)
wine msiexec /i "$(windows_path "$work/later.msi")" /qn
check "a later version replaces this one" \
  '[ "$(entry | grep -c "DisplayName *REG_SZ *Lotrix")" = 1 ] && entry | grep -q "DisplayVersion *REG_SZ *99.0.0"'

wine msiexec /x "$(windows_path "$work/later.msi")" /qn
check "msiexec /x removes the programs, the shortcut and the entry" \
  '[ ! -e "$folder" ] && [ -z "$(shortcuts)" ] && ! entry | grep -q "DisplayName *REG_SZ *Lotrix"'
finish
