#!/usr/bin/env bash
# make.sh [DIR]
# Makes the signature test set with the openssl command: public keys as the
# updater's PackageKey takes them (Base64 of the DER SubjectPublicKeyInfo, one
# line), release statements of package.txt signed as `openssl dgst -sha256 -sign`
# signs, and a bare signature of the package in the form nothing accepts any
# more. The private keys are thrown away. Without DIR the set is made beside
# this script (the committed set, which the Windows build's tests read under
# Wine); the Linux tests also make a fresh one in a temporary folder.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
out=${1:-$here}
mkdir -p "$out"
keys=$(mktemp -d)
trap 'rm -rf "$keys"' EXIT

[ -f "$out/package.txt" ] || seq 1 15000 >"$out/package.txt"   # larger than one read of the checker
rm -f "$out"/package.*.sig "$out"/statement.*

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

size=$(wc -c <"$out/package.txt")
sha=$(sha256sum "$out/package.txt" | cut -d' ' -f1)

# statement NAME KEY [DGST-ARGS...] < BODY: the body, then its signature line.
statement() {
  local name=$1 k=$2
  shift 2
  cat >"$keys/body"
  openssl dgst -sha256 -sign "$keys/$k.pem" "$@" -out "$keys/sig" "$keys/body"
  { cat "$keys/body"; printf 'signature: %s\n' "$(base64 -w0 "$keys/sig")"; } >"$out/statement.$name"
}
body() {  # body [PRODUCT [SIZE [SHA]]]
  printf 'product: %s\nversion: 5.4.0\nsize: %s\nsha256: %s\n' "${1:-Kestrova}" "${2:-$size}" "${3:-$sha}"
}
for k in rsa2048 rsa4096 rsa2048-other p256 p256-other; do
  body | statement "$k" "$k"
done
# RSA with PSS padding, which the updater does not take.
body | statement rsa2048-pss rsa2048 -sigopt rsa_padding_mode:pss
{ body; printf 'expires: 2027-06-30\nchannel: beta\n'; } | statement p256-expires p256
body Lumeva | statement p256-product p256
body Kestrova $((size + 1)) | statement p256-size p256
body Kestrova "$size" "$(printf '%064d' 0)" | statement p256-sha256 p256
printf 'product: Kestrova\r\nversion: 5.4.0\r\nsize: %s\r\nsha256: %s\r\n' "$size" "$sha" | statement p256-crlf p256
printf 'product: Kestrova\nsize: %s\nsha256: %s\n' "$size" "$sha" | statement p256-noversion p256
{ body; printf 'version: 5.4.1\n'; } | statement p256-twice p256
# What a bare detached signature looked like.
openssl dgst -sha256 -sign "$keys/p256.pem" -out "$out/package.p256.sig" "$out/package.txt"
