#!/usr/bin/env bash
# Usage: i686-guest.sh [--exe SETUP_EXE] [--count N] BUILD_DIR [CTEST_ARGS...]
#        i686-guest.sh --image-only BUILD_DIR
#
# Runs `ctest --test-dir BUILD_DIR CTEST_ARGS...` in a Wine session (32-bit
# Wine, win32 prefix) inside an emulated x86_64 machine: the way to run the
# i686 build's programs on a host that cannot run 32-bit programs itself.
# BUILD_DIR is an i686 build with the Wine tests; --exe puts SETUP_EXE (the
# shipped setup.exe) in place of BUILD_DIR's own setup.exe for the run; with
# --count, a run that passes but ran other than N tests fails (a test renamed in
# the sources would otherwise drop out of the run unseen).
#
# The guest system (Debian 12 with Wine, made by guest/make-image.sh, plus a
# win32 prefix template made in its first boot) is cached outside the clone in
# $SETUP_GUEST_CACHE (default /var/cache/setup-test-guest), under a hash of its
# recipe; it is made again when the recipe changes, and each run boots it with
# its disk copy-on-write, so the cached image never changes. The clone (without
# its build folders) and BUILD_DIR go to a second disk, mounted in the guest at
# the same paths. --image-only makes the cached image when it is missing and
# runs nothing (BUILD_DIR need only be configured).
#
# KVM is used when it can run the guest, else qemu's emulator (TCG);
# SETUP_TEST_GUEST_ACCEL=kvm or tcg forces either. Waits of the tests are scaled
# by SETUP_TEST_WAIT_SCALE in the guest only. Exits with ctest's exit code, or
# 1 when the guest gives no result (it crashed, or ran past SETUP_GUEST_TIMEOUT
# seconds, 1500 by default).
set -euo pipefail

# ---- Decisions on plain values (tests/harness/guest_decisions_test.sh) --------

# The accelerator for SETTING (SETUP_TEST_GUEST_ACCEL: kvm, tcg or empty) on a
# host where KVM can (KVM_USABLE=1) or cannot run the guest: "kvm" or "tcg".
guest_accel() {
  case $1 in
    kvm|tcg) echo "$1" ;;
    "") if [ "$2" = 1 ]; then echo kvm; else echo tcg; fi ;;
    *) echo "i686-guest: SETUP_TEST_GUEST_ACCEL must be kvm or tcg, not '$1'" >&2; return 2 ;;
  esac
}

# The exit code of the job whose console log is SERIAL_LOG: the number on its
# result line; 1 without one (the guest crashed or hung); 1 when COUNT is given
# and a passing ctest ran another number of tests.
guest_result() {
  local serial=$1 count=${2:-} result
  result=$(sed -n 's/^setup-guest-result \([0-9]\+\)\r\?$/\1/p' "$serial" | tail -n 1)
  if [ -z "$result" ]; then
    echo "i686-guest: the guest gave no result (it crashed or hung); its console is in $serial" >&2
    echo 1
  elif [ "$result" = 0 ] && [ -n "$count" ] && ! grep -q "tests failed out of $count[[:space:]]*\$" "$serial"; then
    echo "i686-guest: ctest passed but did not run $count tests" >&2
    echo 1
  else
    echo "$result"
  fi
}

# KVM runs an ordinary guest only with the processor's virtualization (vmx or
# svm); some hosts offer a /dev/kvm without it (a nested, paravirtual one) on
# which Debian's kernel never boots.
kvm_usable() {
  [ -c /dev/kvm ] && (exec 3<>/dev/kvm) 2>/dev/null && grep -qwE 'vmx|svm' /proc/cpuinfo
}

# ---- The guest ------------------------------------------------------------------

# Boots IMAGE_DIR with the job disk of $work, prints its serial console as it
# comes, and bounds the whole run by LIMIT seconds. ROOT_MODE "snapshot" keeps
# the root disk unchanged, "write" keeps what the job wrote. Returns the job's
# exit code (guest_result).
boot() {
  local image=$1 root_mode=$2 limit=$3 count=${4:-} snapshot=on
  [ "$root_mode" = write ] && snapshot=off
  local serial="$work/serial.log"
  : > "$serial"
  timeout --kill-after=10 "$limit" qemu-system-x86_64 "${machine[@]}" -smp 2 -m 4096 \
    -nodefaults -display none -no-reboot -nic none -serial "file:$serial" \
    -kernel "$image/vmlinuz" -initrd "$image/initrd.img" \
    -append "root=/dev/vda rw console=ttyS0 init=/sbin/setup-guest-init panic=1 quiet loglevel=3" \
    -drive "file=$image/root.img,if=virtio,format=raw,snapshot=$snapshot" \
    -drive "file=$work/job.img,if=virtio,format=raw" &
  local qemu=$!
  tail -n +1 -F --pid=$qemu "$serial" 2>/dev/null | sed -u 's/\r$//' &
  local printer=$!
  wait $qemu || echo "i686-guest: qemu ended with $? (124: ran past $limit s)" >&2
  wait $printer || true
  return "$(guest_result "$serial" "$count")"
}

