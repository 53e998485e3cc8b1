#!/usr/bin/env bash
# Run as root inside a fresh minimal chroot: what a desktop has and the tools to drive a window,
# then the portable bundle (if given) while no Qt is installed, then the Debian package installed
# with apt, used by an ordinary user, and purged.
#   clean_install_inside.sh DEB [BUNDLE]
set -uo pipefail
deb=$1
bundle=${2:-}
user=tester
export DEBIAN_FRONTEND=noninteractive
apt_quiet() { apt-get -y -qq -o Dpkg::Use-Pty=0 "$@" >/tmp/apt.log 2>&1 || { cat /tmp/apt.log >&2; return 1; }; }

# What a desktop has (X, fontconfig and a font, EGL and GL, D-Bus, the keyboard descriptions)
# and the virtual display to drive the window on.
apt_quiet update || exit 1
apt_quiet install --no-install-recommends libx11-6 libx11-xcb1 libxcb1 libfontconfig1 libfreetype6 \
  libdbus-1-3 xkb-data fonts-dejavu-core libegl1 libgl1 libopengl0 xvfb xauth xdotool python3 man-db appstream || exit 1
# Where the bundle is tried, a Wayland desktop too: the system's own Wayland libraries, and a
# compositor to run the window in.
if [ -n "$bundle" ]; then
  apt_quiet install --no-install-recommends weston libwayland-client0 libwayland-cursor0 libwayland-egl1 || exit 1
fi
useradd --create-home "$user"
as_user() { runuser -u "$user" -- env HOME=/home/$user TMPDIR=/tmp "$@"; }

source /lotrix-test/e2e/desktop_lib.sh
passes=0
failures=0

if [ -n "$bundle" ]; then
  check "the system has no Qt before the bundle is tried" '! grep -qi qt <<<"$(dpkg-query -W -f="\${Package}\n")"'
  chmod a+r "$bundle"
  check "the portable bundle runs without Qt installed" \
    'as_user LOTRIX_WAYLAND_REQUIRED=1 bash /lotrix-test/packages/bundle_check.sh "$bundle"'
fi

# Installed as a user would: apt finds what the package depends on in this system's archive.
check "apt-get install resolves the package's dependencies here" 'apt_quiet install "$deb"'
dpkg-query -L lotrix >/tmp/installed 2>/dev/null
# This system's AppStream, pedantic, lists only what Lotrix cannot truthfully give: a
# reverse-DNS id, a homepage, a developer id (it has no domain), and <developer_name>, kept for
# AppStream 0.16, which does not know <developer>.
appstreamcli validate --pedantic --no-net /usr/share/metainfo/lotrix.metainfo.xml >/tmp/appstream 2>&1
grep -E "^[EWI]:" /tmp/appstream
check "AppStream, pedantic, asks for nothing that could be given" '! grep -E "^[EWI]:" /tmp/appstream |
  grep -vE ": (cid-desktopapp-is-not-rdns|url-homepage-missing|developer-id-missing|developer-name-tag-deprecated|unknown-tag developer)"'
version=$(dpkg-query -W -f='${Version}' lotrix 2>/dev/null)

# Everything a user runs is run as an ordinary user, in a shell of theirs.
cat >/tmp/as-user.sh <<'USER'
set -uo pipefail
source /lotrix-test/e2e/desktop_lib.sh
start_display
version=$1
check "lotrix on PATH is the installed one" \
  '[ "$(command -v lotrix)" = /usr/bin/lotrix ] && [ "$(lotrix --version)" = "lotrix $version" ]'
mkdir "$work/corpus"
seq 1 500 | sed 's/^/hit /' >"$work/corpus/hits.txt"
lotrix "$work/corpus/hits.txt" 20
check "lotrix samples a file" '[ "$(lines_in "$work/corpus/hits_sample20.txt")" = 20 ]'
for page in lotrix lotrixGUI; do
  MANWIDTH=80 man -P cat "$page" >"$work/$page.man" 2>"$work/man.log"
  check "the manual of $page opens" '[ -s "$work/$page.man" ] && grep -q "^NAME" "$work/$page.man"'
done
check "lotrixGUI's manual names where its sampler is" 'grep -q /usr/libexec/lotrix/lotrix "$work/lotrixGUI.man"'

lotrixGUI 2>"$work/gui.log" &
program=$!
main=$(window_named Lotrix) && focus "$main"
run_with "$work/corpus/hits.txt" 7
check "the installed window runs the installed sampler: Done!" 'dismiss information'
check "and its sample is there" '[ "$(lines_in "$work/corpus/hits_sample7.txt")" = 7 ]'
if [ -n "${main:-}" ]; then close_and_expect_end "$main"; else cat "$work/gui.log" >&2; fi
finish
USER
check "as an ordinary user, the sampler, the manuals and the window work" \
  'as_user bash /tmp/as-user.sh "$version"'

# Purged: nothing of it is left, not even its folders.
check "apt-get purge removes it" 'apt_quiet purge lotrix'
left() {
  while read -r path; do [[ -f $path || -L $path ]] && echo "$path"; done </tmp/installed
  for folder in /usr/libexec/lotrix /usr/share/doc/lotrix; do [ -d "$folder" ] && echo "$folder"; done
}
check "the package's list of files was read" '[ -s /tmp/installed ]'
check "purged, it leaves nothing" '[ -z "$(left)" ] && ! command -v lotrix >/dev/null'
finish
