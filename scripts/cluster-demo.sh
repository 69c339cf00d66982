#!/usr/bin/env bash
# Three update-server instances sharing one key file, behind HAProxy in TCP
# mode (PROXY protocol, both ports) and behind an address server. Runs the
# load script's client CLIENTS times through each and stops one instance
# (SIGKILL) a few seconds in. Prints files intact, clients completed, each
# instance's peak memory and how the clients of the stopped instance fared.
#   scripts/cluster-demo.sh [CLIENTS=500] [KILL_AFTER_SECONDS=3] [RAMP=8]
# Installs Debian's haproxy through apt when it is missing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
clients=${1:-500}
kill_after=${2:-3}
ramp=${3:-8}
bin=$root/build/native/bin
[ -x "$bin/bench_update_server_load" ] || bash "$root/scripts/build.sh" native >/dev/null
if ! command -v haproxy >/dev/null; then
  sudo=; [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get install -y haproxy >/dev/null || { $sudo apt-get update >/dev/null && $sudo apt-get install -y haproxy >/dev/null; }
fi

balancer=127.0.0.10
instances=(127.0.0.11 127.0.0.12 127.0.0.13)
address_server=127.0.0.20:17900
work=$(mktemp -d)
declare -A pid
cleanup() {
  for p in "${pid[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/product/VMSkin"
head -c $((1024 * 1024)) /dev/urandom > "$work/product/big.bin"
head -c 300000 /dev/urandom > "$work/product/ZepClient.exe"
head -c 70000 < <(yes 'skin line') > "$work/product/VMSkin/a.bmp"
"$bin/update-server" publish --files "$work/product" --version v1 --build 1 -o "$work/published" >/dev/null
"$bin/update-server" new-key "$work/shared.key" >/dev/null

# Every instance on its own address with the same ports as the balancer, so
# the transfer port an instance names is right through the balancer too.
start_instance() {  # address
  "$bin/update-server" serve "$work/published" --address "$1" --port 17800 --transfer-port 17801 \
    --key-file "$work/shared.key" --trusted-balancers "$balancer" > "$work/$1.log" 2>&1 &
  pid[$1]=$!
  for _ in $(seq 50); do grep -q '^serving' "$work/$1.log" && return; sleep 0.1; done
  cat "$work/$1.log"; exit 1
}

# The configuration the README shows.
cat > "$work/haproxy.cfg" <<CFG
global
    maxconn 8000

defaults
    mode tcp
    timeout connect 5s
    timeout client 60s
    timeout server 60s
    retries 3
    option redispatch

frontend control
    bind $balancer:17800
    default_backend control

frontend transfer
    bind $balancer:17801
    default_backend transfer

backend control
    balance leastconn
    source $balancer
    default-server send-proxy check inter 1s fall 2 rise 2
    server a ${instances[0]}:17800
    server b ${instances[1]}:17800
    server c ${instances[2]}:17800

backend transfer
    balance leastconn
    source $balancer
    default-server send-proxy check inter 1s fall 2 rise 2
    server a ${instances[0]}:17801
    server b ${instances[1]}:17801
    server c ${instances[2]}:17801
CFG

peak() { awk '/^VmHWM/ {printf "%d MB", $2 / 1024}' "/proc/$1/status" 2>/dev/null || echo "?"; }
connections_of() {  # address: established connections on its ports
  ss -Htn state established "( sport = :17800 or sport = :17801 )" 2>/dev/null | awk -v a="$1" '$3 ~ "^"a":" ' | wc -l
}

# One run: clients against $1 (HOST:PORT) with the extra bench options; the
# instance holding most connections after $kill_after seconds is stopped.
run() {  # title, target, bench options...
  local title=$1 target=$2; shift 2
  echo "== $title: $clients clients"
  for a in "${instances[@]}"; do start_instance "$a"; done
  local extra_pids=()
  if [ "$title" = "through HAProxy" ]; then
    haproxy -f "$work/haproxy.cfg" -db > "$work/haproxy.log" 2>&1 &
    pid[haproxy]=$!
  else
    "$bin/update-server" address-server --servers "$(printf '%s:17800,' "${instances[@]}" | sed 's/,$//')" \
      --listen "$address_server" --probe-every 1000 > "$work/address-server.log" 2>&1 &
    pid[address]=$!
  fi
  sleep 2  # health checks and first probes
  "$bin/bench_update_server_load" clients "$target" "$clients" --ramp "$ramp" "$@" > "$work/clients.out" 2>&1 &
  local load=$!
  sleep "$kill_after"
  local victim= most=-1
  for a in "${instances[@]}"; do
    local n; n=$(connections_of "$a")
    [ "$n" -gt "$most" ] && { most=$n; victim=$a; }
  done
  local victim_peak; victim_peak=$(peak "${pid[$victim]}")
  kill -KILL "${pid[$victim]}"; wait "${pid[$victim]}" 2>/dev/null || true; unset "pid[$victim]"
  echo "stopped $victim (SIGKILL) after ${kill_after} s, holding $most connections"
  local status=0
  wait "$load" || status=$?
  cat "$work/clients.out" | grep -v '^127\.' || true
  for a in "${instances[@]}"; do
    if [ "$a" = "$victim" ]; then echo "  $a peak memory: $victim_peak (until stopped)"
    else echo "  $a peak memory: $(peak "${pid[$a]}")"; fi
  done
  for p in "${!pid[@]}"; do kill "${pid[$p]}" 2>/dev/null || true; wait "${pid[$p]}" 2>/dev/null || true; unset "pid[$p]"; done
  sleep 1
  return $status
}

status=0
run "through HAProxy" "$balancer:17800" || status=1
run "through the address server" "$address_server" --address-server || status=1
exit $status
