#!/usr/bin/env bash
# Benchmark: mkpackage against makensis (non-solid LZMA, 16 MiB dictionary)
# and `xz -9 --format=lzma` file by file, in one run with alternating rounds,
# on a mixed payload made from files already on this machine plus random
# data. Then, where this machine runs 32-bit programs, the driven install
# under Wine of both packages (the peer's installer is a 32-bit program);
# elsewhere `mkpackage extract` against `7z x` of the peer's package and
# `mkpackage verify` against `xz -d` of our package's LZMA streams. Last, the
# peak memory of packing, verifying and installing (or extracting) one 1 GB file.
#   scripts/bench-mkpackage.sh [rounds=3] [level]
# Installs Debian's nsis package (makensis) and, for `7z x`, 7zip when missing.
# BENCH_BIG=0 skips the 1 GB part; BENCH_2GB=1 adds packing a 2 GB product;
# BENCH_QUICK=1 packs only the sample product's files and BENCH_BIG_MB=N makes
# the big file N MB (to try the script); BENCH_MEMORY=SIZE packs with
# `--memory SIZE` instead of the default budget.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
rounds=${1:-3}
level=${2:-}
# The 32-bit tree only where its programs can run; elsewhere the 64-bit one
# gives the setup program and stand-ins that are packed but never run.
if bash "$root/scripts/can_run_32bit.sh"; then
  run32=1 tree=windows
  bash "$root/scripts/build.sh" >/dev/null
else
  run32=0 tree=win64
  bash "$root/scripts/build.sh" native >/dev/null
  bash "$root/scripts/build.sh" win64 >/dev/null
fi

need_package() {  # command, Debian package
  command -v "$1" >/dev/null && return
  local sudo=; [ "$(id -u)" -eq 0 ] || sudo=sudo
  echo "installing $2 ($1) for the comparison" >&2
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "$2" >/dev/null
}
need_package makensis nsis
[ -x /usr/bin/time ] || { echo "needs GNU time (/usr/bin/time)" >&2; exit 1; }
if [ "$run32" = 0 ]; then
  command -v 7z >/dev/null || need_package 7zz 7zip
  sevenz=$(command -v 7z || command -v 7zz)
fi

work=$(mktemp -d "${BENCH_DIR:-/tmp}/bench-mkpackage.XXXXXX")
wine_run="$root/build/windows/run-in-wine.sh"
if [ "$run32" = 1 ]; then
  trap '"$wine_run" --stop >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
else
  trap 'rm -rf "$work"' EXIT
fi
mkp="$root/build/native/bin/mkpackage"
stub="$root/build/$tree/bin/setup.exe"
files="$work/files"
mkdir -p "$files/doc" "$files/lib" "$files/fonts" "$files/bin" "$files/media"

# The mixed payload: documents, libraries, fonts, two large binaries, random data.
pick() {  # destination, count, find arguments...
  local dest=$1 count=$2; shift 2
  # sed reads to the end: head's early exit would fail the pipeline (pipefail).
  find "$@" -type f -readable 2>/dev/null | LC_ALL=C sort | sed -n "1,${count}p" |
    while IFS= read -r f; do cp "$f" "$dest/$(echo "$f" | tr / _ | sed 's/^_//')"; done
}
if [ "${BENCH_QUICK:-0}" != 1 ]; then
  pick "$files/doc" 12 /usr/share/doc -name 'copyright' -size +8k
  pick "$files/doc" 4 /usr/share/common-licenses -size +10k
  pick "$files/lib" 12 /usr/lib/x86_64-linux-gnu -maxdepth 1 -name '*.so*' -size +500k -size -4M
  pick "$files/fonts" 6 /usr/share/fonts -name '*.tt[fc]' -size +1M
  find /usr/lib /usr/bin -type f -size +12M -size -40M -readable 2>/dev/null | LC_ALL=C sort | sed -n 1,2p |
    while IFS= read -r f; do cp "$f" "$files/bin/$(basename "$f")"; done
  head -c $((12 << 20)) /dev/urandom > "$files/media/clip1.bin"
  head -c $((8 << 20)) /dev/urandom > "$files/media/clip2.bin"
fi
# The sample product's own files and stand-in components, so that our
# install runs every step of a client install and ends without a failure.
add_sample_files() {  # folder
  "$root/build/native/bin/make_sample_files" "$work/sample" --standins "$root/build/$tree/bin/standins" >/dev/null
  cp -r "$work/sample/." "$1/"
  rm -rf "$work/sample"
}
add_sample_files "$files"
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
  /usr/bin/time -f "$label %e %M" -a -o "$work/times" "$@" >/dev/null 2>"$work/$label.err" ||
    { cat "$work/$label.err" >&2; exit 1; }
}
xz_all() {
  find "$files" -type f -print0 | LC_ALL=C sort -z | while IFS= read -r -d '' f; do
    xz -9 --format=lzma -k -c "$f" > "$work/xz/$(basename "$f").lzma"
  done
}
level_args=(); [ -z "$level" ] || level_args=(--level "$level")
[ -z "${BENCH_MEMORY:-}" ] || level_args+=(--memory "$BENCH_MEMORY")
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
printf '  mkpackage%s %s, package %d bytes (stub %d)\n' "${level_args[*]:+ ${level_args[*]}}" "$(stat_of mkpackage)" "$ours" "$(stat -c %s "$stub")"
printf '    (%s)\n' "$(grep -o 'at most.*budget' "$work/mkpackage.err")"
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

