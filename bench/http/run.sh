#!/bin/bash
# Static-file throughput of the local web server against nginx, both serving
# the same temporary folder on loopback in the same run, measured with wrk.
# Prints each server's figures and our/nginx ratios:
#   small (1 KiB):  requests per second
#   large (10 MiB): bytes per second
# nginx runs in the foreground as this user without a master process (one
# process, like our one server thread), with a private configuration.
#
# A third figure, the same server library answering from memory, shows its
# own ceiling for the small file.
#
# usage: [ROUNDS=3] bench/http/run.sh [BUILD_DIR] [SECONDS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build-server}
seconds=${2:-5}
server_bin=$build/bench/http/corvane_http_bench_server
for tool in wrk nginx python3; do
  command -v "$tool" >/dev/null || { echo "missing $tool (scripts/bench-deps.sh)" >&2; exit 2; }
done
[ -x "$server_bin" ] || { echo "build $server_bin first" >&2; exit 2; }

work=$(mktemp -d)
ours_pid=""; nginx_pid=""; bare_pid=""
cleanup() {
  [ -n "$ours_pid" ] && kill "$ours_pid" 2>/dev/null || true
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null || true
  [ -n "$bare_pid" ] && kill "$bare_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/www" "$work/nginx"
head -c 1024 /dev/urandom > "$work/www/small.bin"
head -c $((10 * 1024 * 1024)) /dev/urandom > "$work/www/large.bin"

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

# --- our server
mkfifo "$work/ours.out"
"$server_bin" "$work/www" 0 > "$work/ours.out" 2>"$work/ours.err" &
ours_pid=$!
read -r _ ours_port < "$work/ours.out"

# --- nginx
nginx_port=$(free_port)
cat > "$work/nginx/nginx.conf" <<CONF
daemon off;
master_process off;
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log warn;
events { worker_connections 1024; }
http {
  access_log off;
  sendfile on;
  tcp_nopush on;
  keepalive_requests 1000000;
  default_type application/octet-stream;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  server {
    listen 127.0.0.1:$nginx_port;
    root $work/www;
  }
}
CONF
nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" 2>"$work/nginx/stderr" &
nginx_pid=$!
for _ in $(seq 50); do
  curl -s -o /dev/null "http://127.0.0.1:$nginx_port/small.bin" && break
  sleep 0.1
done

# Both must serve the same bytes before their speed means anything.
for port in "$ours_port" "$nginx_port"; do
  curl -s "http://127.0.0.1:$port/large.bin" | cmp -s - "$work/www/large.bin" \
    || { echo "server on $port does not serve the large file correctly" >&2; exit 1; }
done

measure() {  # port file connections
  wrk -t1 -c"$3" -d"${seconds}s" --latency -s "$here/report.lua" \
    "http://127.0.0.1:$1/$2" | awk '/^RESULT/ {print $2, $3, $4, $5, $6, $7}'
}

# --- the server library answering the small file from memory: its
# ceiling, printed for context (not a server the application runs)
mkfifo "$work/bare.out"
"$server_bin" --bare "$work/www/small.bin" > "$work/bare.out" 2>"$work/bare.err" &
bare_pid=$!
read -r _ bare_port < "$work/bare.out"

# Rounds alternate between the servers and each keeps its best round, so a
# burst of other load on the machine does not decide the ratio.
rounds=${ROUNDS:-3}
declare -A rps bps p50 p99
keep_best() {  # key rps bps p50 p99
  if [ -z "${rps[$1]:-}" ] || awk -v a="$2" -v b="${rps[$1]}" 'BEGIN {exit !(a > b)}'; then
    rps[$1]=$2; bps[$1]=$3; p50[$1]=$4; p99[$1]=$5
  fi
}
check() {  # name errors statuses
  [ "$2" = 0 ] && [ "$3" = 0 ] || echo "warning: $1: $2 socket errors, $3 bad statuses" >&2
}
for name in ours nginx bare; do
  port_var=${name}_port
  measure "${!port_var}" small.bin 1 > /dev/null  # warm-up
done
for round in $(seq "$rounds"); do
  for name in ours nginx bare; do
    port_var=${name}_port
    port=${!port_var}
    read -r a b c d errs stat < <(measure "$port" small.bin 32)
    check "$name small" "$errs" "$stat"
    keep_best "$name.small" "$a" "$b" "$c" "$d"
    [ $name = bare ] && continue
    read -r a b c d errs stat < <(measure "$port" large.bin 4)
    check "$name large" "$errs" "$stat"
    keep_best "$name.large" "$a" "$b" "$c" "$d"
  done
done
kill "$bare_pid" 2>/dev/null || true

echo "best of $rounds rounds of ${seconds}s, wrk 1 thread; 32 connections (small), 4 (large)"
printf '%-6s %-6s %12s %12s %10s %10s\n' server file 'requests/s' 'MiB/s' 'p50 us' 'p99 us'
for key in ours.small nginx.small bare.small ours.large nginx.large; do
  printf '%-6s %-6s %12.0f %12.1f %10s %10s\n' "${key%.*}" "${key#*.}" "${rps[$key]}" \
    "$(awk -v b="${bps[$key]}" 'BEGIN {print b / 1048576}')" "${p50[$key]}" "${p99[$key]}"
done
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.3f", a / b}'; }
echo "ratio small requests/s ours/nginx (aim >= 0.70): $(ratio "${rps[ours.small]}" "${rps[nginx.small]}")"
echo "ratio large bytes/s    ours/nginx (aim >= 0.90): $(ratio "${bps[ours.large]}" "${bps[nginx.large]}")"
echo "ratio small requests/s ours/bare library (context): $(ratio "${rps[ours.small]}" "${rps[bare.small]}")"
echo "ratio small requests/s bare library/nginx (context): $(ratio "${rps[bare.small]}" "${rps[nginx.small]}")"
