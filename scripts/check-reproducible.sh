#!/usr/bin/env bash
# Builds setup.exe and setupstamp.exe twice, in two fresh folders with
# different paths, and compares them byte for byte, printing the SHA-256 of
# each. Exits with 1 when they differ. Both builds take the same link time stamp
# (SOURCE_DATE_EPOCH when set, else the last commit's time), so anyone can
# build the published sources and compare with a released setup.exe.
#
#   scripts/check-reproducible.sh [--keep]    (--keep leaves the two folders)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/build-arch.sh"
keep=no
[ "${1:-}" = --keep ] && keep=yes

"$root/scripts/setup.sh"
work=$(mktemp -d /tmp/setup-reproducible.XXXXXX)
[ $keep = yes ] || trap 'rm -rf "$work"' EXIT
# Different lengths too: a path inside would shift everything behind it.
folders=("$work/first" "$work/second-build-in-a-longer-folder")
for dir in "${folders[@]}"; do
  configure_build i686 "$dir" -DSETUP_BUILD_TESTS=OFF
  cmake --build "$dir" -j"$(nproc)" --target setup setupstamp >"$dir.log" 2>&1 || {
    cat "$dir.log" >&2
    echo "reproducible: the build in $dir failed" >&2
    exit 1
  }
done

status=0
for file in shell/setup.exe tools/setupstamp/setupstamp.exe; do
  sums=()
  for dir in "${folders[@]}"; do
    sums+=("$(sha256sum "$dir/$file" | cut -d' ' -f1)")
    printf '%s  %s\n' "${sums[-1]}" "$dir/$file"
  done
  if [ "${sums[0]}" = "${sums[1]}" ]; then
    echo "reproducible: $(basename "$file") is the same in both builds"
  else
    echo "reproducible: $(basename "$file") DIFFERS between the builds" >&2
    cmp -l "${folders[0]}/$file" "${folders[1]}/$file" | head -5 >&2 || true
    status=1
  fi
done
[ $keep = no ] || echo "reproducible: the builds are in $work"
exit $status
