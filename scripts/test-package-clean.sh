#!/usr/bin/env bash
# Installs the Debian package into a freshly bootstrapped Debian 12 system and runs the
# installed self-test there, as root and as an ordinary user: proves that the package's
# dependencies are complete on a machine that never built VELK. Slow (it downloads a base
# system and the dependencies), so it is not part of `make test`.
#   scripts/test-package-clean.sh BUILD_DIR [MIRROR]
# Needs root, debootstrap and network access to the mirror.
set -euo pipefail

build_dir=$(cd "${1:?usage: scripts/test-package-clean.sh BUILD_DIR [MIRROR]}" && pwd)
mirror=${2:-http://deb.debian.org/debian}
[ "$(id -u)" -eq 0 ] || { echo "run as root" >&2; exit 1; }
command -v debootstrap >/dev/null || { echo "needs debootstrap (apt-get install debootstrap)" >&2; exit 1; }

scratch=$(mktemp -d "${TMPDIR:-/tmp}/velk-clean.XXXXXX")
root=$scratch/root
cleanup() {
    for mount in "$root/dev" "$root/proc" "$root/sys"; do
        mountpoint -q "$mount" && umount -R "$mount"
    done
    rm -rf "$scratch"
}
trap cleanup EXIT

echo "== building the package"
(cd "$build_dir" && cpack --config CPackConfig.cmake -G DEB -B "$scratch/package" >/dev/null)
deb=$(basename "$(ls "$scratch"/package/velk_*.deb)")

echo "== bootstrapping Debian 12 (minbase) into $root"
debootstrap --variant=minbase bookworm "$root" "$mirror" >"$scratch/debootstrap.log" 2>&1 ||
    { tail -20 "$scratch/debootstrap.log" >&2; exit 1; }
mount -t proc proc "$root/proc"
mount -t sysfs sys "$root/sys"
mount --rbind /dev "$root/dev"  # the terminals need /dev/ptmx and /dev/pts
cp "$scratch/package/$deb" "$root/tmp/"

echo "== installing $deb with its dependencies"
chroot "$root" apt-get update -qq
DEBIAN_FRONTEND=noninteractive chroot "$root" apt-get install -y -qq --no-install-recommends \
    "/tmp/$deb" >"$scratch/install.log" 2>&1 || { tail -30 "$scratch/install.log" >&2; exit 1; }

chroot "$root" useradd -m tester
for user in root tester; do
    echo "== self-test as $user"
    home=$(chroot "$root" getent passwd "$user" | cut -d: -f6)
    result=$(chroot "$root" runuser -u "$user" -- env -i HOME="$home" PATH=/usr/bin:/bin \
        QT_QPA_PLATFORM=offscreen sh -c 'cd "$HOME" && velk --self-test 2>/dev/null') || true
    [ "$result" = VELK_TESTS_PASSED ] || {
        echo "FAILED: the self-test as $user printed: $result" >&2
        chroot "$root" runuser -u "$user" -- env -i HOME="$home" PATH=/usr/bin:/bin \
            QT_QPA_PLATFORM=offscreen sh -c 'cd "$HOME" && velk --self-test' >&2 || true
        exit 1
    }
    echo "$result"
done
echo "CLEAN_INSTALL_PASSED"
