#!/usr/bin/env bash
# Resident memory of the agent program after 1,000 and after 100,000
# requests (8 keep-alive connections, bench/load_client), against
# bench_reference_server measured the same way in the same run.
#   [AGENT=PROGRAM] bench/memory-bench.sh [BUILD_DIR] [AGENT_ARG...]
# The agent (BUILD_DIR/bin/vorlink45 unless AGENT says otherwise) runs in a
# scratch home; the desktop build wants NOTRAY and a session bus:
#   AGENT=build/qt/bin/vorlink45 dbus-run-session -- bench/memory-bench.sh build/dev NOTRAY
set -euo pipefail
build=${1:-build/test}
shift $(($# > 0 ? 1 : 0))
bin=$(realpath "$build/bin")  # absolute, so no pattern meant for a relative path matches it
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
export HOME=$work/home XDG_RUNTIME_DIR=$work/run XDG_STATE_HOME=$work/state XDG_CONFIG_HOME=$work/config
export XDG_DATA_HOME=$work/data
export QT_QPA_PLATFORM=offscreen
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
rss_kib() { awk '/^VmRSS/ {print $2}' "/proc/$1/status"; }

# Runs the load against PID on PORT; prints "RSS_AFTER_1000 RSS_AFTER_100000".
measure() {
  local pid=$1 port=$2 first second
  "$bin/load_client" "$port" 1000 8 >/dev/null
  first=$(rss_kib "$pid")
  "$bin/load_client" "$port" 99000 8 >/dev/null
  second=$(rss_kib "$pid")
  echo "$first $second"
}

ref_port=$(free_port)
"$bin/bench_reference_server" "$ref_port" >"$work/reference.out" 2>&1 &
ref_pid=$!
for _ in $(seq 100); do grep -q READY "$work/reference.out" && break; sleep 0.05; done

"$(realpath "${AGENT:-$bin/vorlink45}")" "$@" >"$work/agent.out" 2>&1 &
agent_pid=$!
agent_port=""
for _ in $(seq 100); do
  agent_port=$(grep -ho 'https 服務已經啟動, port = (int)[0-9]*' "$XDG_STATE_HOME"/Vorlink/* 2>/dev/null | grep -o '[0-9]*$' || true)
  [ -n "$agent_port" ] && break
  sleep 0.05
done
[ -n "$agent_port" ] || { echo "the agent did not start"; cat "$work/agent.out"; exit 1; }

read -r ref_a ref_b <<<"$(measure "$ref_pid" "$ref_port")"
read -r agent_a agent_b <<<"$(measure "$agent_pid" "$agent_port")"
printf 'reference : RSS %6d KiB after 1000, %6d KiB after 100000 requests, growth %5d KiB\n' "$ref_a" "$ref_b" $((ref_b - ref_a))
printf 'agent     : RSS %6d KiB after 1000, %6d KiB after 100000 requests, growth %5d KiB\n' "$agent_a" "$agent_b" $((agent_b - agent_a))
python3 -c "print('RSS after 100000, agent/reference: %.2f' % ($agent_b / $ref_b))"
echo "log written: $(du -sh "$XDG_STATE_HOME/Vorlink" | cut -f1)"
