#!/usr/bin/env bash
# Runs a command where no packet can leave the machine: in network and mount
# namespaces of its own, with only a loopback interface, and with a resolver
# that answers nothing (empty resolv.conf, a hosts file naming localhost
# alone, name look-ups from files and DNS only), so a browser's background
# look-up fails at once instead of waiting or reaching the machine's
# resolver. Every test that starts a browser, an X server, pcscd, or the
# agent for one of them runs under it.
#   private_network.sh [--pid] COMMAND [ARG...]
# --pid also gives the command a process namespace of its own (it is then
# process 1's child there and sees only its own processes).
#
# As root the namespaces are made directly; otherwise in a user namespace
# that maps the caller to root. When neither can be made the command is not
# run: the script prints why and exits 1, never falling back to the
# machine's network. Inside, VORLINK_PRIVATE_NETWORK=1 is set.
set -euo pipefail

if [ "${1:-}" = --inside ]; then
  shift
  ip link set lo up
  # The replacement files live on a tmpfs of this mount namespace alone;
  # detached again at once, it leaves nothing behind in /tmp, while the
  # files stay real (not deleted) so a test may bind its own over them.
  dir=$(mktemp -d /tmp/vorlink-netns.XXXXXX)
  mount -t tmpfs -o size=64k,mode=0755 vorlink-netns "$dir"
  printf '127.0.0.1 localhost\n::1 localhost ip6-localhost ip6-loopback\n' >"$dir/hosts"
  : >"$dir/resolv.conf"
  printf 'hosts: files dns\n' >"$dir/nsswitch.conf"
  for name in hosts resolv.conf nsswitch.conf; do
    if [ -e "/etc/$name" ]; then mount --bind "$dir/$name" "/etc/$name"; fi
  done
  umount -l "$dir"
  rmdir "$dir"
  export VORLINK_PRIVATE_NETWORK=1
  exec "$@"
fi

pid=()
if [ "${1:-}" = --pid ]; then
  pid=(-p -f --mount-proc)
  shift
fi
[ $# -gt 0 ] || { echo "usage: private_network.sh [--pid] COMMAND [ARG...]" >&2; exit 2; }

fail() { echo "FAIL: cannot make a private network for the test: $*" >&2; exit 1; }
command -v unshare >/dev/null || fail "unshare is not installed (util-linux)"
command -v ip >/dev/null || fail "ip is not installed (iproute2)"

user=()
[ "$(id -u)" -eq 0 ] || user=(-r)
# A trial first, so that a refusal is reported as such and not as the
# test's own failure.
why=$(unshare "${user[@]}" -n -m true 2>&1) ||
  fail "unshare ${user[*]} -n -m refused (${why:-no reason given}); run as root or allow user namespaces"
exec unshare "${user[@]}" -n -m --propagation private "${pid[@]}" "$0" --inside "$@"
