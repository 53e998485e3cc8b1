#!/usr/bin/env bash
# The hardening flags of a configured build, as a packager's flags leave them: the packager's
# level of checked functions kept, never defined twice (a warning on every file), and the stack
# clash and control flow protections where the compiler has them.
#   flags_test.sh SOURCE_DIR
set -uo pipefail
source=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
# The packager's flags as CXXFLAGS, or as the build type's own flags.
for packager in "" CXXFLAGS CMAKE_CXX_FLAGS_RELEASE; do
  options=()
  unset CXXFLAGS
  case $packager in
    CXXFLAGS) export CXXFLAGS="-O2 -D_FORTIFY_SOURCE=3" ;;
    CMAKE_CXX_FLAGS_RELEASE) options=("-DCMAKE_CXX_FLAGS_RELEASE=-O2 -D_FORTIFY_SOURCE=3") ;;
  esac
  cmake -S "$source" -B "$work/$RANDOM" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DCMAKE_EXPORT_COMPILE_COMMANDS=ON "${options[@]}" >"$work/log" 2>&1 || { cat "$work/log"; exit 1; }
  commands=$(cat "$work"/*/compile_commands.json) && rm -rf "$work"/*/
  expected=${packager:+3}
  while read -r command; do
    fortify=$(grep -o "_FORTIFY_SOURCE=[0-9]" <<<"$command" | sort -u | tr '\n' ' ')
    [ "$fortify" = "_FORTIFY_SOURCE=${expected:-2} " ] ||
      { echo "FAIL: with the packager's level in ${packager:-nothing}: $fortify in $command"; failures=$((failures + 1)); break; }
    for flag in -fstack-clash-protection -fcf-protection; do
      grep -q -- "$flag" <<<"$command" ||
        { echo "FAIL: no $flag in $command"; failures=$((failures + 1)); break 2; }
    done
  done < <(grep '"command"' <<<"$commands")
done
[ "$failures" -eq 0 ] && echo "hardening flags as expected"
[ "$failures" -eq 0 ]
