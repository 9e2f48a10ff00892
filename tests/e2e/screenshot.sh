#!/usr/bin/env bash
# Usage: screenshot.sh BUILD_DIR SETUP_EXE OUTPUT_PNG [DPI]
# Starts a copy of setup.exe in the test session's Wine prefix, waits for its
# window on the virtual display, saves a picture of the window and checks that
# it shows the dark background with light text on it. Run by ctest inside
# tests/harness/wine-session.sh.
set -euo pipefail
build=$1 exe=$2 output=$3 dpi=${4:-96}
run="$build/wine-run.sh"
if [ -z "${DISPLAY:-}" ]; then
  DISPLAY=$(cat "$build/wine/display"); export DISPLAY
fi

work=$(mktemp -d)
name="shot-$$.exe"
pid=""
finish() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true
  "$run" reg delete "HKCU\\Software\\Wine\\AppDefaults\\$name" /f >/dev/null 2>&1 || true
  "$run" reg delete "HKCU\\Control Panel\\Desktop" /v LogPixels /f >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap finish EXIT

cp "$exe" "$work/$name"
"$run" reg add "HKCU\\Control Panel\\Desktop" /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null
"$run" reg add "HKCU\\Software\\Wine\\AppDefaults\\$name\\X11 Driver" /v Managed /d N /f >/dev/null
"$run" "$work/$name" >/dev/null 2>&1 &
pid=$!

window=""
for _ in $(seq 1 100); do
  window=$(xdotool search --onlyvisible --classname "$name" 2>/dev/null | head -1 || true)
  [ -n "$window" ] && break
  sleep 0.1
done
if [ -z "$window" ]; then
  echo "screenshot: no window of $name appeared" >&2
  exit 1
fi
# Painting follows the window's appearance closely; give it a moment.
sleep 1

eval "$(xdotool getwindowgeometry --shell "$window")"
mkdir -p "$(dirname "$output")"
import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$output"
echo "screenshot: $output (${WIDTH}x${HEIGHT} at ${X},${Y}, $dpi dpi)"

# The background colour in a corner, and light title text on it.
corner=$(convert "$output" -format '%[hex:p{3,3}]' info:)
if [ "${corner:0:6}" != "2D2D30" ]; then
  echo "screenshot: background is #$corner, not #2D2D30" >&2
  exit 1
fi
scale=$((dpi * 1000 / 96))
crop="$((400 * scale / 1000))x$((72 * scale / 1000))+$((32 * scale / 1000))+$((32 * scale / 1000))"
bright=$(convert "$output" -crop "$crop" +repage -threshold 80% -format '%[fx:int(mean*w*h)]' info:)
if [ "$bright" -lt 50 ]; then
  echo "screenshot: the title area has no light text ($bright light pixels)" >&2
  exit 1
fi
