#!/usr/bin/env bash
# The update server of the online e2e tests, run natively beside Wine.
#   online_server.sh start DIR UPDATE_SERVER FILES [LINK_RELAY]
#                           publish FILES, serve on free ports of 127.0.0.1;
#                           with LINK_RELAY also relay both ports from 127.0.0.2
#   online_server.sh stop DIR                        stop them by their process ids
# DIR/ports receives "CONTROL TRANSFER" once the server listens, DIR/relay the
# relay's control port once it relays.
set -euo pipefail
cmd=$1 dir=$2
case "$cmd" in
  start)
    server=$3 files=$4 relay=${5:-}
    for pid in "$dir/server.pid" "$dir/relay.pid"; do
      if [ -f "$pid" ]; then kill "$(cat "$pid")" 2>/dev/null || true; fi
    done
    rm -rf "$dir"
    mkdir -p "$dir"
    "$server" publish --files "$files" --version v4.0.2026 --build 3 -o "$dir/published" > "$dir/publish.log"
    "$server" serve "$dir/published" --address 127.0.0.1 --port 0 --transfer-port 0 > "$dir/server.log" 2>&1 &
    echo $! > "$dir/server.pid"
    for _ in $(seq 1 100); do
      line=$(grep -m1 '^serving ' "$dir/server.log" || true)
      if [ -n "$line" ]; then
        control=$(sed -E 's/.*:([0-9]+), transfer service on port ([0-9]+)$/\1/' <<<"$line")
        transfer=$(sed -E 's/.* transfer service on port ([0-9]+)$/\1/' <<<"$line")
        echo "$control $transfer" > "$dir/ports"
        [ -n "$relay" ] || exit 0
        "$relay" --ports "$control,$transfer" --control 0 < /dev/null > "$dir/relay.log" 2>&1 &
        echo $! > "$dir/relay.pid"
        for _ in $(seq 1 100); do
          if grep -q '^relaying ' "$dir/relay.log"; then
            sed -E -n 's/^relaying .*control 127\.0\.0\.1:([0-9]+).*/\1/p' "$dir/relay.log" > "$dir/relay"
            exit 0
          fi
          sleep 0.1
        done
        echo "link-relay did not start:" >&2
        cat "$dir/relay.log" >&2
        exit 1
      fi
      sleep 0.1
    done
    echo "update-server did not start:" >&2
    cat "$dir/server.log" >&2
    exit 1
    ;;
  stop)
    for file in "$dir/relay.pid" "$dir/server.pid"; do
      [ -f "$file" ] || continue
      pid=$(cat "$file")
      kill "$pid" 2>/dev/null || true
      for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
      rm -f "$file"
    done
    ;;
  *) echo "usage: online_server.sh start|stop DIR ..." >&2; exit 2 ;;
esac
