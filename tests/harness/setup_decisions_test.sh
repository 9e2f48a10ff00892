#!/usr/bin/env bash
# scripts/setup.sh's decisions, run against stub apt-get, dpkg, dpkg-query,
# sudo and sleep on PATH (no package is installed, no pause is waited): what
# it asks the archive, in which order, and what it says and returns when the
# archive is flaky or a package cannot be installed. Also the bytes of the
# 32-bit probe, read back with readelf. Prints each case that fails; exits 1
# if any did.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
expect() {  # WHAT EXPECTED ACTUAL
  [ "$2" = "$3" ] && return
  echo "FAIL: $1: expected '$2', got '$3'"
  failures=$((failures + 1))
}

# The stubs keep their state in $STUB: installed (PACKAGE:ARCH lines),
# foreign (architectures), calls (every call), counts. STUB_UPDATE_FAILS and
# STUB_INSTALL_FAILS say how many calls of each fail ("all": every one).
mkdir -p "$work/bin"
cat >"$work/bin/apt-get" <<'EOF'
#!/usr/bin/env bash
echo "apt-get $*" >>"$STUB/calls"
verb=""
packages=()
for a in "$@"; do
  case "$a" in update|install) verb=$a ;; -*) ;; *) packages+=("$a") ;; esac
done
n=$(( $(cat "$STUB/$verb.count" 2>/dev/null || echo 0) + 1 ))
echo $n >"$STUB/$verb.count"
if [ "$verb" = update ]; then
  fails=${STUB_UPDATE_FAILS:-0}
  if [ "$fails" = all ] || [ $n -le "$fails" ]; then
    echo "E: Failed to fetch http://deb.example/Packages.xz  File has unexpected size (3 != 4). Mirror sync in progress?"
    echo "   Hashes of expected file:"
    echo "W: Some index files failed to download."
    exit 100
  fi
  exit 0
fi
# A failing install leaves the i386 packages out and installs the others.
fails=${STUB_INSTALL_FAILS:-0}
failing=no
if [ "$fails" = all ] || [ $n -le "$fails" ]; then failing=yes; fi
for p in "${packages[@]}"; do
  case "$p" in *:i386) [ $failing = yes ] || echo "$p" ;; *:*) echo "$p" ;; *) echo "$p:amd64" ;; esac >>"$STUB/installed"
done
if [ $failing = yes ]; then
  echo "The following packages have unmet dependencies:"
  echo "E: Unable to correct problems, you have held broken packages."
  exit 100
fi
EOF
cat >"$work/bin/dpkg" <<'EOF'
#!/usr/bin/env bash
echo "dpkg $*" >>"$STUB/calls"
case "$1" in
  --print-architecture) echo amd64 ;;
  --print-foreign-architectures) cat "$STUB/foreign" ;;
  --add-architecture) echo "$2" >>"$STUB/foreign" ;;
esac
EOF
# dpkg-query -W -f='${Package}:${Architecture} ${Status}\n' PACKAGE[:ARCH]...
cat >"$work/bin/dpkg-query" <<'EOF'
#!/usr/bin/env bash
status=0
shift 2
for p in "$@"; do
  case "$p" in *:*) q=$p ;; *) q=$p:amd64 ;; esac
  if grep -qxF "$q" "$STUB/installed"; then echo "$q install ok installed"; else status=1; fi
done
exit $status
EOF
cat >"$work/bin/sleep" <<'EOF'
#!/usr/bin/env bash
echo "sleep $*" >>"$STUB/calls"
EOF
cat >"$work/bin/sudo" <<'EOF'
#!/usr/bin/env bash
exec "$@"
EOF
chmod +x "$work/bin/"*

all_but_wine32=$(sed -n '/^PACKAGES=(/,/^)/p' "$root/scripts/setup.sh" | sed '1d;$d' | tr ' ' '\n' | sed '/^$/d')

