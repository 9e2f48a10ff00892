# Sourced by the scripts: which build of the sources runs under Wine on this host.
#
# The product is always the 32-bit (i686) setup.exe, built in $SETUP_BUILD_DIR
# (build/ by default). Where the host runs 32-bit programs, that build is also
# the one tested, under 32-bit Wine. Some hosts run 64-bit user code only (their
# kernel has IA-32 emulation off): there 32-bit Wine cannot start, and the same
# sources are built a second time for x86_64 (in build-x86_64/) and run under
# 64-bit Wine. SETUP_TEST_ARCH=i686 or x86_64 forces either (and
# SETUP_HOST_RUNS_32BIT=1 or 0 the probe's answer, see host-32bit-probe.sh).
#
# choose_wine_build sets WINE_BUILD_ARCH (i686|x86_64) and WINE_BUILD_REASON.
# configure_build ARCH DIR [CMAKE_ARGS...] configures one build folder for ARCH.

shipped_build_dir() { echo "${SETUP_BUILD_DIR:-$root/build}"; }
x86_64_build_dir() { echo "$(shipped_build_dir)-x86_64"; }
# The i686 build of the end-to-end tests that run in the emulated guest.
i686_guest_build_dir() { echo "$(shipped_build_dir)-i686-guest"; }

# host_runs_32bit, the probe that scripts/setup.sh asks as well.
. "$root/scripts/host-32bit-probe.sh"

choose_wine_build() {
  case "${SETUP_TEST_ARCH:-}" in
    i686|x86_64)
      WINE_BUILD_ARCH=$SETUP_TEST_ARCH
      WINE_BUILD_REASON="forced by SETUP_TEST_ARCH=$SETUP_TEST_ARCH"
      ;;
    "")
      if host_runs_32bit; then
        WINE_BUILD_ARCH=i686
        WINE_BUILD_REASON="this host runs 32-bit programs"
      else
        WINE_BUILD_ARCH=x86_64
        WINE_BUILD_REASON="this host cannot run 32-bit programs (a tiny i386 program fails to start: IA-32 emulation off)"
      fi
      ;;
    *)
      echo "SETUP_TEST_ARCH must be i686 or x86_64, not '$SETUP_TEST_ARCH'" >&2
      return 2
      ;;
  esac
}

# choose_i686_guest ARG_COUNT sets I686_GUEST (0|1) and I686_GUEST_REASON: whether
# a subset of the end-to-end tests also runs on the i686 build in an emulated
# machine with 32-bit Wine (tests/harness/i686-guest.sh). By default only where
# this host cannot run 32-bit programs, and not in a targeted run (ctest
# arguments given); SETUP_TEST_I686_GUEST=0 or 1 decides instead.
choose_i686_guest() {
  local host32=0
  host_runs_32bit && host32=1
  decide_i686_guest "${SETUP_TEST_I686_GUEST:-}" "$host32" "$1"
}

# The same on plain values: SETTING HOST_RUNS_32BIT (0|1) ARG_COUNT.
decide_i686_guest() {
  case "$1" in
    1) I686_GUEST=1 I686_GUEST_REASON="forced by SETUP_TEST_I686_GUEST=1" ;;
    0) I686_GUEST=0 I686_GUEST_REASON="skipped by SETUP_TEST_I686_GUEST=0" ;;
    "")
      if [ "$2" = 1 ]; then
        I686_GUEST=0 I686_GUEST_REASON="this host runs the i686 build itself"
      elif [ "$3" -gt 0 ]; then
        I686_GUEST=0 I686_GUEST_REASON="skipped in a run with ctest arguments (SETUP_TEST_I686_GUEST=1 forces it)"
      else
        I686_GUEST=1 I686_GUEST_REASON="this host cannot run 32-bit programs"
      fi
      ;;
    *)
      echo "SETUP_TEST_I686_GUEST must be 0 or 1, not '$1'" >&2
      return 2
      ;;
  esac
}

wine_build_dir() {
  if [ "$WINE_BUILD_ARCH" = i686 ]; then shipped_build_dir; else x86_64_build_dir; fi
}

configure_build() {
  local arch=$1 dir=$2
  shift 2
  cmake -S "$root" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-$arch.cmake" "$@" >/dev/null
}

# build_for_wine TARGET: configures the build that runs under Wine on this host
# and builds TARGET there, for the benchmark scripts; sets WINE_BUILD.
build_for_wine() {
  choose_wine_build
  WINE_BUILD=$(wine_build_dir)
  echo "bench: the $WINE_BUILD_ARCH build ($WINE_BUILD): $WINE_BUILD_REASON"
  configure_build "$WINE_BUILD_ARCH" "$WINE_BUILD"
  cmake --build "$WINE_BUILD" --target "$1" -j"$(nproc)" >/dev/null
}
