#!/usr/bin/env bash
# The portable bundle as a user of another distribution meets it: unpacked anywhere, every file
# finds what it needs, Qt from the bundle and never from the system; the sampler runs from a
# terminal, and the window, on a virtual display, runs the sampler beside it with the bundle's
# own plugins. Where the system has a Qt of its own (and this runs as root), the programs run
# where that Qt cannot be read, so that none of it can stand in for a missing part.
# It needs bash, coreutils, tar, gzip and ldd, and for the window Xvfb, xdotool and python3; no
# Qt, so it runs on any Linux system. Without the window's tools it checks the rest and skips.
#   bundle_check.sh TARBALL
set -uo pipefail
tarball=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
[ -f "$tarball" ] || { echo "FAIL: no $1" >&2; exit 1; }
source "$(dirname "$0")/../e2e/desktop_lib.sh"
window=yes
for tool in Xvfb xdotool python3; do command -v "$tool" >/dev/null || window=no; done
if [ "$window" = yes ]; then
  start_display
else
  work=$(mktemp -d "${TMPDIR:-/tmp}/lotrix-XXXXXX")
  # In this shell only: a child killed between its fork and its exec would run it too.
  trap '[ "$BASHPID" = "$$" ] && { kill ${program:-} 2>/dev/null; rm -rf "$work"; }' EXIT
  failures=0
  passes=0
fi
# Nothing from the caller's environment may point Qt or the loader elsewhere.
unset LD_LIBRARY_PATH LD_PRELOAD QT_PLUGIN_PATH QT_QPA_PLATFORM_PLUGIN_PATH QT_QPA_PLATFORM \
  QT_DEBUG_PLUGINS WAYLAND_DISPLAY

