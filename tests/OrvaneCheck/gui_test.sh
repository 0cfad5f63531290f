#!/usr/bin/env bash
# orvane-check --gui on a virtual X display, used as a person would: every window of the
# update check is waited for, measured with xwininfo, photographed into SHOTS and answered
# with real clicks and key presses through xdotool. One run goes all the way (a slow page,
# so that the please-wait form shows; the read-me; the overwrite question); one cancels a
# slow download with a click on "Cancel".
# Then the desktop demo: its window, its menu command running the check to the end (its page
# and read-me answered late, so that both please-wait forms are photographed), its wait
# control counting down while a box is up, and its close box ending the program.
# Usage: gui_test.sh PATH-TO-orvane-check [SHOTS-FOLDER [PATH-TO-orvane-demo]]
source "$(dirname "$0")/lib.sh" "$1"
SHOTS=${2:-$WORK/shots}
DEMO_BIN=${3:+$(realpath "$3")}
# A picture left by an earlier run would pass for one of this run.
mkdir -p "$SHOTS" && rm -f "$SHOTS"/*.png
SCREEN_W=1024
SCREEN_H=768

if ! command -v Xvfb >/dev/null; then
  echo "SKIP: Xvfb cannot start: it is not installed (bash scripts/deps.sh)"
  exit 77
fi
for tool in xdotool xwininfo xprop import; do
  command -v $tool >/dev/null || { bad "$tool is missing (bash scripts/deps.sh)"; finish; exit 1; }
done

# The server picks a display number nobody uses and says which once it takes connections
# (-displayfd): choosing one ourselves raced with other runs on the same machine, which
# could start on the same number, so that this run's windows went to their server and
# vanished with it. -noreset: by default the server resets whenever its last client leaves
# (between two programs, or after each xdotool call), and a program that connects during
# the reset is refused: "no X display to open", more often the more loaded the machine.
# Stopped by pid at the end. Generous time-outs: a loaded machine is slow.
XDISPLAY=
spawn Xvfb -displayfd 3 -noreset -screen 0 ${SCREEN_W}x${SCREEN_H}x24 -nolisten tcp \
  3>"$WORK/xvfb-display" >"$WORK/xvfb.log" 2>&1
XVFB_PID=${PIDS[-1]}
# The number is written whole, ending in a line feed.
display_said() { [[ $(tail -c 1 "$WORK/xvfb-display" | od -An -tx1) == *0a* ]]; }
if wait_for 60 display_said; then
  XDISPLAY=:$(head -1 "$WORK/xvfb-display")
  wait_for 30 xwininfo -root -display "$XDISPLAY" >/dev/null || XDISPLAY=
fi
if [[ -z $XDISPLAY ]] || ! kill -0 "$XVFB_PID" 2>/dev/null; then
  echo "SKIP: Xvfb cannot start"
  cat "$WORK/xvfb.log"
  exit 77
fi
export DISPLAY=$XDISPLAY

# await_win NAME-REGEX: a visible window so named appears within 60 s (and is not the one
# of the last await); sets W (its id) and WX WY WW WH (its place and client size).
W=
await_win() {
  local id=
  for ((i = 0; i < 600; i++)); do
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
# framed SHOT: without a window manager the window draws a border of its own: the top
# left pixel of its picture is dark, not the grey of its face.
framed() {
  local px
  px=$(convert "$SHOTS/$1.png" -format '%[fx:int(255*p{0,0}.r)]' info: 2>/dev/null)
  expect "$1 has a border of its own (corner $px)" test "${px:-255}" -lt 100
}
# hints_are WHAT FUNCTIONS: the window asks a window manager for these functions (hex:
# 4 move, 20 close, 2 resize, 8 minimise, 10 maximise).
hints_are() {
  local got
  got=$(xprop -id "$W" _MOTIF_WM_HINTS | sed -n 's/.*= *0x[0-9a-f]*, *\(0x[0-9a-f]*\),.*/\1/p')
  expect "$1 asks for window functions $2 (got $got)" test "$got" = "$2"
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
  framed 01-please-wait
  hints_are "please-wait form (no border icons)" 0x4
  size_is "please-wait form" 240 100
  centred "please-wait form"
}
await_win "^Update Available$" && {
  shot 02-view-readme-question
  framed 02-view-readme-question
  hints_are "Yes/No box (no close box: Escape has no answer)" 0x4
  centred "read-me question"
  click_box_button 0 2  # Yes
}
await_win "^Read Me$" && {
  shot 03-read-me
  size_is "read-me window (four fifths of the screen)" $((SCREEN_W * 4 / 5)) $((SCREEN_H * 4 / 5))
  centred "read-me window"
  # Its text is read-only: a click into it and Enter close the window instead of adding
  # a line.
  click 60 60
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
  framed 05-save-dialog
  click $((410 + 45)) $((292 + 13))  # Save, the proposed name kept
}
await_win "^Confirm " && {
  shot 06-overwrite-question
  click_box_button 0 2  # Yes, replace it
}
await_win "^Download Progress$" && {
  shot 07-progress
  framed 07-progress
  size_is "progress form" 272 123
  centred "progress form"
}
ends "$CHECK_PID" 60
expect "full run exits 0 (got $STATUS)" test "$STATUS" = 0
expect "the update replaced the old file byte for byte" \
  cmp -s "$WORK/expected.sh" "$WORK/full/orvane-demo-1.1.sh"