if [ "$run32" = 1 ]; then
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
else
  echo "no driven installs: $(bash "$root/scripts/can_run_32bit.sh" -v), and the NSIS-style installer is one;"
  echo "instead, unpacking and decoding, $rounds alternating rounds:"
  # Our package's LZMA streams as .lzma files (stored ones left out).
  lzma_streams() {  # package, folder
    mkdir -p "$2"
    python3 - "$1" "$2" "$("$mkp" info "$1" | awk '/^payload offset:/ { print $3 }')" <<'EOF'
import struct, sys
package, folder, offset = sys.argv[1], sys.argv[2], int(sys.argv[3])
with open(package, "rb") as f:
    f.seek(offset)
    count = struct.unpack("<i", f.read(4))[0]
    f.seek(200, 1)
    for i in range(count):
        f.seek(520, 1)
        length = struct.unpack("<i", f.read(4))[0]
        stream = f.read(length)
        if length >= 13 and stream[12] != 1:
            with open("%s/%05d.lzma" % (folder, i), "wb") as out:
                out.write(stream)
EOF
  }
  lzma_streams "$work/ours.exe" "$work/streams"
  for ((r = 1; r <= rounds; r++)); do
    rm -rf "$work/x-ours" "$work/x-7z"
    measure extract-ours "$mkp" extract "$work/ours.exe" "$work/x-ours"
    measure extract-7z "$sevenz" x -y -o"$work/x-7z" "$work/nsis.exe"
    measure verify-ours "$mkp" verify "$work/ours.exe"
    measure xz-d bash -c "xz -d -c --format=lzma '$work/streams'/*.lzma >/dev/null"
  done
  diff -r "$files" "$work/x-ours" >/dev/null || { echo "mkpackage extract differs from the payload" >&2; exit 1; }
  # 7-Zip writes the installer's files at the top, or under $INSTDIR when the script names other folders.
  x7z=$work/x-7z; [ ! -d "$x7z/\$INSTDIR" ] || x7z=$x7z/\$INSTDIR
  diff -r "$files" "$x7z" >/dev/null || { echo "7z x differs from the payload" >&2; exit 1; }
  printf '  mkpackage extract   %s\n' "$(stat_of extract-ours)"
  printf '  7z x (NSIS package) %s\n' "$(stat_of extract-7z)"
  printf '  extract time %.2f x 7z x (goal <= 0.8); both hold the payload\n' \
    "$(echo "$(median extract-ours) / $(median extract-7z)" | bc -l)"
  printf '  mkpackage verify    %s\n' "$(stat_of verify-ours)"
  printf '  xz -d               %s (the same %d LZMA streams, one process)\n' "$(stat_of xz-d)" \
    "$(find "$work/streams" -name '*.lzma' | wc -l)"
  printf '  verify time %.2f x xz -d\n' "$(echo "$(median verify-ours) / $(median xz-d)" | bc -l)"
  rm -rf "$work/x-ours" "$work/x-7z" "$work/streams"
fi

if [ "${BENCH_BIG:-1}" = 1 ]; then
  echo "one file of ${BENCH_BIG_MB:-1000} MB (a log-like text):"
  rm -rf "$work/xz" "$files"
  mkdir -p "$work/big"
  python3 - "$work/big/big.bin" "${BENCH_BIG_MB:-1000}" <<'EOF'
import sys
text = b"".join(b"%08d frame header, timestamp, payload\n" % i for i in range(80000))
with open(sys.argv[1], "wb") as f:
    for i in range(int(sys.argv[2])):
        start = (i * 40961) % (len(text) // 2)
        f.write(text[start:start + (1 << 20)])
EOF
  add_sample_files "$work/big"
  measure pack-1g "$mkp" build --manifest "$root/tools/sample/manifest.json" --files "$work/big" \
    --stub "$stub" -o "$work/big.exe" "${level_args[@]}"
  measure verify-1g "$mkp" verify "$work/big.exe"
  budget() { grep -o 'at most.*budget' "$work/$1.err"; }  # label of a build
  printf '  mkpackage build   %s (goal: within the budget; %s)\n' "$(stat_of pack-1g)" "$(budget pack-1g)"
  printf '  mkpackage verify  %s (goal < 100 MB)\n' "$(stat_of verify-1g)"
  printf '  package %d bytes\n' "$(stat -c %s "$work/big.exe")"
  if [ "$run32" = 1 ]; then
    rm -rf "$drive_c/BenchBig"
    peak=$(peak_of_wine_process big.exe "$wine_run" "$root/build/windows/bin/setup_controller.exe" "$work/big.exe" -en 'C:\BenchBig')
    cmp "$work/big/big.bin" "$drive_c/BenchBig/big.bin"
    printf '  driven install: setup process peak %d MB (goal < 64 MB), file identical\n' "$peak"
    rm -rf "$drive_c/BenchBig"
  else
    measure extract-1g "$mkp" extract "$work/big.exe" "$work/x-big"
    cmp "$work/big/big.bin" "$work/x-big/big.bin"
    printf '  mkpackage extract %s (goal < 100 MB), file identical\n' "$(stat_of extract-1g)"
    rm -rf "$work/x-big"
  fi
  rm -f "$work/big.exe"
  if [ "${BENCH_2GB:-0}" = 1 ]; then
    cp "$work/big/big.bin" "$work/big/big2.bin"
    measure pack-2g "$mkp" build --manifest "$root/tools/sample/manifest.json" --files "$work/big" \
      --stub "$stub" -o "$work/big.exe" "${level_args[@]}"
    printf '  2 GB product (two such files): mkpackage build %s\n    (goal: within the budget; %s)\n' \
      "$(stat_of pack-2g)" "$(budget pack-2g)"
  fi
fi
