#!/bin/bash
# The guest's job, started by its PID 1 from the job disk (mounted at /job),
# with its output on the serial console. It puts the clone's files at the paths
# they have on the host (ctest's files name absolute paths), then either makes
# the win32 Wine prefix template on the guest's own disk (GUEST_MODE=template,
# once, when the image is made) or runs ctest in a Wine session. Its last line,
# "setup-guest-result N" with N the exit code, is what the host reads.
set -u
job=$(cd "$(dirname "$0")" && pwd)
. "$job/job.env"
for path in "${GUEST_PATHS[@]}"; do
  mkdir -p "$path"
  mount --bind "$job/tree$path" "$path"
done
# The prefix and its template live on the guest's disk, the template from the
# image: making one here costs minutes.
mkdir -p /var/lib/setup-guest/wine
rm -rf "$GUEST_BUILD/wine"
ln -s /var/lib/setup-guest/wine "$GUEST_BUILD/wine"
# No colour codes in the console (the kernel hands PID 1 TERM=linux).
export SETUP_TEST_WAIT_SCALE TERM=dumb
cd "$GUEST_BUILD"
session="$GUEST_SOURCE/tests/harness/wine-session.sh"
if [ "$GUEST_MODE" = template ]; then
  "$session" "$GUEST_BUILD" true
  rc=$?
  rm -rf /var/lib/setup-guest/wine/prefix /var/lib/setup-guest/wine/display
else
  "$session" "$GUEST_BUILD" ctest --test-dir "$GUEST_BUILD" "${GUEST_CTEST[@]}"
  rc=$?
fi
echo "setup-guest-result $rc"
