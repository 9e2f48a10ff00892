#!/usr/bin/env bash
# Download benchmark: the same body (a signed exe of 256 MiB unless BENCH_SIZE
# says otherwise: the benchmark program padded and signed here with a
# throwaway key) fetched from a local Python server by DownloadToFile, by
# DownloadToFile followed by the payload pin check (file read back and hashed),
# by DownloadToFile followed by the publisher pin check (signature verified,
# signer's key compared),
# by a bare Winsock loop with the same 4,096-byte receives, by DownloadToFile
# from an address whose server cuts the connection three times (continued
# with range requests, once with the shipped pauses between tries and once
# without), by DownloadToFile over HTTPS from a local Python TLS server (a certificate made here with
# openssl, its CA trusted in the session's prefix) (all under Wine), and by curl
# natively. Prints the rates (median of BENCH_RUNS runs, 3 by default), their
# ratios and the pin check's own time. Not part of the tests.
#
# A BENCH_SIZE past 2 GiB (5368709120 for 5 GiB) measures the plain http://
# roads only, on a body that the server generates: Authenticode signs no file
# of 4 GiB or more, and Wine's WinHTTP ends every body at 2^31 - 1 bytes (on
# Windows it does not), so there is no publisher pin and no HTTPS then.
#
# Everything that runs in the measurement (server, curl, Wine and its server) is
# pinned to one CPU (BENCH_CPU, the last one by default; "none" to leave it
# free): spread over CPUs, each receive's wake-up across them made single runs
# vary by a factor of three here, which drowned the difference being measured.
#
# Wine runs the i686 build where this host runs 32-bit programs, otherwise an
# x86_64 build of the same sources (scripts/build-arch.sh; SETUP_TEST_ARCH
# forces either).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/build-arch.sh"
size=${BENCH_SIZE:-268435456}
runs=${BENCH_RUNS:-3}
large=0
[ "$size" -le 2147483647 ] || large=1
cpu=${BENCH_CPU:-$(($(nproc) - 1))}
pin=()
[ "$cpu" = none ] || pin=(taskset -c "$cpu")

"$root/scripts/setup.sh"
build_for_wine download_bench
build=$WINE_BUILD

work=$(mktemp -d)
server_pid=""
tls_server_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" >/dev/null 2>&1 || true
  [ -n "$tls_server_pid" ] && kill "$tls_server_pid" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

# A CA and a "localhost" certificate from it, for the TLS server.
openssl=$(command -v openssl)
# RSA: Wine refuses some ECDSA signatures (r or s shorter than 32 bytes).
key=(-newkey rsa:2048 -nodes)
"$openssl" req -x509 "${key[@]}" -keyout "$work/ca.key" -out "$work/ca.pem" -days 1 \
  -subj "/CN=setup bench ca $$" -addext basicConstraints=critical,CA:TRUE 2>/dev/null
"$openssl" x509 -in "$work/ca.pem" -outform DER -out "$work/ca.der"
"$openssl" req "${key[@]}" -keyout "$work/tls.key" -out "$work/tls.csr" -subj /CN=localhost 2>/dev/null
printf 'subjectAltName=DNS:localhost\n' > "$work/tls.ext"
"$openssl" x509 -req -in "$work/tls.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" -set_serial 1 -days 1 \
  -extfile "$work/tls.ext" -out "$work/tls.pem" 2>/dev/null

# The body: the benchmark program padded to the size, signed with a throwaway
# code-signing key from the same CA; the digest of that key for the publisher pin.
"$openssl" req "${key[@]}" -keyout "$work/signer.key" -out "$work/signer.csr" -subj "/CN=setup bench signer" 2>/dev/null
printf 'extendedKeyUsage=codeSigning\n' > "$work/signer.ext"
"$openssl" x509 -req -in "$work/signer.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" -set_serial 2 -days 1 \
  -extfile "$work/signer.ext" -out "$work/signer.pem" 2>/dev/null
