# Sourced by the make targets: which Windows targets this machine can run under Wine.
#
# A 32-bit Windows program runs only where the kernel executes 32-bit x86 code, which
# some 64-bit hosts do not do at all. The only sure answer is to run a 32-bit program:
# a 93-byte i386 Linux program that exits with 0, written here.

# Sets WHY_NO_32 to the reason and answers false when 32-bit code cannot run.
can_run_32bit() {
  local probe
  probe=$(mktemp /tmp/pagorex-i386.XXXXXX) || { WHY_NO_32="could not write the probe program"; return 1; }
  python3 - "$probe" <<'PY'
import struct, sys
base = 0x08048000
code = bytes([0xB8, 1, 0, 0, 0, 0x31, 0xDB, 0xCD, 0x80])  # exit(0) through int 0x80
size = 52 + 32 + len(code)
elf = b"\x7fELF" + bytes([1, 1, 1]) + bytes(9)
elf += struct.pack("<HHIIIIIHHHHHH", 2, 3, 1, base + 84, 52, 0, 0, 52, 32, 1, 0, 0, 0)
elf += struct.pack("<IIIIIIII", 1, 0, base, base, size, size, 5, 0x1000)
open(sys.argv[1], "wb").write(elf + code)
PY
  chmod +x "$probe"
  local out rc
  out=$("$probe" 2>&1); rc=$?
  rm -f "$probe"
  if [ $rc -eq 0 ]; then
    WHY_NO_32=""
    return 0
  fi
  case "$out" in
    *"Exec format error"*|*"cannot execute binary file"*)
      WHY_NO_32="this machine cannot execute 32-bit x86 code (a 32-bit test program failed: Exec format error)" ;;
    *) WHY_NO_32="a 32-bit test program failed (exit code $rc${out:+: $out})" ;;
  esac
  return 1
}

# Where the install step could not get 32-bit Wine, it leaves the reason in this file of
# the build directory.
WINE32_STATE=wine32-unavailable

# Sets WHY_NO_WIN32 to the reason and answers false when the 32-bit programs cannot run
# here under Wine: no 32-bit code at all, or no 32-bit Wine.
can_run_win32() {  # BUILD
  if ! can_run_32bit; then
    WHY_NO_WIN32=$WHY_NO_32
    return 1
  fi
  if ! dpkg -s wine32:i386 >/dev/null 2>&1; then
    if [ -s "${1:-build}/$WINE32_STATE" ]; then
      WHY_NO_WIN32=$(cat "${1:-build}/$WINE32_STATE")
    else
      WHY_NO_WIN32="32-bit Wine is not installed (make deps installs it)"
    fi
    return 1
  fi
  WHY_NO_WIN32=""
  return 0
}

# The target `make run` and `make bench` use when none is named: 32-bit where it runs.
default_target() {  # BUILD
  if can_run_win32 "${1:-build}"; then echo win32; else echo win64; fi
}

# The line make test ends with before its totals: which suites ran, and why one did not.
targets_line() {  # BUILD
  if can_run_win32 "${1:-build}"; then
    echo "Targets: win32 (i686) and win64 (x86_64) under Wine, and the native tests"
  else
    echo "Targets: win64 (x86_64) under Wine, and the native tests; win32 (i686) left out: $WHY_NO_WIN32; its suite did not run and counts as neither passed nor failed"
  fi
}
