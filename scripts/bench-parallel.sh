#!/usr/bin/env bash
# Benchmark of downloads over a link that caps each connection: one generated
# file (16 MiB unless BENCH_SIZE says otherwise) from a local Python server
# (benchmarks/capped_server.py) that sends at most BENCH_RATE bytes per second
# on each connection (512 KiB/s by default; BENCH_TOTAL caps all connections
# together, none by default), fetched by curl (one connection), by
# `aria2c -x4 -s4 -k1M` (four) and by DownloadToFile under Wine asked for 1, 2,
# 4 and 8 connections (BENCH_CONNECTIONS), once each; then a larger file
# (128 MiB, BENCH_FREE_SIZE) unthrottled, to show the loopback's own rate, by
# curl, aria2c and DownloadToFile asked for 1 and 4. Prints each time, its ratio to curl's, and
# how many connections the server saw, and whether the goals are met (it counts them: the number a client
# was asked for is not the number it opened). Not part of the tests.
#
# Wine runs the i686 build where this host runs 32-bit programs, otherwise an
# x86_64 build of the same sources (scripts/build-arch.sh; SETUP_TEST_ARCH
# forces either). aria2c (Debian package aria2) is installed when missing; the
# rest is what scripts/test.sh installs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/build-arch.sh"
size=${BENCH_SIZE:-16777216}
free_size=${BENCH_FREE_SIZE:-134217728}
rate=${BENCH_RATE:-524288}
total=${BENCH_TOTAL:-0}
counts=(${BENCH_CONNECTIONS:-1 2 4 8})

