#!/usr/bin/env bash
# The emulated i686 guest's decisions on plain values: whether the test command
# runs it, which accelerator it uses, and what a run's console log means for
# the test command's exit code. Prints each case that fails; exits 1 if any did.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
. "$root/scripts/build-arch.sh"
. "$here/i686-guest.sh"
set +e
failures=0
expect() {  # WHAT EXPECTED ACTUAL
  [ "$2" = "$3" ] && return
  echo "FAIL: $1: expected '$2', got '$3'"
  failures=$((failures + 1))
}

# SETUP_TEST_I686_GUEST, host runs 32-bit programs, ctest argument count -> guest
while read -r setting host32 args want; do
  [ "$setting" = - ] && setting=""
  I686_GUEST=unset
  decide_i686_guest "$setting" "$host32" "$args"
  expect "guest for setting '$setting', host32 $host32, $args arguments" "$want" "$I686_GUEST"
done <<'EOF'
- 0 0 1
- 0 3 0
- 1 0 0
0 0 0 0
1 1 2 1
1 0 5 1
EOF
decide_i686_guest yes 0 0 2>/dev/null
expect "a setting other than 0 or 1 is refused" 2 $?

# SETUP_TEST_GUEST_ACCEL, KVM usable -> accelerator
while read -r setting kvm want; do
  [ "$setting" = - ] && setting=""
  expect "accelerator for '$setting' with KVM usable $kvm" "$want" "$(guest_accel "$setting" "$kvm")"
done <<'EOF'
- 1 kvm
- 0 tcg
tcg 1 tcg
kvm 0 kvm
EOF
guest_accel hvf 1 >/dev/null 2>&1
expect "an unknown accelerator is refused" 2 $?

# Console log (\r\n as the serial line writes it), expected test count -> exit code
log=$(mktemp)
trap 'rm -f "$log"' EXIT
result_of() {  # COUNT LINES...
  local count=$1
  shift
  printf '%s\r\n' "$@" > "$log"
  guest_result "$log" "$count" 2>/dev/null
}
passed="100% tests passed, 0 tests failed out of 3"
expect "a passing run" 0 "$(result_of "" "$passed" "setup-guest-result 0" "[ 9.1] reboot: Power down")"
expect "a passing run of the expected count" 0 "$(result_of 3 "$passed" "setup-guest-result 0")"
expect "a passing run of another count" 1 "$(result_of 5 "$passed" "setup-guest-result 0")"
expect "a failing run keeps ctest's code" 8 "$(result_of 3 "67% tests passed, 1 tests failed out of 3" \
                                               "setup-guest-result 8")"
expect "no result line (a crash)" 1 "$(result_of "" "$passed" "Kernel panic - not syncing")"
expect "a result inside another line" 1 "$(result_of "" "echo setup-guest-result 0")"
expect "an empty console" 1 "$(result_of "" "")"

[ $failures -eq 0 ] && echo "guest decisions: all cases pass"
exit $((failures > 0))
