#!/usr/bin/env bash
# Saves a screenshot of every wizard page of the sample package in each of the
# four languages as build/screenshots/<language>-<page>.png. The package is
# the sample with every page switched on (language page, licence, tasks).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

bash "$root/scripts/bootstrap.sh"
bash "$root/scripts/build.sh"
source "$root/scripts/xvfb.sh"

source "$root/scripts/windows_tree.sh"
echo "screenshots: $tree_note"
wine_run="$tree/run-in-wine.sh"
"$wine_run" --init
# Keeps the private Xvfb's clean-up (xvfb.sh) when adding the server's.
trap '"$wine_run" --stop; [ -n "${vc_xvfb_pid:-}" ] && kill $vc_xvfb_pid 2>/dev/null' EXIT

work="$root/build/screenshot-package"
out="$root/build/screenshots"
rm -rf "$work" "$out"; mkdir -p "$work" "$out"
sed -e 's/"DefaultLanguage": [0-9]*/"DefaultLanguage": 0/' -e 's/"ShowLicence": [0-9]*/"ShowLicence": 1/' \
    -e 's/"SkipServerAddress": [0-9]*/"SkipServerAddress": 0/' -e 's/"RunOnFinish": [0-9]*/"RunOnFinish": 1/' \
    "$root/tools/sample/manifest.json" >"$work/manifest.json"
"$root/build/native/bin/make_sample_files" "$work/files" --standins "$tree/bin/standins"
"$root/build/native/bin/mkpackage" build --manifest "$work/manifest.json" --files "$work/files" \
  --stub "$tree/bin/setup.exe" -o "$work/all_pages.exe"

# A virtual desktop draws the window frames (there is no window manager). It
# stays up while any program of the prefix runs (the install opens the spool
# folder hidden), so the script waits for the walker's last line instead.
log="$work/shots.log"
"$wine_run" explorer /desktop=shots,800x600 "$tree/bin/wizard_shots.exe" \
  "$work/all_pages.exe" "$work/bmp" >"$log" 2>&1 &
for _ in $(seq 600); do
  grep -q '^wizard_shots: ' "$log" 2>/dev/null && break
  sleep 0.5
done
tr -d '\r' <"$log"
grep -q '^wizard_shots: done' "$log" || { echo "screenshots: the wizard walk failed" >&2; exit 1; }
for bmp in "$work"/bmp/*.bmp; do
  convert "$bmp" "$out/$(basename "${bmp%.bmp}").png"
done
echo "screenshots: $(ls "$out" | wc -l) pages in $out"