contains "full run" "$WORK/full.log" "Saved $WORK/full/orvane-demo-1.1.sh"

# ---- A slow download cancelled with a click on "Cancel": the error box, no file left.
mkdir "$WORK/cancel"
(cd "$WORK/cancel" && exec "$BIN" --gui --no-run --demo-rate 10) >"$WORK/cancel.log" 2>&1 &
CHECK_PID=$!
PIDS+=($CHECK_PID)
# Tab takes the focus from the default button (Yes) to No: Enter then answers No, no read-me.
# (Keys go to the window under the pointer when no window manager gives the focus.)
await_win "^Update Available$" && xdotool mousemove $((WX + 10)) $((WY + 10)) key Tab Return
await_win "^Update Available$" && click_box_button 0 2  # Yes, download
# A name in a folder that does not exist: a box says so, and the dialog comes back in the
# nearest folder that does, where the same name (now without the missing folder) saves.
await_win "^Save As$" && {
  click $((110 + 140)) $((292 + 13))  # the name field
  xdotool key ctrl+a type "missing/x.sh"
  click $((410 + 45)) $((292 + 13))
}
await_win "^Save As$" && {
  shot 08-missing-folder
  click_box_button 0 1  # OK
}
await_win "^Save As$" && {
  shot 08-save-dialog-again
  click $((410 + 45)) $((292 + 13))
}
await_win "^Download Progress$" && {
  sleep 1.5  # some bytes in
  shot 09-progress-before-cancel
  click $((102 + 34)) $((94 + 11))  # Cancel
}
await_win "^Download Error$" && {
  shot 10-download-error
  hints_are "error box (its close box answers OK)" 0x24
  centred "download error box"
  click_box_button 0 1  # OK
}
ends "$CHECK_PID" 60
expect "cancelled run exits 1, as a cancel (got $STATUS)" test "$STATUS" = 1
expect "no file left after the cancel" test -z "$(ls -A "$WORK/cancel")"
contains "cancelled run" "$WORK/cancel.log" "cancelled; nothing was saved"

# ---- Three answers (--offer-skip): three buttons, wide enough for their captions; the
# middle one skips this version, which the state file keeps.
mkdir "$WORK/skip"
(cd "$WORK/skip" && exec "$BIN" --gui --no-run --offer-skip --state-file "$WORK/skip/state.ini" \
  "$DEMO_URL") >"$WORK/skip.log" 2>&1 &
CHECK_PID=$!
PIDS+=($CHECK_PID)
await_win "^Update Available$" && xdotool mousemove $((WX + 10)) $((WY + 10)) key Tab Return
await_win "^Update Available$" && {
  shot 10b-three-answers
  expect "three-answer box wider than three standard buttons (got $WW)" test "$WW" -gt 340
  click $((WW / 2)) $((WH - 20 - 14))  # the middle button: Skip this version
}
ends "$CHECK_PID" 60
expect "skipped run exits 1 (got $STATUS)" test "$STATUS" = 1
contains "skipped version kept" "$WORK/skip/state.ini" "SkippedVersion=1.1"

