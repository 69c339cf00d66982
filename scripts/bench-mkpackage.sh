#!/usr/bin/env bash
# Benchmark: mkpackage build against `xz -9 --format=lzma` of the same files
# one by one, on the same machine in one run. Prints time and size of both.
#   scripts/bench-mkpackage.sh [MB]    (default 200 MB of mixed files)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
mb=${1:-200}
bash "$root/scripts/build.sh" native >/dev/null
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
"$root/build/native/bin/make_sample_files" "$work/files" --scale "$mb"
stub="$root/build/windows/bin/setup.exe"
[ -f "$stub" ] || bash "$root/scripts/build.sh" windows >/dev/null
total=$(du -sb "$work/files" | cut -f1)

start=$(date +%s.%N)
"$root/build/native/bin/mkpackage" build --manifest "$root/tools/sample/manifest.json" \
  --files "$work/files" --stub "$stub" -o "$work/package.exe" >/dev/null 2>&1
ours=$(echo "$(date +%s.%N) - $start" | bc)
ours_size=$(( $(stat -c %s "$work/package.exe") - $(stat -c %s "$stub") ))

start=$(date +%s.%N)
find "$work/files" -type f -print0 | while IFS= read -r -d '' f; do
  xz -9 --format=lzma -k -c "$f" > "$f.lzma"
done
base=$(echo "$(date +%s.%N) - $start" | bc)
base_size=$(find "$work/files" -name '*.lzma' -print0 | du -cb --files0-from=- | tail -n1 | cut -f1)

printf 'input:     %d bytes in %d files\n' "$total" "$(find "$work/files" -type f ! -name '*.lzma' | wc -l)"
printf 'mkpackage: %6.1f s, %d bytes (header and payload)\n' "$ours" "$ours_size"
printf 'xz -9:     %6.1f s, %d bytes (streams only)\n' "$base" "$base_size"
printf 'speed-up:  %.2fx   size: %+.2f%%\n' "$(echo "$base / $ours" | bc -l)" \
  "$(echo "($ours_size - $base_size) * 100 / $base_size" | bc -l)"
