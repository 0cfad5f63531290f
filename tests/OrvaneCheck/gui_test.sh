#!/usr/bin/env bash
# orvane-check --gui on a virtual X display, used as a person would: every window of the
# update check is waited for, measured with xwininfo, photographed into SHOTS and answered
# with real clicks and key presses through xdotool. One run goes all the way (a slow page,
# so that the please-wait form shows; the read-me; the overwrite question); one cancels a
# slow download with a click on "Cancel".
# Then the desktop demo: its window, its menu command running the check to the end, its wait
# control counting down while a box is up, and its close box ending the program.
# Usage: gui_test.sh PATH-TO-orvane-check [SHOTS-FOLDER [PATH-TO-orvane-demo]]
source "$(dirname "$0")/lib.sh" "$1"
SHOTS=${2:-$WORK/shots}
DEMO_BIN=${3:+$(realpath "$3")}
mkdir -p "$SHOTS"
SCREEN_W=1024
SCREEN_H=768

if ! command -v Xvfb >/dev/null; then
  echo "SKIP: Xvfb cannot start: it is not installed (bash scripts/deps.sh)"
  exit 77
fi
for tool in xdotool xwininfo import; do
  command -v $tool >/dev/null || { bad "$tool is missing (bash scripts/deps.sh)"; finish; exit 1; }
done

# A display number nobody uses, and the server on it, stopped by pid at the end.
XDISPLAY=
for n in $(seq $((100 + $$ % 300)) $((110 + $$ % 300))); do
  [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]] && continue
  spawn Xvfb :$n -screen 0 ${SCREEN_W}x${SCREEN_H}x24 -nolisten tcp >"$WORK/xvfb-$n.log" 2>&1
  if wait_for 10 xwininfo -root -display :$n >/dev/null; then
    XDISPLAY=:$n
    break
  fi
  kill "${PIDS[-1]}" 2>/dev/null
done
if [[ -z $XDISPLAY ]]; then
  echo "SKIP: Xvfb cannot start on any free display"
  exit 77
fi
export DISPLAY=$XDISPLAY

# await_win NAME-REGEX: a visible window so named appears within 20 s (and is not the one
# of the last await); sets W (its id) and WX WY WW WH (its place and client size).
W=
await_win() {
  local id=
  for ((i = 0; i < 200; i++)); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | grep -vx "${W:-none}" | head -1)
    [[ -n $id ]] && break
    sleep 0.1
  done
  if [[ -z $id ]]; then
    bad "window \"$1\" never showed"
    import -window root "$SHOTS/missing-$(echo "$1" | tr -cd 'A-Za-z')".png 2>/dev/null
    return 1
  fi
  W=$id
  local info
  info=$(xwininfo -id "$W")
  WX=$(sed -n 's/.*Absolute upper-left X: *//p' <<<"$info")
  WY=$(sed -n 's/.*Absolute upper-left Y: *//p' <<<"$info")
  WW=$(sed -n 's/.*Width: *//p' <<<"$info")
  WH=$(sed -n 's/.*Height: *//p' <<<"$info")
  sleep 0.3  # painted
  ok
}
# Keeps a picture of the current window.
shot() { import -window "$W" "$SHOTS/$1.png" || bad "no screenshot $1"; }
# click X Y: a real mouse click at a point of the current window's client area.
click() { xdotool mousemove $((WX + $1)) $((WY + $2)) click 1; }
# A message box lays out its buttons 90 wide with 10 between, centred, 20 above the
# bottom edge: click_box_button INDEX COUNT.
click_box_button() {
  local span=$(($2 * 90 + ($2 - 1) * 10))
  click $(((WW - span) / 2 + $1 * 100 + 45)) $((WH - 20 - 14))
}
# ends PID SECONDS: the process ends by itself within that time (else it is killed, and
# that fails); its exit status is left in STATUS.
ends() {
  if ! wait_for "$2" bash -c "! kill -0 $1"; then
    bad "process $1 still running after $2 s: killed"
    kill "$1" 2>/dev/null
  fi
  wait "$1"
  STATUS=$?
}
size_is() { expect "$1 is $2 x $3 (got $WW x $WH)" test "$WW" = "$2" -a "$WH" = "$3"; }
centred() {
  expect "$1 centred on the screen (at $WX,$WY)" \
    test $((WX - (SCREEN_W - WW) / 2)) -le 1 -a $((WX - (SCREEN_W - WW) / 2)) -ge -1 \
    -a $((WY - (SCREEN_H - WH) / 2)) -le 1 -a $((WY - (SCREEN_H - WH) / 2)) -ge -1
}

start_demo --demo-rate 150
curl -sS -o "$WORK/expected.sh" "$DEMO_BASE/orvane-demo-1.1.sh"
SLOW_PORT=$(free_port)
spawn python3 "$HERE/slow_page.py" "$SLOW_PORT" "$DEMO_URL" 3
wait_for 10 curl -s -o /dev/null "http://127.0.0.1:$SLOW_PORT/" || bad "slow page server did not start"

