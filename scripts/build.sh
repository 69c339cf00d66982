#!/usr/bin/env bash
# Configures and builds the trees:
#   build/native    host compiler: portable libraries, host tools, native tests
#   build/windows   MinGW-w64 i686: the product's setup.exe and its Windows tests
#   build/win64     MinGW-w64 x86_64: the same sources, for 64-bit Wine
#   scripts/build.sh [native|windows|win64|all]   all: the three above
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
wanted() { [ "$which" = all ] || [ "$which" = "$1" ]; }

if wanted native; then
  configure "$root/build/native" -DCMAKE_BUILD_TYPE=RelWithDebInfo
  cmake --build "$root/build/native" -j "$jobs"
fi
if [ "$which" = sanitize ]; then
  configure "$root/build/sanitize" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVC_SANITIZE=ON
  cmake --build "$root/build/sanitize" -j "$jobs"
fi
if wanted windows; then
  configure "$root/build/windows" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake"
  cmake --build "$root/build/windows" -j "$jobs"
fi
if wanted win64; then
  configure "$root/build/win64" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake"
  cmake --build "$root/build/win64" -j "$jobs"
fi
case "$which" in native|windows|win64|all|sanitize) ;;
  *) echo "unknown tree: $which (native, windows, win64, all, sanitize)" >&2; exit 2 ;; esac
