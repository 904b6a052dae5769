#!/usr/bin/env bash
# ./run.sh as a new user tries it, on a machine without a display: the demo
# page is served, again when run.sh is started again at once (the last
# run's page port in TIME_WAIT, as a browser's open connection leaves it),
# and when another program holds the page's port run.sh says so instead of
# saying nothing.
#   run_script_test.sh AGENT_BINARY SOURCE_DIR
set -uo pipefail
. "$(dirname "$0")/../support/agent_test_lib.sh"
enter_private_network --pid "$@"
agent=$1 src=$2
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
export HOME=$work/home XDG_RUNTIME_DIR=$work/run XDG_STATE_HOME=$work/state XDG_DATA_HOME=$work/data
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
unset DISPLAY WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS QT_QPA_PLATFORM
fail() { echo "FAIL: $*"; exit 1; }
page=http://127.0.0.1:48280/demo.html

# Starts ./run.sh, waits until its agent serves, and stops it (the page
# server with it); its output goes to $work/$1.out.
run_once() {
  local name=$1
  (cd "$src" && VORLINK_AGENT=$agent VORLINK_DEMO_TOKEN=0 ./run.sh >"$work/$name.out" 2>&1) &
  local runner=$!
  for _ in $(seq 150); do
    grep -qs 'https 服務已經啟動' "$XDG_STATE_HOME"/Vorlink/* && grep -qs 'Demo page' "$work/$name.out" && break
    sleep 0.1
  done
  served=no
  for _ in $(seq 30); do curl -sf -o /dev/null "$page" && served=yes && break; sleep 0.1; done
  # A browser keeps its connection to the page open: the page server, ended
  # with run.sh, closes it first, which leaves the port in TIME_WAIT.
  python3 -c 'import socket, time; c = socket.create_connection(("127.0.0.1", 48280)); time.sleep(4)' 2>/dev/null &
  local browser=$!
  sleep 0.5
  pkill -TERM -x vorlink45  # this test's own: it has a process namespace of its own
  wait "$runner" 2>/dev/null
  wait "$browser" 2>/dev/null
  rm -f "$XDG_STATE_HOME"/Vorlink/*
}

# name | before the run | page served | run.sh's words
cases=(
  "first run||yes|Demo page: $page"
  "again at once, last connections in TIME_WAIT||yes|Demo page: $page"
  "port taken by another program|blocker|no|Demo page: not served: port 48280 on 127.0.0.1 is taken by another program"
)
blocker=""
for c in "${cases[@]}"; do
  IFS='|' read -r name before want words <<<"$c"
  if [ "$before" = blocker ]; then
    # Another program's server, which has no demo page.
    python3 -m http.server --bind 127.0.0.1 --directory "$work" 48280 >/dev/null 2>&1 &
    blocker=$!
    for _ in $(seq 50); do curl -s -o /dev/null http://127.0.0.1:48280/ && break; sleep 0.1; done
  fi
  run_once "${name// /-}"
  [ -n "$blocker" ] && { kill "$blocker"; wait "$blocker" 2>/dev/null; blocker=""; }
  [ "$served" = "$want" ] || fail "$name: page served: $served, expected $want"
  grep -qF "$words" "$work/${name// /-}.out" || fail "$name: run.sh did not say \"$words\": $(cat "$work/${name// /-}.out")"
  echo "ok: $name"
done
echo PASS