# Copies PATH to the same path under the stage's tree/: hard links where they
# share the file system (mkfs copies the bytes anyway).
stage_copy() {
  local to="$stage/tree$1"
  mkdir -p "$(dirname "$to")"
  cp -al "$1" "$to" 2>/dev/null || { rm -rf "$to" && cp -a "$1" "$to"; }
}

# The job disk: the clone (without its build folders) and BUILD_DIR at their
# own paths under tree/, the job script and its settings. MODE is "template"
# or "test".
make_job_disk() {
  local mode=$1
  shift
  stage="$work/stage"
  rm -rf "$stage" "$work/job.img"
  mkdir -p "$stage/tree$source_root"
  local entry
  for entry in "$source_root"/*; do
    case ${entry##*/} in build*) continue ;; esac
    stage_copy "$entry"
  done
  if [ "$mode" = template ]; then
    # The prefix needs only the build's choice of Wine; the build may still be
    # compiling while the image is made.
    mkdir -p "$stage/tree$build"
    cp "$build/wine-env.sh" "$stage/tree$build/"
  else
    stage_copy "$build"
  fi
  rm -rf "$stage/tree$build/wine"  # a prefix of a run on this host, if any
  if [ -n "$exe" ]; then
    rm -f "$stage/tree$build/shell/setup.exe"
    cp "$exe" "$stage/tree$build/shell/setup.exe"
  fi
  cp "$here/guest/job.sh" "$stage/job.sh"
  {
    printf 'GUEST_MODE=%q\nGUEST_SOURCE=%q\nGUEST_BUILD=%q\nSETUP_TEST_WAIT_SCALE=%q\n' \
      "$mode" "$source_root" "$build" "$scale"
    printf 'GUEST_PATHS=(%q %q)\n' "$source_root" "$build"
    printf 'GUEST_CTEST=(%s)\n' "${*@Q}"
  } > "$stage/job.env"
  # Room for what the tests write beside the build (certificates, ctest's logs).
  local megabytes
  megabytes=$(( $(du -sm "$stage" | cut -f1) + 1024 ))
  truncate -s "${megabytes}M" "$work/job.img"
  mkfs.ext4 -q -F -d "$stage" "$work/job.img"
  rm -rf "$stage"
}

# The cached image for this recipe, made when missing (under a lock: parallel
# runs wait for one build); a half-made one never has the final name.
image_dir() {
  local key
  key=$(cat "$here/guest/make-image.sh" "$here/guest/init.sh" "$here/prepare-prefix.sh" \
            "$here/prefix-settings.reg" | sha256sum | cut -c1-16)
  local image="$cache/image-$key"
  mkdir -p "$cache"
  exec 9>"$cache/lock"
  flock 9
  # All that is printed goes to stderr: stdout carries the image's path.
  if [ ! -f "$image/ready" ]; then {
    echo "i686-guest: making the guest image $image (once per recipe; about 5 to 10 minutes)"
    local started=$SECONDS
    rm -rf "$cache"/building-*
    local building="$cache/building-$key"
    "$here/guest/make-image.sh" "$building"
    echo "i686-guest: first boot: the win32 Wine prefix template"
    make_job_disk template
    if ! boot "$building" write 1800; then
      echo "i686-guest: the guest could not make its Wine prefix"
      exit 1
    fi
    touch "$building/ready"
    rm -rf "$cache"/image-*
    mv "$building" "$image"
    echo "i686-guest: guest image made in $((SECONDS - started)) s"
  } >&2; fi
  flock -u 9
  echo "$image"
}

main() {
  here=$(cd "$(dirname "$0")" && pwd)
  source_root=$(cd "$here/../.." && pwd)
  exe="" count="" image_only=0
  while [ $# -gt 1 ]; do
    case $1 in
      --exe) exe=$(realpath "$2"); shift ;;
      --count) count=$2; shift ;;
      --image-only) image_only=1 ;;
      *) break ;;
    esac
    shift
  done
  build=$(cd "$1" && pwd)
  shift
  cache=${SETUP_GUEST_CACHE:-/var/cache/setup-test-guest}
  work="$build.guest"
  local path
  for path in "$source_root" "$build"; do
    case $path in *[[:space:]]*)
      echo "i686-guest: paths with blanks are not supported: '$path'" >&2
      return 1 ;;
    esac
  done

  local kvm=0
  kvm_usable && kvm=1
  accel=$(guest_accel "${SETUP_TEST_GUEST_ACCEL:-}" $kvm)
  # Without -smap the guest kernel oops on every 32-bit Wine process under TCG.
  # Programs run there 10 to 20 times slower than natively; a test that fails
  # waits out each scaled bound, so the factor is no larger than needed.
  if [ "$accel" = tcg ]; then
    machine=(-accel tcg,thread=multi -cpu max,-smap) scale=10
  else
    machine=(-accel kvm -cpu host,-smap) scale=3
  fi

  mkdir -p "$work"
  local image
  image=$(image_dir)
  [ "$image_only" = 0 ] || return 0
  make_job_disk test "$@"
  echo "i686-guest: booting the guest ($accel, waits of the tests x$scale)"
  local status=0
  boot "$image" snapshot "${SETUP_GUEST_TIMEOUT:-1500}" "$count" || status=$?
  rm -f "$work/job.img"  # the console log stays
  return $status
}

# Sourced by the test of the decisions above, run otherwise.
if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  main "$@"
fi
