#!/usr/bin/env bash
# The servers of the online e2e tests, run natively beside Wine.
#   online_server.sh start DIR UPDATE_SERVER FILES [LINK_RELAY]
#       publishes FILES and serves them on free ports of 127.0.0.1; starts two
#       address servers, one naming that server and one naming none that
#       answers; with LINK_RELAY also relays both ports from 127.0.0.2
#   online_server.sh stop DIR      stops them by their process ids
# Once each is up: DIR/ports holds "CONTROL TRANSFER", DIR/address and
# DIR/address-none the address servers' ports, DIR/relay the relay's control
# port.
set -euo pipefail
cmd=$1 dir=$2
names=(relay address address-none server)

# Starts NAME in the background (the command after PATTERN) and waits for a
# line matching PATTERN in DIR/NAME.log; prints that line.
start() {
  local name=$1 pattern=$2 line
  shift 2
  "$@" < /dev/null > "$dir/$name.log" 2>&1 &
  echo $! > "$dir/$name.pid"
  for _ in $(seq 1 100); do
    line=$(grep -m1 -E "$pattern" "$dir/$name.log" || true)
    if [ -n "$line" ]; then echo "$line"; return 0; fi
    sleep 0.1
  done
  echo "$name did not start:" >&2
  cat "$dir/$name.log" >&2
  return 1
}

stop() {
  for name in "${names[@]}"; do
    [ -f "$dir/$name.pid" ] || continue
    pid=$(cat "$dir/$name.pid")
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    rm -f "$dir/$name.pid"
  done
}

case "$cmd" in
  start)
    server=$3 files=$4 relay=${5:-}
    [ -d "$dir" ] && stop
    rm -rf "$dir"
    mkdir -p "$dir"
    "$server" publish --files "$files" --version v4.0.2026 --build 3 -o "$dir/published" > "$dir/publish.log" 2>&1
    line=$(start server '^serving ' "$server" serve "$dir/published" --address 127.0.0.1 --port 0 --transfer-port 0)
    control=$(sed -E 's/.*:([0-9]+), transfer service on port ([0-9]+)$/\1/' <<<"$line")
    transfer=$(sed -E 's/.* transfer service on port ([0-9]+)$/\1/' <<<"$line")
    echo "$control $transfer" > "$dir/ports"
    for name in address address-none; do
      target=127.0.0.1:$control; [ "$name" = address ] || target=127.0.0.1:1
      line=$(start "$name" '^answering on ' "$server" address-server --servers "$target" --listen 127.0.0.1:0 \
             --probe-every 1000)
      sed -E 's/^answering on 127\.0\.0\.1:([0-9]+) .*/\1/' <<<"$line" > "$dir/$name"
    done
    if [ -n "$relay" ]; then
      line=$(start relay '^relaying ' "$relay" --ports "$control,$transfer" --control 0)
      sed -E -n 's/^relaying .*control 127\.0\.0\.1:([0-9]+).*/\1/p' <<<"$line" > "$dir/relay"
    fi
    ;;
  stop) stop ;;
  *) echo "usage: online_server.sh start|stop DIR ..." >&2; exit 2 ;;
esac
