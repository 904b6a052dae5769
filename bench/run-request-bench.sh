#!/usr/bin/env bash
# Keep-alive request throughput and latency of the agent against a bare
# SSLServer reference, same client (wrk), same run, on loopback.
#   bench/run-request-bench.sh [BUILD_DIR] [SECONDS]
set -euo pipefail
build=${1:-build/test}
seconds=${2:-10}
bin=$build/bin
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

cat >"$work/post.lua" <<'LUA'
wrk.method = "POST"
wrk.body = "DLLToken=1&ExecMethod=GetVersion"
wrk.headers["Content-Type"] = "text/plain"
LUA

start() {  # name command...
  local name=$1; shift
  "$@" >"$work/$name.out" 2>&1 &
  for _ in $(seq 100); do grep -q READY "$work/$name.out" && return; sleep 0.05; done
  echo "$name did not start"; cat "$work/$name.out"; exit 1
}

ref_port=$(free_port); agent_port=$(free_port)
start reference "$bin/bench_reference_server" "$ref_port"
mkdir -p "$work/logs"
start agent "$bin/bench_agent_server" "$agent_port" "$work/logs"

measure() {  # port -> "requests/s p50 p99"
  wrk -t2 -c16 -d"${seconds}s" --latency -s "$work/post.lua" "https://127.0.0.1:$1/" >"$work/wrk.out"
  local rps p50 p99
  rps=$(awk '/Requests\/sec/ {print $2}' "$work/wrk.out")
  p50=$(awk '$1=="50%" {print $2}' "$work/wrk.out")
  p99=$(awk '$1=="99%" {print $2}' "$work/wrk.out")
  echo "$rps $p50 $p99"
}

read -r ref_rps ref_p50 ref_p99 <<<"$(measure "$ref_port")"
read -r agent_rps agent_p50 agent_p99 <<<"$(measure "$agent_port")"
printf 'reference : %10s req/s  p50 %8s  p99 %8s\n' "$ref_rps" "$ref_p50" "$ref_p99"
printf 'agent     : %10s req/s  p50 %8s  p99 %8s\n' "$agent_rps" "$agent_p50" "$agent_p99"
python3 -c "print('throughput ratio agent/reference: %.2f' % ($agent_rps / $ref_rps))"
