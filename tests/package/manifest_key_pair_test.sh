#!/usr/bin/env bash
# Configuring refuses a manifest key pair whose halves do not belong
# together, and accepts a distributor's own matching pair. Configure only,
# with tests, desktop layer and benchmarks off, so each case is cheap.
#   manifest_key_pair_test.sh CMAKE SOURCE_DIR
set -uo pipefail
cmake=$1 source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

dev_pub=$source/tools/dev-keys/manifest-dev.pub.pem
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$work/dist.key.pem" 2>/dev/null &&
  openssl pkey -in "$work/dist.key.pem" -pubout -out "$work/dist.pub.pem" || { echo "FAIL: openssl"; exit 1; }

failures=0
# public key | private key | expected: "ok" or a piece of the error text
while IFS='|' read -r pub key expected; do
  [ -z "$pub" ] && continue
  pub=${pub//@W@/$work} key=${key//@W@/$work} pub=${pub//@DEV@/$dev_pub}
  dir=$work/build-$RANDOM
  out=$("$cmake" -S "$source" -B "$dir" -G Ninja -DVORLINK_BUILD_TESTS=OFF -DVORLINK_BUILD_DESKTOP=OFF \
    -DVORLINK_BUILD_BENCH=OFF -DVORLINK_MANIFEST_PUBLIC_KEY="$pub" -DVORLINK_MANIFEST_PRIVATE_KEY="$key" 2>&1)
  status=$?
  if [ "$expected" = ok ]; then
    if [ $status -eq 0 ]; then echo "ok: $pub + $key: accepted"; else
      echo "FAIL: $pub + $key was refused:"; echo "$out"; failures=$((failures + 1)); fi
  elif [ $status -eq 0 ]; then
    echo "FAIL: $pub + $key was accepted"; failures=$((failures + 1))
  elif ! grep -qF "$expected" <<<"$out"; then
    echo "FAIL: $pub + $key failed without \"$expected\":"; echo "$out"; failures=$((failures + 1))
  else
    echo "ok: $pub + $key: $expected"
  fi
  rm -rf "$dir"
done <<'EOF'
@DEV@|@W@/dist.key.pem|The manifest keys do not belong together
@W@/dist.key.pem|@W@/dist.key.pem|The manifest keys do not belong together
@W@/dist.pub.pem|@W@/missing.key.pem|VORLINK_MANIFEST_PRIVATE_KEY names a file that does not exist
@W@/dist.pub.pem|@W@/dist.pub.pem|is not a private key openssl can read
@W@/dist.pub.pem|@W@/dist.key.pem|ok
EOF
[ $failures -eq 0 ] && echo PASS
exit $((failures > 0))
