#!/usr/bin/env bash
# The demonstration: installs what is missing, builds, serves a demo product
# installer from 127.0.0.1, and runs setup.exe under Wine against it, in a
# window on $DISPLAY when there is a usable one, otherwise on a virtual display
# where the start button is pressed for you. Prints what happened and saves a
# screenshot of the window taken during the download.
#
#   scripts/run-demo.sh [--winxp]     --winxp: Windows XP, without the .NET 2.0
#                                     runtime, so the runtime step runs first
#
# It runs the shipped i686 setup.exe where this host runs 32-bit programs, and
# otherwise an x86_64 build of the same sources under 64-bit Wine
# (scripts/build-arch.sh; SETUP_TEST_ARCH forces either).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/build-arch.sh"
version=win7
[ "${1:-}" = "--winxp" ] && version=winxp

"$root/scripts/setup.sh"
choose_wine_build
build=$(wine_build_dir)
echo "demo: running the $WINE_BUILD_ARCH build ($build): $WINE_BUILD_REASON"
configure_build "$WINE_BUILD_ARCH" "$build"
cmake --build "$build" -j"$(nproc)" --target setup setupstamp demo_product demo_driver >/dev/null
. "$build/wine-env.sh"

demo="$build/demo-run"
app="$demo/Brenvik Demo"
export WINEPREFIX="$demo/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
rm -rf "$app" "$demo/server.log" "$demo/screenshot.png" "$demo/run-log-copy.log"
mkdir -p "$app"

server_pid="" xvfb_pid="" setup_pid=""
cleanup() {
  [ -n "$setup_pid" ] && kill "$setup_pid" >/dev/null 2>&1 || true
  [ -n "$server_pid" ] && kill "$server_pid" >/dev/null 2>&1 || true
  "$WINESERVER" -k >/dev/null 2>&1 || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" >/dev/null 2>&1 || true
}
trap cleanup EXIT

# A display: the user's when it answers, otherwise a virtual one of our own.
virtual=no
if [ -z "${DISPLAY:-}" ] || ! xdotool getdisplaygeometry >/dev/null 2>&1; then
  virtual=yes
  for n in $(seq 150 199); do
    [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 1 50); do [ -S "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
    if [ -S "/tmp/.X11-unix/X$n" ]; then export DISPLAY=":$n"; break; fi
    kill "$xvfb_pid" >/dev/null 2>&1 || true; xvfb_pid=""
  done
  [ -n "$xvfb_pid" ] || { echo "demo: no virtual display could be started" >&2; exit 1; }
fi

# The demo's own Wine prefix, with the CJK font mapping of the test prefix.
if [ ! -f "$WINEPREFIX/.demo-ready-$WINEARCH" ]; then
  rm -rf "$WINEPREFIX"
  echo "demo: making the Wine prefix (once)" >&2
  "$root/tests/harness/prepare-prefix.sh"
  touch "$WINEPREFIX/.demo-ready-$WINEARCH"
fi
"$WINESERVER" -p
"$SETUP_WINE" reg add 'HKCU\Software\Wine\AppDefaults\setup.exe' /v Version /d "$version" /f >/dev/null 2>&1
"$SETUP_WINE" cmd /c rmdir 'C:\Windows\Microsoft.NET\Framework\v2.0.50727' >/dev/null 2>&1 || true
# The download folders of earlier demonstrations (Wine shows every folder as the
# Unix user's, so setup.exe would not use one again and would make a fresh one).
downloads="$WINEPREFIX/drive_c/windows/temp"
rm -rf "$downloads"/brenvik-setup "$downloads"/brenvik-setup-*

# The server, on a free port of 127.0.0.1, dripping the product over a few seconds.
python3 -u "$root/scripts/demo-server.py" --product "$build/demo/demo_product.exe" \
  --runtime "$build/demo/demo_product.exe" --drip-seconds 6 >"$demo/server.log" 2>&1 &
server_pid=$!
port=""
for _ in $(seq 1 50); do
  port=$(head -n1 "$demo/server.log" 2>/dev/null | grep -E '^[0-9]+$' || true)
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "demo: the demo server did not start" >&2; cat "$demo/server.log" >&2; exit 1; }