# ---- All the way: please-wait, read-me, questions, save dialog, overwrite, progress.
mkdir "$WORK/full"
echo "an older file" >"$WORK/full/orvane-demo-1.1.sh"
(cd "$WORK/full" && exec "$BIN" --gui --no-run "http://127.0.0.1:$SLOW_PORT/page") \
  >"$WORK/full.log" 2>&1 &
CHECK_PID=$!
PIDS+=($CHECK_PID)

await_win "^Please Wait$" && {
  shot 01-please-wait
  size_is "please-wait form" 240 100
  centred "please-wait form"
}
await_win "^Update Available$" && {
  shot 02-view-readme-question
  centred "read-me question"
  click_box_button 0 2  # Yes
}
await_win "^Read Me$" && {
  shot 03-read-me
  size_is "read-me window (four fifths of the screen)" $((SCREEN_W * 4 / 5)) $((SCREEN_H * 4 / 5))
  centred "read-me window"
  # Its only button is no Default one: Enter presses it all the same.
  xdotool mousemove $((WX + WW / 2)) $((WY + WH - 20))
  xdotool key Return
}
await_win "^Update Available$" && {
  shot 04-download-question
  # Enter takes the default button, Yes.
  xdotool mousemove $((WX + WW / 2)) $((WY + 10))
  xdotool key Return
}
await_win "^Save As$" && {
  shot 05-save-dialog
  click $((410 + 45)) $((292 + 13))  # Save, the proposed name kept
}
await_win "^Confirm " && {
  shot 06-overwrite-question
  click_box_button 0 2  # Yes, replace it
}
await_win "^Download Progress$" && {
  shot 07-progress
  size_is "progress form" 272 123
  centred "progress form"
}
ends "$CHECK_PID" 30
expect "full run exits 0 (got $STATUS)" test "$STATUS" = 0
expect "the update replaced the old file byte for byte" \
  cmp -s "$WORK/expected.sh" "$WORK/full/orvane-demo-1.1.sh"
contains "full run" "$WORK/full.log" "Saved $WORK/full/orvane-demo-1.1.sh"

# ---- A slow download cancelled with a click on "Cancel": the error box, no file left.
mkdir "$WORK/cancel"
(cd "$WORK/cancel" && exec "$BIN" --gui --no-run --demo-rate 10) >"$WORK/cancel.log" 2>&1 &
CHECK_PID=$!
PIDS+=($CHECK_PID)
await_win "^Update Available$" && click_box_button 1 2  # No, no read-me
await_win "^Update Available$" && click_box_button 0 2  # Yes, download
await_win "^Save As$" && click $((410 + 45)) $((292 + 13))
await_win "^Download Progress$" && {
  sleep 1.5  # some bytes in
  shot 08-progress-before-cancel
  click $((102 + 34)) $((94 + 11))  # Cancel
}
await_win "^Download Error$" && {
  shot 09-download-error
  centred "download error box"
  click_box_button 0 1  # OK
}
ends "$CHECK_PID" 30
expect "cancelled run exits 1, as a cancel (got $STATUS)" test "$STATUS" = 1
expect "no file left after the cancel" test -z "$(ls -A "$WORK/cancel")"
contains "cancelled run" "$WORK/cancel.log" "cancelled; nothing was saved"

# ---- The desktop demo.
if [[ -n $DEMO_BIN ]]; then
  # The corner of the main window where the wait control counts down, as a picture.
  corner() { import -window "$DEMO_W" -crop 192x32+272+177 "$WORK/corner-$1.png"; }
  (cd "$WORK" && exec "$DEMO_BIN" --demo-rate 100) >"$WORK/gui-demo.log" 2>&1 &
  DEMO_APP=$!
  PIDS+=($DEMO_APP)
  await_win "^Orvane Demo 1.0$" && {
    DEMO_W=$W
    shot 10-demo-window
    size_is "demo window (client area and menu bar)" 480 225
    corner a
    click 20 12                # Help
    sleep 0.3
    click 60 $((25 + 12))      # Check for Update...
  }
  await_win "^Update Available$" && {
    shot 11-demo-question
    # The count-down goes on painting under the box's own loop.
    corner b
    sleep 1.2
    corner c
    expect "wait control repaints while a box is up" bash -c "! cmp -s '$WORK/corner-b.png' '$WORK/corner-c.png'"
    expect "wait control counted down since the start" bash -c "! cmp -s '$WORK/corner-a.png' '$WORK/corner-c.png'"
    click_box_button 1 2       # No read-me
  }
  await_win "^Update Available$" && click_box_button 0 2  # Download
  await_win "^Save As$" && click $((410 + 45)) $((292 + 13))
  await_win "^Download Progress$" && {
    sleep 0.8
    W=$DEMO_W
    shot 12-demo-downloading  # the status line with the progress, under the form
  }
  expect "demo saved the update" wait_for 20 cmp -s "$WORK/expected.sh" "$WORK/orvane-demo-1.1.sh"
  W=$DEMO_W
  sleep 0.5
  python3 "$HERE/wm_close.py" "$DEMO_W"
  ends "$DEMO_APP" 10  # closing the window ends the demo
  expect "demo exits 0 (got $STATUS)" test "$STATUS" = 0
fi
echo "screenshots in $SHOTS"
finish
