#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing the
# agent need. Idempotent: installs only what is missing, and says what.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config git   # toolchain
  libcpp-httplib-dev libssl-dev openssl  # HTTPS server and TLS
  libgtest-dev                           # tests
  curl ca-certificates                   # integration tests talk to the agent with curl
  libnss3-tools                          # certutil: browser trust in NSS databases
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#packages[@]} packages present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
