#!/usr/bin/env bash
# Download throughput on loopback: lu-get against curl, the same nginx serving the
# same file in the same run, the two tools alternated run by run. Prints one
# comparison line: both medians in MB/s, the ratio lu-get/curl (target: 1.0 or
# better) and lu-get's peak resident memory. Then a body of many small chunks
# (50,000 of 100 bytes) from a plain loopback server, both tools' median times
# and the ratio lu-get/curl (target: at most 1.1).
#
# Usage: tools/bench/bench_download.sh [BUILD_DIR]   (default build/linux)
# Environment: SIZE_MB (default 200), RUNS (default 9).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
build=${1:-build/linux}
lu_get=$(realpath "$build/lu-get")
size_mb=${SIZE_MB:-200}
runs=${RUNS:-9}
for tool in /usr/sbin/nginx curl /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "bench_download: $tool is missing" >&2; exit 1; }
done
[ -x "$lu_get" ] || { echo "bench_download: $lu_get is not built" >&2; exit 1; }

work=$(mktemp -d /tmp/lu-bench-download.XXXXXX)
servers=tests/unit/net/local-servers.sh
cleanup() {
  "$servers" stop "$work/nginx" || true
  rm -rf "$work"
}
trap 'kill "$chunked_pid" 2>/dev/null || true; cleanup' EXIT
chunked_pid=
mkdir -p "$work/nginx/www"
head -c $((size_mb * 1024 * 1024)) /dev/urandom >"$work/nginx/www/file.bin"
# nginx binds its own port and reports it.
"$servers" http "$work/nginx" || { cat "$work/nginx/failed" "$work/nginx/missing" 2>/dev/null >&2; exit 1; }
url="http://127.0.0.1:$(awk '$1 == "http" {print $2}' "$work/nginx/ports")/file.bin"

# No proxy for either tool: the measurement is of the transfer alone.
unset http_proxy HTTP_PROXY https_proxy HTTPS_PROXY all_proxy ALL_PROXY

median() { sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
now() { date +%s.%N; }
# Runs a command and adds its wall time in seconds to the file named first.
timed() {
  local into=$1 t0 t1
  shift
  t0=$(now)
  "$@"
  t1=$(now)
  echo "$t1 - $t0" | bc -l >>"$into"
}
: >"$work/lu.txt"
: >"$work/curl.txt"
peak_kb=0
for i in $(seq "$runs"); do
  rm -f "$work/out.bin"
  timed "$work/lu.txt" /usr/bin/time -f %M -o "$work/rss.txt" "$lu_get" "$url" "$work/out.bin"
  cmp -s "$work/out.bin" "$work/nginx/www/file.bin" || { echo "bench_download: lu-get's file differs" >&2; exit 1; }
  kb=$(tail -n 1 "$work/rss.txt")
  [ "$kb" -gt "$peak_kb" ] && peak_kb=$kb

  rm -f "$work/out.bin"
  timed "$work/curl.txt" curl -s -o "$work/out.bin" "$url"
  cmp -s "$work/out.bin" "$work/nginx/www/file.bin" || { echo "bench_download: curl's file differs" >&2; exit 1; }
done

awk -v mb="$size_mb" -v lu="$(median <"$work/lu.txt")" -v cu="$(median <"$work/curl.txt")" -v kb="$peak_kb" \
  -v runs="$runs" 'BEGIN {
  printf "download %d MB from nginx on loopback, medians of %d alternated runs: lu-get %.1f MB/s, curl %.1f MB/s, ratio vs curl %.2f (lu-get peak RSS %.1f MB)\n",
    mb, runs, mb / lu, mb / cu, cu / lu, kb / 1024
}'

# The many-small-chunks line: one answer built once, sent whole to each request.
python3 - "$work/chunked.port" <<'PY' &
import socket, sys
chunk = b"64\r\n" + bytes(range(100)) + b"\r\n"
answer = b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n" + chunk * 50000 + b"0\r\n\r\n"
server = socket.socket()
server.bind(("127.0.0.1", 0))
server.listen(8)
server.settimeout(600)  # stops by itself when nobody comes
open(sys.argv[1], "w").write(str(server.getsockname()[1]))
while True:
    try:
        conn, _ = server.accept()
    except OSError:
        break
    conn.settimeout(30)
    data = b""
    while b"\r\n\r\n" not in data:
        part = conn.recv(4096)
        if not part:
            break
        data += part
    conn.sendall(answer)
    conn.close()
PY
chunked_pid=$!
for _ in $(seq 100); do [ -s "$work/chunked.port" ] && break; sleep 0.1; done
curl_chunks=$work/chunks.curl
chunk_url="http://127.0.0.1:$(cat "$work/chunked.port")/chunks.bin"
: >"$work/lu-chunks.txt"
: >"$work/curl-chunks.txt"
for i in $(seq "$runs"); do
  rm -f "$work/out.bin" "$curl_chunks"
  timed "$work/lu-chunks.txt" "$lu_get" "$chunk_url" "$work/out.bin"
  [ "$(stat -c %s "$work/out.bin")" -eq 5000000 ] || { echo "bench_download: lu-get's chunked file is not whole" >&2; exit 1; }
  timed "$work/curl-chunks.txt" curl -s -o "$curl_chunks" "$chunk_url"
  cmp -s "$curl_chunks" "$work/out.bin" || { echo "bench_download: the chunked files differ" >&2; exit 1; }
done
awk -v lu="$(median <"$work/lu-chunks.txt")" -v cu="$(median <"$work/curl-chunks.txt")" -v runs="$runs" 'BEGIN {
  printf "download of 50000 chunks of 100 bytes on loopback, medians of %d alternated runs: lu-get %.3f s, curl %.3f s, ratio lu-get/curl %.2f (target at most 1.10)\n",
    runs, lu, cu, lu / cu
}'
