#!/usr/bin/env bash
# The packages are the same bytes whoever builds them, wherever and whenever: this build's and
# one made afresh in another folder (inside this one, so that nothing is left elsewhere), a
# minute later, under another umask, time zone and locale, are compared byte for byte. (The MSI
# is left out: wixl gives every build a product code of its own.)
#   reproducible_test.sh BUILD_DIR
set -uo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$(dirname "$0")/../.." && pwd)
other=$build/reproduced
cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }

package() {  # BUILD_DIR: the packages it makes, a path a line
  cmake --build "$1" --target package >"$1/package-again.log" 2>&1 ||
    { cat "$1/package-again.log" >&2; return 1; }
  find "$1/packages" -maxdepth 1 -type f \( -name '*.deb' -o -name '*.zip' -o -name '*.tar.gz' \) | sort
}

rm -rf "$other"
options=(-DCMAKE_BUILD_TYPE="$(cache CMAKE_BUILD_TYPE)" -DBUILD_TESTING=OFF)
toolchain=$(cache CMAKE_TOOLCHAIN_FILE)
[ -n "$toolchain" ] && options+=(-DCMAKE_TOOLCHAIN_FILE="$toolchain")
mkdir -p "$other"
(umask 077 && TZ=Pacific/Kiritimati LC_ALL=C cmake -S "$source" -B "$other" "${options[@]}") \
  >"$other/configure.log" 2>&1 ||
  { cat "$other/configure.log" >&2; exit 1; }
first=$(package "$build") || exit 1
second=$(umask 077 && TZ=Pacific/Kiritimati LC_ALL=C package "$other") || exit 1
[ -n "$first" ] || { echo "FAIL: no package was made" >&2; exit 1; }
failures=0
for made in $first; do
  again=$other/packages/$(basename "$made")
  if cmp -s "$made" "$again"; then
    echo "$(basename "$made"): the same bytes from both builds"
  else
    echo "FAIL: $(basename "$made") differs between the two builds" >&2
    failures=$((failures + 1))
  fi
done
rm -rf "$other" "$build/package-again.log"
[ "$failures" -eq 0 ]
