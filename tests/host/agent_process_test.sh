#!/usr/bin/env bash
# The real agent as a user starts it on a machine without a desktop: it
# serves, a second start in the same session ends at once and silently,
# SIGTERM runs the shutdown order, and a start without D-Bus says why it
# does not run.
# The client trusts the user's own authority, where the agent keeps it.
#   agent_process_test.sh AGENT_BINARY
set -uo pipefail
. "$(dirname "$0")/../support/agent_test_lib.sh"
# A process namespace too: the agent processes it signals are its own.
enter_private_network --pid "$@"
agent=$1
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
export HOME=$work/home XDG_RUNTIME_DIR=$work/run XDG_STATE_HOME=$work/state QT_QPA_PLATFORM=offscreen
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
fail() { echo "FAIL: $*"; cat "$XDG_STATE_HOME"/Vorlink/* 2>/dev/null; exit 1; }

dbus-run-session -- "$agent" notray >"$work/first.out" 2>&1 &
first=$!
port=$(wait_for_agent_port)
[ -n "$port" ] || fail "the agent did not start"
ca=$HOME/.local/share/vorlink/identity/ca.pem

answer=$(curl -sS --max-time 10 --cacert "$ca" -d 'DLLToken=1&ExecMethod=GetVersion' "https://localhost:$port/" 2>&1)
[ "$answer" = "||-1||沒有找到指定的 DllToken, 無法執行||" ] || fail "unexpected answer: $answer (port $port, CA $(ls -l "$ca" 2>&1))"

# Every start that gets past the single-instance lock logs its version
# line; the first agent may still be writing its own lines meanwhile.
starts() { cat "$XDG_STATE_HOME"/Vorlink/* | grep -c '版號 = '; }
starts_before=$(starts)
timeout 10 "$agent" notray || fail "the second instance did not end cleanly"
[ "$(starts)" = "$starts_before" ] || fail "the second instance wrote to the log"
kill -0 "$first" 2>/dev/null || fail "the first instance died"

pkill -TERM -f "^$agent notray" || fail "could not signal the agent"
for _ in $(seq 50); do pgrep -f "^$agent notray" >/dev/null || break; sleep 0.1; done
pgrep -f "^$agent notray" >/dev/null && fail "the agent did not end after SIGTERM"
grep -q 'sslServer 服務已停止' "$XDG_STATE_HOME"/Vorlink/* || fail "no shutdown line"

# With no D-Bus at all (no session bus; the system bus pointed at nothing)
# the agent cannot learn when the session locks: it says so on standard
# error and exits 1, instead of ending silently with 0.
status=0
env -u DBUS_SESSION_BUS_ADDRESS DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/no-such-bus" \
  timeout 20 "$agent" notray >"$work/no-bus.out" 2>&1 || status=$?
[ "$status" = 1 ] || fail "without D-Bus the agent exited $status: $(cat "$work/no-bus.out")"
grep -q 'not started: no D-Bus session or system bus answers' "$work/no-bus.out" ||
  fail "no reason on standard error: $(cat "$work/no-bus.out")"
echo PASS
