#!/usr/bin/env bash
# Request throughput and latency of the agent against a bare SSLServer
# reference (same certificate, same routes, a fixed answer), same clients,
# same run, on loopback, scenario by scenario:
#   GetVersion   keep-alive, GetVersion on a valid token
#   forwarded    keep-alive, Login on the test component behind that token
#   InitDLL      keep-alive, InitDLL with a three-file manifest
#   new-conn     a full TLS handshake per request, GetVersion on the token
# Keep-alive load is wrk (2 threads, 16 connections); new-connection load is
# bench/new_connection_client (8 threads, one handshake per request).
# Then the latency of one client calling GetVersion 2,000 times in a row on
# one keep-alive connection (bench/sequential_client), against the
# reference and, when nginx is installed, nginx answering a fixed 15-byte
# text over TLS with the same certificate.
#   bench/run-request-bench.sh [BUILD_DIR] [SECONDS]
# BUILD_DIR must be built with the tests (the test component) and the
# development manifest key (the default).
set -euo pipefail
build=${1:-build/test}
seconds=${2:-10}
source_dir=$(cd "$(dirname "$0")/.." && pwd)
bin=$(realpath "$build/bin")
component=$build/tests/support/libvorlink_test_component.so
for need in "$bin/bench_agent_server" "$bin/bench_reference_server" "$bin/new_connection_client" \
  "$bin/sequential_client" "$bin/vorlink-manifest" "$component"; do
  [ -e "$need" ] || {
    echo "missing $need; build: cmake --build $build --target bench_agent_server bench_reference_server" \
      "new_connection_client sequential_client vorlink-manifest vorlink_test_component" \
      "(needs VORLINK_BUILD_TESTS=ON)" >&2
    exit 1
  }
done
work=$(mktemp -d)
# The servers' identity (made by the first to start, shared by both and
# nginx), in the scratch folder rather than the user's own.
export XDG_DATA_HOME=$work/data
trap 'kill $(jobs -p) 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
rss_kib() { awk '/^VmRSS/ {print $2}' "/proc/$1/status"; }
origin=https://bench.example  # pages send one; the agent binds each token to it

# The agent's folder: the test component registered in process, two more
# files of 256 KiB, and a manifest over the three signed with the
# development key (every InitDLL checks all three).
agent_dir=$work/agent
mkdir -p "$agent_dir/components"
cp "$component" "$agent_dir/libtestcomponent.so"
head -c 262144 /dev/urandom >"$agent_dir/helper-one.so"
head -c 262144 /dev/urandom >"$agent_dir/helper-two.dat"
printf 'CLSID={3f2a1b4c-5d6e-4f70-8192-a3b4c5d6e7f8}\nLibrary=../libtestcomponent.so\n' \
  >"$agent_dir/components/ORVAPkcs11Crypto.ORVA_P11Crypto.component"
"$bin/vorlink-manifest" sign --key "$source_dir/tools/dev-keys/manifest-dev.key.pem" \
  --cert "$source_dir/resources/localhost.cert.der" --base "$agent_dir" --out "$agent_dir/Vorlink.ini" \
  libtestcomponent.so helper-one.so helper-two.dat >/dev/null

start() {  # name command...
  local name=$1; shift
  "$@" >"$work/$name.out" 2>&1 &
  for _ in $(seq 100); do grep -qs READY "$work/$name.out" && return; sleep 0.05; done
  echo "$name did not start"; cat "$work/$name.out"; exit 1
}

ref_port=$(free_port); agent_port=$(free_port)
start reference "$bin/bench_reference_server" "$ref_port"
mkdir -p "$work/logs"
start agent "$bin/bench_agent_server" "$agent_port" "$work/logs" "$agent_dir"
agent_pid=$!

# nginx answering a fixed text over TLS with the agent's certificate, as a
# second reference for one client's latency; skipped when nginx is missing.
nginx_port=""
if command -v nginx >/dev/null || [ -x /usr/sbin/nginx ]; then
  nginx_port=$(free_port)
  mkdir -p "$work/nginx"
  cp "$XDG_DATA_HOME/vorlink/identity/server.pem" "$work/nginx/cert.pem"
  cp "$XDG_DATA_HOME/vorlink/identity/server.key" "$work/nginx/key.pem"
  cat >"$work/nginx/nginx.conf" <<NGINX
daemon off;
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 64; }
http {
  access_log off;
  client_body_temp_path $work/nginx;
  server {
    listen 127.0.0.1:$nginx_port ssl;
    ssl_certificate $work/nginx/cert.pem;
    ssl_certificate_key $work/nginx/key.pem;
    keepalive_requests 1000;
    location / { return 200 "||0||4.5.23.1||"; }
  }
}
NGINX
  PATH=$PATH:/usr/sbin nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" &
  for _ in $(seq 50); do [ -s "$work/nginx/nginx.pid" ] && break; sleep 0.1; done
fi

post() {  # port body -> the answer
  curl -sk --max-time 10 -H "Origin: $origin" -H 'Content-Type: text/plain' --data-binary "$2" "https://127.0.0.1:$1/"
}
token_answer=$(post "$agent_port" "InitDLL=PKCS11")
[[ $token_answer =~ ^\|\|0\|\|([0-9]+)\|\|$ ]] || { echo "InitDLL failed: $token_answer" >&2; exit 1; }
token=${BASH_REMATCH[1]}