name=$(basename "$tarball" .tar.gz)
version=${name#lotrix-}
version=${version%%-*}
# Unpacked where no build put it, under a name with a space.
unpacked="$work/un packed"
mkdir "$unpacked"
tar -xzf "$tarball" -C "$unpacked" || { echo "FAIL: the tarball does not unpack" >&2; exit 1; }
bundle=$unpacked/$name
check "the tarball holds one folder, named as the tarball is" \
  '[ "$(tar -tzf "$tarball" | cut -d/ -f1 | sort -u)" = "$name" ]'
# In an order of its own, not the order that the build's file system happened to list them in.
check "the tarball lists its files in name order" \
  '[ "$(tar -tzf "$tarball")" = "$(tar -tzf "$tarball" | LC_ALL=C sort)" ]'
check "the programs, qt.conf, README and LICENSE are at its top" \
  '[ -x "$bundle/lotrixGUI" ] && [ -x "$bundle/lotrix" ] && [ -s "$bundle/qt.conf" ] && [ -s "$bundle/README" ] && [ -s "$bundle/LICENSE" ]'
check "Qt's licence comes with Qt" 'ls "$bundle/licenses" | grep -q qt6core'
# Every licence text a notice names comes too, and each library's source package is named.
named=$(grep -sohE "/usr/share/common-licenses/[A-Za-z0-9.+_-]*[A-Za-z0-9+_-]" "$bundle"/licenses/* | sort -u)
unshipped() { for text in $named; do [ -s "$bundle/licenses/common-licenses/${text##*/}" ] || echo "$text"; done; }
check "the licence texts the notices name come too: $(unshipped)" '[ -n "$named" ] && [ -z "$(unshipped)" ]'
check "each library's version and source package are named" \
  'grep -q "^libqt6core6 6[^ ]*: source qt6-base 6" "$bundle/licenses/SOURCES"'
glibc=$(sed -n 's/.*glibc \([0-9][0-9.]*[0-9]\) or later.*/\1/p' "$bundle/README")
check "the README says which glibc it needs" '[ -n "$glibc" ]'
if command -v objdump >/dev/null; then
  newest=$(find "$bundle" -type f \( -name '*.so*' -o -name lotrix -o -name lotrixGUI \) \
             -exec objdump -p {} + 2>/dev/null | grep -oE ' GLIBC_[0-9]+(\.[0-9]+)+' |
           sed 's/.*_//' | sort -uV | tail -n 1)
  check "and it is the newest that its files ask for ($newest)" '[ "$glibc" = "$newest" ]'
fi

# Every program, library and plugin finds every library it needs, and no Qt from anywhere else.
# What a bundled file needs comes from the bundle, or is what every desktop has (as the README
# says); each file needs a run path of its own for that, as the loader follows none on behalf of
# another. (A system library that needs one of the bundle's, say the system's libXdmcp libbsd,
# may take the system's copy: the loader says who asked first.)
desktop='^(ld-linux-x86-64\.so\.2|lib(c|m|dl|pthread|rt|resolv|util)\.so\.[0-9]+|libstdc\+\+\.so\.6|libgcc_s\.so\.1|libX11(-xcb)?\.so\.[0-9]+|libxcb\.so\.1|libfontconfig\.so\.1|libfreetype\.so\.6|lib(EGL|GL|GLX|OpenGL)\.so\.[0-9]+|libz\.so\.1|libdbus-1\.so\.3|libwayland-(client|cursor|egl)\.so\.[0-9]+)$'
mapfile -t elves < <(cd "$bundle" && find lotrix lotrixGUI lib plugins -type f | sort)
check "the bundle leaves Wayland's client libraries to the system" '! ls "$bundle"/lib/libwayland-* 2>/dev/null'
check "the bundle has Qt's libraries and the X11 and Wayland plugins" \
  '[ -f "$bundle/lib/libQt6Core.so.6" ] && [ -f "$bundle/plugins/platforms/libqxcb.so" ] && [ -f "$bundle/plugins/platforms/libqwayland-generic.so" ]'
loader=$(ldd "$bundle/lotrix" | grep -oE '/[^ ]*/ld-linux[^ ]*' | head -n 1)
strays() {  # FILE: what it needs and does not find, or finds outside the bundle but should not
  local line soname path listing
  local -A asker=()
  listing=$(ldd "$1" 2>&1) && [[ $listing != *"not a dynamic executable"* ]] ||
    { echo "ldd cannot read it"; return; }
  LD_DEBUG=files "$loader" --list "$1" 2>&1 >/dev/null | while IFS= read -r line; do
    [[ $line =~ file=([^ ]+)\ \[[0-9]+\]\;\ +needed\ by\ (.*)\ \[[0-9]+\]$ ]] &&
      printf '%s\t%s\n' "${BASH_REMATCH[1]}" "${BASH_REMATCH[2]}"
  done >"$work/askers"
  while IFS=$'\t' read -r soname path; do
    [ -n "${asker[$soname]:-}" ] || asker[$soname]=$path
  done <"$work/askers"
  while IFS= read -r line; do
    [[ $line =~ ^[[:space:]]*([^[:space:]]+)\ =\>\ (.*)$ ]] || continue
    soname=${BASH_REMATCH[1]}
    path=${BASH_REMATCH[2]% (0x*}
    if [ "$path" = "not found" ]; then
      echo "$soname not found"
    elif [[ $path == "$bundle"/* ]]; then
      continue
    elif [[ $soname == libQt6* ]]; then
      echo "$soname from $path"
    elif [[ ${asker[$soname]:-} == "$bundle"/* ]] && ! [[ $soname =~ $desktop ]]; then
      echo "$soname from $path, for ${asker[$soname]#"$bundle"/}"
    fi
  done <<<"$listing"
}
for file in "${elves[@]}"; do
  problems=$(strays "$bundle/$file")
  check "$file finds all it needs, the bundle's from the bundle${problems:+: $problems}" '[ -z "$problems" ]'
done

# Where the system has its own Qt, the programs run with it out of reach: an empty file over each
# of its libraries and an empty folder over its plugins, in a mount namespace of their own.
isolate=()
system_qt=(/usr/lib/x86_64-linux-gnu/libQt6* /lib/x86_64-linux-gnu/libQt6* /usr/lib/x86_64-linux-gnu/qt6)
existing=()
for path in "${system_qt[@]}"; do [ -e "$path" ] && existing+=("$path"); done
if ((${#existing[@]})); then
  if [ "$(id -u)" -eq 0 ] && unshare -m true 2>/dev/null; then
    mkdir "$work/empty"
    isolate=(unshare -m bash -c '
      empty=$1; shift
      for path in /usr/lib/x86_64-linux-gnu/libQt6* /lib/x86_64-linux-gnu/libQt6*; do
        [ -f "$path" ] && ! [ -L "$path" ] && { mount --bind /dev/null "$path" || exit 99; }
      done
      [ -d /usr/lib/x86_64-linux-gnu/qt6 ] && { mount --bind "$empty" /usr/lib/x86_64-linux-gnu/qt6 || exit 99; }
      exec "$@"' isolate "$work/empty")
    check "the system's Qt is out of reach where the programs run" \
      '[ "$("${isolate[@]}" bash -c "cat /usr/lib/x86_64-linux-gnu/libQt6Core.so.6 2>/dev/null | wc -c")" = 0 ]'
  else
    echo "(this system has a Qt of its own, which only root could hide: the programs run beside it)"
  fi
fi

# The sampler, from a terminal.
mkdir "$work/corpus"
seq 1 300 | sed 's/^/hit /' >"$work/corpus/hits.txt"
check "lotrix says its version" '"${isolate[@]}" "$bundle/lotrix" --version | grep -qx "lotrix $version"'
"${isolate[@]}" "$bundle/lotrix" "$work/corpus/hits.txt" 25 >"$work/cli.log" 2>&1
check "lotrix samples a file" '[ "$(lines_in "$work/corpus/hits_sample25.txt")" = 25 ]'

if [ "$window" = no ]; then
  echo "SKIP: Xvfb, xdotool or python3 is not installed: the window is not tried"
  echo "$passes passed, $failures failed"
  [ "$failures" -eq 0 ] && exit 77
  exit 1
fi

# What a running program has loaded, from its memory map: the libraries (and plugins) by path.
# (A path is all that follows the first five fields, spaces and all.)
loaded() { sed -E 's/^([^ ]+ +){5}//' "/proc/$1/maps" 2>/dev/null | grep -E '/[^/]+\.so(\.[0-9]+)*$' | sort -u; }
outside() { local path; while IFS= read -r path; do [[ $path == "$bundle"/* ]] || echo "$path"; done; }
# Those of the bundle's libraries and all of Qt's that it took from outside the bundle.
foreign() {
  local path
  outside | while IFS= read -r path; do
    if [[ $path == *libQt6* || $path == */qt6/* || -e "$bundle/lib/$(basename "$path")" ]]; then
      echo "$path"
    fi
  done
}

# The window on X11, as a person uses it: the path typed, the number of lines, Run.
QT_QPA_PLATFORM=xcb QT_DEBUG_PLUGINS=1 "${isolate[@]}" "$bundle/lotrixGUI" 2>"$work/gui.log" &
program=$!
main=$(window_named Lotrix) && focus "$main"
check "the window opens" '[ -n "${main:-}" ]'
run_with "$work/corpus/hits.txt" 7
check "the window runs the sampler beside it: Done!" 'dismiss information'
check "and its sample is there" '[ "$(lines_in "$work/corpus/hits_sample7.txt")" = 7 ]'
loaded "$program" >"$work/maps"
check "the window runs on the bundle's X11 plugin, with its compose key input" \
  'grep -qxF "$bundle/plugins/platforms/libqxcb.so" "$work/maps" && grep -qxF "$bundle/plugins/platforminputcontexts/libcomposeplatforminputcontextplugin.so" "$work/maps"'
check "it loaded no Qt and none of the bundle's libraries from elsewhere: $(foreign <"$work/maps" | tr '\n' ' ')" \
  '[ -z "$(foreign <"$work/maps")" ]'
# Qt's own account: it looked for plugins in the bundle alone, and loaded them from there.
plugin_paths() { grep -oE '(checking directory path|qt\.core\.library:) "/[^"]*"' "$work/gui.log" | cut -d'"' -f2; }
check "Qt looked for its plugins in the bundle" 'plugin_paths | grep -qF "$bundle/plugins/platforms"'
check "and nowhere else: $(plugin_paths | outside | sort -u | tr '\n' ' ')" '[ -z "$(plugin_paths | outside)" ]'
[ -n "${main:-}" ] && close_and_expect_end "$main"
[ -n "${program:-}" ] && { kill "$program" 2>/dev/null; program=; }

# As a native Wayland client, where a compositor is at hand: the bundle's Wayland plugin, with
# its desktop shell integration, and nothing from elsewhere.
if command -v weston >/dev/null; then
  export XDG_RUNTIME_DIR=$work/runtime
  mkdir -m 700 "$XDG_RUNTIME_DIR"
  weston --backend=headless-backend.so --socket=lotrix --idle-time=0 >"$work/weston.log" 2>&1 &
  weston=$!
  for _ in $(seq 100); do [ -S "$XDG_RUNTIME_DIR/lotrix" ] && break; sleep 0.1; done
  # A headless weston has no seat, and Qt 6.4's Wayland text input then crashes as soon as a
  # line edit draws its cursor; a desktop always has a seat.
  WAYLAND_DISPLAY=lotrix QT_QPA_PLATFORM=wayland QT_IM_MODULE=none DISPLAY= \
    "${isolate[@]}" "$bundle/lotrixGUI" 2>"$work/wayland.log" &
  program=$!
  for _ in $(seq 200); do
    loaded "$program" | grep -q "/libbradient.so$" && break
    kill -0 "$program" 2>/dev/null || break
    sleep 0.1
  done
  sleep 0.5
  loaded "$program" >"$work/maps"
  check "on Wayland, the window runs on the bundle's plugin and shell integration" \
    'kill -0 "$program" 2>/dev/null && grep -qxF "$bundle/plugins/platforms/libqwayland-generic.so" "$work/maps" && grep -qxF "$bundle/plugins/wayland-shell-integration/libxdg-shell.so" "$work/maps"'
  # weston draws no frames: the window draws its own, title and close button included.
  check "and draws its own window frame where the compositor draws none" \
    'grep -qxF "$bundle/plugins/wayland-decoration-client/libbradient.so" "$work/maps"'
  check "and loads no Qt from elsewhere: $(foreign <"$work/maps" | tr '\n' ' ')" '[ -z "$(foreign <"$work/maps")" ]'
  kill "$program" "$weston" 2>/dev/null
  wait "$program" "$weston" 2>/dev/null
  program=
elif [ -n "${LOTRIX_WAYLAND_REQUIRED:-}" ]; then
  check "weston is at hand to try the window on Wayland" false
fi
((failures)) && { echo "--- the window's messages:" >&2; grep -v "^qt\.core" "$work/gui.log" >&2; }
finish
