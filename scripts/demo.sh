#!/usr/bin/env bash
# The main job: bootstrap, build, check that setup.exe without a package exits
# with -1, make the sample package and install it silently under Wine through
# setup_controller, then list the installed files, the shortcuts and the
# registry records it created. The product is the 32-bit setup.exe of
# build/windows; on a machine that cannot execute 32-bit programs the demo
# runs the 64-bit build of the same sources (build/win64) under 64-bit Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

bash "$root/scripts/bootstrap.sh"
bash "$root/scripts/build.sh"
source "$root/scripts/xvfb.sh"

source "$root/scripts/windows_tree.sh"
echo "demo: installing with $tree_note"
wine_run="$tree/run-in-wine.sh"
"$wine_run" --init
# Keeps the private Xvfb's clean-up (xvfb.sh) when adding the server's.
trap '"$wine_run" --stop; [ -n "${vc_xvfb_pid:-}" ] && kill $vc_xvfb_pid 2>/dev/null' EXIT

set +e
"$wine_run" "$tree/bin/setup.exe"
code=$?
set -e
# Wine hands the Windows exit code to the shell modulo 256: -1 is 255.
if [ "$code" -ne 255 ]; then
  echo "demo: setup.exe without a package exited with $code, expected -1" >&2
  exit 1
fi
echo "demo: setup.exe (no package attached) exited with -1 as expected"

# Make the sample package and show what it holds.
out="$root/build/demo"
rm -rf "$out"; mkdir -p "$out"
"$root/build/native/bin/make_sample_files" "$out/files" --standins "$tree/bin/standins"
"$root/build/native/bin/mkpackage" build --manifest "$root/tools/sample/manifest.json" \
  --files "$out/files" --stub "$tree/bin/setup.exe" -o "$out/sample_package.exe"
"$root/build/native/bin/mkpackage" info "$out/sample_package.exe"
"$root/build/native/bin/mkpackage" verify "$out/sample_package.exe" | tail -n 1
# Install it silently under Wine through the controller, which prints every
# status code the package reports, then show what landed.
dest='C:\Quorin Demo'
dest_unix="$tree/wineprefix/drive_c/Quorin Demo"
rm -rf "$dest_unix"
set +e
"$wine_run" "$tree/bin/setup_controller.exe" "$out/sample_package.exe" -en "$dest" | tee "$out/statuses.txt"
code=${PIPESTATUS[0]}
set -e
echo "demo: setup_controller exited with $code (0 completed, 1 a step reported a failure, 2 stopped)"
[ "$code" -eq 0 ] || exit 1
echo "demo: files under $dest:"
(cd "$dest_unix" && find . -type f -printf '  %P  %s bytes\n' | sort)

# The shortcuts it reported, as lnkinfo reads them.
winepath() { "$wine_run" winepath.exe "$@"; }
echo "demo: shortcuts created (target and working directory read by lnkinfo):"
sed -n 's/^0x50004 [^：:]*[：:] *//p' "$out/statuses.txt" | tr -d '\r' | while IFS= read -r link; do
  info=$(lnkinfo "$(winepath -u "$link" 2>/dev/null)" 2>/dev/null || true)
  target=$(printf '%s\n' "$info" | sed -n 's/^[[:space:]]*Local path[[:space:]]*: //p')
  folder=$(printf '%s\n' "$info" | sed -n 's/^[[:space:]]*Working directory[[:space:]]*: //p')
  echo "  $link"
  echo "      -> $target (in $folder)"
done

# The registry records, exported by Wine's regedit (UTF-16) and shown as UTF-8.
show_key() {  # key
  local file="$out/key.reg"
  rm -f "$file"
  "$wine_run" regedit.exe /E "$(winepath -w "$file")" "$1" >/dev/null 2>&1 || { echo "  (no key $1)"; return; }
  iconv -f UTF-16 -t UTF-8 "$file" | tr -d '\r' | sed -n '/^\[/,$p' | sed 's/^/  /'
}
echo "demo: registry records written:"
show_key 'HKEY_LOCAL_MACHINE\Software\Video Conference'
show_key 'HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall\视频会议软件'
echo "demo: Add/Remove Programs (wine uninstaller --list; non-ASCII shows as '?' on this console):"
"$wine_run" uninstaller.exe --list 2>/dev/null | tr -d '\r' | sed 's/^/  /'
echo "demo: the wizard: bash scripts/screenshots.sh; an online round trip: see the README"
