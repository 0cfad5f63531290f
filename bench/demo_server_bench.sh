#!/usr/bin/env bash
# Requests per second of orvane-check's demo server for its information page (about a
# kilobyte) under `ab -c 50`, against nginx serving the same bytes in the same run.
#
#   bash bench/demo_server_bench.sh [path/to/orvane-check] [requests] [rounds]
#
# Both servers get one process and one thread's worth of work: the demo server is single
# threaded by design, so nginx runs one worker. After an unmeasured warm-up of each, rounds
# alternate between the two, each server going first every other round, and the median of
# each is reported, with the server's processor time per request (user + system, from
# /proc, nginx's worker included) beside the rate. Everything listens on 127.0.0.1 and is
# stopped by pid.
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

# Processor ticks (user + system) used so far by the given processes.
ticks() {
  local t=0 p
  for p in "$@"; do
    [[ -r /proc/$p/stat ]] || continue
    t=$((t + $(awk '{sub(/.*\) /, ""); print $12 + $13}' "/proc/$p/stat")))
  done
  echo "$t"
}
hz=$(getconf CLK_TCK)
demo_pids=("${pids[0]}")
# nginx runs in the foreground: its master and the one worker under it.
nginx_pids=("${pids[1]}" $(pgrep -P "${pids[1]}" || true))

# One measured round of a server: "requests/s cpu-us-per-request".
round() {
  local url=$1
  shift
  local t0 t1 rate
  t0=$(ticks "$@")
  rate=$(measure "$url")
  t1=$(ticks "$@")
  awk -v r="$rate" -v t=$((t1 - t0)) -v hz="$hz" -v n="$requests" \
    'BEGIN {printf "%s %.1f\n", r, t / hz * 1e6 / n}'
}

measure "$demo_url" >/dev/null   # warm-up
measure "$nginx_url" >/dev/null
demo=()
ngx=()
demo_cpu=()
ngx_cpu=()
for ((r = 1; r <= rounds; r++)); do
  if ((r % 2)); then
    read -r a b < <(round "$demo_url" "${demo_pids[@]}")
    read -r c d < <(round "$nginx_url" "${nginx_pids[@]}")
  else
    read -r c d < <(round "$nginx_url" "${nginx_pids[@]}")
    read -r a b < <(round "$demo_url" "${demo_pids[@]}")
  fi
  demo+=("$a")
  demo_cpu+=("$b")
  ngx+=("$c")
  ngx_cpu+=("$d")
done
d=$(printf '%s\n' "${demo[@]}" | median)
n=$(printf '%s\n' "${ngx[@]}" | median)
dc=$(printf '%s\n' "${demo_cpu[@]}" | median)
nc=$(printf '%s\n' "${ngx_cpu[@]}" | median)
echo "page: $size bytes, ab -c 50 -n $requests, $rounds rounds in alternating order (medians)"
echo "demo server: $d requests/s, $dc cpu-us/request  (rounds: ${demo[*]})"
echo "nginx:       $n requests/s, $nc cpu-us/request  (rounds: ${ngx[*]})"
awk -v d="$d" -v n="$n" 'BEGIN {printf "ratio demo/nginx: %.2f (target at least 0.80)\n", d / n}'
