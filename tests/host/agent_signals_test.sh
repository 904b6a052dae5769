#!/usr/bin/env bash
# Stop signals end the real agent within five seconds whatever it shows or
# runs, with the shutdown order run first, and the component host
# processes never outlive it.
#   agent_signals_test.sh AGENT_BINARY CASE
# CASE: wait-window (BeginAnimate shown, SIGTERM), dialog (a SelectFolder
# call waiting on its modal dialog, SIGINT), hup-after-wait (BeginAnimate,
# EndAnimate, SIGHUP), killed (SIGKILL: the hosts end with the agent).
set -uo pipefail
. "$(dirname "$0")/../support/agent_test_lib.sh"
enter_private_network "$@"
agent=$1 case_name=$2
work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill -9 "$p" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
export HOME=$work/home XDG_RUNTIME_DIR=$work/run XDG_STATE_HOME=$work/state XDG_DATA_HOME=$work/data
export QT_QPA_PLATFORM=offscreen
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
fail() { echo "FAIL: $*"; tail -n 20 "$XDG_STATE_HOME"/Vorlink/* 2>/dev/null; exit 1; }
# In sanitizer builds, a report from the agent fails the case.
pass() {
  ! grep -aq 'Sanitizer\|runtime error' "$work/agent.out" || fail "sanitizer report: $(cat "$work/agent.out")"
  echo PASS
  exit 0
}

# A private session bus, so that the agent's pid is ours to signal.
dbus-daemon --session --fork --print-address=3 --print-pid=4 3>"$work/bus.address" 4>"$work/bus.pid" || fail "no session bus"
pids+=("$(cat "$work/bus.pid")")
DBUS_SESSION_BUS_ADDRESS=$(cat "$work/bus.address")
export DBUS_SESSION_BUS_ADDRESS
"$agent" notray >"$work/agent.out" 2>&1 &
agent_pid=$!
pids+=("$agent_pid")
port=$(wait_for_agent_port)
[ -n "$port" ] || fail "the agent did not start"

call() { curl -s --max-time "${2:-10}" --cacert "$XDG_DATA_HOME/vorlink/identity/ca.pem" -H 'Origin: https://page.example' -d "$1" "https://localhost:$port/"; }
token() {  # the new token's number, or what InitDLL answered instead
  local answer
  answer=$(call 'InitDLL=PKCS11')
  [[ $answer =~ ^\|\|0\|\|([0-9]+)\|\|$ ]] && answer=${BASH_REMATCH[1]}
  echo "$answer"
}
new_token() {
  t=$(token)
  [[ $t =~ ^[0-9]+$ ]] || fail "InitDLL answered: $t"
}
hosts() { pgrep -P "$agent_pid" -f vorlink-component-host | tr '\n' ' '; }

new_token
case $case_name in
  wait-window | hup-after-wait)
    [ "$(call "DLLToken=$t&ExecMethod=BeginAnimate&Param1=Signing")" = "||0||0||" ] || fail "BeginAnimate"
    signal=TERM
    if [ "$case_name" = hup-after-wait ]; then
      [ "$(call "DLLToken=$t&ExecMethod=EndAnimate")" = "||0||0||" ] || fail "EndAnimate"
      signal=HUP
    fi
    ;;
  dialog)
    call "DLLToken=$t&ExecMethod=SelectFolder" 30 >"$work/dialog.out" &
    sleep 1
    signal=INT
    ;;
  killed)
    new_token
    new_token
    started=$(hosts)
    [ "$(wc -w <<<"$started")" = 3 ] || fail "expected 3 host processes, found: $started"
    kill -KILL "$agent_pid"
    for _ in $(seq 40); do
      left=$(for h in $started; do [ -d "/proc/$h" ] && ! grep -q '^State:.*Z' "/proc/$h/status" && echo "$h"; done)
      [ -z "$left" ] && break
      sleep 0.05
    done
    [ -z "$left" ] || fail "host processes outlived the agent: $left"
    pass
    ;;
  *) fail "unknown case $case_name" ;;
esac

started=$(hosts)
begin=$(date +%s%N)
kill -"$signal" "$agent_pid"
while kill -0 "$agent_pid" 2>/dev/null; do
  (($(date +%s%N) - begin > 10000000000)) && fail "the agent still runs 10 s after SIG$signal"
  sleep 0.02
done
elapsed_ms=$((($(date +%s%N) - begin) / 1000000))
echo "SIG$signal ended the agent in $elapsed_ms ms"
((elapsed_ms < 5000)) || fail "SIG$signal took $elapsed_ms ms"
grep -q 'sslServer 服務已停止' "$XDG_STATE_HOME"/Vorlink/* || fail "the shutdown order did not run"
sleep 0.2
for h in $started; do [ -d "/proc/$h" ] && fail "host process $h outlived the agent"; done
pass