signer=$("$openssl" x509 -in "$work/signer.pem" -pubkey -noout | "$openssl" pkey -pubin -outform der | sha256sum | cut -c1-64)
[ $large = 1 ] || python3 - "$build/benchmarks/download_bench.exe" "$work/body-unsigned.exe" "$size" <<'PY'
import sys
program = open(sys.argv[1], "rb").read()
size = int(sys.argv[3])
pattern = bytes(range(256)) * 4096
with open(sys.argv[2], "wb") as out:
    out.write(program)
    left = max(size - len(program) - 2048, 0)
    while left > 0:
        out.write(pattern[:left])
        left -= min(left, len(pattern))
PY
body="@$work/body.exe"
if [ $large = 1 ]; then
  body=$size
  echo "tls" > "$work/tls-port"  # no TLS server
else
  osslsigncode sign -certs "$work/signer.pem" -key "$work/signer.key" -h sha256 -in "$work/body-unsigned.exe" \
    -out "$work/body.exe" >/dev/null
  rm -f "$work/body-unsigned.exe"
  size=$(stat -c %s "$work/body.exe")
fi

${pin[@]+"${pin[@]}"} python3 "$root/benchmarks/bench_server.py" "$body" "$work/port" &
server_pid=$!
if [ $large = 0 ]; then
  ${pin[@]+"${pin[@]}"} python3 "$root/benchmarks/bench_server.py" "$body" "$work/tls-port" "$work/tls.pem" "$work/tls.key" &
  tls_server_pid=$!
fi
# A generated body of several GiB takes the server a while to make.
for _ in $(seq 1 1200); do
  [ -s "$work/port" ] && [ -s "$work/tls-port" ] && break
  sleep 0.1
done
[ -s "$work/port" ] && [ -s "$work/tls-port" ] || { echo "bench: the servers did not start" >&2; exit 1; }
url="http://127.0.0.1:$(cat "$work/port")/bench.bin"
https_url="https://localhost:$(cat "$work/tls-port")/bench.bin"
ca_windows="Z:$(echo "$work/ca.der" | tr / '\\')"
roads=("$url" "$runs" "$https_url" "$ca_windows" "$signer")
[ $large = 0 ] || { roads=("$url" "$runs"); https_url="(none)"; }
echo "bench: $size bytes from $url and $https_url, $runs runs each, CPU $cpu"

curl_rates=()
for run in $(seq 1 "$runs"); do
  speed=$(${pin[@]+"${pin[@]}"} curl -s -o "$work/curl.bin" -w '%{speed_download}' "$url")
  got=$(stat -c %s "$work/curl.bin")
  rm -f "$work/curl.bin"
  [ "$got" -eq "$size" ] || { echo "bench: curl got $got bytes" >&2; exit 1; }
  rate=$(python3 -c "print(f'{$speed / 1e6:.1f}')")
  echo "run $run curl $rate MB/s"
  curl_rates+=("$rate")
done

${pin[@]+"${pin[@]}"} "$root/tests/harness/wine-session.sh" "$build" \
  "$build/wine-run.sh" "$build/benchmarks/download_bench.exe" "${roads[@]}" |
  tr -d '\r' > "$work/wine.out"
