#!/usr/bin/env bash
# Load on update-server: 200 downloading clients at once plus hostile ones
# (unread floods, unread 16 MiB requests, thousands of idle connections, a
# trickler, a code hoarder) and a normal client downloading all along; then
# attacks that hold a port full (32 and 40 addresses x 16 control connections
# with a request each every 20-24 s; 32 x 16 authenticated transfer
# connections sending an ignored PDU), under each of which a normal client
# tries 25 downloads.
# Prints: files intact, the server's peak memory, whether the normal client
# was served throughout, how often it was served under each attack.
#   scripts/load-update-server.sh [CLIENTS=200] [SECONDS=20]
# UPDATE_SERVER names another update-server binary to load (an older build).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
clients=${1:-200}
seconds=${2:-20}
bin=$root/build/native/bin
[ -x "$bin/bench_update_server_load" ] || bash "$root/scripts/build.sh" native >/dev/null
work=$(mktemp -d)
server=
cleanup() { [ -n "$server" ] && kill "$server" 2>/dev/null; wait 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT

mkdir -p "$work/product/VMSkin"
head -c $((2 * 1024 * 1024)) /dev/urandom > "$work/product/big.bin"
head -c 300000 /dev/urandom > "$work/product/ZepClient.exe"
head -c 70000 < <(yes 'skin line') > "$work/product/VMSkin/a.bmp"
: > "$work/product/empty.ini"
"$bin/update-server" publish --files "$work/product" --version v1 --build 1 -o "$work/published" >/dev/null

# As many descriptors as a default service gets.
(ulimit -n 1024; exec "${UPDATE_SERVER:-$bin/update-server}" serve "$work/published" --port 0 --transfer-port 0) > "$work/server.log" 2>&1 &
server=$!
for _ in $(seq 50); do grep -q '^serving' "$work/server.log" && break; sleep 0.1; done
ports=$(sed -n 's/^serving .*:\([0-9]*\), transfer service on port \([0-9]*\)$/\1 \2/p' "$work/server.log")
[ -n "$ports" ] || { cat "$work/server.log"; exit 1; }
set -- $ports
status=0
"$bin/bench_update_server_load" "$1" "$2" "$clients" "$seconds" || status=$?
peak=$(awk '/^VmHWM/ {print $2}' "/proc/$server/status")
kill -TERM "$server"; wait "$server" || true; server=
printf 'server peak memory: %d MB (goal < 256 MB)\n' $((peak / 1024))
cp "$work/server.log" "$root/build/load-update-server.log"
printf 'server log: %d lines (build/load-update-server.log)\n' "$(wc -l < "$work/server.log")"
[ $status -eq 0 ] || { echo "server log (last lines):"; tail -n 15 "$work/server.log"; }
exit $status
