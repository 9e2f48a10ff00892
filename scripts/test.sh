#!/usr/bin/env bash
# The one test command: installs what is missing, builds, and runs every test
# under Wine in a throwaway prefix. Extra arguments go to ctest (e.g. -R config).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${SETUP_BUILD_DIR:-$root/build}

"$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake" >/dev/null
cmake --build "$build" -j"$(nproc)"
"$root/tests/harness/wine-session.sh" "$build" \
  ctest --test-dir "$build" --output-on-failure --timeout 300 "$@"
