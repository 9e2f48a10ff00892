#!/usr/bin/env bash
# The one test command: installs what is missing, builds, and runs every test.
# The shipped i686 setup.exe and setupstamp.exe are always built and checked as
# files (no Wine needed). The tests that run programs run under Wine on the
# i686 build where this host runs 32-bit programs, otherwise on an x86_64 build
# of the same sources under 64-bit Wine (scripts/build-arch.sh; SETUP_TEST_ARCH
# forces either). Where the host cannot run 32-bit programs, a subset of the
# end-to-end tests also runs on the shipped i686 setup.exe under 32-bit Wine in
# an emulated x86_64 machine (tests/harness/i686-guest.sh; SETUP_TEST_I686_GUEST
# decides, see scripts/build-arch.sh). Extra arguments go to ctest (e.g. -R Config).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/build-arch.sh"

# The guest's subset: whole runs of setup.exe that reach what a 32-bit build
# does differently (functions looked up at run time and their calling
# conventions, structure layouts, the XP road, threads); docs/testing.md says
# what they cost.
guest_tests=(
  InstallRun.ProductPinInUpperCaseMatchesAndTheOtherTagsPinDoesNotApply  # a pinned v4 product over http://
  InstallRun.AllHttpsConfigurationInstallsRuntimeAndProductOnWindowsXp    # every address https://, on XP
  InstallRun.HttpsProductWithARefusedCertificateStartsNothing            # refused certificates
  InstallRun.WindowsXpInstallsTheRuntimeFromTheSecondMirrorThenTheProduct # a failing first runtime mirror
  InstallRun.RuntimeRestartAcceptedRegistersTheQuotedPathAndRestarts     # the restart question, answered yes
  InstallRun.LibraryPlantedBesideSetupIsNeverLoaded                      # a DLL planted beside setup.exe
  InstallRun.WinHttpPlantedBesideSetupIsNeverLoaded                      # the same for the HTTP library
  SetupWindowRun.LayoutAt144Dpi                                          # the window's geometry at 144 dpi
  InstallRun.ProductWhoseConnectionBreaksIsContinuedAndStarted            # a broken download continued
  InstallRun.HttpProductReachableOnlyThroughTheUsersProxyInstalls         # http:// through the user's proxy
  InstallRun.RuntimePublisherPinMovesToTheNextMirror                      # the signature check, refused then matched
  InstallRun.LinksPlantedUnderItsFileNamesLeaveTheirTargetsUntouched      # files made afresh by rename
  InstallRun.DownloadsThatCannotFitTheDiskFailBeforeTheirBody             # 64-bit lengths in 32-bit msvcrt's log lines
  InstallRun.LargeProductComesOverFourConnectionsAndStarts                # threads, positional writes at 64-bit offsets
)
guest_targets=(install_e2e_tests setup_window_e2e_tests)

"$root/scripts/setup.sh"
# A name with two addresses for the download tests, ::1 first (nothing
# listens there) and 127.0.0.1; written once, kept (docs/testing.md).
grep -q ' setup-test-dual.test$' /etc/hosts ||
  printf '::1 setup-test-dual.test\n127.0.0.1 setup-test-dual.test\n' >>/etc/hosts
choose_wine_build
choose_i686_guest $#
[ "$I686_GUEST" = 0 ] || "$root/scripts/setup.sh" --guest
shipped=$(shipped_build_dir)
if [ "$WINE_BUILD_ARCH" = i686 ]; then
  echo "test: testing the i686 build (the shipped one) under 32-bit Wine: $WINE_BUILD_REASON"
else
  echo "test: testing an x86_64 build of the same sources under 64-bit Wine: $WINE_BUILD_REASON"
  echo "test: the shipped i686 setup.exe and setupstamp.exe are built and checked as files"
fi
if [ "$I686_GUEST" = 1 ]; then
  echo "test: and ${#guest_tests[@]} end-to-end tests run the shipped i686 setup.exe under 32-bit Wine in an emulated x86_64 guest: $I686_GUEST_REASON"
