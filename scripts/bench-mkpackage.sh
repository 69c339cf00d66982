#!/usr/bin/env bash
# Benchmark: mkpackage against makensis (non-solid LZMA, 16 MiB dictionary)
# and `xz -9 --format=lzma` file by file, in one run with alternating rounds,
# on a mixed payload made from files already on this machine plus random
# data. Then the driven install under Wine of both packages, and the peak
# memory of packing, verifying and installing one 1 GB file.
#   scripts/bench-mkpackage.sh [rounds=3] [level]
# Installs Debian's nsis package (makensis) when it is missing.
# BENCH_BIG=0 skips the 1 GB part; BENCH_2GB=1 adds packing a 2 GB product;
# BENCH_QUICK=1 packs only the sample product's files (to try the script).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
rounds=${1:-3}
level=${2:-}
bash "$root/scripts/build.sh" >/dev/null

if ! command -v makensis >/dev/null; then
  sudo=; [ "$(id -u)" -eq 0 ] || sudo=sudo
  echo "installing nsis (makensis) for the comparison" >&2
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends nsis >/dev/null
fi
[ -x /usr/bin/time ] || { echo "needs GNU time (/usr/bin/time)" >&2; exit 1; }

work=$(mktemp -d "${BENCH_DIR:-/tmp}/bench-mkpackage.XXXXXX")
wine_run="$root/build/windows/run-in-wine.sh"
trap '"$wine_run" --stop >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
mkp="$root/build/native/bin/mkpackage"
stub="$root/build/windows/bin/setup.exe"
files="$work/files"
mkdir -p "$files/doc" "$files/lib" "$files/fonts" "$files/bin" "$files/media"

# The mixed payload: documents, libraries, fonts, two large binaries, random data.
pick() {  # destination, count, find arguments...
  local dest=$1 count=$2; shift 2
  find "$@" -type f -readable 2>/dev/null | LC_ALL=C sort | head -n "$count" |
    while IFS= read -r f; do cp "$f" "$dest/$(echo "$f" | tr / _ | sed 's/^_//')"; done
}
if [ "${BENCH_QUICK:-0}" != 1 ]; then
  pick "$files/doc" 12 /usr/share/doc -name 'copyright' -size +8k
  pick "$files/doc" 4 /usr/share/common-licenses -size +10k
  pick "$files/lib" 12 /usr/lib/x86_64-linux-gnu -maxdepth 1 -name '*.so*' -size +500k -size -4M
  pick "$files/fonts" 6 /usr/share/fonts -name '*.tt[fc]' -size +1M
  find /usr/lib /usr/bin -type f -size +12M -size -40M -readable 2>/dev/null | LC_ALL=C sort | head -n 2 |
    while IFS= read -r f; do cp "$f" "$files/bin/$(basename "$f")"; done
  head -c $((12 << 20)) /dev/urandom > "$files/media/clip1.bin"
  head -c $((8 << 20)) /dev/urandom > "$files/media/clip2.bin"
fi
# The sample product's own files and stand-in components, so that our
# install runs every step of a client install and ends without a failure.
"$root/build/native/bin/make_sample_files" "$work/sample" --standins "$root/build/windows/bin/standins" >/dev/null
cp -r "$work/sample/." "$files/"
rm -rf "$work/sample"
count=$(find "$files" -type f | wc -l)
total=$(du -sb "$files" | cut -f1)

cat > "$work/bench.nsi" <<EOF
Unicode true
SetCompressor /FINAL lzma
SetCompressorDictSize 16
Name "Bench"
OutFile "$work/nsis.exe"
InstallDir "\$PROGRAMFILES\\Bench"
RequestExecutionLevel user
Section
  SetOutPath "\$INSTDIR"
  File /r "$files/*.*"
SectionEnd
EOF

measure() {  # label, command...: appends "label seconds peakKB" to $work/times
  local label=$1; shift
  /usr/bin/time -f "$label %e %M" -a -o "$work/times" "$@" >/dev/null 2>"$work/last.err" ||
    { cat "$work/last.err" >&2; exit 1; }
}
xz_all() {
  find "$files" -type f -print0 | LC_ALL=C sort -z | while IFS= read -r -d '' f; do
    xz -9 --format=lzma -k -c "$f" > "$work/xz/$(basename "$f").lzma"
  done
}
level_args=(); [ -z "$level" ] || level_args=(--level "$level")
mkdir -p "$work/xz"
for ((r = 1; r <= rounds; r++)); do
  measure mkpackage "$mkp" build --manifest "$root/tools/sample/manifest.json" --files "$files" \
    --stub "$stub" -o "$work/ours.exe" "${level_args[@]}"
  measure makensis makensis -V1 "$work/bench.nsi"
  measure xz bash -c "$(declare -f xz_all); files='$files' work='$work' xz_all"
