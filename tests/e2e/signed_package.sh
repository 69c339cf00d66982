#!/usr/bin/env bash
# A package signed after packaging (Authenticode, throwaway certificate)
# verifies, installs under Wine, and the uninstaller it writes is a well-formed
# PE image without the package's certificate entry and with a valid checksum.
#   signed_package.sh RUN_IN_WINE BIN_DIR WINEPREFIX OBJDUMP
set -euo pipefail
wine=$1; bin=$2; prefix=$3; objdump=$4
work="$prefix/drive_c/e2e-signed"
rm -rf "$work"; mkdir -p "$work"
fail() { echo "FAIL: $*" >&2; exit 1; }

openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 2 \
  -subj "/CN=Throwaway Test Signer" >/dev/null 2>&1
osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -in "$bin/sample_package.exe" \
  -out "$work/signed.exe" >/dev/null
osslsigncode verify -CAfile "$work/cert.pem" -in "$work/signed.exe" >"$work/verify-package.txt" 2>&1 ||
  fail "the signed package does not verify: $(cat "$work/verify-package.txt")"
"$wine" "$bin/mkpackage.exe" verify 'C:\e2e-signed\signed.exe' >/dev/null || fail "mkpackage verify"

"$wine" "$bin/setup_controller.exe" 'C:\e2e-signed\signed.exe' -en 'C:\e2e-signed\Quorin' >"$work/install.txt" || true
grep -q '^0x00000 ' "$work/install.txt" || fail "the install did not complete: $(cat "$work/install.txt")"
uninstaller="$work/Quorin/uninstall.exe"
[ -f "$uninstaller" ] || fail "no uninstall.exe"
cmp -s "$work/Quorin/ZepClient.exe" "$(dirname "$bin")/probe-files/ZepClient.exe" || fail "ZepClient.exe differs"

headers=$("$objdump" -p "$uninstaller") || fail "objdump cannot read uninstall.exe"
grep -Eq 'Entry 4[[:space:]]+0+[[:space:]]+0+[[:space:]]+Security Directory' <<<"$headers" ||
  fail "dangling security entry: $(echo "$headers" | grep 'Security Directory')"
osslsigncode verify -in "$uninstaller" >"$work/verify-uninstaller.txt" 2>&1 || true
if grep -Eiq 'corrupt|invalid PE checksum|not at the end' "$work/verify-uninstaller.txt"; then
  fail "osslsigncode: $(cat "$work/verify-uninstaller.txt")"
fi
grep -q 'No signature found' "$work/verify-uninstaller.txt" || fail "osslsigncode: $(cat "$work/verify-uninstaller.txt")"
rm -rf "$work"
echo "signed package: verified, installed, clean uninstaller"
