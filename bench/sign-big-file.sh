#!/usr/bin/env bash
# Signs a large file through the real agent and component (signBigFile over
# HTTPS) and compares it with `openssl dgst -sha256` on the same file: time
# ratio, and how far the agent's peak resident memory grew while signing.
#   bench/sign-big-file.sh [BUILD_DIR] [MiB]     (defaults: build/test, 1024)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/test}
mib=${2:-1024}
agent=$(realpath "$build/bin/vorlink45")

scratch=$(mktemp -d)
agent_pid=""
cleanup() {
  [ -n "$agent_pid" ] && kill -TERM "$agent_pid" 2>/dev/null && wait "$agent_pid" 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT

tools/make-softhsm-token.sh "$scratch/token" "Bench Token" 123456 12345678 >/dev/null
export SOFTHSM2_CONF=$scratch/token/softhsm2.conf HOME=$scratch/home QT_QPA_PLATFORM=offscreen
unset XDG_DATA_HOME  # the agent's identity, and so the CA below, in the scratch home
mkdir -p "$HOME/Vorlink Files"
file="$HOME/Vorlink Files/big.bin"
echo "writing a ${mib} MiB file"
head -c "$((mib << 20))" /dev/urandom >"$file"
openssl dgst -sha256 "$file" >/dev/null  # warm the page cache for both

dbus-run-session -- "$agent" NOTRAY >/dev/null 2>&1 &
sleep 1
agent_pid=$(pgrep -f -n "^$agent") || { echo "the agent did not start" >&2; exit 1; }
port=""
for _ in $(seq 50); do
  port=$(ss -ltnp 2>/dev/null | grep "pid=$agent_pid," | sed -nE 's/.*127\.0\.0\.1:([0-9]+) .*/\1/p' | head -1)
  [ -n "$port" ] && break
  sleep 0.1
done
call() { curl -s --cacert "$HOME/.local/share/vorlink/identity/ca.pem" "https://127.0.0.1:$port/" -d "$1"; }
token=$(call InitDLL=PKCS11 | awk -F'\\|\\|' '{print $3}')
for step in "Initialize&Param1=softhsm2" "Select_slot&Param1=Bench%20Token" \
            "Login&Param1=123456"; do
  call "DLLToken=$token&ExecMethod=$step" >/dev/null
done

peak() { sed -nE 's/^VmHWM:\s+([0-9]+) kB/\1/p' "/proc/$agent_pid/status"; }
rss() { sed -nE 's/^VmRSS:\s+([0-9]+) kB/\1/p' "/proc/$agent_pid/status"; }
before_rss=$(rss)
start=$(date +%s.%N)
openssl dgst -sha256 "$file" >/dev/null
reference=$(awk -v a="$(date +%s.%N)" -v b="$start" 'BEGIN { print a - b }')
start=$(date +%s.%N)
answer=$(call "DLLToken=$token&ExecMethod=signBigFile&Param1=big.bin")
agent_time=$(awk -v a="$(date +%s.%N)" -v b="$start" 'BEGIN { print a - b }')
[ "$answer" = "||0||0||" ] || { echo "signBigFile answered $answer" >&2; exit 1; }
printf 'file %d MiB: openssl dgst %.3f s, signBigFile through the agent %.3f s, ratio %.2f\n' \
  "$mib" "$reference" "$agent_time" "$(awk -v a="$agent_time" -v b="$reference" 'BEGIN { print a / b }')"
printf 'agent RSS before %d KiB, peak %d KiB over the whole run, after %d KiB\n' "$before_rss" "$(peak)" "$(rss)"
