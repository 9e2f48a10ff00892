#!/usr/bin/env bash
# Makes what a product maker downloads: dist/setup-VERSION/ with setup.exe
# (stamped with the placeholder configuration, which no one can take for a
# product's: every address on the reserved name .invalid), setupstamp.exe, the
# native setupstamp (Linux x86_64), MAKERS.md (docs/makers-guide.md) and
# SHA256SUMS. VERSION is the file VERSION, which also gives the exe's version
# block.
#
#   scripts/release.sh [--from-build DIR] [--dist DIR]
#
# By default it builds the shipped i686 files in a fresh folder (build-release/).
# --from-build packs the files of an existing build folder instead; --dist puts
# setup-VERSION/ under DIR instead of dist/. --check-placeholder FILE only says
# whether a configuration text passes for a placeholder. The folder is checked
# before the script ends: every file there, the digests right, the guide whole, and the
# native tool reading the placeholder back from the released setup.exe, with no
# address outside .invalid.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/build-arch.sh"

# A configuration that no one can take for a product's: its name says it is a
# placeholder, and every address (app.url, net2.urlN) has a host on .invalid.
check_placeholder() {
  local text=$1 real
  grep -q '^app\.name=.*[Pp]laceholder' <<<"$text" || { echo "release: app.name does not say placeholder" >&2; return 1; }
  real=$(grep -E '^(app\.url|net2\.url[0-9]+)=' <<<"$text" | grep -vE '^[^=]+=https?://[^/:]+\.invalid([:/]|$)' || true)
  [ -z "$real" ] || { echo "release: an address outside .invalid: $real" >&2; return 1; }
  grep -qE '^app\.url=' <<<"$text" || { echo "release: no app.url" >&2; return 1; }
}
from=""
dist="$root/dist"
while [ $# -gt 0 ]; do
  case "$1" in
    --check-placeholder) check_placeholder "$(iconv -f GBK -t UTF-8 "$2")"; exit ;;
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
placeholder="$root/resources/config.placeholder.txt"
cp "$from/tools/setupstamp/setupstamp.exe" "$from/tools/setupstamp/native/setupstamp" "$out/"
# The build's setup.exe carries whatever configuration it was built with (the
# sample's addresses point at this machine): the release carries the placeholder.
stamped=$("$out/setupstamp" --out "$out/setup.exe" "$placeholder" "$from/shell/setup.exe" 2>&1) ||
  { echo "$stamped" >&2; echo "release: the placeholder could not be stamped" >&2; exit 1; }

# The guide, its title naming the version.
{
  echo "# setup.exe $version: the makers' guide"
  tail -n +2 "$root/docs/makers-guide.md"
} >"$out/MAKERS.md"

names=(setup.exe setupstamp.exe setupstamp MAKERS.md)
(cd "$out" && sha256sum "${names[@]}" >SHA256SUMS)

# The folder as a maker gets it.
failed=0
fail() { echo "release: $*" >&2; failed=1; }

for name in "${names[@]}" SHA256SUMS; do [ -s "$out/$name" ] || fail "$name is missing or empty"; done
(cd "$out" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match the files"
for part in "## The release folder" "## What a product maker configures" "### Stamping" "### Pins" "### Signing" \
            "### Verifying" "## The run log"; do
  grep -qxF "$part" "$out/MAKERS.md" || fail "MAKERS.md lacks the part \"$part\""
done
expected=$(iconv -f GBK -t UTF-8 "$placeholder")
printed=$("$out/setupstamp" --print "$out/setup.exe") || fail "the native setupstamp cannot read the released setup.exe"
[ "$printed" = "$expected" ] || fail "the released setup.exe does not carry the placeholder configuration"
check_placeholder "$printed" || fail "the released setup.exe's configuration could pass for a product's"
[ $failed -eq 0 ] || exit 1

echo "release: $out (version $version, from $from)"
(cd "$out" && for name in "${names[@]}" SHA256SUMS; do printf '  %-15s %9d bytes\n' "$name" "$(stat -c %s "$name")"; done)
