#!/usr/bin/env bash
# Makes what a product maker downloads: dist/setup-VERSION/ with setup.exe (the
# sample configuration), setupstamp.exe, the native setupstamp (Linux x86_64),
# MAKERS.md (the README's sections for makers, taken out of README.md now, so
# there is no second copy to keep in step) and SHA256SUMS. VERSION is the file
# VERSION, which also gives the exe's version block.
#
#   scripts/release.sh [--from-build DIR] [--dist DIR]
#
# By default it builds the shipped i686 files in a fresh folder (build-release/).
# --from-build packs the files of an existing build folder instead; --dist puts
# setup-VERSION/ under DIR instead of dist/. The folder is checked before the
# script ends: every file there, the digests right, the guide whole, and the
# native tool reading the released setup.exe.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/build-arch.sh"

from=""
dist="$root/dist"
while [ $# -gt 0 ]; do
  case "$1" in
    --from-build) from=$2; shift 2 ;;
    --dist) dist=$2; shift 2 ;;
    *) echo "release: unknown argument '$1' (see the comment at the top of $0)" >&2; exit 2 ;;
  esac
done
version=$(head -n 1 "$root/VERSION")
[[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || { echo "release: VERSION holds '$version'" >&2; exit 1; }

if [ -z "$from" ]; then
  "$root/scripts/setup.sh"
  from="$root/build-release"
  rm -rf "$from"
  configure_build i686 "$from" -DSETUP_BUILD_TESTS=OFF
  cmake --build "$from" -j"$(nproc)" --target setup setupstamp setupstamp_native >/dev/null
fi

out="$dist/setup-$version"
rm -rf "$out"
mkdir -p "$out"
cp "$from/shell/setup.exe" "$from/tools/setupstamp/setupstamp.exe" "$from/tools/setupstamp/native/setupstamp" "$out/"

# The guide: every part of README.md between the makers' guide markers.
{
  echo "# setup.exe $version: the makers' guide"
  echo
  echo "What a product maker needs from README.md of setup.exe $version: the configuration, stamping it into"
  echo "setup.exe with setupstamp.exe (Windows) or setupstamp (Linux x86_64), pins, signing and verifying."
  awk '/^<!-- makers. guide -->$/ { inside = 1; print ""; next }
       /^<!-- end of the makers. guide -->$/ { inside = 0; next }
       inside' "$root/README.md"
} >"$out/MAKERS.md"

names=(setup.exe setupstamp.exe setupstamp MAKERS.md)
(cd "$out" && sha256sum "${names[@]}" >SHA256SUMS)

# The folder as a maker gets it.
failed=0
fail() { echo "release: $*" >&2; failed=1; }
for name in "${names[@]}" SHA256SUMS; do [ -s "$out/$name" ] || fail "$name is missing or empty"; done
(cd "$out" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match the files"
for part in "## What a product maker configures" "### Stamping" "### Pins" "### Signing" "### Verifying"; do
  grep -qxF "$part" "$out/MAKERS.md" || fail "MAKERS.md lacks the part \"$part\""
done
expected=$(iconv -f GBK -t UTF-8 "$root/resources/config.sample.txt")
printed=$("$out/setupstamp" --print "$out/setup.exe") || fail "the native setupstamp cannot read the released setup.exe"
[ "$printed" = "$expected" ] || fail "the released setup.exe does not carry the sample configuration"
[ $failed -eq 0 ] || exit 1

echo "release: $out (version $version, from $from)"
(cd "$out" && for name in "${names[@]}" SHA256SUMS; do printf '  %-15s %9d bytes\n' "$name" "$(stat -c %s "$name")"; done)
