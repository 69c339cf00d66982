#!/usr/bin/env bash
# Installs everything the build and the tests need. Idempotent: on a ready
# machine it only checks and returns within seconds.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
deps=${VC_DEPS_DIR:-$root/build/deps}

# Two Windows trees: the product (i686) and the same sources for x86_64, which
# runs the Windows tests under 64-bit Wine. 32-bit Wine only where the kernel
# executes 32-bit programs (scripts/can_run_32bit.sh).
packages=(
  build-essential cmake ninja-build pkg-config dpkg-dev xz-utils bc
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  liblzma-dev zlib1g-dev libgcrypt20-dev libasio-dev nlohmann-json3-dev
  googletest libgtest-dev
  libz-mingw-w64-dev
  openssl osslsigncode icoutils
  wine wine64 xvfb xauth x11-utils xdotool imagemagick fonts-wqy-zenhei
  liblnk-utils
  curl python3  # the relayed online-install benchmark: its baseline
)
if bash "$root/scripts/can_run_32bit.sh"; then
  run32=1; packages+=(wine32:i386)
else
  run32=0
fi

suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")

log() { printf 'bootstrap: %s\n' "$*"; }

need_root() {
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null; then SUDO=sudo; else
      log "missing packages and not root: $*"; exit 1; fi
  else SUDO=; fi
}

# apt-get update, retried: an archive being synced fails single index files for a
# while; after the last attempt go on with whatever lists were fetched.
apt_update() {  # apt-get command words...
  local attempt
  for attempt in 1 2 3; do
    "$@" update -qq && return 0
    log "apt-get update failed (attempt $attempt of 3)"
    [ "$attempt" -lt 3 ] && sleep $((attempt * 15))
  done
  log "going on with the package lists apt-get could fetch"
}

missing=()
if [ "$run32" = 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  need_root i386
  log "adding the i386 architecture"
  $SUDO dpkg --add-architecture i386
  missing=("${packages[@]}")
else
  for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${db:Status-Abbrev}' "$p" 2>/dev/null || true)
    [ "${status:0:2}" = "ii" ] || missing+=("$p")
  done
fi

if [ ${#missing[@]} -gt 0 ]; then
  need_root "${missing[@]}"
  log "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt_update $SUDO apt-get
  if ! $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null; then
    # One architecture's index of an update suite may be missing (see above), so
    # the two architectures' candidates of a shared library disagree: take the
    # candidates from the release suite, which both architectures carry.
    log "installing again with the candidates of $suite"
    $SUDO apt-get install -y -qq --no-install-recommends -t "$suite" "${missing[@]}" >/dev/null
  fi
fi

# Debian source packages are fetched through a private source list made from
# the machine's own archive (its mirror and suite), so the system's apt
# configuration stays untouched.
fetch_source() {  # package, work folder: unpacks the source there, prints its folder
  local package=$1 work=$2
  rm -rf "$work"; mkdir -p "$work/lists/partial" "$work/cache/archives/partial"
  bash "$root/scripts/deb_src_lines.sh" "$suite" > "$work/sources.list"
  [ -s "$work/sources.list" ] || { log "no apt source for $suite in /etc/apt to fetch $package from"; exit 1; }
  local apt_opts=(-o Dir::Etc::SourceList="$work/sources.list" -o Dir::Etc::SourceParts=-
                  -o Dir::State::Lists="$work/lists" -o Dir::Cache="$work/cache"
                  -o APT::Sandbox::User=root)
  apt_update apt-get "${apt_opts[@]}" >&2
  (cd "$work" && apt-get "${apt_opts[@]}" source -qq "$package" >/dev/null 2>&1)
  local src
  src=$(find "$work" -maxdepth 1 -mindepth 1 -type d -name "$package-*" | head -n 1)
  [ -n "$src" ] || { log "$package source not unpacked"; exit 1; }
  echo "$src"
}

# liblzma for both Windows trees, from Debian's own xz-utils source package.
build_xz() {  # toolchain file, install prefix, source folder, build folder
  local toolchain=$1 prefix=$2 src=$3 build=$4
  rm -rf "$build"
  cmake -S "$src" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
  cmake --build "$build" --target liblzma >/dev/null
  cmake --install "$build" --component liblzma_Development >/dev/null 2>&1 \
    || cmake --install "$build" >/dev/null 2>&1 || true
  if [ ! -f "$prefix/lib/liblzma.a" ]; then
    mkdir -p "$prefix/lib" "$prefix/include"
    cp "$build/liblzma.a" "$prefix/lib/"
    cp -r "$src/src/liblzma/api/"* "$prefix/include/"
  fi
}
xz_targets=()
[ -f "$deps/mingw-xz/lib/liblzma.a" ] || xz_targets+=("mingw-i686.cmake:$deps/mingw-xz")
[ -f "$deps/mingw64-xz/lib/liblzma.a" ] || xz_targets+=("mingw-x86_64.cmake:$deps/mingw64-xz")
if [ ${#xz_targets[@]} -gt 0 ]; then
  work=$deps/xz-src
  src=$(fetch_source xz-utils "$work")
  for target in "${xz_targets[@]}"; do
    log "building liblzma for Windows (${target%%.cmake:*})"
    build_xz "$root/cmake/${target%%:*}" "${target#*:}" "$src" "$work/build"
  done
  rm -rf "$work"
fi

log "ready"