done
xz_size=$(du -cb "$work/xz"/*.lzma | tail -n1 | cut -f1)

stat_of() {  # label: "median seconds, peak MB" over the rounds
  sort -k2,2g "$work/times" | awk -v l="$1" '$1 == l { t[++n] = $2; if ($3 > m) m = $3 }
    END { printf "%6.1f s (median of %d: %s", t[int((n + 1) / 2)], n, t[1];
          for (i = 2; i <= n; i++) printf " %s", t[i]; printf "), peak %4.0f MB", m / 1024 }'
}
median() { sort -k2,2g "$work/times" | awk -v l="$1" '$1 == l { t[++n] = $2 } END { print t[int((n + 1) / 2)] }'; }

ours=$(stat -c %s "$work/ours.exe")
theirs=$(stat -c %s "$work/nsis.exe")
echo "machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg) (shared machine: other jobs run meanwhile)"
printf 'input: %d bytes in %d files (documents, libraries, fonts, two large binaries, 20 MiB random)\n' "$total" "$count"
echo "packing, $rounds alternating rounds:"
printf '  mkpackage%s %s, package %d bytes (stub %d)\n' "${level:+ --level $level}" "$(stat_of mkpackage)" "$ours" "$(stat -c %s "$stub")"
printf '  makensis   %s, package %d bytes\n' "$(stat_of makensis)" "$theirs"
printf '  xz -9      %s, streams %d bytes (one core, file by file)\n' "$(stat_of xz)" "$xz_size"
printf '  time %.2f x makensis (goal <= 0.5), %.2f x xz; size %+.2f %% against makensis (goal <= 0)\n' \
  "$(echo "$(median mkpackage) / $(median makensis)" | bc -l)" "$(echo "$(median mkpackage) / $(median xz)" | bc -l)" \
  "$(echo "($ours - $theirs) * 100 / $theirs" | bc -l)"

# Peak resident memory of a Wine process whose command line names $1, while
# the rest of the arguments run: printed in MB.
peak_of_wine_process() {
  local name=$1; shift
  "$@" >/dev/null 2>&1 & local pid=$!
  local peak=0 kb p
  while kill -0 "$pid" 2>/dev/null; do
    for p in $(pgrep -f "$name" || true); do
      [ "$p" = "$pid" ] && continue
      kb=$(awk '/VmHWM/ { print $2 }' "/proc/$p/status" 2>/dev/null || echo 0)
      [ "${kb:-0}" -gt "$peak" ] && peak=$kb
    done
    sleep 0.1
  done
  wait "$pid" || { echo "failed: $*" >&2; exit 1; }
  echo $((peak / 1024))
}

echo "driven install under Wine, $rounds alternating rounds:"
"$wine_run" --init
drive_c="$root/build/windows/wineprefix/drive_c"
for ((r = 1; r <= rounds; r++)); do
  rm -rf "$drive_c/BenchOurs" "$drive_c/BenchNsis"
  measure install-ours "$wine_run" "$root/build/windows/bin/setup_controller.exe" "$work/ours.exe" -en 'C:\BenchOurs'
  measure install-nsis "$wine_run" "$work/nsis.exe" /S '/D=C:\BenchNsis'
done
diff -r -x 'uninst*.exe' "$files" "$drive_c/BenchNsis" >/dev/null ||
  { echo "the NSIS-style install differs from the payload" >&2; exit 1; }
# Ours also configures the product (it rewrites its configuration files and
# moves a component into the system folder): compare the mixed files.
for sub in doc lib fonts bin media; do
  [ -n "$(ls -A "$files/$sub")" ] || continue
  diff -r "$files/$sub" "$drive_c/BenchOurs/$sub" >/dev/null ||
    { echo "our install differs from the payload in $sub" >&2; exit 1; }
done
printf '  mkpackage package %s (setup_controller start included)\n' "$(stat_of install-ours)"
printf '  NSIS package      %s (/S /D=...)\n' "$(stat_of install-nsis)"
printf '  install time %.2f x NSIS (goal <= 0.8); both installs hold the payload\n' \
  "$(echo "$(median install-ours) / $(median install-nsis)" | bc -l)"
rm -rf "$drive_c/BenchOurs" "$drive_c/BenchNsis"

if [ "${BENCH_BIG:-1}" = 1 ]; then
  echo "one 1 GB file (a log-like text):"
  rm -rf "$work/xz" "$files"
  mkdir -p "$work/big"
  python3 - "$work/big/big.bin" <<'EOF'
import sys
text = b"".join(b"%08d frame header, timestamp, payload\n" % i for i in range(80000))
with open(sys.argv[1], "wb") as f:
    for i in range(1000):
        start = (i * 40961) % (len(text) // 2)
        f.write(text[start:start + (1 << 20)])
EOF
  measure pack-1g "$mkp" build --manifest "$root/tools/sample/manifest.json" --files "$work/big" \
    --stub "$stub" -o "$work/big.exe" "${level_args[@]}"
  measure verify-1g "$mkp" verify "$work/big.exe"
  printf '  mkpackage build  %s (goal <= 300 MB)\n' "$(stat_of pack-1g)"
  printf '  mkpackage verify %s (goal <= 300 MB)\n' "$(stat_of verify-1g)"
  printf '  package %d bytes\n' "$(stat -c %s "$work/big.exe")"
  rm -rf "$drive_c/BenchBig"
  peak=$(peak_of_wine_process big.exe "$wine_run" "$root/build/windows/bin/setup_controller.exe" "$work/big.exe" -en 'C:\BenchBig')
  cmp "$work/big/big.bin" "$drive_c/BenchBig/big.bin"
  printf '  driven install: setup process peak %d MB (goal < 64 MB), file identical\n' "$peak"
  rm -rf "$drive_c/BenchBig" "$work/big.exe"
  if [ "${BENCH_2GB:-0}" = 1 ]; then
    cp "$work/big/big.bin" "$work/big/big2.bin"
    measure pack-2g "$mkp" build --manifest "$root/tools/sample/manifest.json" --files "$work/big" \
      --stub "$stub" -o "$work/big.exe" "${level_args[@]}"
    printf '  2 GB product (two such files): mkpackage build %s (goal <= 300 MB)\n' "$(stat_of pack-2g)"
  fi
fi
