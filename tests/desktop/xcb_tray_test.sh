#!/usr/bin/env bash
# The agent on a real X server, as a user meets it: Xvfb, a tray host
# (trayer), the xcb platform, started by ./run.sh. The icon docks in the
# tray, its menu opens, the log viewer shows the lines of a live request,
# Restart asks first and leaves a successor agent with the demo page still
# served, and stopping run.sh stops everything. The window texts are those
# of the locale.
#   xcb_tray_test.sh AGENT_BINARY SOURCE_DIR LOCALE VIEWER_TITLE RESTART_TITLE
set -uo pipefail
agent_bin=$1 src=$2 locale=$3 viewer_title=$4 restart_title=$5

skip() { echo "SKIP: $*"; exit 77; }
for tool in Xvfb trayer xdotool xclip xwininfo curl; do
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done
# Its own network, mount and process namespaces: no packet leaves the
# machine, and run.sh's ports (48200, 48280), the X server's abstract socket
# and the agent processes it looks for are the test's alone.
. "$src/tests/support/agent_test_lib.sh"
enter_private_network --pid "$@"

work=$(mktemp -d)
pids=() runner=""
cleanup() {
  [ -n "$runner" ] && kill -TERM "$runner" 2>/dev/null && wait "$runner" 2>/dev/null
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  tail -n 20 "$work/run.out" 2>/dev/null
  exit 1
}
# Polls a command until it succeeds (20 s).
until_ok() {
  for _ in $(seq 200); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
  return 1
}

export HOME=$work/home XDG_RUNTIME_DIR=$work/run XDG_STATE_HOME=$work/state
export LANG=$locale LANGUAGE=""
unset LC_ALL LC_MESSAGES
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
unset DBUS_SESSION_BUS_ADDRESS QT_QPA_PLATFORM WAYLAND_DISPLAY

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
pids+=($!)
until_ok test -s "$work/display" || fail "Xvfb did not start"
export DISPLAY=:$(cat "$work/display")
trayer --edge top --align right --widthtype request --height 24 --transparent false >/dev/null 2>&1 &
pids+=($!)
until_ok xdotool search --class trayer || fail "trayer did not start"

# Requests to the agent; its certificate is not what this test is about
# (the browser tests check trust), so curl does not check it.
agent_curl() { curl -s --insecure "$@"; }

cd "$src" || exit 1
VORLINK_AGENT=$agent_bin VORLINK_DEMO_TOKEN=0 ./run.sh >"$work/run.out" 2>&1 &
runner=$!
serving() { grep -qs 'https 服務已經啟動, port = (int)48200' "$XDG_STATE_HOME"/Vorlink/*; }
until_ok serving || until_ok serving || fail "the agent does not serve"
agent_pid=$(pgrep -x vorlink45 | head -n 1)

# The icon: the agent's 22x22 window, docked in trayer's panel.
icon_window() {
  local w
  for w in $(xdotool search --onlyvisible --class vorlink45 2>/dev/null); do
    xdotool getwindowgeometry "$w" | grep -q 'Geometry: 22x22' && echo "$w" && return 0
  done
  return 1
}
until_ok icon_window || fail "no tray icon"
# Docked: inside the tree of trayer's "panel" window, before the next top-level window.
LC_ALL=C xwininfo -root -tree | sed -n '/"panel": /,/^     0x/p' | grep -q '"vorlink45"' || fail "the icon is not in the tray's panel"
eval "$(xdotool getwindowgeometry --shell "$(icon_window)")"
icon_x=$((X + 11)) icon_y=$((Y + 11))
echo "icon docked at $icon_x,$icon_y"

# Opens the tray menu and walks it with the keyboard: Down moves over the
# disabled first item.
menu_shown() { [ "$(xdotool search --onlyvisible --class vorlink45 2>/dev/null | wc -l)" -ge 2 ]; }
menu() {
  # A slow agent (a sanitizer build) may miss a click that comes before it
  # handles its icon's events: click again until the menu shows.
  local _
  for _ in $(seq 15); do
    xdotool mousemove "$icon_x" "$icon_y" click 3
    for _ in $(seq 40); do menu_shown && break 2; sleep 0.1; done
  done
  menu_shown || fail "the menu did not open"
  xdotool key "$@"
}
# The agent's visible window titled exactly $1 (compared here: xdotool's
# own name search does not match non-ASCII titles in every locale).
window_named() {
  local w
  for w in $(xdotool search --onlyvisible --class vorlink45 2>/dev/null); do
    [ "$(xdotool getwindowname "$w")" = "$1" ] && echo "$w" && return 0
  done
  return 1
}

menu Down Return
until_ok window_named "$viewer_title" || fail "no viewer titled \"$viewer_title\""
viewer=$(window_named "$viewer_title")
echo "viewer \"$viewer_title\" open"
marker=LiveLine$RANDOM
agent_curl -d "DLLToken=0&ExecMethod=$marker" https://127.0.0.1:48200/ >/dev/null
sleep 0.5
# The viewer's Copy button (next after the text in the focus order) puts
# its lines on the clipboard.
xdotool windowfocus --sync "$viewer" key Tab space
until_ok sh -c "xclip -o -selection clipboard | grep -q $marker" || fail "the viewer does not show the request's lines"
echo "viewer shows the live request"

menu Down Down Down Return
until_ok window_named "$restart_title" || fail "Restart did not ask \"$restart_title\""
# No is the default: move to Yes.
xdotool windowfocus --sync "$(window_named "$restart_title")" key shift+Tab space
until_ok sh -c "! kill -0 $agent_pid" || fail "the agent did not restart"
until_ok sh -c 'pgrep -x vorlink45' || fail "no successor agent"
successor=$(pgrep -x vorlink45)
answer=""
for _ in $(seq 100); do
  answer=$(agent_curl -d InitDLL=PKCS11 https://127.0.0.1:48200/ORVA)
  [[ "$answer" =~ ^\|\|0\|\|[0-9]+\|\|$ ]] && break
  sleep 0.1
done
[[ "$answer" =~ ^\|\|0\|\|[0-9]+\|\|$ ]] || fail "the successor does not answer InitDLL: $answer"
[ "$(curl -s -o /dev/null -w '%{http_code}' http://127.0.0.1:48280/demo.html)" = 200 ] ||
  fail "the demo page is not served after the restart"
echo "restarted: agent $agent_pid -> $successor, demo page still served"

kill -TERM "$runner"
until_ok sh -c "! kill -0 $runner" || fail "run.sh did not end"
runner=""
pgrep -x vorlink45 >/dev/null && fail "an agent outlived run.sh"
curl -s -o /dev/null http://127.0.0.1:48280/demo.html && fail "the demo page outlived run.sh"
echo PASS
