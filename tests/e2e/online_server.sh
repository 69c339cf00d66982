#!/usr/bin/env bash
# The update server of the online e2e tests, run natively beside Wine.
#   online_server.sh start DIR UPDATE_SERVER FILES   publish FILES, serve on free ports
#   online_server.sh stop DIR                        stop it by its process id
# DIR/ports receives "CONTROL TRANSFER" once the server listens.
set -euo pipefail
cmd=$1 dir=$2
case "$cmd" in
  start)
    server=$3 files=$4
    if [ -f "$dir/server.pid" ]; then kill "$(cat "$dir/server.pid")" 2>/dev/null || true; fi
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
        exit 0
      fi
      sleep 0.1
    done
    echo "update-server did not start:" >&2
    cat "$dir/server.log" >&2
    exit 1
    ;;
  stop)
    if [ -f "$dir/server.pid" ]; then
      pid=$(cat "$dir/server.pid")
      kill "$pid" 2>/dev/null || true
      for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
      rm -f "$dir/server.pid"
    fi
    ;;
  *) echo "usage: online_server.sh start|stop DIR ..." >&2; exit 2 ;;
esac
