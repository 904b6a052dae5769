#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing the
# agent need. Idempotent: installs only what is missing, and says what.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config git   # toolchain
  libcpp-httplib-dev libssl-dev openssl  # HTTPS server and TLS
  libgtest-dev                           # tests
  clang libclang-rt-14-dev               # libFuzzer targets
  curl ca-certificates                   # integration tests talk to the agent with curl
  wrk python3                            # the request benchmark and test helpers
  libnss3-tools                          # certutil: browser trust in NSS databases
  qt6-base-dev qt6-svg-dev libqt6svg6    # desktop layer: widgets, D-Bus, the SVG icon
  qt6-tools-dev qt6-l10n-tools           # window texts in other languages: lrelease and its CMake functions
  xvfb trayer xdotool xclip x11-utils    # desktop tests on a real X server with a tray
  imagemagick                            # finds Chromium's permission question on the test's screen
  dbus python3-dbus fonts-wqy-microhei   # a private session bus and a signal emitter for tests; a CJK font
  libp11-kit-dev p11-kit                 # the bundled component: PKCS#11 headers and the proxy module
  libpcsclite-dev                        # --doctor lists card readers and cards through pcscd
  softhsm2 opensc                        # a software token for the demo and tests; pkcs11-tool
  opensc-pkcs11 pcscd vsmartcard-vpcd    # card tests: the card module, a pcscd per test, the virtual reader
  python3-cryptography                   # card tests: the virtual card's keys, certificates and signatures
  dpkg-dev lintian                       # the Debian package: dpkg-shlibdeps for Depends; its checks
)

# Browsers for the trust tests; their tests skip when these cannot be had.
optional=(firefox-esr chromium)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

missing_optional=()
for p in "${optional[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing_optional+=("$p")
done

if [ ${#missing[@]} -eq 0 ] && [ ${#missing_optional[@]} -eq 0 ]; then
  echo "install-deps: all $((${#packages[@]} + ${#optional[@]})) packages present"
  exit 0
fi

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
if [ ${#missing[@]} -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
if [ ${#missing_optional[@]} -gt 0 ]; then
  echo "install-deps: installing ${missing_optional[*]} (optional: browser tests)"
  $sudo apt-get install -y -qq --no-install-recommends "${missing_optional[@]}" ||
    echo "install-deps: could not install ${missing_optional[*]}; the browser tests will be skipped"
fi
