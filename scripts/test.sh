#!/usr/bin/env bash
# Bootstraps, builds what the tier needs and runs the tests.
#   scripts/test.sh            every tier, the sanitizer tree last
#   scripts/test.sh TIER       one tier: native, pe, wine, e2e or sanitize
#   scripts/test.sh wine -R startup   extra arguments go to ctest
# The wine and e2e tiers run on build/win64 under 64-bit Wine, and on
# build/windows (the 32-bit product) under 32-bit Wine where this machine can
# execute 32-bit programs; wine64, wine32, e2e64 and e2e32 pick one tree.
# The pe tier checks the built Windows programs without running them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tier=${1:-all}; shift || true
case "$tier" in
  all|native|pe|wine|e2e|wine32|wine64|e2e32|e2e64|sanitize) ;;
  *) echo "unknown tier: $tier (native, pe, wine, e2e, wine32, wine64, e2e32, e2e64, sanitize)" >&2; exit 2 ;;
esac

bash "$root/scripts/bootstrap.sh"
run32=1; why32=$(bash "$root/scripts/can_run_32bit.sh" -v) || run32=0

# The trees a tier needs (the online e2e tests serve from the native tree).
trees=()
case "$tier" in
  all) trees=(native windows win64) ;;
  native) trees=(native) ;;
  pe) trees=(windows win64) ;;
  wine64|e2e64) trees=(native win64) ;;
  wine32|e2e32) trees=(native windows) ;;
  wine|e2e) trees=(native win64); [ "$run32" = 0 ] || trees+=(windows) ;;
esac
for tree in "${trees[@]}"; do bash "$root/scripts/build.sh" "$tree"; done
source "$root/scripts/xvfb.sh"

status=0
summary=()
run() {  # tree, label regex, extra ctest arguments...
  local tree=$1 label=$2; shift 2
  local args=(--test-dir "$root/build/$tree" --output-on-failure --no-tests=error)
  [ "$label" = all ] || args+=(-L "$label")
  if ctest "${args[@]}" "$@"; then summary+=("passed   build/$tree $label")
  else status=1; summary+=("FAILED   build/$tree $label"); fi
}
# The 32-bit run-time tiers: run, or said to be skipped (and why), never passed.
run32() {  # label regex, extra ctest arguments...
  if [ "$run32" = 1 ]; then run windows "$@"; return; fi
  local tiers=${1//[\^\$()]/}; tiers=${tiers//|/ and }
  echo "test.sh: SKIPPED the $tiers tiers of build/windows (32-bit Wine): $why32"
  summary+=("SKIPPED  build/windows $1 ($why32)")
  [ "$tier" = all ] || [ "$tier" = wine ] || [ "$tier" = e2e ] || status=1
}
case "$tier" in
  native) run native '^native$' "$@" ;;
  sanitize) bash "$root/scripts/build.sh" sanitize; run sanitize '^sanitize$' "$@" ;;
  pe) run windows '^pe$' "$@"; run win64 '^pe$' "$@" ;;
  wine|e2e) run win64 "^$tier\$" "$@"; run32 "^$tier\$" "$@" ;;
  wine64|e2e64) run win64 "^${tier%64}\$" "$@" ;;
  wine32|e2e32) run32 "^${tier%32}\$" "$@" ;;
  all) run native '^native$' "$@"
       run windows '^pe$' "$@"; run win64 '^pe$' "$@"
       run win64 '^(wine|e2e)$' "$@"
       run32 '^(wine|e2e)$' "$@"
       bash "$root/scripts/build.sh" sanitize
       run sanitize '^sanitize$' "$@" ;;
esac
echo "test.sh: summary"
printf '  %s\n' "${summary[@]}"
exit $status
