#!/usr/bin/env bash
# Usage: wine-session.sh BUILD_DIR COMMAND...
# Runs COMMAND with a fresh throwaway Wine prefix (copied from a template made once
# per build folder), a virtual X display and one persistent wine server, and tears
# all of them down afterwards, whatever COMMAND did.
set -euo pipefail

build=$(cd "$1" && pwd); shift
here=$(cd "$(dirname "$0")" && pwd)
if [ ! -f "$build/wine-env.sh" ]; then
  echo "wine-session: $build is not a configured build folder (no wine-env.sh)" >&2
  exit 1
fi
. "$build/wine-env.sh"
winedir="$build/wine"
template="$winedir/template"
prefix="$winedir/prefix"
mkdir -p "$winedir"

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# The template is rebuilt when the script that configures it changes.
stamp=$( (cat "$here/prepare-prefix.sh" "$here/prefix-settings.reg"; echo "$WINEARCH") | sha1sum | cut -c1-16)
if [ ! -f "$template/.stamp-$stamp" ]; then
  rm -rf "$template"
  echo "wine-session: making the $WINEARCH Wine prefix template (once per build folder)" >&2
  WINEPREFIX="$template" "$here/prepare-prefix.sh"
  touch "$template/.stamp-$stamp"
fi

rm -rf "$prefix"
cp -a "$template" "$prefix"
export WINEPREFIX="$prefix"

xvfb_pid=""
cleanup() {
  WINEPREFIX="$prefix" "$WINESERVER" -k >/dev/null 2>&1 || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" >/dev/null 2>&1 || true
  rm -f "$winedir/display"
}
trap cleanup EXIT

# A virtual display on the first free number; every wait below is bounded.
for n in $(seq 90 140); do
  [ -e "/tmp/.X$n-lock" ] && continue
  Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 1 $((50 * ${SETUP_TEST_WAIT_SCALE:-1}))); do
    [ -S "/tmp/.X11-unix/X$n" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.1
  done
  if [ -S "/tmp/.X11-unix/X$n" ] && kill -0 "$xvfb_pid" 2>/dev/null; then
    export DISPLAY=":$n"
    break
  fi
  kill "$xvfb_pid" >/dev/null 2>&1 || true
  xvfb_pid=""
done
if [ -z "$xvfb_pid" ]; then
  echo "wine-session: no virtual display could be started" >&2
  exit 1
fi
echo "$DISPLAY" > "$winedir/display"

# One server for the whole session: a process start then costs milliseconds.
"$WINESERVER" -p
# Start the prefix's system processes now, detached from any pipe: started later
# by a test program they would inherit its output and keep ctest waiting.
"$SETUP_WINE" cmd /c exit </dev/null >/dev/null 2>&1 || true
set +e
"$@"
rc=$?
set -e
exit $rc
