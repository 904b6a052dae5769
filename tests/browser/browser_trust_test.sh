#!/usr/bin/env bash
# Proves browser trust with a real browser: a fresh HOME with a fresh
# profile, the agent's trust installation in MODE, the agent serving, and a
# page on http://127.0.0.1 asking the agent for an answer (a plain
# cross-origin POST and a preflighted one).
#   browser_trust_test.sh AGENT_BINARY firefox|chromium MODE expect-trust|expect-refusal
set -uo pipefail
. "$(dirname "$0")/../support/agent_test_lib.sh"
enter_private_network "$@"
agent_bin=$1 browser=$2 mode=$3 expectation=$4
here=$(cd "$(dirname "$0")" && pwd)

case "$browser" in
  firefox) exe=$(command -v firefox-esr || command -v firefox) ;;
  chromium) exe=$(command -v chromium) ;;
esac
if [ -z "${exe:-}" ]; then
  echo "SKIP: $browser is not installed"
  exit 77
fi

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
export HOME=$work/home
mkdir -p "$HOME"
agent_port=$(free_port)
page_port=$(free_port)
report=$work/report.txt

if [ "$browser" = firefox ]; then
  profile=$HOME/.mozilla/firefox/test.default
  make_quiet_firefox_profile "$exe" "$profile"
fi

agent_out=$work/agent.out
"$agent_bin" "$agent_port" "$mode" >"$agent_out" 2>&1 &
pids+=($!)
for _ in $(seq 100); do grep -q READY "$agent_out" && break; sleep 0.1; done
grep -q READY "$agent_out" || { echo "FAIL: agent did not start"; cat "$agent_out"; exit 1; }

python3 "$here/page_server.py" "$page_port" "$agent_port" "$report" &
pids+=($!)
sleep 0.5
url=http://127.0.0.1:$page_port/page.html

if [ "$browser" = firefox ]; then
  "$exe" --headless --no-remote --profile "$profile" "$url" >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 300); do [ -s "$report" ] && break; sleep 0.1; done
else
  timeout 60 "$exe" --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --user-data-dir="$work/chromium" --virtual-time-budget=10000 --dump-dom "$url" >/dev/null 2>&1
fi

result=$(cat "$report" 2>/dev/null)
echo "$browser ($mode): $result"
answer='200 ||-1||沒有找到指定的 DllToken, 無法執行||'
trusted="simple=$answer
preflighted=$answer"
if [ "$expectation" = expect-trust ]; then
  [ "$result" = "$trusted" ] || { echo "FAIL: expected the agent's answer"; exit 1; }
else
  [ -n "$result" ] || { echo "FAIL: the page reported nothing"; exit 1; }
  [ "$result" != "$trusted" ] || { echo "FAIL: an untrusted profile reached the agent"; exit 1; }
fi
echo PASS
