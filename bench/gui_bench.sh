#!/usr/bin/env bash
# The windowed back-end on a virtual display (Xvfb), two figures:
#  - an idle please-wait form: CPU time of orvane-check over 10 s while its please-wait
#    form waits for a slow page, with --gui against the terminal back-end (target: under
#    1% of a core);
#  - progress painting: a 1 GiB download (from nginx) with the windowed progress form,
#    against the same download with the terminal back-end's progress line, in the same
#    run, timed by nginx ($request_time) (target: at least 0.95);
#  - start-up: from launch to the window on screen, orvane-demo against a minimal FLTK
#    program that opens one window (target: within 1.5 times), median of several rounds.
#
#   bash bench/gui_bench.sh [build-folder] [rounds]
#
# Everything runs on 127.0.0.1 and on a display of its own; helpers are stopped by pid.
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/lib.sh
build=${1:-build/release}
rounds=${2:-7}
check=$build/apps/orvane-check/orvane-check
demo=$build/apps/orvane-demo/orvane-demo
one=$build/bench/fltk_one_window
for tool in Xvfb xdotool xwininfo python3 nginx curl; do
  command -v "$tool" >/dev/null || { echo "gui_bench: $tool is missing (bash scripts/deps.sh)" >&2; exit 2; }
done
for b in "$check" "$demo" "$one"; do
  [[ -x $b ]] || { echo "gui_bench: no $b (build orvane-check, orvane-demo, fltk_one_window)" >&2; exit 2; }
done
check=$(realpath "$check")
demo=$(realpath "$demo")
one=$(realpath "$one")

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

n=$((200 + $$ % 300))
while [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]]; do n=$((n + 1)); done
Xvfb :$n -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb=$!
pids+=($xvfb)
export DISPLAY=:$n
for ((i = 0; i < 100; i++)); do xwininfo -root >/dev/null 2>&1 && break; sleep 0.1; done

ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
hz=$(getconf CLK_TCK)
visible() { xdotool search --onlyvisible --name "$1" >/dev/null 2>&1; }

# ---- An idle please-wait form.
"$check" --serve-demo >"$work/demo.log" 2>&1 &
pids+=($!)
for ((i = 0; i < 100; i++)); do grep -q '^Demo server: ' "$work/demo.log" && break; sleep 0.1; done
page=$(sed -n 's/^Demo server: \(http[^ ]*\).*/\1/p' "$work/demo.log")
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
python3 tests/OrvaneCheck/slow_page.py "$port" "$page" 14 >/dev/null 2>&1 &
pids+=($!)
sleep 0.5

idle_cpu() {  # idle_cpu LABEL ARGS...: percent of a core over 10 s of the please-wait form
  local label=$1
  shift
  "$check" "$@" --no-run "http://127.0.0.1:$port/page" </dev/null >"$work/idle.log" 2>&1 &
  local pid=$!
  pids+=($pid)
  sleep 1.5  # the form is up, start-up is over
  local a x0 b x1
  a=$(ticks $pid)
  x0=$(ticks $xvfb)
  sleep 10
  b=$(ticks $pid)
  x1=$(ticks $xvfb)
  kill $pid 2>/dev/null || true
  wait $pid 2>/dev/null || true
  awk -v l="$label" -v t=$((b - a)) -v x=$((x1 - x0)) -v hz="$hz" \
    'BEGIN { printf "idle please-wait, %-9s %5.2f%% of a core (X server %.2f%%)\n", l, t * 100 / (hz * 10), x * 100 / (hz * 10) }'
}
[[ ${SKIP_IDLE:-} ]] || idle_cpu windowed --gui
[[ ${SKIP_IDLE:-} ]] || idle_cpu terminal

# ---- A 1 GiB download: windowed progress form against the terminal's progress line.
mkdir -p "$work/www" "$work/nginx"
chmod 755 "$work"
truncate -s 1G "$work/www/big.bin"
nginx_port=$(free_port)
write_nginx_conf "$work/nginx" "$nginx_port" "$work/www" 64 \
  "log_format timed '\$uri \$request_time'; access_log $work/nginx/access.log timed; types { text/html htm; application/octet-stream bin; }"
nginx -c "$work/nginx/nginx.conf" -p "$work/nginx" 2>"$work/nginx/start.log" &
pids+=($!)
# The demo's page, its download pointing at the big file.
curl -sS "$page" | sed "s|CONTENT=\"http://[^\"]*orvane-demo-1.1.sh\"|CONTENT=\"http://127.0.0.1:$nginx_port/big.bin\"|" \
  >"$work/www/page.htm"
