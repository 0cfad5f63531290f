#!/usr/bin/env bash
# The windowed back-end on a virtual display (Xvfb), two figures:
#  - an idle please-wait form: CPU time of orvane-check over 10 s while its please-wait
#    form waits for a slow page, with --gui against the terminal back-end (target: under
#    1% of a core);
#  - start-up: from launch to the window on screen, orvane-demo against a minimal FLTK
#    program that opens one window (target: within 1.5 times), median of several rounds.
#
#   bash bench/gui_bench.sh [build-folder] [rounds]
#
# Everything runs on 127.0.0.1 and on a display of its own; helpers are stopped by pid.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
rounds=${2:-7}
check=$build/apps/orvane-check/orvane-check
demo=$build/apps/orvane-demo/orvane-demo
one=$build/bench/fltk_one_window
for tool in Xvfb xdotool xwininfo python3; do
  command -v "$tool" >/dev/null || { echo "gui_bench: $tool is missing (bash scripts/deps.sh)" >&2; exit 2; }
done
for b in "$check" "$demo" "$one"; do
  [[ -x $b ]] || { echo "gui_bench: no $b (build orvane-check, orvane-demo, fltk_one_window)" >&2; exit 2; }
done

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
python3 tests/OrvaneCheck/slow_page.py "$port" "$page" 14 &
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
idle_cpu windowed --gui
idle_cpu terminal

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
