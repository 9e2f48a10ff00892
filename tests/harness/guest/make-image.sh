#!/usr/bin/env bash
# Usage: make-image.sh OUT_DIR
# Makes the guest system that runs 32-bit Wine where the host cannot run 32-bit
# programs: Debian 12 for amd64 from Debian's archive only, with 32-bit and
# 64-bit Wine, a virtual display, what the test harness runs (cmake's ctest,
# python3, openssl), the fonts and the generated zh_CN.UTF-8 locale. Writes
# OUT_DIR/root.img (a raw ext4 disk), OUT_DIR/vmlinuz and OUT_DIR/initrd.img
# (Debian's own kernel, whose IA-32 emulation is on). Needs root. About 7 min.
set -euo pipefail

out=$1
here=$(cd "$(dirname "$0")" && pwd)
mirror=${SETUP_GUEST_MIRROR:-http://deb.debian.org/debian}
tree="$out/tree"
mkdir -p "$out"

cleanup() {
  umount "$tree/proc" 2>/dev/null || true
  rm -rf "$tree"
}
trap cleanup EXIT

# A flaky archive (a mirror in the middle of a sync) is tried three times,
# after pauses of 10 and 30 s, as scripts/setup.sh does.
retrying() {
  local pause
  for pause in 10 30 ""; do
    "$@" && return 0
    [ -n "$pause" ] || return 1
    echo "guest image: '$*' failed, again in $pause s" >&2
    sleep "$pause"
  done
}

fresh_debootstrap() {
  rm -rf "$tree"
  debootstrap --variant=minbase --arch=amd64 bookworm "$tree" "$mirror"
}

echo "guest image: debootstrap of Debian 12 (amd64, minbase)" >&2
retrying fresh_debootstrap >"$out/debootstrap.log" 2>&1 ||
  { tail -n 20 "$out/debootstrap.log" >&2; exit 1; }

echo "deb $mirror bookworm main" > "$tree/etc/apt/sources.list"
# Without it "localhost" does not resolve in the guest, which has no network.
printf '127.0.0.1\tlocalhost\n::1\tlocalhost\n' > "$tree/etc/hosts"
echo setup-guest > "$tree/etc/hostname"

packages=(
  linux-image-amd64 iproute2
  wine wine32:i386 wine64 xvfb fonts-wqy-microhei locales
  cmake python3 openssl osslsigncode
  # What 32-bit Wine loads at run time (only recommended by its packages).
  libxrender1:i386 libxrandr2:i386 libxi6:i386 libxcursor1:i386 libxinerama1:i386
  libxcomposite1:i386 libxfixes3:i386 libxxf86vm1:i386 libfreetype6:i386 libfontconfig1:i386
)
echo "guest image: installing ${#packages[@]} packages" >&2
mount -t proc proc "$tree/proc"
in_tree() { DEBIAN_FRONTEND=noninteractive LC_ALL=C chroot "$tree" "$@"; }
# Chained with &&: on the left of || a failing step would not end the block.
# Indexes that still fail after their tries leave the install to say whether
# what it needs came.
# On a host without 32-bit support, libglib2.0-0:i386 warns "Exec format
# error" while it is configured; the guest does not need what it skipped.
# Chinese arguments and file names pass through Wine only with the locale.
{
  in_tree dpkg --add-architecture i386 &&
    { retrying in_tree apt-get update || true; } &&
    retrying in_tree apt-get install -y --no-install-recommends "${packages[@]}" &&
    in_tree localedef -i zh_CN -f UTF-8 zh_CN.UTF-8 &&
    in_tree apt-get clean
} >"$out/packages.log" 2>&1 || { tail -n 20 "$out/packages.log" >&2; exit 1; }
umount "$tree/proc"
rm -rf "$tree"/var/lib/apt/lists/*

install -m 755 "$here/init.sh" "$tree/sbin/setup-guest-init"
cp "$tree"/boot/vmlinuz-* "$out/vmlinuz"
cp "$tree"/boot/initrd.img-* "$out/initrd.img"

echo "guest image: writing the root disk" >&2
mkfs.ext4 -q -F -L setup-guest -d "$tree" "$out/root.img" 8G