# The calls, in short: update, install, sleep N, add-i386.
calls_in_short() {
  sed -n -e 's/^apt-get update.*/update/p' -e 's/^apt-get install.*/install/p' -e 's/^sleep \(.*\)/sleep \1/p' \
    -e 's/^dpkg --add-architecture i386/add-i386/p' "$STUB/calls" | paste -sd, -
}

# NAME | HOST RUNS 32-BIT | INSTALLED BEFORE (none|all-64|all) | UPDATE FAILS | INSTALL FAILS |
#   EXIT | CALLS | A LINE IT SAYS ("-": it says nothing)
while IFS='|' read -r name host32 before update_fails install_fails want_exit want_calls want_line; do
  STUB="$work/$(echo "$name" | tr ' ' '-')"
  export STUB
  mkdir -p "$STUB"
  : >"$STUB/calls"
  : >"$STUB/foreign"
  case "$before" in
    none) : >"$STUB/installed" ;;
    all-64) sed 's/$/:amd64/' <<<"$all_but_wine32" >"$STUB/installed" ;;
    all) { sed 's/$/:amd64/' <<<"$all_but_wine32"; echo wine32:i386; } >"$STUB/installed"; echo i386 >"$STUB/foreign" ;;
  esac
  PATH="$work/bin:$PATH" SETUP_HOST_RUNS_32BIT=$host32 STUB_UPDATE_FAILS=$update_fails \
    STUB_INSTALL_FAILS=$install_fails "$root/scripts/setup.sh" 2>"$STUB/said"
  expect "$name: exit code" "$want_exit" $?
  expect "$name: calls" "$want_calls" "$(calls_in_short)"
  if [ "$want_line" = - ]; then
    expect "$name: what it says" "" "$(cat "$STUB/said")"
  elif ! grep -qxF "$want_line" "$STUB/said"; then
    echo "FAIL: $name: never said '$want_line', only: $(cat "$STUB/said")"
    failures=$((failures + 1))
  fi
  if [ "$host32" = 0 ] && grep -q i386 "$STUB/calls"; then
    echo "FAIL: $name: a host that runs 64-bit code only was asked for i386: $(grep i386 "$STUB/calls" | head -1)"
    failures=$((failures + 1))
  fi
done <<'EOF'
update fails twice then passes|1|all-64|2|0|0|add-i386,update,sleep 10,update,sleep 30,update,install|setup: done
an index never comes, the packages still install|0|none|all|0|0|update,sleep 10,update,sleep 30,update,install|setup: some package indexes still not fetched, installing with those at hand: E: Failed to fetch http://deb.example/Packages.xz  File has unexpected size (3 != 4). Mirror sync in progress? W: Some index files failed to download.
a failed install is retried once after fresh indexes|0|none|0|1|0|update,install,update,install|setup: done
a package that cannot be installed|1|none|0|all|1|add-i386,update,install,update,install|setup: could not install wine32:i386: E: Unable to correct problems, you have held broken packages.
a 64-bit-only host with nothing installed|0|none|0|0|0|update,install|setup: done
everything there: the archive is not asked|1|all|0|0|0||-
everything a 64-bit-only host needs there|0|all-64|0|0|0||-
EOF

# The probe as written: a static i386 program whose one segment holds it whole.
. "$root/scripts/host-32bit-probe.sh"
write_32bit_probe "$work/probe"
elf=$(readelf -h -l "$work/probe" 2>&1)
for field in "Class: *ELF32" "Machine: *Intel 80386" "Type: *EXEC" "Entry point address: *0x8048054" \
             "LOAD *0x000000 0x08048000 0x08048000 0x00060 0x00060 R E"; do
  grep -q "$field" <<<"$elf" || { echo "FAIL: the probe's header lacks '$field'"; failures=$((failures + 1)); }
done
expect "the probe's size" 96 "$(wc -c <"$work/probe")"

[ $failures -eq 0 ] && echo "setup decisions: all cases pass"
exit $((failures > 0))
