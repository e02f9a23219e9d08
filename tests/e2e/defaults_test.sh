#!/usr/bin/env bash
# defaults_test.sh TOOL PROGRAM RUNNER [NATIVE_TOOL]
# Patches copies of PROGRAM (a build of tests/helpers/print-defaults) with TOOL
# and runs them again. RUNNER runs programs of the target ("" natively, Wine
# for a Windows build; then Windows path texts are passed to TOOL). When
# NATIVE_TOOL exists and differs from TOOL, it patches the target's program too.
set -uo pipefail
tool=$1 program=$2 runner=$3 native=${4:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
run() { if [ -n "$runner" ]; then "$runner" "$@"; else "$@"; fi; }
# Output of a target program, line ends normalised.
show() { run "$@" | tr -d '\r'; }
value() { show "$1" | sed -n "s/^$2=//p"; }
# A path as the tool of this target takes it.
arg_path() { if [ -n "$runner" ]; then echo "Z:${1//\//\\}"; else echo "$1"; fi; }

# tool_run TOOLCMD PROGRAM ARGS... : status and output of one tool run.
tool_run() {
  local t=$1 p=$2
  shift 2
  if [ "$t" = "$native" ]; then "$t" "$p" "$@"; else run "$t" "$(arg_path "$p")" "$@"; fi
}

check_tool() {
  local t=$1 label=$2
  local copy="$work/$label-$(basename "$program")" out
  cp "$program" "$copy"
  chmod u+w "$copy"

  [ "$(value "$copy" DefaultLanguage)" = ENGLISH ] || fail "$label: original DefaultLanguage"
  local before_url
  before_url=$(value "$copy" DefaultDownloadURL)
  [[ "$before_url" == */kestrova/kestrovafull.zip ]] || fail "$label: original DefaultDownloadURL '$before_url'"

  local url="http://127.0.0.1:8080/kestrova/patched-$label.zip"
  out=$(tool_run "$t" "$copy" DefaultDownloadURL "$url" 2>&1) || fail "$label: rewrite refused: $out"
  [ "$(value "$copy" DefaultDownloadURL)" = "$url" ] || fail "$label: patched DefaultDownloadURL not shown"
  [ "$(value "$copy" DefaultLanguage)" = ENGLISH ] || fail "$label: neighbouring field changed"
  [ "$(value "$copy" BatchFileName)" = LiveUpdate.bat ] || fail "$label: BatchFileName"

  # A shorter value leaves nothing of the longer one behind.
  tool_run "$t" "$copy" ProductRegistryKey 'HKEY_CURRENT_USER\Software\Lumeva\Kestrova\Long\Path' >/dev/null 2>&1 ||
    fail "$label: long key refused"
  tool_run "$t" "$copy" productregistrykey 'HKEY_USERS\X' >/dev/null 2>&1 || fail "$label: short key refused"
  [ "$(value "$copy" ProductRegistryKey)" = 'HKEY_USERS\X' ] || fail "$label: short value after long one"

  # Limits: capacity - 1 bytes fit, capacity bytes do not; an empty value fits.
  local fits tolong
  fits=$(printf 'L%.0s' $(seq 35))
  tolong=$(printf 'L%.0s' $(seq 36))
  tool_run "$t" "$copy" DefaultLanguage "$fits" >/dev/null 2>&1 || fail "$label: 35 bytes refused"
  [ "$(value "$copy" DefaultLanguage)" = "$fits" ] || fail "$label: 35-byte value not shown"
  cp "$copy" "$work/before"
  if tool_run "$t" "$copy" DefaultLanguage "$tolong" >/dev/null 2>&1; then fail "$label: 36 bytes accepted"; fi
  if tool_run "$t" "$copy" NoSuchField x >/dev/null 2>&1; then fail "$label: unknown field accepted"; fi
  # Empty, these would name the whole Run key, the registry's root or the Programs folder.
  for name in ApplicationName UpdaterFileName ProgramGroupName ProductRegistryKey; do
    if tool_run "$t" "$copy" "$name" "" >/dev/null 2>&1; then fail "$label: empty $name accepted"; fi
  done
  cmp -s "$copy" "$work/before" || fail "$label: a refused rewrite changed the program"
  tool_run "$t" "$copy" DefaultUserName "" >/dev/null 2>&1 || fail "$label: empty value refused"
  [ "$(value "$copy" DefaultUserName)" = "" ] || fail "$label: empty value"

  # PackageKey takes up to four keys the updater can use (four RSA-4096 ones
  # fill most of it), and refuses a text that is not one, or a fifth key.
  local key four
  key=$(cat "$(dirname "${BASH_SOURCE[0]}")/../data/sign/rsa4096.pub.b64")
  four="$key,$key,$key,$key"
  out=$(tool_run "$t" "$copy" 2>&1 | tr -d '\r')
  grep -q "^Policy: unsigned packages over https only\$" <<<"$out" || fail "$label: policy of the build: $out"
  out=$(tool_run "$t" "$copy" PackageKey "$four" 2>&1 | tr -d '\r') || fail "$label: four RSA-4096 keys refused"
  grep -q "^Policy: packages must be signed by one of 4 keys\$" <<<"$out" || fail "$label: policy of 4 keys: $out"
  [ "$(value "$copy" PackageKey)" = "$four" ] || fail "$label: PackageKey not shown"
  out=$(tool_run "$t" "$copy" PackageKey "bm90IGEga2V5" 2>&1) && fail "$label: a text that is no key accepted"
  grep -q "not a DER public key" <<<"$out" || fail "$label: malformed key message: $out"
  out=$(tool_run "$t" "$copy" PackageKey "$four,$key" 2>&1) && fail "$label: a fifth key accepted"
  [ "$(value "$copy" PackageKey)" = "$four" ] || fail "$label: a refused key changed PackageKey"
  tool_run "$t" "$copy" PackageKey "$key" >/dev/null 2>&1 || fail "$label: one key refused"

  # AllowUnauthenticated is 0 or 1, MaxPackageSize a number of bytes.
  tool_run "$t" "$copy" PackageKey "" >/dev/null 2>&1 || fail "$label: no key refused"
  out=$(tool_run "$t" "$copy" AllowUnauthenticated 1 2>&1 | tr -d '\r') || fail "$label: AllowUnauthenticated 1 refused"
  grep -q "^Policy: unsigned packages over http accepted\$" <<<"$out" || fail "$label: policy with 1: $out"
  [ "$(value "$copy" AllowUnauthenticated)" = 1 ] || fail "$label: AllowUnauthenticated not shown"
  if tool_run "$t" "$copy" AllowUnauthenticated yes >/dev/null 2>&1; then fail "$label: AllowUnauthenticated yes"; fi
  tool_run "$t" "$copy" MaxPackageSize 1048576 >/dev/null 2>&1 || fail "$label: MaxPackageSize refused"
  [ "$(value "$copy" MaxPackageSize)" = 1048576 ] || fail "$label: MaxPackageSize not shown"
  if tool_run "$t" "$copy" MaxPackageSize 1M >/dev/null 2>&1; then fail "$label: MaxPackageSize 1M accepted"; fi
  [ "$(value "$copy" AllowUnauthenticated)" = 1 ] || fail "$label: a refused value changed the program"

  # The listing shows the patched values.
  out=$(tool_run "$t" "$copy" 2>&1 | tr -d '\r') || fail "$label: listing failed"
  grep -q "^DefaultDownloadURL  *260  $url\$" <<<"$out" || fail "$label: listing lacks the new address: $out"

  # No block, or two blocks: refused with status 1.
  head -c 5000 "$copy" >"$work/noblock"
  if tool_run "$t" "$work/noblock" >/dev/null 2>&1; then fail "$label: file without block accepted"; fi
  cat "$copy" "$copy" >"$work/twoblocks"
  out=$(tool_run "$t" "$work/twoblocks" DefaultUserName x 2>&1)
  [ $? -eq 1 ] || fail "$label: file with two blocks not refused with status 1"
  grep -q "2 blocks" <<<"$out" || fail "$label: two-block message: $out"
  if tool_run "$t" "$work/missing-file" >/dev/null 2>&1; then fail "$label: missing file accepted"; fi
}

check_tool "$tool" target
if [ -n "$native" ] && [ -x "$native" ] && [ "$native" != "$tool" ]; then
  check_tool "$native" native
fi

# Arguments reach the program as the platform splits them.
args=$(show "$program" /KILL 12,34 "two words" 'a"b' 'back\slash' "" | sed -n 's/^arg=//p')
expected=$(printf '%s\n' /KILL 12,34 "two words" 'a"b' 'back\slash' "")
[ "$args" = "$expected" ] || fail "arguments: got [$args]"

if [ $failures -ne 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "all defaults checks passed"
