#!/usr/bin/env bash
# The Debian package on a system that has never seen Lotrix nor its build: a minimal chroot of
# that system, made afresh with debootstrap, where `apt-get install ./lotrix_*.deb` must find
# everything the package needs in the system's own archive, an ordinary user samples a file with
# the sampler and with the window, reads both manuals, and a purge leaves nothing behind. With a
# the sampler and with the window, reads both manuals, and a purge leaves nothing behind. On
# Debian 13 the portable folder is tried there first, while the chroot has no Qt at all.
#   clean_install_test.sh BUILD_DIR SYSTEM      SYSTEM: debian12, debian13 or ubuntu24.04
#
# The chroot lives in the build folder and goes at the end, whatever happens. Debian's mirror is
# the one the machine's apt sources name. Ubuntu's archive is debootstrap's own default (or one
# that the apt sources name), checked against Ubuntu's keys as Debian 13 ships them; where it
# cannot be reached, the test says so and is skipped.
set -uo pipefail
build=$(cd "$1" && pwd)
system=$2
here=$(cd "$(dirname "$0")" && pwd)
skip() { echo "SKIP: $*"; exit 77; }

[ "$(id -u)" -eq 0 ] || skip "a chroot needs root"
for tool in debootstrap unshare chroot apt-get; do
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done
# This build's packages, by its version: an older one may still lie in the folder.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
deb=$build/packages/lotrix_${version}_amd64.deb
bundle=$build/packages/lotrix-$version-linux-x86_64.tar.gz
[ "$system" = debian13 ] || bundle=
for made in "$deb" $bundle; do
  [ -s "$made" ] || { echo "FAIL: no $made: build the target package" >&2; exit 1; }
done

work=$build/chroots/$system
root=$work/root
# Everything that mounts does so in a mount namespace of its own, which goes with its last
# process; a run killed before its end can still have left a mount in the machine's namespace
# (an older run, or a debootstrap of another make), so what is mounted below the folder is
# unmounted before it is removed, and the removal never crosses into another file system.
remove_work() {
  findmnt -rn -o TARGET | grep -F "$work/" | sort -r | xargs -r -d '\n' umount -l
  rm -rf --one-file-system "$work"
}
remove_work
[ -e "$work" ] && { echo "FAIL: $work cannot be removed" >&2; exit 1; }
mkdir -p "$work"
trap remove_work EXIT
in_namespace() { unshare --mount --propagation private --fork "$@"; }

# The first archive that the machine's apt sources name with this label, for a release (not its
# updates nor security).
named_archive() {
  apt-get indextargets --format '$(REPO_URI) $(CODENAME)' 'Created-By: Packages' "Label: $1" |
    awk '$2 !~ /-/ { print $1; exit }'
}

debian=$(named_archive Debian)
options=(--variant=minbase)
case "$system" in
  debian12) suite=(bookworm "${debian:?the apt sources name no Debian archive}") ;;
  debian13) suite=(trixie "${debian:?the apt sources name no Debian archive}") ;;
  ubuntu24.04)
    # Ubuntu's keys from Debian 13's ubuntu-keyring, which apt fetches and checks against
    # Debian's own keys, into this folder only.
    [ -n "$debian" ] || skip "no Debian archive in the apt sources, so no checked Ubuntu keys"
    keys=$work/keys
    mkdir -p "$keys/lists/partial" "$keys/cache/archives/partial"
    echo "deb $debian trixie main" >"$keys/sources.list"
    private=(-o Dir::Etc::SourceList="$keys/sources.list" -o Dir::Etc::SourceParts=/nonexistent
             -o Dir::State::Lists="$keys/lists" -o Dir::Cache="$keys/cache"
             -o APT::Sandbox::User=root)
    (cd "$keys" && apt-get "${private[@]}" -qq update && apt-get "${private[@]}" -qq download ubuntu-keyring) \
      >"$work/keys.log" 2>&1 || { cat "$work/keys.log" >&2; echo "FAIL: no ubuntu-keyring from Debian 13" >&2; exit 1; }
    dpkg-deb -x "$keys"/ubuntu-keyring_*.deb "$keys/x"
    options+=(--components=main,universe --keyring="$keys/x/usr/share/keyrings/ubuntu-archive-keyring.gpg")
    # Debootstrap here is older than Ubuntu 24.04 and knows it only by the script that every
    # Ubuntu release since 7.10 is made with.
    suite=(noble "$(named_archive Ubuntu)" /usr/share/debootstrap/scripts/gutsy)
    ;;
  *) echo "usage: clean_install_test.sh BUILD_DIR debian12|debian13|ubuntu24.04" >&2; exit 2 ;;
esac

echo "Making a minimal $system in $root"
if ! in_namespace debootstrap "${options[@]}" "${suite[0]}" "$root" "${suite[@]:1}" >"$work/debootstrap.log" 2>&1; then
  if grep -qE "Failed getting release file|Release signed by unknown key|Couldn't download" "$work/debootstrap.log" &&
    [ "$system" = ubuntu24.04 ]; then
    grep -E "^E:" "$work/debootstrap.log"
    skip "Ubuntu's archive cannot be reached from here, so Ubuntu 24.04 is not tried"
  fi
  tail -20 "$work/debootstrap.log" >&2
  echo "FAIL: debootstrap could not make $system" >&2
  exit 1
fi
# Nothing here outlives the test: dpkg need not wait for the disk.
echo force-unsafe-io >"$root/etc/dpkg/dpkg.cfg.d/lotrix-test"

mkdir -p "$root/lotrix-test/e2e" "$root/lotrix-test/packages"
cp "$here/../e2e/desktop_lib.sh" "$here/../e2e/close_window.py" "$root/lotrix-test/e2e/"
cp "$here/clean_install_inside.sh" "$root/lotrix-test/packages/"
cp "$deb" "$root/lotrix-test/"
inside=(/lotrix-test/packages/clean_install_inside.sh "/lotrix-test/$(basename "$deb")")
if [ -n "$bundle" ]; then
  cp "$here/bundle_check.sh" "$root/lotrix-test/packages/"
  cp "$bundle" "$root/lotrix-test/"
  inside+=("/lotrix-test/$(basename "$bundle")")
fi

# The chroot's /proc and /dev, in the namespace of its processes only.
in_namespace sh -c '
  mount -t proc proc "$1/proc" && mount --rbind /dev "$1/dev" && shift && exec chroot "$@"' \
  - "$root" "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 \
  bash "${inside[@]}"
