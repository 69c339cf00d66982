#!/usr/bin/env bash
# Reads the manifest resources of a Windows program with a host tool
# (wrestool) and checks the setup program's rules: one process manifest
# (RT_MANIFEST 1), administrator rights without UI access, common controls 6
# for the program's architecture, and no system declared after Windows 7 (so
# that Windows 8 and later report 6.2, which the system check accepts).
#   check_manifest.sh PROGRAM.exe ARCH   ARCH: x86 (i686) or amd64 (x86_64)
set -euo pipefail
program=$1 arch=$2
name=$(basename "$program")
fail() { echo "FAIL: $name: $*"; exit 1; }
command -v wrestool >/dev/null || fail "wrestool is missing (scripts/bootstrap.sh installs icoutils)"

listing=$(wrestool -l --type=24 "$program" 2>&1) || fail "wrestool cannot read it: $listing"
ids=$(sed -n 's/.*--name=\([^ ]*\).*/\1/p' <<<"$listing" | tr -d "'" | sort -u | tr '\n' ' ')
[ "$ids" = "1 " ] || fail "manifest resources: '${ids% }', expected the process manifest (1) only"
text=$(wrestool -x --raw --type=24 --name=1 "$program" | tr -d '\r' | tr '\n' ' ')
[ -n "$text" ] || fail "empty manifest"

all() {  # regex with one group: every match, one per line
  grep -oE "$1" <<<"$text" | sed -E "s/$1/\\1/" || true
}
expect() {  # what, got, wanted
  [ "$2" = "$3" ] || fail "$1: '$2', expected '$3'"
}
expect "execution level" "$(all '<requestedExecutionLevel[^>]*level="([^"]*)"')" requireAdministrator
expect "uiAccess" "$(all '<requestedExecutionLevel[^>]*uiAccess="([^"]*)"')" false
grep -q 'urn:schemas-microsoft-com:asm.v3' <<<"$text" || fail "no asm.v3 trustInfo"
expect "program architecture" "$(all '<assemblyIdentity[^>]*name="Vcsetup[^"]*"[^>]*processorArchitecture="([^"]*)"')" "$arch"
grep -qE '<assemblyIdentity[^>]*name="Microsoft\.Windows\.Common-Controls"[^>]*version="6\.0\.0\.0"[^>]*processorArchitecture="'"$arch"'"[^>]*publicKeyToken="6595b64144ccf1df"' <<<"$text" ||
  fail "no common controls 6 for $arch"

# Vista and 7 only; 8, 8.1 and 10 would change what GetVersionExW reports.
vista='{e2011457-1546-43c5-a5fe-008deee3d3f0}' seven='{35138b9a-5d96-4fbd-8e2d-a2440225f93a}'
expect "supportedOS" "$(all '<supportedOS[^>]*Id="([^"]*)"' | tr '\n' ' ')" "$vista $seven "
for later in 4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38 1f676c76-80e1-4239-95bb-83d0f6d0da78 8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a maxversiontested; do
  ! grep -qi "$later" <<<"$text" || fail "declares $later"
done
echo "PASS: $name: manifest for $arch, administrator rights, common controls 6, systems up to Windows 7"
