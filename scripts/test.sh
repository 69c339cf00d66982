#!/usr/bin/env bash
# Bootstraps, builds both trees and runs the tests.
#   scripts/test.sh            every tier
#   scripts/test.sh native     one tier: native, wine or e2e
#   scripts/test.sh wine -R startup   extra arguments go to ctest
#   scripts/test.sh sanitize   the native tests built with ASan and UBSan
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tier=${1:-all}; shift || true

bash "$root/scripts/bootstrap.sh"
if [ "$tier" = sanitize ]; then bash "$root/scripts/build.sh" sanitize; else bash "$root/scripts/build.sh"; fi
source "$root/scripts/xvfb.sh"

status=0
run() {  # tree, label
  local args=(--test-dir "$root/build/$1" --output-on-failure --no-tests=error)
  [ "$2" = all ] || args+=(-L "^$2\$")
  ctest "${args[@]}" "$@" || status=1
}
case "$tier" in
  native) run native native "$@" ;;
  sanitize) run sanitize sanitize "$@" ;;
  wine)   run windows wine "$@" ;;
  e2e)    run windows e2e "$@" ;;
  all)    run native all "$@"; run windows all "$@" ;;
  *) echo "unknown tier: $tier (native, sanitize, wine, e2e)" >&2; exit 2 ;;
esac
exit $status
