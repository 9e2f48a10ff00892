# Sourced by the scripts: whether this host runs 32-bit (i386) programs.
#
# Some hosts run 64-bit user code only (their kernel has IA-32 emulation off):
# every 32-bit program fails there with "Exec format error", 32-bit Wine
# included. The probe needs nothing installed, so that scripts/setup.sh can
# ask it before it installs anything: it writes a tiny static i386 program
# that does nothing but exit with code 32, and runs it.
# SETUP_HOST_RUNS_32BIT=1 or 0 gives the answer instead.

# An ELF header; one loadable segment, read and execute, the whole 96-byte
# file at 0x08048000; the code at 0x08048054: mov eax, 1 (exit); mov ebx, 32;
# int 0x80.
HOST_32BIT_PROBE_BYTES='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'\
'\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00'\
'\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00'\
'\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'\
'\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'\
'\xb8\x01\x00\x00\x00\xbb\x20\x00\x00\x00\xcd\x80'

write_32bit_probe() {  # PATH
  printf '%b' "$HOST_32BIT_PROBE_BYTES" >"$1" && chmod +x "$1"
}

host_runs_32bit() {
  case "${SETUP_HOST_RUNS_32BIT:-}" in
    1) return 0 ;;
    0) return 1 ;;
    "") ;;
    *) echo "SETUP_HOST_RUNS_32BIT must be 0 or 1, not '$SETUP_HOST_RUNS_32BIT'" >&2; return 2 ;;
  esac
  local dir status=0 said=""
  dir=$(mktemp -d) || return 1
  write_32bit_probe "$dir/probe" && said=$("$dir/probe" 2>&1) || status=$?
  rm -rf "$dir"
  [ $status -ne 32 ] || return 0
  # Anything but "Exec format error" is no answer: say so, and take the
  # answer that works on every host (the 64-bit build, and the guest).
  case "$said" in
    *"Exec format error"*) ;;
    *) echo "the 32-bit probe gave no answer (exit $status: ${said:-no message}): taking this host as one that runs 64-bit code only" >&2 ;;
  esac
  return 1
}
