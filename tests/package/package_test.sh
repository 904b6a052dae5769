#!/usr/bin/env bash
# The Debian package from end to end on this machine: cpack builds it from
# the build tree, its contents and control fields are checked, lintian
# reports on it, dpkg installs it, the installed agent is started the way a
# new user's session starts it (the autostart entry's command, a fresh
# HOME, no display, NOTRAY, a private session bus) and answers InitDLL from
# the installed component; then the package is removed and purged and
# nothing of it may remain but that user's logs.
# Needs root and dpkg; exits 77 (skipped) otherwise. The package is purged
# on every way out, also when a check fails.
#   package_test.sh BUILD_DIR
set -uo pipefail
build=$(cd "$1" && pwd)
pkg=vorlink45
agent_dir=/usr/lib/vorlink45

skip() { echo "SKIP: $*"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "installing a package needs root"
for tool in dpkg dpkg-deb dpkg-shlibdeps cpack curl dbus-run-session runuser certutil; do
  command -v "$tool" >/dev/null || skip "$tool is missing"
done
# "install ok installed", "deinstall ok config-files", ...: dpkg has it.
known() { dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -qv 'not-installed$'; }
if known; then
  skip "$pkg is already installed on this machine; not touching it"
fi

work=$(mktemp -d)
chmod 755 "$work"
installed=0 runner="" agent_pid=""
# The started agent: nobody's process whose executable is the installed one.
find_agent() {
  local p
  for p in $(pgrep -u nobody -x vorlink45); do
    [ "$(readlink "/proc/$p/exe")" = "$agent_dir/vorlink45" ] && agent_pid=$p
  done
}
cleanup() {
  [ -n "$runner" ] && [ -z "$agent_pid" ] && find_agent
  # The agent first: dbus-run-session then ends by itself and takes its bus
  # daemon along, which it does not do when it is signalled itself.
  [ -n "$agent_pid" ] && kill -TERM "$agent_pid" 2>/dev/null
  if [ -n "$runner" ]; then
    for _ in $(seq 50); do kill -0 "$runner" 2>/dev/null || break; sleep 0.1; done
    kill -TERM "$runner" 2>/dev/null
    wait "$runner" 2>/dev/null
  fi
  [ $installed -eq 1 ] && dpkg_locked dpkg --purge "$pkg" >/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; cat "$work"/home/.local/state/Vorlink/* 2>/dev/null | tail -n 20; exit 1; }
now_ms() { echo $(($(date +%s%N) / 1000000)); }
elapsed() { local ms=$(($(now_ms) - $1)); printf '%d.%d s' $((ms / 1000)) $((ms % 1000 / 100)); }

# dpkg and apt wait for each other's lock: another install on the machine
# (scripts/install-deps.sh) only delays the test.
dpkg_locked() {
  local out
  for _ in $(seq 60); do
    if out=$("$@" 2>&1); then echo "$out"; return 0; fi
    grep -qi 'lock' <<<"$out" || { echo "$out"; return 1; }
    sleep 2
  done
  echo "$out"; return 1
}

# --- build ---------------------------------------------------------------
start=$(now_ms)
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack failed"; }
deb=$(ls "$work"/out/${pkg}_*.deb 2>/dev/null | head -n 1)
[ -f "$deb" ] || fail "cpack made no .deb"
echo "built $(basename "$deb"): $(stat -c %s "$deb") bytes in $(elapsed "$start")"

# --- contents --------------------------------------------------------------
dpkg-deb -c "$deb" >"$work/contents" || fail "dpkg-deb -c"
# Everything in the package that is not a directory: path and mode.
awk '$1 !~ /^d/ { p = $6; sub(/^\./, "", p); print p, substr($1, 1, 10) }' "$work/contents" | sort >"$work/files"
sort >"$work/expected" <<EOF
/etc/xdg/autostart/vorlink45.desktop -rw-r--r--
/usr/bin/vorlink45 lrwxrwxrwx
$agent_dir/Vorlink.ini -rw-r--r--
$agent_dir/components/ORVAPkcs11Crypto.ORVA_P11Crypto.component -rw-r--r--
$agent_dir/libp11crypto.so -rw-r--r--
$agent_dir/vorlink45 -rwxr-xr-x
$agent_dir/vorlink-component-host -rwxr-xr-x
/usr/share/applications/vorlink45.desktop -rw-r--r--
/usr/share/doc/vorlink45/changelog.Debian.gz -rw-r--r--
/usr/share/doc/vorlink45/copyright -rw-r--r--
/usr/share/icons/hicolor/scalable/apps/vorlink45.svg -rw-r--r--
/usr/share/man/man1/vorlink45.1.gz -rw-r--r--
EOF
diff -u "$work/expected" "$work/files" || fail "the package's files differ from the expected list (-expected +package)"
grep -q '^l.* \./usr/bin/vorlink45 -> \.\./lib/vorlink45/vorlink45$' "$work/contents" ||
  fail "/usr/bin/vorlink45 is not a relative link to the agent"
awk '$2 != "root/root" { print; bad = 1 } END { exit bad }' "$work/contents" || fail "files not owned by root"

# Nothing private ships: no PEM private key in any file, and not the old
# development key (tests/support/old-identity/localhost.key.der) in any form.
mkdir "$work/tree"
dpkg-deb -x "$deb" "$work/tree" || fail "dpkg-deb -x"
python3 - "$work/tree" "$(dirname "$0")/../support/old-identity/localhost.key.der" <<'PY' || fail "the package holds a private key"
import base64, os, sys
tree, key_file = sys.argv[1:]
key = open(key_file, "rb").read()
needles = [b"PRIVATE KEY-----", key[-64:], base64.b64encode(key[-60:])]
for folder, _, files in os.walk(tree):
    for name in files:
        path = os.path.join(folder, name)
        if os.path.islink(path): continue
        data = open(path, "rb").read()
        for needle in needles:
            if needle in data: sys.exit(f"{path} holds {needle[:20]!r}")
PY

# --- control -------------------------------------------------------------
dpkg-deb -I "$deb" >"$work/info" || fail "dpkg-deb -I"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
# Named by the package rules, and found by dpkg-shlibdeps in the binaries.
names=$(sed -E 's/ \([^)]*\)//g; s/, /\n/g' <<<"$depends")
for dep in libnss3-tools p11-kit libc6 libssl3 libstdc++6 libqt6core6 libqt6widgets6 libqt6dbus6 libqt6svg6; do
  grep -qxF "$dep" <<<"$names" || fail "Depends lacks $dep"
done
[ "$(dpkg-deb -f "$deb" Package)" = "$pkg" ] || fail "wrong package name"
[ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "no Maintainer"
# Maintainer scripts, if any, must be POSIX shell that stops on errors.
mkdir "$work/control"
dpkg-deb -e "$deb" "$work/control" || fail "dpkg-deb -e"
for script in preinst postinst prerm postrm config; do
  f=$work/control/$script
  [ -e "$f" ] || continue
  head -n 1 "$f" | grep -q '^#!/bin/sh' || fail "$script is not a /bin/sh script"
  grep -q 'set -e' "$f" || fail "$script does not set -e"
  sh -n "$f" || fail "$script has a syntax error"
done
[ "$(cat "$work/control/conffiles")" = /etc/xdg/autostart/vorlink45.desktop ] ||
  fail "conffiles should list exactly the autostart entry"
(cd "$work/control" && ls) | tr '\n' ' ' | sed 's/^/control members: /'; echo

# --- lintian -------------------------------------------------------------
if command -v lintian >/dev/null; then
  start=$(now_ms)
  lintian --display-info "$deb" >"$work/lintian" 2>&1
  echo "lintian ($(elapsed "$start")):"
  sed 's/^/  /' "$work/lintian"
  ! grep -q '^E:' "$work/lintian" || fail "lintian reports errors"
  # The default maintainer address and the licence file are ones lintian accepts.
  ! grep -E 'malformed-contact|bogus-mail-host|mail-address-loops-or-bounces|no-phrase|copyright' "$work/lintian" ||
    fail "lintian finds fault with the maintainer or the copyright file"
fi
dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/doc/$pkg/copyright | grep -qx 'License: Expat' ||
  fail "the copyright file does not state the MIT (Expat) licence"

# --- install -------------------------------------------------------------
start=$(now_ms)
installed=1
dpkg_locked dpkg -i "$deb" >"$work/install.log" ||
  echo "dpkg -i left dependencies to apt-get -f install"
export DEBIAN_FRONTEND=noninteractive
dpkg_locked apt-get -f install -y -qq -o DPkg::Lock::Timeout=120 >>"$work/install.log" ||
  { cat "$work/install.log"; fail "apt-get -f install"; }
dpkg-query -W -f='${Status}' "$pkg" | grep -q 'install ok installed' ||
  { cat "$work/install.log"; fail "$pkg is not installed"; }
echo "installed in $(elapsed "$start")"
dpkg -L "$pkg" | sort >"$work/owned"

# --- first start, as a new user's session starts it ------------------------
exec_line=$(sed -n 's/^Exec=//p' /etc/xdg/autostart/vorlink45.desktop)
read -ra command <<<"$exec_line"
[ "${command[0]}" = /usr/bin/vorlink45 ] || fail "the autostart entry runs \"$exec_line\""
home=$work/home run=$work/run
mkdir -p "$home" "$run"
chown nobody "$home" "$run"
chmod 700 "$run"
runuser -u nobody -- env -i HOME="$home" XDG_RUNTIME_DIR="$run" PATH=/usr/bin:/bin LANG=C.UTF-8 \
  QT_QPA_PLATFORM=offscreen dbus-run-session -- "${command[@]}" NOTRAY >"$work/agent.out" 2>&1 &
runner=$!
logs=$home/.local/state/Vorlink
port=""
for _ in $(seq 150); do
  port=$(grep -ho 'https 服務已經啟動, port = (int)[0-9]*' "$logs"/* 2>/dev/null | grep -o '[0-9]*$' | head -n 1)
  [ -n "$port" ] && break
  kill -0 "$runner" 2>/dev/null || { cat "$work/agent.out"; fail "the installed agent ended"; }
  sleep 0.1
done
[ -n "$port" ] || { cat "$work/agent.out"; fail "the installed agent did not start serving"; }
find_agent
[ -n "$agent_pid" ] || fail "no agent process running $agent_dir/vorlink45"

# The user's own client, trusting the user's own authority, is served.
ca=$home/.local/share/vorlink/identity/ca.pem
answer=$(runuser -u nobody -- curl -s --max-time 20 --cacert "$ca" -d 'InitDLL=PKCS11' "https://127.0.0.1:$port/ORVA")
[[ "$answer" =~ ^\|\|0\|\|[0-9]+\|\|$ ]] || fail "InitDLL=PKCS11 answered \"$answer\""
echo "InitDLL=PKCS11 on port $port: $answer"
# Another user (root here) gets no TLS handshake.
curl -sk --max-time 20 -o /dev/null "https://127.0.0.1:$port/"
status=$?
[ $status -eq 35 ] || fail "root's curl to nobody's agent ended with status $status, not 35 (no handshake)"

# The agent's start-up made the new user's NSS database (the XDG one a
# current Chromium makes) trust the user's authority.
trusted=0
for _ in $(seq 50); do
  runuser -u nobody -- certutil -L -d "sql:$home/.local/share/pki/nssdb" | grep -q '^Vorlink45 Local CA ' &&
    { trusted=1; break; }
  sleep 0.1
done
[ $trusted -eq 1 ] || fail "the user's authority is not in ~/.local/share/pki/nssdb"
[ ! -e "$home/.pki" ] || fail "~/.pki was made"

kill -TERM "$agent_pid"
for _ in $(seq 100); do kill -0 "$runner" 2>/dev/null || break; sleep 0.1; done
kill -0 "$runner" 2>/dev/null && fail "the agent did not end after SIGTERM"
wait "$runner"
runner="" agent_pid=""
grep -q 'sslServer 服務已停止' "$logs"/* || fail "the agent did not stop in order"

# --- remove, then purge --------------------------------------------------
start=$(now_ms)
dpkg_locked dpkg --remove "$pkg" >/dev/null || fail "dpkg --remove"
left=()
while read -r path; do
  [ -d "$path" ] && [ ! -L "$path" ] && continue    # shared directories stay
  [ -e "$path" ] || [ -L "$path" ] && left+=("$path")
done <"$work/owned"
[ "${left[*]}" = /etc/xdg/autostart/vorlink45.desktop ] ||
  fail "after removal, left: ${left[*]:-nothing} (only the autostart conffile may stay until purge)"
dpkg_locked dpkg --purge "$pkg" >/dev/null || fail "dpkg --purge"
installed=0
echo "removed and purged in $(elapsed "$start")"
while read -r path; do
  [ -d "$path" ] && [ ! -L "$path" ] && continue
  [ -e "$path" ] || [ -L "$path" ] && fail "after purge, $path is still there"
done <"$work/owned"
for folder in "$agent_dir" /usr/share/doc/vorlink45; do
  [ ! -e "$folder" ] || fail "$folder is still there"
done
known && fail "dpkg still knows $pkg after purge"
ls "$logs"/NestoVorlink45.log.* >/dev/null 2>&1 || fail "the user's logs went with the package"
echo PASS
