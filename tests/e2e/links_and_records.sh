#!/usr/bin/env bash
# Checks a driven install of the sample (English texts) with readers nobody
# here wrote: lnkinfo parses every link it reports, Wine's Add/Remove
# Programs lists it, and reg query shows its product key and uninstall
# entry. Then removes what the install left.
#   links_and_records.sh RUN_IN_WINE MKPACKAGE_EXE SETUP_EXE CONTROLLER_EXE MANIFEST FILES WORK
set -euo pipefail
wine_run=$1 mkpackage=$2 stub=$3 controller=$4 manifest=$5 files=$6 work=$7
fail() { echo "FAIL: $*"; exit 1; }
command -v lnkinfo >/dev/null || fail "lnkinfo is missing (scripts/bootstrap.sh installs liblnk-utils)"

rm -rf "$work"; mkdir -p "$work"
# Wine hands a program's standard error on to what it starts (the package,
# the desktop process, services), which may outlive this script: keep it in a
# file, not in the caller's pipe, which CTest reads to its end; a failure
# prints the file.
errors="$work.stderr"
: >"$errors"
exec 2>>"$errors"
trap 'code=$?; [ "$code" -eq 0 ] || { echo "standard error:"; cat "$errors"; }' EXIT
sed 's/"DefaultLanguage": *[0-9]*/"DefaultLanguage": 3/' "$manifest" >"$work/manifest.json"
"$wine_run" "$mkpackage" build --manifest "$work/manifest.json" --files "$files" --stub "$stub" \
  -o "$work/package.exe" >/dev/null
dest='C:\e2e-lnkinfo\app'
"$wine_run" "$controller" "$work/package.exe" -en "$dest" | tr -d '\r' >"$work/statuses.txt" || true
grep -q '^0x50006 Add registry$' "$work/statuses.txt" || fail "no 0x50006: $(cat "$work/statuses.txt")"

# Every link: a shell link whose local path is a file of the install folder.
links=$(sed -n 's/^0x50004 Create shortcut: //p' "$work/statuses.txt")
[ "$(printf '%s\n' "$links" | grep -c .)" -eq 8 ] || fail "expected 8 links: $links"
# Wine's own tools, under the tree's loader and prefix.
# winepath now and then prints nothing when its start races the server: asked again.
winepath() {
  local out try
  for try in 1 2 3; do
    out=$("$wine_run" winepath.exe "$@") && [ -n "$out" ] && { printf '%s\n' "$out"; return 0; }
    sleep 1
  done
  return 1
}
wine() { local tool=$1; shift; "$wine_run" "$tool.exe" "$@"; }
while IFS= read -r link; do
  unix=$(winepath -u "$link" 2>/dev/null)
  info=$(lnkinfo "$unix") || fail "lnkinfo cannot parse $link"
  local_path=$(printf '%s\n' "$info" | sed -n 's/^[[:space:]]*Local path[[:space:]]*: //p')
  working=$(printf '%s\n' "$info" | sed -n 's/^[[:space:]]*Working directory[[:space:]]*: //p')
  [ "${local_path%\\*}" = "$dest" ] || fail "$link points to '$local_path'"
  [ -f "$(winepath -u "$local_path" 2>/dev/null)" ] || fail "$link: '$local_path' is not an installed file"
  [ "$working" = "$dest" ] || fail "$link: working directory '$working'"
  echo "link ok: $link -> $local_path"
done <<<"$links"

wine uninstaller --list 2>/dev/null | tr -d '\r' | grep -qxF 'Video Conference|||Video Conference v4.0.2026' ||
  fail "wine uninstaller --list does not list 'Video Conference v4.0.2026'"
echo "listed: Video Conference v4.0.2026"

query() {  # key: every value line
  wine reg query "$1" 2>/dev/null | tr -d '\r'
}
expect() {  # text, name, data
  printf "%s\n" "$1" | grep -qxF "    $2    REG_SZ    $3" || fail "no value $2 = '$3' in: $1"
}
product=$(query 'HKLM\Software\Video Conference')
expect "$product" InstallPath "$dest"
expect "$product" Exe "$dest\\ZepClient.exe"
expect "$product" Version v4.0.2026
expect "$product" GUID '{5A1C7E42-93B0-4D6F-A8E1-2C4B6D8F0A13}'
entry=$(query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Video Conference')
expect "$entry" DisplayName 'Video Conference v4.0.2026'
expect "$entry" UninstallString "\"$dest\\uninstall.exe\""
expect "$entry" DisplayIcon "$dest\\ZepClient.exe"
for empty in Publisher URLInfoAbout Contact HelpLink HelpTelephone URLUpdateInfo; do expect "$entry" "$empty" ''; done
expect "$entry" DisplayVersion 4.0.2026
expect "$entry" Readme "file://$dest\\"
expect "$entry" ProductID '{5A1C7E42-93B0-4D6F-A8E1-2C4B6D8F0A13}'
expect "$entry" Comments 'Welcome to Video Conference'
[ "$(printf '%s\n' "$entry" | grep -c '    REG_SZ    ')" -eq 13 ] || fail "the uninstall entry holds other values: $entry"
echo "registry ok"

# Leave the prefix as it was.
wine reg delete 'HKLM\Software\Video Conference' /f >/dev/null 2>&1 || true
wine reg delete 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Video Conference' /f >/dev/null 2>&1 || true
while IFS= read -r link; do rm -f "$(winepath -u "$link" 2>/dev/null)"; done <<<"$links"
group=$(printf '%s\n' "$links" | head -n 1); rmdir "$(winepath -u "${group%\\*}" 2>/dev/null)" 2>/dev/null || true
rm -rf "$(winepath -u "$dest" 2>/dev/null)" "$work"
echo "PASS"
