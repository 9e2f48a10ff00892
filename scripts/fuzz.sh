#!/usr/bin/env bash
# Builds the fuzz targets natively (clang, libFuzzer, address and undefined-
# behaviour sanitizers) and runs each for SECONDS (default 60) over its seed
# corpus in fuzz/corpus/, printing executions per second and total executions.
# A crash, a sanitizer finding or a broken property fails the run; the input
# that did it is kept in the build folder's artifacts/.
#
#   scripts/fuzz.sh [SECONDS] [--target NAME]... [--jobs N] [--build-dir DIR]
#                   [--build-only | --no-build]
#
# New inputs the fuzzer finds go to DIR/corpus/NAME, never into the seeds.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

ALL_TARGETS=(url head config replace_all stamp signer)
seconds=60
targets=()
jobs=1
build_dir="$root/build-fuzz"
build=yes
run=yes
while [ $# -gt 0 ]; do
  case "$1" in
    --target) targets+=("$2"); shift 2 ;;
    --jobs) jobs=$2; shift 2 ;;
    --build-dir) build_dir=$2; shift 2 ;;
    --build-only) run=no; shift ;;
    --no-build) build=no; shift ;;
    [0-9]*) seconds=$1; shift ;;
    *) echo "fuzz: unknown argument '$1' (see the comment at the top of $0)" >&2; exit 2 ;;
  esac
done
[ ${#targets[@]} -gt 0 ] || targets=("${ALL_TARGETS[@]}")
for t in "${targets[@]}"; do
  [ -d "$root/fuzz/corpus/$t" ] || { echo "fuzz: no target '$t' (one of: ${ALL_TARGETS[*]})" >&2; exit 2; }
done

if [ $build = yes ]; then
  command -v clang++ >/dev/null || "$root/scripts/setup.sh"
  cmake -S "$root/fuzz" -B "$build_dir" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE= >/dev/null
  cmake --build "$build_dir" -j"$(nproc)" >"$build_dir/build.log" 2>&1 || {
    cat "$build_dir/build.log" >&2
    echo "fuzz: the native build failed" >&2
    exit 1
  }
fi
[ $run = yes ] || exit 0

# One target: libFuzzer stops itself after -max_total_time; the hard timeout
# ends a run that does not (an input that hangs is cut at -timeout first).
run_target() {
  local t=$1 log="$build_dir/logs/$1.log"
  mkdir -p "$build_dir/corpus/$t" "$build_dir/artifacts" "$build_dir/logs"
  local status=0
  timeout --kill-after=10 $((seconds + 120)) "$build_dir/${t}_fuzzer" \
    -max_total_time="$seconds" -max_len=8192 -timeout=60 -print_final_stats=1 \
    -artifact_prefix="$build_dir/artifacts/$t-" \
    "$build_dir/corpus/$t" "$root/fuzz/corpus/$t" >"$log" 2>&1 || status=$?
  local runs rate
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  if [ $status -eq 0 ]; then
    printf 'fuzz: %-12s passed  %10s exec/s  %12s executions in %ss\n' "$t" "${rate:-?}" "${runs:-?}" "$seconds"
  else
    [ $status -ne 124 ] && [ $status -ne 137 ] || echo "fuzz: $t did not stop within its time" >&2
    grep -E 'property broken|ERROR: |SUMMARY: |runtime error|Test unit written|artifact_prefix' "$log" | head -20 >&2 || true
    printf 'fuzz: %-12s FAILED (exit %d; whole output in %s)\n' "$t" "$status" "$log"
  fi
  return $status
}

failed=0
running=0
for t in "${targets[@]}"; do
  run_target "$t" &
  running=$((running + 1))
  if [ $running -ge "$jobs" ]; then
    wait -n || failed=$((failed + 1))
    running=$((running - 1))
  fi
done
while [ $running -gt 0 ]; do
  wait -n || failed=$((failed + 1))
  running=$((running - 1))
done
if [ $failed -gt 0 ]; then
  echo "fuzz: $failed of ${#targets[@]} targets FAILED" >&2
  exit 1
fi
echo "fuzz: ${#targets[@]} targets passed"