# ---- The desktop demo, every window of it, without a window manager (as above) and then
# under a real one (fluxbox, which honours the functions a window asks for and says which
# it allows in _NET_WM_ALLOWED_ACTIONS). Shots of the second pass begin with "wm-" and show
# the window manager's frame.
WM=
# frame_of ID: the window a window manager framed ID in (the child of the root holding it).
frame_of() {
  local root top=$1 parent
  root=$(xwininfo -root | sed -n 's/.*Window id: \(0x[0-9a-f]*\).*/\1/p')
  for ((i = 0; i < 10; i++)); do
    parent=$(xwininfo -tree -id "$top" | sed -n 's/.*Parent window id: \(0x[0-9a-f]*\).*/\1/p')
    [[ -z $parent || $parent == "$root" ]] && break
    top=$parent
  done
  echo "$top"
}
# frameshot NAME: the current window, with the frame a window manager put round it.
frameshot() {
  local info x y w h b
  info=$(xwininfo -id "$(frame_of "$W")")
  x=$(sed -n 's/.*Absolute upper-left X: *//p' <<<"$info")
  y=$(sed -n 's/.*Absolute upper-left Y: *//p' <<<"$info")
  w=$(sed -n 's/.*Width: *//p' <<<"$info")
  h=$(sed -n 's/.*Height: *//p' <<<"$info")
  b=$(sed -n 's/.*Border width: *//p' <<<"$info")
  import -window root -crop $((w + 2 * b))x$((h + 2 * b))+$((x - b))+$((y - b)) \
    "$SHOTS/$1.png" || bad "no screenshot $1"
}
# frame_buttons: how many buttons the frame of the current window shows. fluxbox makes each
# title bar button a square window of its own in the frame; the window itself is left out.
frame_buttons() {
  xwininfo -tree -id "$(frame_of "$W")" | grep -v "$(printf '0x%x' "$W")" |
    sed -n 's/.*) *\([0-9]*\)x\([0-9]*\)[+-].*/\1 \2/p' | awk '$1 == $2 && $1 >= 8' | wc -l
}
# pshot NAME: the current window's picture in this pass (framed under the window manager).
pshot() { if [[ -n $WM ]]; then frameshot "wm-$1"; else shot "$1"; fi; }
# wm_allows WHAT [ACTION...]: under the window manager, it allows the window exactly those
# of minimise, maximise and close that are named (MINIMIZE, MAXIMIZE_HORZ, CLOSE...), and its
# frame shows a button for each of them and no other: a close button on a window that
# refuses the close would do nothing.
wm_allows() {
  [[ -n $WM ]] || return 0
  local what=$1 got want buttons
  shift
  got=$(xprop -id "$W" _NET_WM_ALLOWED_ACTIONS |
    grep -oE 'ACTION_(MINIMIZE|MAXIMIZE_HORZ|MAXIMIZE_VERT|CLOSE)' | sort | tr '\n' ' ')
  want=$(for a in "$@"; do echo "ACTION_$a"; done | sort | tr '\n' ' ')
  expect "$what: the window manager allows [${want% }] (got [${got% }])" test "$got" = "$want"
  want=$(for a in "$@"; do echo "${a%_*}"; done | sort -u | wc -l)
  buttons=$(frame_buttons)
  expect "$what: its frame shows $want buttons (got $buttons)" test "$buttons" = "$want"
}
demo_pass() {
  local P=${WM:+wm-}
  # The corner of the main window where the wait control counts down, as a picture.
  corner() { import -window "$DEMO_W" -crop 192x32+272+177 "$WORK/corner-$1.png"; }
  rm -f "$WORK/orvane-demo-1.1.sh"
  # At its own pace: the download takes about two seconds, so its form can be seen. Its
  # page and read-me come three seconds late, long enough to photograph the please-wait
  # forms on a loaded machine.
  (cd "$WORK" && exec "$DEMO_BIN" --demo-delay 3000) >"$WORK/gui-demo.log" 2>&1 &
  DEMO_APP=$!
  PIDS+=($DEMO_APP)
  # demo_menu: Help > Check for Update... in the demo's window.
  demo_menu() {
    xdotool mousemove $((DEMO_X + 20)) $((DEMO_Y + 12)) click 1
    sleep 0.3
    xdotool mousemove $((DEMO_X + 60)) $((DEMO_Y + 25 + 12)) click 1
  }
  # demo_status TEXT: the demo reported that outcome on its status line, whole (one line
  # of at most 32 characters).
  demo_status() {
    expect "${P}demo status \"$1\"" wait_for 30 grep -qxF "orvane-demo: $1" "$WORK/gui-demo.log"
  }
  await_win "^Orvane Demo 1.0$" && {
    DEMO_W=$W DEMO_X=$WX DEMO_Y=$WY
    pshot 11-demo-window
    size_is "${P}demo window (client area and menu bar)" 480 225
    wm_allows "demo window" MINIMIZE CLOSE
    corner a
    demo_menu
  }
  await_win "^Please Wait$" && {
    pshot 12-demo-please-wait
    wm_allows "please-wait form"
  }
  await_win "^Update Available$" && {
    pshot 12-demo-question
    wm_allows "Yes/No box"
    if [[ -n $WM ]]; then
      # Escape has no answer here: a close asked of the window manager changes nothing.
      python3 "$HERE/wm_close.py" --via-wm "$W"
      sleep 1
      expect "Yes/No box still up after a close through the window manager" \
        bash -c "xdotool search --onlyvisible --name '^Update Available$' >/dev/null"
    fi
    # The count-down goes on painting under the box's own loop.
    corner b
    sleep 1.2
    corner c
    expect "${P}wait control repaints while a box is up" \
      bash -c "! cmp -s '$WORK/corner-b.png' '$WORK/corner-c.png'"
    expect "${P}wait control counted down since the start" \
      bash -c "! cmp -s '$WORK/corner-a.png' '$WORK/corner-c.png'"
    click_box_button 0 2  # Yes, the read-me
  }
  await_win "^Please Wait$" && pshot 12-demo-please-wait-read-me
  await_win "^Read Me$" && {
    pshot 12-demo-read-me
    wm_allows "read-me window"
    click 60 60
    xdotool key Return
  }
  await_win "^Update Available$" && {
    pshot 12-demo-download-question
    # Keys reach a box as it shows, without a click first (under fluxbox too, typed as a tool).
    xdotool mousemove $((WX + 10)) $((WY + 10)) key Return  # Download, the default
  }
  await_win "^Save As$" && {
    pshot 12-demo-save-dialog
    wm_allows "save dialog" CLOSE
    click $((410 + 45)) $((292 + 13))
  }
  await_win "^Download Progress$" && {
    pshot 13-demo-progress-form
    wm_allows "progress form"
    sleep 0.8
    expect "${P}demo's progress form still up after 0.8 s" \
      bash -c "xdotool search --onlyvisible --name '^Download Progress$' >/dev/null"
    W=$DEMO_W
    pshot 14-demo-downloading  # the status line with the progress, under the form
  }
  expect "${P}demo saved the update" wait_for 60 cmp -s "$WORK/expected.sh" "$WORK/orvane-demo-1.1.sh"
  # The saved file's path loses its middle, keeping its start and the file name.
  expect "${P}demo status \"Saved /...orvane-demo-1.1.sh\"" wait_for 30 \
    grep -qE '^orvane-demo: Saved /.{0,10}[.][.][.].*orvane-demo-1[.]1[.]sh$' "$WORK/gui-demo.log"
  expect "${P}demo status lines fit (32 characters)" \
    bash -c "! grep '^orvane-demo: ' '$WORK/gui-demo.log' | grep -v ': checking ' | cut -c14- | grep -q '.\{33\}'"
  W=$DEMO_W
  sleep 0.5
  pshot 15-demo-saved
  # Again, cancelled on the progress form: the status line says so, not "Check failed".
  demo_menu
  await_win "^Update Available$" && click_box_button 1 2  # No read-me
  await_win "^Update Available$" && click_box_button 0 2  # Download
  await_win "^Save As$" && {
    click $((410 + 45)) $((292 + 13))
    sleep 0.3
  }
  await_win "^Confirm " && {
    pshot 15-demo-overwrite-question
    wm_allows "overwrite question (its close box answers No)" CLOSE
    click_box_button 0 2  # replace the file saved before
  }
  await_win "^Download Progress$" && click $((102 + 34)) $((94 + 11))  # Cancel
  await_win "^Download Error$" && {
    pshot 16-demo-download-error
    wm_allows "error box" CLOSE
    if [[ -n $WM ]]; then
      # Its close box answers as OK does.
      python3 "$HERE/wm_close.py" --via-wm "$W"
      expect "error box closed through the window manager" wait_for 10 \
        bash -c "! xdotool search --onlyvisible --name '^Download Error$' >/dev/null"
    else
      click_box_button 0 1
    fi
  }
  demo_status "Download cancelled."
  W=$DEMO_W
  sleep 0.5
  pshot 17-demo-cancelled
  python3 "$HERE/wm_close.py" ${WM:+--via-wm} "$DEMO_W"
  ends "$DEMO_APP" 30  # closing the window ends the demo
  expect "${P}demo exits 0 (got $STATUS)" test "$STATUS" = 0

}