for ((i = 0; i < 100; i++)); do curl -fs -o /dev/null "http://127.0.0.1:$nginx_port/page.htm" && break; sleep 0.05; done
big_page="http://127.0.0.1:$nginx_port/page.htm"
last_big_time() { awk '$1 == "/big.bin" { t = $2 } END { print t }' "$work/nginx/access.log"; }
# Clicks a button of a message box: click_box WINDOW-ID INDEX COUNT (the back-end's layout:
# buttons 90 wide, 10 apart, centred, 20 above the bottom edge).
click_box() {
  local info x y w h span
  info=$(xwininfo -id "$1")
  x=$(sed -n 's/.*Absolute upper-left X: *//p' <<<"$info")
  y=$(sed -n 's/.*Absolute upper-left Y: *//p' <<<"$info")
  w=$(sed -n 's/.*Width: *//p' <<<"$info")
  h=$(sed -n 's/.*Height: *//p' <<<"$info")
  span=$(($3 * 90 + ($3 - 1) * 10))
  xdotool mousemove $((x + (w - span) / 2 + $2 * 100 + 45)) $((y + h - 34)) click 1
}
await_new() {  # await_new NAME-REGEX OLD-ID: a visible window so named, other than OLD-ID
  local id=
  for ((i = 0; i < 300; i++)); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | grep -vx "${2:-none}" | head -1)
    [[ -n $id ]] && { echo "$id"; return 0; }
    sleep 0.1
  done
  return 1
}
download_ratio=
for ((r = 0; r < 2; r++)); do
  mkdir -p "$work/dl"
  (cd "$work/dl" && PAGER=cat exec "$check" --yes --no-run "$big_page" </dev/null >/dev/null 2>&1) || true
  term_s=$(last_big_time)
  rm -rf "$work/dl"
  mkdir -p "$work/dl"
  (cd "$work/dl" && exec "$check" --gui --no-run "$big_page" >/dev/null 2>&1) &
  gui=$!
  pids+=($gui)
  q1=$(await_new "^Update Available$") && click_box "$q1" 1 2  # no read-me
  q2=$(await_new "^Update Available$" "$q1") && click_box "$q2" 0 2  # download
  if sv=$(await_new "^Save As$"); then
    info=$(xwininfo -id "$sv")
    xdotool mousemove $(($(sed -n 's/.*Absolute upper-left X: *//p' <<<"$info") + 455)) \
      $(($(sed -n 's/.*Absolute upper-left Y: *//p' <<<"$info") + 305)) click 1
  fi
  wait $gui || true
  gui_s=$(last_big_time)
  rm -rf "$work/dl"
  curl -sS -o "$work/curl.bin" "http://127.0.0.1:$nginx_port/big.bin"
  curl_s=$(last_big_time)
  rm -f "$work/curl.bin"
  echo "1 GiB download: terminal progress line ${term_s} s, windowed progress form ${gui_s} s," \
    "curl alone ${curl_s} s"
  download_ratio=$(awk -v a="$term_s" -v b="$gui_s" 'BEGIN { if (b > 0) printf "%.2f", a / b }')
done
echo "1 GiB download speed, windowed / terminal: ${download_ratio}"

# ---- Start-up to the window on screen.
startup_ms() {  # startup_ms WINDOW-NAME PROGRAM...: launch to visible, in ms
  local name=$1
  shift
  local t0 t1
  t0=$(date +%s%N)
  "$@" >/dev/null 2>&1 &
  local pid=$!
  for ((i = 0; i < 2000; i++)); do visible "$name" && break; sleep 0.002; done
  t1=$(date +%s%N)
  kill $pid 2>/dev/null || true
  wait $pid 2>/dev/null || true
  echo $(((t1 - t0) / 1000000))
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
for ((r = 0; r < rounds; r++)); do
  startup_ms "^One Window$" "$one" >>"$work/one"
  startup_ms "^Orvane Demo 1.0$" "$demo" >>"$work/demo"
done
one_ms=$(median <"$work/one")
demo_ms=$(median <"$work/demo")
echo "start-up to the window on screen (median of $rounds): orvane-demo ${demo_ms} ms," \
  "one FLTK window ${one_ms} ms, ratio $(awk -v a="$demo_ms" -v b="$one_ms" 'BEGIN { printf "%.2f", a / b }')"