# wrk's latency with its unit (us, ms, s) -> milliseconds.
to_ms() { awk -v v="$1" 'BEGIN { n = v + 0; u = v; sub(/^[0-9.]+/, "", u);
  printf "%.3f", u == "us" ? n / 1000 : u == "s" ? n * 1000 : n }'; }

keep_alive() {  # port body -> "requests/s p50_ms p99_ms requests"
  cat >"$work/post.lua" <<LUA
wrk.method = "POST"
wrk.body = "$2"
wrk.headers["Content-Type"] = "text/plain"
wrk.headers["Origin"] = "$origin"
LUA
  wrk -t2 -c16 -d"${seconds}s" --latency -s "$work/post.lua" "https://127.0.0.1:$1/" >"$work/wrk.out"
  if grep -q 'Non-2xx' "$work/wrk.out"; then
    echo "wrong answers from port $1:" >&2; grep 'Non-2xx' "$work/wrk.out" >&2; exit 1
  fi
  # Time-outs (no answer within 2 s) and socket errors are counted, not fatal.
  if grep -q 'Socket errors' "$work/wrk.out"; then
    echo "  $(if [ "$1" = "$agent_port" ]; then echo agent; else echo reference; fi):" \
      "$(grep 'Socket errors' "$work/wrk.out")" >>"$work/notes"
  fi
  echo "$(awk '/Requests\/sec/ {print $2}' "$work/wrk.out")" \
    "$(to_ms "$(awk '$1=="50%" {print $2}' "$work/wrk.out")")" \
    "$(to_ms "$(awk '$1=="99%" {print $2}' "$work/wrk.out")")" \
    "$(awk '/requests in/ {print $1}' "$work/wrk.out")"
}

new_connection() {  # port body -> "requests/s p50_ms p99_ms"
  "$bin/new_connection_client" "$1" "$seconds" 8 "$2" "$origin"
}

printf '%-11s %10s %8s %8s | %10s %8s %8s | %6s %6s\n' scenario 'agent/s' p50 p99 'ref/s' p50 p99 ratio 'p99 x'
row() {  # name agent_result reference_result
  read -r a_rps a_p50 a_p99 _ <<<"$2"
  read -r r_rps r_p50 r_p99 _ <<<"$3"
  python3 -c "print('%-11s %10.1f %6.2fms %6.2fms | %10.1f %6.2fms %6.2fms | %6.2f %6.2f' % \
    ('$1', $a_rps, $a_p50, $a_p99, $r_rps, $r_p50, $r_p99, $a_rps / $r_rps, $a_p99 / $r_p99))"
}

run() {  # name kind body expected_agent_answer_regex
  local answer
  answer=$(post "$agent_port" "$3")
  [[ $answer =~ $4 ]] || { echo "$1: the agent answered '$answer'" >&2; exit 1; }
  local reference agent
  reference=$($2 "$ref_port" "$3")
  agent=$($2 "$agent_port" "$3")
  row "$1" "$agent" "$reference"
  if [ -s "$work/notes" ]; then cat "$work/notes"; rm "$work/notes"; fi
  last_agent=$agent
}

run GetVersion keep_alive "DLLToken=$token&ExecMethod=GetVersion" '^\|\|0\|\|4\.5\.23\.1\|\|$'
run forwarded keep_alive "DLLToken=$token&ExecMethod=Login&Param1=1234" '^\|\|0\|\|0\|\|$'
run new-conn new_connection "DLLToken=$token&ExecMethod=GetVersion" '^\|\|0\|\|4\.5\.23\.1\|\|$'
# One client's latency, measured before InitDLL fills the token table and
# printed at the end.
calls=2000
call="DLLToken=$token&ExecMethod=GetVersion"
latency() {  # name port -> a line in $work/latency; sets last_mean
  local mean p50 p99
  read -r mean p50 p99 <<<"$("$bin/sequential_client" "$2" "$calls" "$call" "$origin")"
  printf '  %-10s mean %6.3fms  p50 %6.3fms  p99 %6.3fms\n' "$1" "$mean" "$p50" "$p99" >>"$work/latency"
  last_mean=$mean
}
latency reference "$ref_port"; ref_mean=$last_mean
if [ -n "$nginx_port" ]; then latency nginx "$nginx_port"; nginx_mean=$last_mean; fi
latency agent "$agent_port"; agent_mean=$last_mean
python3 -c "print('  agent / reference (mean): %.2f' % ($agent_mean / $ref_mean))" >>"$work/latency"
if [ -n "$nginx_port" ]; then
  python3 -c "print('  agent / nginx (mean):     %.2f' % ($agent_mean / $nginx_mean))" >>"$work/latency"
else
  echo "  nginx: not installed (apt-get install nginx-light), skipped" >>"$work/latency"
fi
rss_before=$(rss_kib "$agent_pid")
run InitDLL keep_alive "InitDLL=PKCS11" '^\|\|0\|\|[0-9]+\|\|$'
rss_after=$(rss_kib "$agent_pid")
created=$(awk '{print $4}' <<<"$last_agent")
echo "InitDLL: $created components created and kept (one token each); agent RSS $rss_before -> $rss_after KiB," \
  "$(( (rss_after - rss_before) * 1024 / (created > 0 ? created : 1) )) bytes each"
echo "log written: $(du -sh "$work/logs" | cut -f1)"
echo
echo "one client, keep-alive, $calls calls in a row (GetVersion):"
cat "$work/latency"
