#!/usr/bin/env bash
# Download throughput on loopback: lu-get against curl, the same nginx serving the
# same file in the same run. Best of several runs each; reports MB/s, the ratio
# lu-get/curl (target: at least 0.9) and lu-get's peak resident memory.
#
# Usage: tools/bench/bench_download.sh [BUILD_DIR]   (default build/linux)
# Environment: SIZE_MB (default 200), RUNS (default 7). Best-of, because a shared
# machine makes single runs noisy.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
build=${1:-build/linux}
lu_get=$(realpath "$build/lu-get")
size_mb=${SIZE_MB:-200}
runs=${RUNS:-7}
for tool in /usr/sbin/nginx curl /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "bench_download: $tool is missing" >&2; exit 1; }
done
[ -x "$lu_get" ] || { echo "bench_download: $lu_get is not built" >&2; exit 1; }

work=$(mktemp -d /tmp/lu-bench-download.XXXXXX)
nginx_pid=
cleanup() {
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/www" "$work/logs" "$work/tmp"
head -c $((size_mb * 1024 * 1024)) /dev/urandom >"$work/www/file.bin"

# A free loopback port: bind 0 and read back what the system chose.
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat >"$work/nginx.conf" <<EOF
daemon off;
master_process off;
worker_processes 1;
pid $work/nginx.pid;
error_log $work/logs/error.log;
events { worker_connections 64; }
http {
  access_log off;
  sendfile on;
  client_body_temp_path $work/tmp/body;
  proxy_temp_path $work/tmp/proxy;
  fastcgi_temp_path $work/tmp/fastcgi;
  uwsgi_temp_path $work/tmp/uwsgi;
  scgi_temp_path $work/tmp/scgi;
  types { application/zip zip; }
  default_type application/octet-stream;
  server {
    listen 127.0.0.1:$port;
    root $work/www;
  }
}
EOF
/usr/sbin/nginx -p "$work" -c "$work/nginx.conf" -e "$work/logs/error.log" &
nginx_pid=$!
url="http://127.0.0.1:$port/file.bin"
for _ in $(seq 100); do
  curl -sf -o /dev/null -r 0-0 "$url" && break
  sleep 0.05
done

# No proxy for either tool: the measurement is of the transfer alone.
unset http_proxy HTTP_PROXY https_proxy HTTPS_PROXY all_proxy ALL_PROXY

seconds() { date +%s.%N; }
best_lu=999999 best_curl=999999 peak_kb=0
for i in $(seq "$runs"); do
  rm -f "$work/out.bin"
  t0=$(seconds)
  /usr/bin/time -v -o "$work/time.txt" "$lu_get" "$url" "$work/out.bin"
  t1=$(seconds)
  cmp -s "$work/out.bin" "$work/www/file.bin" || { echo "bench_download: lu-get's file differs" >&2; exit 1; }
  kb=$(awk -F: '/Maximum resident set size/ {gsub(/ /, "", $2); print $2}' "$work/time.txt")
  [ "$kb" -gt "$peak_kb" ] && peak_kb=$kb
  best_lu=$(echo "$t1 - $t0" | bc -l | awk -v b="$best_lu" '{print ($1 < b) ? $1 : b}')

  rm -f "$work/out.bin"
  t0=$(seconds)
  curl -s -o "$work/out.bin" "$url"
  t1=$(seconds)
  cmp -s "$work/out.bin" "$work/www/file.bin" || { echo "bench_download: curl's file differs" >&2; exit 1; }
  best_curl=$(echo "$t1 - $t0" | bc -l | awk -v b="$best_curl" '{print ($1 < b) ? $1 : b}')
done
rm -f "$work/out.bin"

awk -v mb="$size_mb" -v lu="$best_lu" -v cu="$best_curl" -v kb="$peak_kb" -v runs="$runs" 'BEGIN {
  printf "download of %d MB from nginx on loopback, best of %d runs\n", mb, runs
  printf "  lu-get  %8.1f MB/s  (%.3f s)\n", mb / lu, lu
  printf "  curl    %8.1f MB/s  (%.3f s)\n", mb / cu, cu
  printf "  ratio lu-get/curl: %.2f (target >= 0.90)\n", cu / lu
  printf "  lu-get peak RSS: %.1f MB\n", kb / 1024
}'
