#!/usr/bin/env bash
# Benchmark: a product of many small text files (FILES of about 4.4 KB in 200
# folders of 10 subfolders), packed, installed driven and through the wizard,
# and removed completely and partly under Wine, each phase next to the file
# system's own floor in the same prefix: Wine's `xcopy /E` of the same tree
# and `rmdir /s /q` of the copy. Peak memory of the setup process alongside.
#   scripts/bench-many-files.sh [files=20000]
# Runs the 64-bit tree; BENCH_TREE=windows runs the 32-bit tree instead
# (only where this machine runs 32-bit programs).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
count=${1:-20000}
tree=${BENCH_TREE:-win64}
if [ "$tree" = windows ] && ! bash "$root/scripts/can_run_32bit.sh"; then
  echo "this machine cannot run 32-bit programs: use the 64-bit tree" >&2
  exit 1
fi
bash "$root/scripts/build.sh" native >/dev/null
bash "$root/scripts/build.sh" "$tree" >/dev/null
[ -n "${DISPLAY:-}" ] || { source "$root/scripts/xvfb.sh"; }

bin="$root/build/$tree/bin"
wine_run="$root/build/$tree/run-in-wine.sh"
"$wine_run" --init
drive_c=$("$wine_run" --prefix)/drive_c
work=$(mktemp -d "$drive_c/bench-many.XXXXXX")
# With no window manager (Xvfb) Wine waits a second or two for one whenever a
# top-level window is hidden: 4 s of every wizard run here, none on a desktop.
# The prefix's windows are unmanaged while the benchmark runs.
x11='HKCU\Software\Wine\X11 Driver'
managed_was=$("$wine_run" reg.exe query "$x11" /v Managed 2>/dev/null | tr -d '\r' | awk '$1 == "Managed" { print $3 }' || true)
"$wine_run" reg.exe add "$x11" /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
restore_managed() {
  if [ -n "$managed_was" ]; then
    "$wine_run" reg.exe add "$x11" /v Managed /t REG_SZ /d "$managed_was" /f
  else
    "$wine_run" reg.exe delete "$x11" /v Managed /f
  fi >/dev/null 2>&1
}
trap 'restore_managed; [ -n "${BENCH_KEEP:-}" ] || chmod -R u+w "$work" 2>/dev/null; [ -n "${BENCH_KEEP:-}" ] || rm -rf "$work"' EXIT
win_work="C:\\$(basename "$work")"

# The product: numbered text files with varied lines, so that they compress
# as real text does.
files="$work/files"
awk -v n="$count" -v out="$files" 'BEGIN {
  srand(7)
  split("session server client video audio frame codec packet buffer window config module", w, " ")
  per = int((n + 1999) / 2000)
  for (i = 0; i < n; ++i) {
    d = int(i / per)
    dir = sprintf("%s/d%03d/s%d", out, int(d / 10), d % 10)
    if (i % per == 0) system("mkdir -p " dir)
    f = sprintf("%s/f%05d.txt", dir, i)
    for (l = 0; l < 70; ++l) {
      line = sprintf("%05d %02d", i, l)
      for (k = 0; k < 8; ++k) line = line " " w[int(rand() * 12) + 1] int(rand() * 1000)
      print line > f
    }
    close(f)
  }
}'
total=$(du -sb "$files" | cut -f1)
# With the sample product's files and stand-in components, so that the install
# runs every step of a client install and ends without a failure.
"$root/build/native/bin/make_sample_files" "$files" --standins "$bin/standins" >/dev/null
sample_count=$(($(find "$files" -type f | wc -l) - count))
jq '.ProductID = "{0F5E7C4B-6B3A-4C1E-9D2A-7E81B5C3D940}"' "$root/tools/sample/manifest.json" > "$work/manifest.json"

now() { date +%s%N; }
timed_wine() {  # name command... (timed and checked)
  local name=$1; shift
  local t0; t0=$(now)
  "$@" >"$work/$name.log" 2>&1 || { echo "failed: $name" >&2; cat "$work/$name.log" >&2; exit 1; }
  echo $((($(now) - t0) / 1000000)) >"$work/$name.ms"
}
ms() { cat "$work/$1.ms"; }

# Peak resident memory (MB) of the Wine processes named $1 while the rest runs.
peak=0
watch_peak() {  # name command...
  local name=$1; shift
  "$@" & local pid=$!
  local kb p
  peak=0
  while kill -0 "$pid" 2>/dev/null; do
    for p in $(pgrep -f "$name" || true); do
      kb=$(awk '/VmHWM/ { print $2 }' "/proc/$p/status" 2>/dev/null || echo 0)
      [ "${kb:-0}" -gt "$peak" ] && peak=$kb
    done
    sleep 0.2
  done
  wait "$pid"
}

