#!/usr/bin/env bash
# Configures and builds both trees: build/native and build/windows.
#   scripts/build.sh [native|windows|all]
#   scripts/build.sh sanitize   the native tree with ASan and UBSan: build/sanitize
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
which=${1:-all}
jobs=$(nproc)

configure() {  # dir, extra cmake args...
  local dir=$1; shift
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S "$root" -B "$dir" -G Ninja "$@" >/dev/null
  fi
}

if [ "$which" = all ] || [ "$which" = native ]; then
  configure "$root/build/native" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVC_WINDOWS_BUILD_DIR="$root/build/windows"
  cmake --build "$root/build/native" -j "$jobs"
fi
if [ "$which" = sanitize ]; then
  configure "$root/build/sanitize" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVC_SANITIZE=ON
  cmake --build "$root/build/sanitize" -j "$jobs"
fi
if [ "$which" = all ] || [ "$which" = windows ]; then
  configure "$root/build/windows" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake"
  cmake --build "$root/build/windows" -j "$jobs"
fi