grep '^run ' "$work/wine.out" || true
client=$(awk '$1 == "rate" && $2 == "DownloadToFile" {print $3}' "$work/wine.out")
bare=$(awk '$1 == "rate" && $2 == "bare" {print $3}' "$work/wine.out")
ratio=$(awk '$1 == "ratio" && NF == 2 {print $2}' "$work/wine.out")
pinned=$(awk '$1 == "rate" && $2 == "pinned" {print $3}' "$work/wine.out")
check=$(awk '$1 == "check" && $2 == "seconds" {print $3}' "$work/wine.out")
pinned_ratio=$(awk '$1 == "ratio" && $2 == "pinned" {print $3}' "$work/wine.out")
https=$(awk '$1 == "rate" && $2 == "https" {print $3}' "$work/wine.out")
https_ratio=$(awk '$1 == "ratio" && $2 == "https" {print $3}' "$work/wine.out")
signed=$(awk '$1 == "rate" && $2 == "signer" {print $3}' "$work/wine.out")
signer_check=$(awk '$1 == "signer" && $2 == "check" {print $4}' "$work/wine.out")
signer_ratio=$(awk '$1 == "ratio" && $2 == "signer" {print $3}' "$work/wine.out")
bytes=$(awk '$1 == "bytes" {print $2}' "$work/wine.out")
unbroken_s=$(awk '$1 == "seconds" && $2 == "unbroken" {print $3}' "$work/wine.out")
broken_s=$(awk '$1 == "seconds" && $2 == "broken" {print $3}' "$work/wine.out")
broken_np_s=$(awk '$1 == "seconds" && $2 == "broken-no-pauses" {print $3}' "$work/wine.out")
broken_ratio=$(awk '$1 == "ratio" && $2 == "broken" {print $3}' "$work/wine.out")
broken_np_ratio=$(awk '$1 == "ratio" && $2 == "broken-no-pauses" {print $3}' "$work/wine.out")
[ -n "$client" ] && [ -n "$bare" ] && [ -n "$ratio" ] && [ -n "$pinned" ] && [ -n "$check" ] &&
  { [ $large = 1 ] || { [ -n "$https" ] && [ -n "$https_ratio" ] && [ -n "$signed" ] && [ -n "$signer_check" ] &&
    [ -n "$signer_ratio" ]; }; } &&
  [ -n "$broken_ratio" ] && [ -n "$broken_np_ratio" ] ||
  { echo "bench: the Wine benchmark failed" >&2; cat "$work/wine.out" >&2; exit 1; }

python3 - "$client" "$bare" "$ratio" "$pinned" "$check" "$pinned_ratio" "$bytes" "$https" "$https_ratio" \
  "$signed" "$signer_check" "$signer_ratio" \
  "$unbroken_s" "$broken_s" "$broken_np_s" "$broken_ratio" "$broken_np_ratio" "${curl_rates[@]}" <<'PY'
import statistics, sys
# Empty where a large body leaves HTTPS and the publisher pin out.
(client, bare, ratio, pinned, check, pinned_ratio, size, https, https_ratio, signed, signer_check,
 signer_ratio) = (float(a) if a else None for a in sys.argv[1:13])
unbroken_s, broken_s, broken_np_s, broken_ratio, broken_np_ratio = (float(a) for a in sys.argv[13:18])
curl = statistics.median(float(r) for r in sys.argv[18:])
print()
print(f"{'DownloadToFile (Wine)':32} {client:9.1f} MB/s")
print(f"{'DownloadToFile + pin (Wine)':32} {pinned:9.1f} MB/s")
if signed is not None:
    print(f"{'DownloadToFile + signer (Wine)':32} {signed:9.1f} MB/s")
    print(f"{'DownloadToFile https (Wine)':32} {https:9.1f} MB/s")
print(f"{'bare 4,096-byte loop (Wine)':32} {bare:9.1f} MB/s")
print(f"{'curl -o (native)':32} {curl:9.1f} MB/s")
print(f"DownloadToFile / bare loop:  {client / bare:6.1%}   (median run's ratio {ratio:.1%}; goal: 90 % or more)")
print(f"DownloadToFile / curl:       {client / curl:6.1%}")
print(f"bare loop / curl:            {bare / curl:6.1%}")
print(f"with pin / without:          {pinned / client:6.1%}   (median run's ratio {pinned_ratio:.1%})")
if signed is not None:
    print(f"https / http:                {https / client:6.1%}   (median run's ratio {https_ratio:.1%})")
    print(f"signer pin / SHA-256 pin:    {signed / pinned:6.1%}   (median run's ratio {signer_ratio:.1%})")
print(f"pin check alone:             {check:.3f} s for {size / 1e6:.0f} MB ({size / check / 1e6:.0f} MB/s read back and hashed)")
if signed is not None:
    print(f"signer check alone:          {signer_check:.3f} s for {size / 1e6:.0f} MB ({size / signer_check / 1e6:.0f} MB/s verified)")
print(f"broken 3 times, continued:   {broken_s:.2f} s against {unbroken_s:.2f} s unbroken "
      f"(median run's ratio {broken_ratio:.2f}; about 7 s of it are the pauses between tries)")
print(f"the same without pauses:     {broken_np_s:.2f} s (median run's ratio {broken_np_ratio:.2f})")
PY
echo "bench: measured on the $WINE_BUILD_ARCH build under Wine"
