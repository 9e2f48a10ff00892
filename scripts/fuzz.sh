#!/usr/bin/env bash
# Builds the fuzz targets natively (clang, libFuzzer, address and undefined-
# behaviour sanitizers) and runs them in one of two ways. A crash, a sanitizer
# finding or a broken property fails the run; the input that did it is kept in
# the build folder's artifacts/.
#
#   scripts/fuzz.sh --fixed [--target NAME]... [--jobs N] [--build-dir DIR] [--no-build]
#
# The test command's way: each target replays every input kept in
# fuzz/corpus/NAME (its seeds and its regression inputs), then runs its fixed
# number of inputs generated from a fixed seed. Two runs of the same commit
# with the same toolchain try the same inputs and give the same result.
#
#   scripts/fuzz.sh [SECONDS] [--target NAME]... [--jobs N] [--build-dir DIR]
#                   [--build-only | --no-build]
#
# The way to look for new faults: each target explores for SECONDS (default
# 60) from a random seed over its kept inputs, printing executions per second
# and total executions. New inputs it finds go to DIR/corpus/NAME, never into
# fuzz/corpus/. An input it breaks on becomes, with the fix, a regression
# input in fuzz/corpus/NAME, where every fixed run replays it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

ALL_TARGETS=(url head config replace_all stamp signer)
# Generated inputs per target in a fixed run: about 5 s each on 2 cores.
declare -A FIXED_RUNS=([url]=80000 [head]=50000 [config]=5000 [replace_all]=150000 [stamp]=3000 [signer]=300000)
FIXED_SEED=1
seconds=60
fixed=no
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
    --fixed) fixed=yes; shift ;;
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

# Names what broke in a failed run's log, and where the whole log is.
report_failure() {  # TARGET STATUS LOG
  [ "$2" -ne 124 ] && [ "$2" -ne 137 ] || echo "fuzz: $1 did not stop within its time" >&2
  grep -E 'property broken|ERROR: |SUMMARY: |runtime error|Test unit written|artifact_prefix' "$3" | head -20 >&2 || true
  printf 'fuzz: %-12s FAILED (exit %d; whole output in %s)\n' "$1" "$2" "$3"
}

# One target explored for $seconds: libFuzzer stops itself after
# -max_total_time; the hard timeout ends a run that does not (an input that
# hangs is cut at -timeout first).
explore_target() {
  local t=$1 log="$build_dir/logs/$1.log"
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
    report_failure "$t" $status "$log"
  fi
  return $status
}

# One target's fixed run. Its kept inputs are named in sorted order, never
# read from a folder's listing, whose order differs from file system to file
# system and would change the generated inputs; nothing new is written.
# Nothing that moves with the address space's layout or the environment's
# size steers it: comparisons are not traced (their values include
# addresses), nor is the stack's depth (fuzz/CMakeLists.txt).
fixed_target() {
  local t=$1 log="$build_dir/logs/$1.log" list="$build_dir/logs/$1.inputs"
  local status=0 kept generated=${FIXED_RUNS[$1]}
  LC_ALL=C find "$root/fuzz/corpus/$t" -type f | LC_ALL=C sort >"$list"
  kept=$(wc -l <"$list")
  if grep -q , "$list"; then
    echo "fuzz: a kept input's path holds a comma, which libFuzzer's list of inputs cannot: $(grep , "$list" | head -1)" >&2
    return 2
  fi
  # Each kept input on its own first, so that a failing one is named.
  xargs -d '\n' "$build_dir/${t}_fuzzer" -max_len=8192 -timeout=60 <"$list" >"$log" 2>&1 || status=$?
  if [ $status -ne 0 ]; then
    echo "fuzz: $t fails on a kept input: $(sed -n 's/^Running: //p' "$log" | tail -1)" >&2
    report_failure "$t" $status "$log"
    return $status
  fi
  paste -sd, "$list" | tr -d '\n' >"$list.commas"  # no line end: it would join the last name
  # -runs counts the empty input and the kept ones, replayed to start from.
  timeout --kill-after=10 1800 "$build_dir/${t}_fuzzer" -seed=$FIXED_SEED -runs=$((1 + kept + generated)) \
    -use_cmp=0 -reload=0 -max_len=8192 -timeout=60 -print_final_stats=1 \
    -artifact_prefix="$build_dir/artifacts/$t-" -seed_inputs="@$list.commas" >"$log" 2>&1 || status=$?
  if [ $status -ne 0 ]; then
    report_failure "$t" $status "$log"
    return $status
  fi
  local units started coverage
  units=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  started=$(sed -n 's/^#[0-9]*[[:space:]]*INITED .*corp: \([0-9]*\)\/.*/\1/p' "$log" | tail -1)
  coverage=$(sed -n 's/^#[0-9]*[[:space:]]*DONE *\(cov: [0-9]* ft: [0-9]*\).*/\1/p' "$log" | tail -1)
  # Every kept input was read (libFuzzer starts from an empty one without saying why).
  if [ "${started:-0}" -lt 1 ] || ! grep -q "^INFO: seed corpus: files: $kept " "$log"; then
    echo "fuzz: $t did not start from its $kept kept inputs (whole output in $log)" >&2
    return 1
  fi
  printf 'fuzz: %-12s passed  %d kept inputs, then %d generated from seed %d (%s executions, %s)\n' \
    "$t" "$kept" "$generated" $FIXED_SEED "${units:-?}" "${coverage:-?}"
}

run_target() {
  mkdir -p "$build_dir/corpus/$1" "$build_dir/artifacts" "$build_dir/logs"
  if [ $fixed = yes ]; then fixed_target "$1"; else explore_target "$1"; fi
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
