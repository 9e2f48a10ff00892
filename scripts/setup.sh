#!/usr/bin/env bash
# Installs what building and testing setup.exe needs on a fresh Debian machine.
# Idempotent: returns in about a second when everything is already there.
# --guest adds what the emulated i686 guest needs (tests/harness/i686-guest.sh).
#
# Only what this host can run: the i386 architecture and 32-bit Wine only where
# 32-bit programs run (scripts/host-32bit-probe.sh); elsewhere the i686 build
# runs in the guest, whose image brings its own.
#
# A flaky archive does not end it. The package indexes are fetched up to three
# times (pauses of 10 and 30 s); where some still fail, the install goes on
# with the indexes at hand. An install that fails is tried once more after the
# indexes are fetched again; if that fails too, one line names the packages
# still missing and what the archive said, and the exit code is 1.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/host-32bit-probe.sh"

PACKAGES=(
  cmake make python3 curl g++
  clang libclang-rt-14-dev
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  googletest
  wine wine64
  xvfb xdotool imagemagick icoutils
  fonts-wqy-microhei
  openssl osslsigncode
  libssl-dev
)
if host_runs_32bit; then
  PACKAGES+=(wine32:i386)
fi
if [ "${1:-}" = --guest ]; then
  PACKAGES+=(qemu-system-x86 debootstrap e2fsprogs)
fi
INDEX_TRIES=3
INDEX_PAUSES=(10 30)

not_installed() {  # PACKAGE[:ARCH]... -> those not installed, one a line
  local native name p
  local -A installed=()
  native=$(dpkg --print-architecture)
  # One question for all of them: the package database is slow to read.
  while read -r name; do
    installed[$name]=1
  done < <(dpkg-query -W -f='${Package}:${Architecture} ${Status}\n' "$@" 2>/dev/null |
           sed -n 's/ install ok installed$//p')
  for p in "$@"; do
    case "$p" in
      *:*) [ -n "${installed[$p]:-}" ] || echo "$p" ;;
      *) [ -n "${installed[$p:$native]:-}${installed[$p:all]:-}" ] || echo "$p" ;;
    esac
  done
}

mapfile -t missing < <(not_installed "${PACKAGES[@]}")
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "setup: installing ${missing[*]}" >&2
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
apt_output=$(mktemp)
trap 'rm -f "$apt_output"' EXIT

# What the archive said in the last apt-get run: its error and warning lines,
# else its last line, as one line.
archive_said() {
  local said
  said=$(grep -E '^(E|W): ' "$apt_output" | tr '\n' ' ' || true)
  [ -n "$said" ] || said=$(grep -v '^[[:space:]]*$' "$apt_output" | tail -1 || true)
  echo "${said% }"
}

fetch_indexes() {
  local try
  for ((try = 1; try <= INDEX_TRIES; try++)); do
    $SUDO apt-get update -qq >"$apt_output" 2>&1 && return 0
    [ $try -lt $INDEX_TRIES ] || break
    echo "setup: package indexes not fetched (try $try of $INDEX_TRIES; again in ${INDEX_PAUSES[try - 1]} s): $(archive_said)" >&2
    sleep "${INDEX_PAUSES[try - 1]}"
  done
  # The packages may well be in the indexes that came, or in older ones.
  echo "setup: some package indexes still not fetched, installing with those at hand: $(archive_said)" >&2
}

install_missing() {
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >"$apt_output" 2>&1
}

if printf '%s\n' "${missing[@]}" | grep -q ':i386$' && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
fetch_indexes
if ! install_missing; then
  echo "setup: installing failed, fetching the indexes again for one more try: $(archive_said)" >&2
  fetch_indexes
  if ! install_missing; then
    mapfile -t missing < <(not_installed "${missing[@]}")
    echo "setup: could not install ${missing[*]}: $(archive_said)" >&2
    exit 1
  fi
fi
echo "setup: done" >&2
