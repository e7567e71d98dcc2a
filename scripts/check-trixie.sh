#!/usr/bin/env bash
# Tries the README's commands and CI on a fresh Debian 13 (trixie) root, made
# with debootstrap from the mirror apt uses here. Run by hand as root, not in
# CI: it takes a long while (about half an hour on two cores).
#
#   1. As a user without sudo and without make: ./dupfind.sh test fails and
#      names the one command for root to run; root runs it; the user's tree
#      is left untouched; the same ./dupfind.sh test then passes.
#   2. As that user: ./dupfind.sh run starts the program and it stays up;
#      ./dupfind.sh package builds the package; root installs it, it starts,
#      root purges it.
#   3. As root, in a fresh clone: CI=true bash .ci/run.
#
# Usage: scripts/check-trixie.sh [ROOT]   (default /var/tmp/dupfind-trixie;
# made when missing and kept for the next run, with what it installed)
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
root=${1:-/var/tmp/dupfind-trixie}
[ "$(id -u)" -eq 0 ] || { echo "check-trixie: run me as root" >&2; exit 1; }

# The first Debian mirror apt is set up with here.
mirror=$(sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/*.sources 2>/dev/null |
  tr ' ' '\n' | grep -v -e security -e '^$' | grep -m1 debian || true)
mirror=${mirror:-http://deb.debian.org/debian}

if [ ! -x "$root/usr/bin/apt-get" ]; then
  command -v debootstrap >/dev/null || apt-get install -y -qq --no-install-recommends debootstrap
  echo "check-trixie: making a trixie root in $root from $mirror"
  debootstrap --variant=minbase --include=git,ca-certificates trixie "$root" "$mirror"
fi

mounted=()
mount_in() {  # mount_in TYPE SOURCE TARGET [OPTIONS]
  mkdir -p "$root$3"
  mount -t "$1" ${4:+-o "$4"} "$2" "$root$3"
  mounted=("$root$3" "${mounted[@]}")
}
cleanup() {
  for m in "${mounted[@]}"; do umount -l "$m" || true; done
}
trap cleanup EXIT
mount_in proc proc /proc
mount_in sysfs sys /sys
mount_in devtmpfs udev /dev
mount_in devpts devpts /dev/pts gid=5,mode=620
# /tmp stays on the root's disk, as debootstrap leaves it. (An installed
# Debian 13 mounts a tmpfs there, which lists a folder newest first.)
cp /etc/resolv.conf "$root/etc/resolv.conf"

in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"; }
as_user() { chroot "$root" env -i PATH=/usr/bin:/bin HOME=/home/tester LANG=C.UTF-8 \
  setpriv --reuid=tester --regid=tester --init-groups "$@"; }
step() { echo; echo "check-trixie: === $* ==="; }
pass() { echo "check-trixie: PASS $*"; }
fail() { echo "check-trixie: FAIL $*" >&2; exit 1; }

in_root cat /etc/debian_version
in_root id tester >/dev/null 2>&1 || in_root useradd --create-home --shell /bin/bash tester
rm -rf "$root/home/tester/dupfind" "$root/root/dupfind"
git clone -q "$repo" "$root/home/tester/dupfind"
in_root chown -R tester:tester /home/tester/dupfind
git clone -q "$repo" "$root/root/dupfind"

step "1. without sudo: ./dupfind.sh test"
if in_root sh -c 'command -v make || command -v sudo'; then
  echo "check-trixie: make or sudo is installed in $root: the first part is skipped"
else
  out=$(as_user sh -c 'cd /home/tester/dupfind && ./dupfind.sh test' 2>&1) && fail "it passed without its packages"
  echo "$out"
  command=$(printf '%s\n' "$out" | sed -n "s/^ *su -c '\(.*\)'$/\1/p")
  [ -n "$command" ] || fail "no command for root was given"
  uid=$(in_root id -u tester)
  owner_before=$(find "$root/home/tester/dupfind" ! -uid "$uid" | wc -l)
  step "root runs: $command"
  in_root sh -c "$command"
  [ "$(find "$root/home/tester/dupfind" ! -uid "$uid" | wc -l)" -eq "$owner_before" ] ||
    fail "root's command changed the user's tree"
  pass "the missing packages were named, and root's command installed them alone"
fi
as_user sh -c 'cd /home/tester/dupfind && ./dupfind.sh test' || fail "./dupfind.sh test"
pass "./dupfind.sh test"

step "2. ./dupfind.sh run, package, install"
code=0
as_user sh -c 'cd /home/tester/dupfind && QT_QPA_PLATFORM=offscreen timeout 600 ./dupfind.sh run' || code=$?
[ "$code" -eq 124 ] || fail "./dupfind.sh run ended with status $code"
pass "./dupfind.sh run: the program stayed up"
if ! as_user sh -c 'cd /home/tester/dupfind && ./dupfind.sh package'; then
  # The package tools are missing: root installs what the user was told.
  in_root /home/tester/dupfind/scripts/install-deps.sh build package
  as_user sh -c 'cd /home/tester/dupfind && ./dupfind.sh package' || fail "./dupfind.sh package"
fi
deb=$(cd "$root" && ls home/tester/dupfind/build/package/dupfind_*.deb)
in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "/$deb"
code=0
in_root env QT_QPA_PLATFORM=offscreen timeout 5 /usr/bin/dupfind || code=$?
in_root env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq dupfind
[ "$code" -eq 124 ] || fail "the installed program ended with status $code"
pass "./dupfind.sh package; the package installs, starts and purges"

step "3. CI=true bash .ci/run"
in_root sh -c 'cd /root/dupfind && CI=true bash .ci/run' || fail ".ci/run"
pass ".ci/run"
echo
echo "check-trixie: all passed on Debian $(cat "$root/etc/debian_version")"
