#!/usr/bin/env bash
# The one test command: installs what is missing, builds, and runs every test.
# The shipped i686 setup.exe and setupstamp.exe are always built and checked as
# files (no Wine needed). The tests that run programs run under Wine on the
# i686 build where this host runs 32-bit programs, otherwise on an x86_64 build
# of the same sources under 64-bit Wine (scripts/build-arch.sh; SETUP_TEST_ARCH
# forces either). Extra arguments go to ctest (e.g. -R Config).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/build-arch.sh"

"$root/scripts/setup.sh"
choose_wine_build
shipped=$(shipped_build_dir)
if [ "$WINE_BUILD_ARCH" = i686 ]; then
  echo "test: testing the i686 build (the shipped one) under 32-bit Wine: $WINE_BUILD_REASON"
else
  echo "test: testing an x86_64 build of the same sources under 64-bit Wine: $WINE_BUILD_REASON"
  echo "test: the shipped i686 setup.exe and setupstamp.exe are built and checked as files"
fi

wine_tests=ON
[ "$WINE_BUILD_ARCH" = i686 ] || wine_tests=OFF
configure_build i686 "$shipped" -DSETUP_BUILD_TESTS=ON -DSETUP_WINE_TESTS=$wine_tests
cmake --build "$shipped" -j"$(nproc)"

status=0
if [ "$WINE_BUILD_ARCH" = i686 ]; then
  "$root/tests/harness/wine-session.sh" "$shipped" \
    ctest --test-dir "$shipped" --output-on-failure --timeout 300 "$@" || status=$?
else
  echo "test: checks of the shipped i686 build ($shipped)"
  ctest --test-dir "$shipped" --output-on-failure --timeout 300 "$@" || status=$?
  tested=$(x86_64_build_dir)
  configure_build x86_64 "$tested" -DSETUP_BUILD_TESTS=ON -DSETUP_WINE_TESTS=ON
  cmake --build "$tested" -j"$(nproc)"
  echo "test: the whole suite on the x86_64 build ($tested) under 64-bit Wine"
  "$root/tests/harness/wine-session.sh" "$tested" \
    ctest --test-dir "$tested" --output-on-failure --timeout 300 "$@" || status=$?
fi
if [ $status -ne 0 ]; then
  echo "test: FAILED (the ctest output above names the tests)" >&2
fi
exit $status