t0=$(now)
"$root/build/native/bin/mkpackage" build --manifest "$work/manifest.json" --files "$files" \
  --stub "$bin/setup.exe" -o "$work/many.exe" >"$work/pack.log" 2>&1 || { cat "$work/pack.log" >&2; exit 1; }
echo $((($(now) - t0) / 1000000)) >"$work/pack.ms"

timed_wine xcopy "$wine_run" xcopy.exe /E /I /Q /Y "$win_work\\files" "$win_work\\xcopy"
timed_wine rmdir "$wine_run" cmd.exe /c rmdir /s /q "$win_work\\xcopy"

watch_peak "^\S*many\.exe" timed_wine driven "$wine_run" "$bin/setup_controller.exe" "$work/many.exe" -en "$win_work\\driven"
peak_driven=$peak
# Every text file arrives; of the sample's, components already in the system
# folder are taken from there instead (the prefix may hold them from tests).
complete() { [ "$(find "$1" -path '*/d[0-9]*' -name 'f*.txt' -type f | wc -l)" -eq "$count" ] && grep -q '^0x00000' "$2"; }
complete "$work/driven" "$work/driven.log" || { echo "driven install incomplete" >&2; exit 1; }
mkdir -p "$work/tmp"
cp "$work/driven/uninstall.exe" "$work/tmp/uninstall.exe"
watch_peak "^\S*tmp/uninstall\.exe" timed_wine remove "$wine_run" "$bin/wizard_run.exe" uninstall "$work/tmp/uninstall.exe" "$win_work\\driven"
peak_remove=$peak
[ ! -e "$work/driven" ] || { echo "complete removal left the folder" >&2; exit 1; }

watch_peak "^\S*many\.exe" timed_wine wizard "$wine_run" "$bin/wizard_run.exe" install "$work/many.exe" "$win_work\\wizard"
peak_wizard=$peak
[ "$(find "$work/wizard" -path '*/d[0-9]*' -name 'f*.txt' -type f | wc -l)" -eq "$count" ] ||
  { echo "wizard install incomplete" >&2; exit 1; }
cp -f "$work/wizard/uninstall.exe" "$work/tmp/uninstall.exe"
timed_wine partial "$wine_run" "$bin/wizard_run.exe" partial "$work/tmp/uninstall.exe" "$win_work\\wizard"
[ ! -e "$work/wizard" ] || { echo "partial removal left files: $(find "$work/wizard" | head -3)" >&2; exit 1; }

ratio() { echo "scale=2; $1 / $2" | bc -l | sed 's/^\./0./'; }
# wizard_run's figures: the time to the first page and the run's own time.
part() { tr -d '\r' <"$work/$1.log" | awk -v k="$2" '$1 == k { print $2 }'; }
detail() { printf '(first page after %d ms, run %d ms)' "$(part "$1" ready)" "$(part "$1" run)"; }
echo "machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg); tree: $tree"
printf 'product: %d text files and the sample'"'"'s %d, %d bytes; package %d bytes\n' "$count" "$sample_count" "$total" "$(stat -c %s "$work/many.exe")"
printf '  pack (mkpackage build)       %7d ms\n' "$(ms pack)"
printf '  xcopy /E                      %7d ms\n' "$(ms xcopy)"
printf '  driven install                %7d ms  %s x xcopy (goal <= 1.5), peak %d MB\n' "$(ms driven)" \
  "$(ratio "$(ms driven)" "$(ms xcopy)")" $((peak_driven / 1024))
printf '  wizard install                %7d ms  %s x driven (goal <= 1.2), peak %d MB %s\n' "$(ms wizard)" \
  "$(ratio "$(ms wizard)" "$(ms driven)")" $((peak_wizard / 1024)) "$(detail wizard)"
printf '  rmdir /s /q                   %7d ms\n' "$(ms rmdir)"
printf '  complete removal (wizard)     %7d ms  %s x rmdir (goal <= 1.5), peak %d MB %s\n' "$(ms remove)" \
  "$(ratio "$(ms remove)" "$(ms rmdir)")" $((peak_remove / 1024)) "$(detail remove)"
printf '  partial removal (wizard)      %7d ms  %s x rmdir %s\n' "$(ms partial)" "$(ratio "$(ms partial)" "$(ms rmdir)")" \
  "$(detail partial)"
echo "(wizard times include starting the program and clicking through its pages; removal includes its check"
echo " of every file for use before the page shows; windows unmanaged, as no window manager runs)"
echo "memory goal: under 64 MB for the setup process (Wine's own share included)"
