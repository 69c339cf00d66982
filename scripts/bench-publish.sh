#!/usr/bin/env bash
# Benchmark: `update-server publish` on one thread against its default (every
# core, within the memory budget), in alternating rounds of one run, on a
# mixed product of about 114 MB in 47 files (system libraries and documents,
# two large binaries, random data). Prints the medians, the ratio and the
# peak memory of each side, and checks that both publications are the same.
#   scripts/bench-publish.sh [rounds=3]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
rounds=${1:-3}
bash "$root/scripts/build.sh" native >/dev/null
[ -x /usr/bin/time ] || { echo "needs GNU time (/usr/bin/time)" >&2; exit 1; }
server="$root/build/native/bin/update-server"
work=$(mktemp -d "${BENCH_DIR:-/tmp}/bench-publish.XXXXXX")
trap 'rm -rf "$work"' EXIT
files="$work/files"
mkdir -p "$files/lib" "$files/doc" "$files/bin"
find /usr/lib -name '*.so*' -type f -readable -size +200k 2>/dev/null | LC_ALL=C sort | sed -n 1,30p |
  while IFS= read -r f; do cp "$f" "$files/lib/"; done
find /usr/share/doc -name copyright -type f -size +8k 2>/dev/null | LC_ALL=C sort | sed -n 1,12p |
  while IFS= read -r f; do cp "$f" "$files/doc/$(echo "$f" | tr / _)"; done
head -c $((30 << 20)) /dev/urandom > "$files/bin/random.bin"
for big in /usr/bin/*; do [ -f "$big" ] && [ "$(stat -c %s "$big")" -gt 4000000 ] && cp "$big" "$files/bin/" && break; done
i=0
while [ "$(du -sm "$files" | cut -f1)" -lt 110 ] && [ $i -lt 8 ]; do
  cat "$files"/lib/* | head -c $((12 << 20)) > "$files/bin/data$i.bin"; i=$((i + 1))
done
count=$(find "$files" -type f | wc -l)
size=$(du -sm "$files" | cut -f1)
cores=$(nproc)

run() {  # label, output, extra args
  local label=$1 out=$2; shift 2
  local start end
  rm -rf "$out"
  start=$(date +%s.%N)
  /usr/bin/time -f %M -o "$work/$label.rss" "$server" publish --files "$files" --version v1 --build 1 -o "$out" "$@" \
    > /dev/null 2>&1
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN {printf "%.3f\n", b - a}' >> "$work/$label.times"
  cat "$work/$label.rss" >> "$work/$label.peaks"
}
for r in $(seq 1 "$rounds"); do
  run one "$work/one" --threads 1
  run all "$work/all"
done
diff -r "$work/one" "$work/all" > /dev/null || { echo "the publications differ" >&2; exit 1; }
median() { sort -n "$1" | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
one=$(median "$work/one.times"); all=$(median "$work/all.times")
printf 'product: %d files, %d MB; %d cores; %d rounds (medians)\n' "$count" "$size" "$cores" "$rounds"
printf 'publish, one thread:   %6.2f s, peak %d MB\n' "$one" $(( $(sort -n "$work/one.peaks" | tail -1) / 1024 ))
printf 'publish, every core:   %6.2f s, peak %d MB\n' "$all" $(( $(sort -n "$work/all.peaks" | tail -1) / 1024 ))
awk -v a="$all" -v o="$one" \
  'BEGIN {printf "ratio: %.2fx the one-thread time (goal: at most 0.60x on 2 cores); publications identical\n", a / o}'
