#!/usr/bin/env bash
# Bootstraps, builds both trees and runs the tests.
#   scripts/test.sh            every tier, the sanitizer tree last
#   scripts/test.sh native     one tier: native, wine, e2e or sanitize
#   scripts/test.sh wine -R startup   extra arguments go to ctest
#   scripts/test.sh sanitize   the native tests built with ASan and UBSan
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tier=${1:-all}; shift || true

bash "$root/scripts/bootstrap.sh"
if [ "$tier" = sanitize ]; then bash "$root/scripts/build.sh" sanitize; else bash "$root/scripts/build.sh"; fi
source "$root/scripts/xvfb.sh"

status=0
run() {  # tree, label, extra ctest arguments...
  local tree=$1 label=$2; shift 2
  local args=(--test-dir "$root/build/$tree" --output-on-failure --no-tests=error)
  [ "$label" = all ] || args+=(-L "^$label\$")
  ctest "${args[@]}" "$@" || status=1
}
case "$tier" in
  native) run native native "$@" ;;
  sanitize) run sanitize sanitize "$@" ;;
  wine)   run windows wine "$@" ;;
  e2e)    run windows e2e "$@" ;;
  all)    run native all "$@"; run windows all "$@"
          bash "$root/scripts/build.sh" sanitize
          run sanitize sanitize "$@" ;;
  *) echo "unknown tier: $tier (native, sanitize, wine, e2e)" >&2; exit 2 ;;
esac
exit $status