if ! command -v aria2c >/dev/null; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  echo "bench: installing aria2" >&2
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends aria2 >/dev/null
fi
build_for_wine download_bench
build=$WINE_BUILD

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in ${pids[@]+"${pids[@]}"}; do kill "$pid" >/dev/null 2>&1 || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# start_server NAME SIZE ARGS...: a server of a SIZE-byte file whose port goes
# to $work/NAME.port, and the file it serves in $work/NAME.bin.
start_server() {
  local name=$1 bytes=$2
  shift 2
  python3 - "$bytes" "$work/$name.bin" <<'PY'
import sys
size = int(sys.argv[1])
pattern = bytes(range(256))
open(sys.argv[2], "wb").write(pattern * (size // 256) + pattern[: size % 256])
PY
  python3 "$root/benchmarks/capped_server.py" "$bytes" "$work/$name.port" "$@" &
  pids+=($!)
  for _ in $(seq 1 300); do
    [ -s "$work/$name.port" ] && return 0
    sleep 0.1
  done
  echo "bench: the $name server did not start" >&2
  exit 1
}
start_server capped "$size" --rate "$rate" --total "$total"
start_server free "$free_size"
capped="http://127.0.0.1:$(cat "$work/capped.port")/bench.bin"
free="http://127.0.0.1:$(cat "$work/free.port")/bench.bin"

# stats URL: the server's count since the last ask, as "CONNECTIONS BYTES".
stats() {
  curl -s "${1%/*}/stats" | awk '{print $2, $6}'
}

# Each result: "LINK|CLIENT|SECONDS|CONNECTIONS SEEN", one per line.
results=()
# check FILE LINK CLIENT: the fetched file must be the served one, byte for byte.
check() {
  cmp -s "$1" "$work/$2.bin" || { echo "bench: $3 fetched a wrong file" >&2; exit 1; }
  rm -f "$1"
}
run_curl() {
  local link=$1 url=$2 seconds
  stats "$url" >/dev/null
  seconds=$(curl -s -o "$work/curl.bin" -w '%{time_total}' "$url")
  check "$work/curl.bin" "$link" curl
  results+=("$link|curl|$seconds|$(stats "$url" | cut -d' ' -f1)")
}
run_aria2c() {
  local link=$1 url=$2 start end
  stats "$url" >/dev/null
  start=$(date +%s.%N)
  aria2c -q -x4 -s4 -k1M --allow-overwrite=true --auto-file-renaming=false -d "$work" -o aria2c.bin "$url"
  end=$(date +%s.%N)
  check "$work/aria2c.bin" "$link" aria2c
  results+=("$link|aria2c -x4 -s4 -k1M|$(python3 -c "print(f'{$end - $start:.3f}')")|$(stats "$url" | cut -d' ' -f1)")
}
# DownloadToFile under Wine asked for N connections, once.
run_client() {
  local link=$1 url=$2 asked=$3 seconds
  local target_windows="Z:$(echo "$work/client.bin" | tr / '\\')"
  stats "$url" >/dev/null
  "$root/tests/harness/wine-session.sh" "$build" "$build/wine-run.sh" "$build/benchmarks/download_bench.exe" \
    --connections "$asked" "$url" "$target_windows" | tr -d '\r' > "$work/wine.out" || true
  seconds=$(awk '$1 == "seconds" {print $2}' "$work/wine.out")
  [ -n "$seconds" ] || { echo "bench: DownloadToFile failed" >&2; cat "$work/wine.out" >&2; exit 1; }
  check "$work/client.bin" "$link" DownloadToFile
  results+=("$link|DownloadToFile, $asked asked|$seconds|$(stats "$url" | cut -d' ' -f1)")
}

all="all connections together at most $total bytes/s"
[ "$total" != 0 ] || all="no cap on all connections together"
echo "bench: $size bytes from $capped (each connection at most $rate bytes/s, $all);" \
  "$free_size bytes from $free (no cap)"
run_curl capped "$capped"
run_aria2c capped "$capped"
for n in "${counts[@]}"; do run_client capped "$capped" "$n"; done
run_curl free "$free"
run_aria2c free "$free"
for n in 1 4; do run_client free "$free" "$n"; done

python3 - "$size" "$free_size" "$rate" "${results[@]}" <<'PY'
import sys
sizes = {"capped": int(sys.argv[1]), "free": int(sys.argv[2])}
rate = int(sys.argv[3])
rows = [line.split("|") for line in sys.argv[4:]]
print()
for link in ("capped", "free"):
    size = sizes[link]
    chosen = [r for r in rows if r[0] == link]
    curl = float(next(r for r in chosen if r[1] == "curl")[2])
    one = float(next(r for r in chosen if r[1] == "DownloadToFile, 1 asked")[2])
    title = (f"each connection capped at {rate / 1024:.0f} KiB/s" if link == "capped" else "unthrottled loopback")
    print(f"{title}: {size / 1048576:.0f} MiB")
    print(f"  {'client':30} {'seconds':>8} {'MB/s':>8} {'vs curl':>8} {'vs 1 asked':>10} {'connections seen':>17}")
    for _, client, seconds, seen in chosen:
        s = float(seconds)
        print(f"  {client:30} {s:8.2f} {size / s / 1e6:8.2f} {curl / s:7.2f}x {one / s:9.2f}x {seen:>17}")
def seconds(link, client):
    return float(next(r for r in rows if r[0] == link and r[1] == client)[2])
one, four = seconds("capped", "DownloadToFile, 1 asked"), seconds("capped", "DownloadToFile, 4 asked")
aria2c = seconds("capped", "aria2c -x4 -s4 -k1M")
free_one, free_four = seconds("free", "DownloadToFile, 1 asked"), seconds("free", "DownloadToFile, 4 asked")
print()
print("goals ('connections seen' is what the server counted):")
print(f"  capped, 4 asked vs 1 asked: {one / four:.2f}x (at least 3.5x): {'met' if one / four >= 3.5 else 'NOT met'}")
print(f"  capped, 4 asked vs aria2c: {four:.2f} s vs {aria2c:.2f} s (no slower): {'met' if four <= aria2c else 'NOT met'}")
print(f"  unthrottled, 4 asked vs 1 asked: {free_four:.2f} s vs {free_one:.2f} s (no slower): "
      f"{'met' if free_four <= free_one else 'NOT met'}")
PY
echo "bench: measured on the $WINE_BUILD_ARCH build under Wine"
