#!/usr/bin/env bash
# make.sh [DIR]
# Makes the signature test set with the openssl command: public keys as the
# updater's PackageKey takes them (Base64 of the DER SubjectPublicKeyInfo, one
# line), signatures of package.txt as `openssl dgst -sha256 -sign` writes them.
# The private keys are thrown away. Without DIR the set is made beside this
# script (the committed set, which the Windows build's tests read under Wine);
# the Linux tests also make a fresh one in a temporary folder.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
out=${1:-$here}
mkdir -p "$out"
keys=$(mktemp -d)
trap 'rm -rf "$keys"' EXIT

[ -f "$out/package.txt" ] || seq 1 15000 >"$out/package.txt"   # larger than one read of the checker

key() {  # key NAME GENPKEY-ARGS...
  local name=$1
  shift
  openssl genpkey "$@" -out "$keys/$name.pem" 2>/dev/null
  openssl pkey -in "$keys/$name.pem" -pubout -outform DER | base64 -w0 >"$out/$name.pub.b64"
}
key rsa2048 -algorithm RSA -pkeyopt rsa_keygen_bits:2048
key rsa4096 -algorithm RSA -pkeyopt rsa_keygen_bits:4096
key rsa2048-other -algorithm RSA -pkeyopt rsa_keygen_bits:2048
key rsa1024 -algorithm RSA -pkeyopt rsa_keygen_bits:1024
key p256 -algorithm EC -pkeyopt ec_paramgen_curve:P-256
key p256-other -algorithm EC -pkeyopt ec_paramgen_curve:P-256
key p384 -algorithm EC -pkeyopt ec_paramgen_curve:P-384
key ed25519 -algorithm ED25519
# The same P-256 key with its point compressed.
openssl pkey -in "$keys/p256.pem" -pubout -outform DER -ec_conv_form compressed | base64 -w0 \
  >"$out/p256-compressed.pub.b64"

for k in rsa2048 rsa4096 rsa2048-other p256 p256-other; do
  openssl dgst -sha256 -sign "$keys/$k.pem" -out "$out/package.$k.sig" "$out/package.txt"
done
# RSA with PSS padding, which the updater does not take.
openssl dgst -sha256 -sign "$keys/rsa2048.pem" -sigopt rsa_padding_mode:pss -out "$out/package.rsa2048-pss.sig" \
  "$out/package.txt"
