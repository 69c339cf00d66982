#!/usr/bin/env bash
# check_imports.sh refuses a program with Vista imports and names each one.
#   check_imports_test.sh OBJDUMP PROBE.exe REFUSED-LIST
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$(bash "$here/check_imports.sh" "$@"); rc=$?
printf '%s\n' "$out"
ok=1
[ "$rc" -ne 0 ] || { echo "check_imports.sh passed a program with Vista imports"; ok=0; }
for want in 'KERNEL32.dll!InitializeSRWLock' 'KERNEL32.dll!GetTickCount64' 'WS2_32.dll!inet_pton'; do
  grep -qF "FAIL: $(basename "$2") imports $want," <<<"$out" || { echo "not named: $want"; ok=0; }
done
grep -q '^PASS' <<<"$out" && { echo "a PASS line for a refused program"; ok=0; }
[ "$ok" -eq 1 ] && echo "PASS: the Vista imports were refused, each named"
[ "$ok" -eq 1 ]