elif [ "$WINE_BUILD_ARCH" = x86_64 ]; then
  echo "test: no emulated i686 guest: $I686_GUEST_REASON"
fi

wine_tests=ON
[ "$WINE_BUILD_ARCH" = i686 ] || wine_tests=OFF
status=0
phase_started=$SECONDS
# How long each phase took, so that a slow run says where its time went.
phase_done() {
  echo "test: $1 took $((SECONDS - phase_started)) s"
  phase_started=$SECONDS
}

guest=$(i686_guest_build_dir)
image_job=""
if [ "$I686_GUEST" = 1 ]; then
  # The guest's image (made once per recipe and machine: several minutes of
  # downloading and unpacking packages) is made while this host compiles.
  # The test programs for i686; the guest has Debian's python3 at this path.
  configure_build i686 "$guest" -DSETUP_BUILD_TESTS=ON -DSETUP_WINE_TESTS=ON -DPython3_EXECUTABLE=/usr/bin/python3
  "$root/tests/harness/i686-guest.sh" --image-only "$guest" >"$guest/image.log" 2>&1 &
  image_job=$!
fi

configure_build i686 "$shipped" -DSETUP_BUILD_TESTS=ON -DSETUP_WINE_TESTS=$wine_tests
cmake --build "$shipped" -j"$(nproc)"
if [ "$WINE_BUILD_ARCH" = x86_64 ]; then
  tested=$(x86_64_build_dir)
  configure_build x86_64 "$tested" -DSETUP_BUILD_TESTS=ON -DSETUP_WINE_TESTS=ON
  cmake --build "$tested" -j"$(nproc)"
fi
[ "$I686_GUEST" = 0 ] || cmake --build "$guest" -j"$(nproc)" --target "${guest_targets[@]}"
phase_done "building"

if [ "$WINE_BUILD_ARCH" = i686 ]; then
  "$root/tests/harness/wine-session.sh" "$shipped" \
    ctest --test-dir "$shipped" --output-on-failure --timeout 300 "$@" || status=$?
  phase_done "the suite on the i686 build"
else
  echo "test: checks of the shipped i686 build ($shipped)"
  ctest --test-dir "$shipped" --output-on-failure --timeout 300 "$@" || status=$?
  phase_done "the checks of the shipped build"
fi

guest_ready=0
if [ -n "$image_job" ]; then
  # Waited for before the Wine suite: the image's first boot would take the
  # processors from tests that run under their own time limits.
  image_status=0
  wait "$image_job" || image_status=$?
  sed 's/^/test: /' "$guest/image.log"
  if [ $image_status -eq 0 ]; then
    guest_ready=1
  else
    echo "test: the guest's image could not be made (exit $image_status)" >&2
    status=1
  fi
  phase_done "waiting for the guest's image"
fi

if [ "$WINE_BUILD_ARCH" = x86_64 ]; then
  echo "test: the whole suite on the x86_64 build ($tested) under 64-bit Wine"
  "$root/tests/harness/wine-session.sh" "$tested" \
    ctest --test-dir "$tested" --output-on-failure --timeout 300 "$@" || status=$?
  phase_done "the suite on the x86_64 build"
fi
if [ "$guest_ready" = 1 ]; then
  echo "test: ${#guest_tests[@]} end-to-end tests on the shipped i686 setup.exe ($shipped/shell/setup.exe) in the guest"
  pattern="^($(IFS='|'; echo "${guest_tests[*]}"))\$"
  "$root/tests/harness/i686-guest.sh" --exe "$shipped/shell/setup.exe" --count ${#guest_tests[@]} "$guest" \
    --output-on-failure --stop-on-failure --timeout 900 -R "$pattern" || status=$?
  phase_done "the run in the guest"
fi
if [ $status -ne 0 ]; then
  echo "test: FAILED (the ctest output above names the tests)" >&2
fi
exit $status
