#!/usr/bin/env bash
# Installs what building and testing setup.exe needs on a fresh Debian machine.
# Idempotent: returns in about a second when everything is already there.
# --guest adds what the emulated i686 guest needs (tests/harness/i686-guest.sh).
set -euo pipefail

PACKAGES=(
  cmake make python3 curl g++
  clang libclang-rt-14-dev
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  googletest
  wine wine32:i386 wine64
  xvfb xdotool imagemagick icoutils
  fonts-wqy-microhei
  openssl osslsigncode
  libssl-dev
)
if [ "${1:-}" = --guest ]; then
  PACKAGES+=(qemu-system-x86 debootstrap e2fsprogs)
fi

missing=()
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  missing=("${PACKAGES[@]}")
else
  for p in "${PACKAGES[@]}"; do
    name=${p%%:*}; arch=${p#*:}; [ "$arch" = "$p" ] && arch=""
    query=$name; [ -n "$arch" ] && query="$name:$arch"
    status=$(dpkg-query -W -f='${Status}' "$query" 2>/dev/null || true)
    [ "$status" = "install ok installed" ] || missing+=("$p")
  done
fi

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "setup: installing ${missing[*]}" >&2
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "setup: done" >&2
