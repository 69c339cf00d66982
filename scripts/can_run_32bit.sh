#!/usr/bin/env bash
# Exits 0 when this machine can execute 32-bit x86 programs, else 1 (some
# kernels run 64-bit user code only: every i386 execve fails with ENOEXEC).
# Tries a 96-byte static i386 ELF that exits with 42 through int 0x80: it
# needs no i386 library, so it answers before anything is installed.
#   scripts/can_run_32bit.sh [-v]   -v: print the reason on standard output
set -u
dir=$(mktemp -d "${TMPDIR:-/tmp}/vc-elf32.XXXXXX") || exit 1
trap 'rm -rf "$dir"' EXIT
# ELF header (52 bytes), one PT_LOAD header (32 bytes) mapping the file at
# 0x08048000, code at 0x08048054: mov eax, 1; mov ebx, 42; int 0x80.
printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00''\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00''\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' >"$dir/elf32"
chmod +x "$dir/elf32"
err=$("$dir/elf32" 2>&1); code=$?
if [ "$code" -eq 42 ]; then
  [ "${1:-}" = -v ] && echo "this machine runs 32-bit x86 programs"
  exit 0
fi
if [ "${1:-}" = -v ]; then
  reason=${err##*: }
  echo "this machine cannot run 32-bit x86 programs (a static i386 test program fails: ${reason:-exit code $code})"
fi
exit 1