if [[ -n $DEMO_BIN ]]; then
  demo_pass
  if ! command -v fluxbox >/dev/null; then
    echo "SKIP (the pass under a window manager): fluxbox is not installed (bash scripts/deps.sh)"
  else
    # Its own settings and home in the scratch folder: no tool bar, no wallpaper, and the
    # minimise, maximise and close buttons right of the title in a style that draws them.
    mkdir -p "$WORK/fluxbox/.fluxbox"
    cat >"$WORK/fluxbox/init" <<EOF
session.configVersion: 13
session.styleFile: /usr/share/fluxbox/styles/debian-blue
session.styleOverlay: $WORK/fluxbox/overlay
session.screen0.toolbar.visible: false
session.screen0.focusModel: ClickFocus
session.screen0.rootCommand:
session.screen0.titlebar.left:
session.screen0.titlebar.right: Minimize Maximize Close
EOF
    echo "background: none" >"$WORK/fluxbox/overlay"
    HOME=$WORK/fluxbox spawn fluxbox -rc "$WORK/fluxbox/init" >"$WORK/fluxbox.log" 2>&1
    wm_runs() { xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id'; }
    if wait_for 60 wm_runs; then
      WM=fluxbox
      W=
      demo_pass
    else
      bad "fluxbox did not start"
      cat "$WORK/fluxbox.log" >&2
    fi
  fi
fi
echo "screenshots in $SHOTS"
finish
