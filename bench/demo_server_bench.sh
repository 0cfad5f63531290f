#!/usr/bin/env bash
# Requests per second of orvane-check's demo server for its information page (about a
# kilobyte) under `ab -c 50`, against nginx serving the same bytes in the same run.
#
#   bash bench/demo_server_bench.sh [path/to/orvane-check] [requests] [rounds]
#
# Both servers get one process and one thread's worth of work: the demo server is single
# threaded by design, so nginx runs one worker. Rounds alternate between the two and the
# median of each is reported. Everything listens on 127.0.0.1 and is stopped by pid.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${1:-build/release/apps/orvane-check/orvane-check}
requests=${2:-20000}
rounds=${3:-3}
for tool in ab nginx curl; do
  command -v "$tool" >/dev/null || { echo "demo_server_bench: $tool is missing (bash scripts/deps.sh)" >&2; exit 2; }
done
[[ -x $bin ]] || { echo "demo_server_bench: no $bin (build the orvane-check target)" >&2; exit 2; }

work=$(mktemp -d)
# nginx's worker runs as an unprivileged user and must read the page.
chmod 755 "$work"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

. bench/lib.sh

# The demo server, on a port of its own choosing; its first line names the page.
"$bin" --serve-demo >"$work/demo.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do grep -q '^Demo server: ' "$work/demo.log" && break; sleep 0.05; done
demo_url=$(sed -n 's/^Demo server: \(http[^ ]*\).*/\1/p' "$work/demo.log")
[[ -n $demo_url ]] || { echo "demo_server_bench: the demo server did not start" >&2; cat "$work/demo.log" >&2; exit 2; }

# nginx with the very bytes the demo server sends.
mkdir -p "$work/www" "$work/nginx"
curl -sS -o "$work/www/orvane-demo.htm" "$demo_url"
nginx_port=$(free_port)
write_nginx_conf "$work/nginx" "$nginx_port" "$work/www" 1024 \
  'access_log off; types { text/html htm; }' 'keepalive_timeout 0;'
nginx -c "$work/nginx/nginx.conf" -p "$work/nginx" 2>"$work/nginx/start.log" &
pids+=($!)
nginx_url="http://127.0.0.1:$nginx_port/orvane-demo.htm"
for _ in $(seq 100); do curl -fs -o /dev/null "$nginx_url" && break; sleep 0.05; done
curl -fs -o /dev/null "$nginx_url" || { echo "demo_server_bench: nginx did not start" >&2; cat "$work/nginx/start.log" >&2; exit 2; }
size=$(stat -c %s "$work/www/orvane-demo.htm")

# One ab run: prints requests per second, fails when a request failed or went unanswered.
measure() {
  local out
  out=$(timeout 300 ab -q -c 50 -n "$requests" "$1" 2>&1) || { echo "$out" >&2; return 1; }
  local complete failed
  complete=$(awk '/^Complete requests:/ {print $3}' <<<"$out")
  failed=$(awk '/^Failed requests:/ {print $3}' <<<"$out")
  if [[ $complete != "$requests" || $failed != 0 ]]; then
    echo "demo_server_bench: $1: $complete of $requests complete, $failed failed" >&2
    return 1
  fi
  awk '/^Requests per second:/ {print $4}' <<<"$out"
}

median() { sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

measure "$demo_url" >/dev/null   # warm-up
measure "$nginx_url" >/dev/null
demo=()
ngx=()
for ((r = 1; r <= rounds; r++)); do
  demo+=("$(measure "$demo_url")")
  ngx+=("$(measure "$nginx_url")")
done
d=$(printf '%s\n' "${demo[@]}" | median)
n=$(printf '%s\n' "${ngx[@]}" | median)
echo "page: $size bytes, ab -c 50 -n $requests, $rounds rounds (median requests/s)"
echo "demo server: $d  (rounds: ${demo[*]})"
echo "nginx:       $n  (rounds: ${ngx[*]})"
awk -v d="$d" -v n="$n" 'BEGIN {printf "ratio demo/nginx: %.2f (target at least 0.80)\n", d / n}'