cp "$build/shell/setup.exe" "$app/setup.exe"
# The maker's way: the stamping tool checks the configuration and writes it in.
sed "s/@PORT@/$port/g" "$root/scripts/demo-config.txt" >"$demo/config.txt"
"$SETUP_WINE" "$build/tools/setupstamp/setupstamp.exe" --in-place "$demo/config.txt" "$app/setup.exe"

echo "demo: server on 127.0.0.1:$port, Windows version $version, display $DISPLAY ($([ $virtual = yes ] && echo virtual || echo yours))"
(cd "$app" && exec env LC_ALL=zh_CN.UTF-8 "$SETUP_WINE" setup.exe) &
setup_pid=$!
if [ $virtual = yes ]; then
  "$SETUP_WINE" "$build/demo/demo_driver.exe" press
  echo "demo: start button pressed"
else
  echo "demo: press the start button in the window"
fi

# Keep a copy of the run log while setup.exe runs: a successful run deletes it.
shot=no
for _ in $(seq 1 1200); do
  kill -0 "$setup_pid" 2>/dev/null || break
  log=$(ls -t "$app"/setup-*.log 2>/dev/null | head -n1 || true)
  [ -n "$log" ] && cp "$log" "$demo/run-log-copy.log" 2>/dev/null || true
  if [ $shot = no ] && grep -q "brenvik-setupv" "$demo/server.log"; then
    sleep 2
    window=$(xdotool search --name "Brenvik" 2>/dev/null | head -n1 || true)
    if [ -n "$window" ]; then
      import -window "$window" "$demo/screenshot.png" 2>/dev/null && shot=yes
    fi
    [ $shot = yes ] || { import -window root "$demo/screenshot.png" 2>/dev/null && shot=yes; }
  fi
  sleep 0.25
done
if kill -0 "$setup_pid" 2>/dev/null; then
  # Still open after five minutes (e.g. an error box nobody answers): show it and end it.
  import -window root "$demo/still-open.png" 2>/dev/null || true
  echo "demo: setup.exe is still open after five minutes (see $demo/still-open.png); ending it"
  "$WINESERVER" -k >/dev/null 2>&1 || true
fi
set +e
wait "$setup_pid"
code=$?
set -e
setup_pid=""

echo
echo "== what happened ($WINE_BUILD_ARCH build)"
echo "setup.exe exit code: $code"
installer=$(ls "$downloads"/brenvik-setup*/brenvik-setupv*.exe "$app"/brenvik-setupv*.exe 2>/dev/null | head -n1 || true)
ran=$(ls "$downloads"/brenvik-setup*/demo-product-ran.txt "$app"/demo-product-ran.txt 2>/dev/null | head -n1 || true)
log=$(ls -t "$app"/setup-*.log 2>/dev/null | head -n1 || true)
if [ -n "$ran" ]; then
  echo "outcome: success - the product installer was downloaded and started"
  sed 's/^/  /' "$ran"
elif [ -n "$log" ] && grep -q . "$log"; then
  echo "outcome: not finished - see the run log"
else
  echo "outcome: unknown"
fi
echo "downloaded installer: ${installer:-none}"
if [ -n "$log" ]; then
  echo "run log: $log"
else
  echo "run log: deleted by setup.exe after the successful run; the copy taken during the run: $demo/run-log-copy.log"
fi
echo "requests served:"
sed -n '2,$p' "$demo/server.log" | sed 's/^/  /'
if [ $shot = yes ]; then
  echo "screenshot during the download: $demo/screenshot.png"
else
  echo "screenshot: none taken (the download did not start)"
fi
echo "run log lines:"
iconv -f GBK -t UTF-8 "$demo/run-log-copy.log" 2>/dev/null | tr -d '\r' | sed 's/^/  /' || true
# The demonstration succeeded when the product installer was started.
[ -f "$app/demo-product-ran.txt" ]
