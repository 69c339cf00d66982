#!/usr/bin/env bash
# deb_src_lines.sh turns the machine's apt sources (one-line and deb822) into
# deb-src lines for one suite; the bootstrap names no archive host itself.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
etc=$(mktemp -d)
trap 'rm -rf "$etc"' EXIT
mkdir -p "$etc/sources.list.d"
cat > "$etc/sources.list" <<'LIST'
# a comment
deb [arch=amd64 signed-by=/keys/a.gpg] http://mirror-a.invalid/debian bookworm main contrib
deb http://mirror-b.invalid/debian bullseye main
deb-src http://mirror-c.invalid/debian bookworm main
LIST
cat > "$etc/sources.list.d/more.sources" <<'SOURCES'
Types: deb deb-src
URIs: http://mirror-d.invalid/debian
  http://mirror-e.invalid/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /keys/d.gpg

Types: deb
URIs: http://mirror-f.invalid/debian
Suites: bookworm
Enabled: no
SOURCES
echo 'deb http://mirror-g.invalid/debian bookworm main' > "$etc/sources.list.d/off.list.disabled"

got=$(bash "$root/scripts/deb_src_lines.sh" bookworm "$etc")
want='deb-src [signed-by=/keys/a.gpg] http://mirror-a.invalid/debian bookworm main
deb-src [signed-by=/keys/d.gpg] http://mirror-d.invalid/debian bookworm main
deb-src [signed-by=/keys/d.gpg] http://mirror-e.invalid/debian bookworm main'
if [ "$got" != "$want" ]; then
  printf 'unexpected lines:\n%s\nwanted:\n%s\n' "$got" "$want"; exit 1
fi
if grep -nE 'https?://' "$root/scripts/bootstrap.sh"; then
  echo "bootstrap.sh names a host"; exit 1
fi
echo "deb-src lines: ok"
