#!/usr/bin/env bash
# orvane-check in a real terminal (tmux): the answers typed as keys, the screen read back.
# One run goes all the way through the read-me pager, the save prompt, the progress line
# and the install question; two are cancelled, with Escape and with Ctrl-C, in the middle
# of a slow download.
source "$(dirname "$0")/lib.sh" "$1"
command -v tmux >/dev/null || { bad "tmux is missing (bash scripts/deps.sh)"; finish; exit 1; }
SOCK="orvtest-$$"
tm() { tmux -L "$SOCK" "$@"; }
trap 'tm kill-server 2>/dev/null; cleanup' EXIT

# Each run gets a session of its own: ending one could take the server down just as the
# next one starts.
RUN=0
screen() { tm capture-pane -p -J -t "check$RUN" -S -200; }
keys() { tm send-keys -t "check$RUN" "$@"; }
shows() { screen | grep -qF -- "$1"; }
# await TEXT: the screen shows it within 20 s.
await() {
  if wait_for 20 shows "$1"; then ok; else bad "screen never showed \"$1\""; screen >&2; fi
}
# Starts orvane-check in a fresh terminal of 100 x 40 in folder $1 with the other args;
# its pid goes to $1.pid, its exit status to $1.status, and the terminal's settings after
# it ended to $1.stty.
launch() {
  local dir=$1
  shift
  RUN=$((RUN + 1))
  tm new-session -d -s "check$RUN" -x 100 -y 40 \
    "cd '$dir' && sh -c 'echo \$\$ >\"\$0.pid\"; exec env -u PAGER \"\$@\"' '$dir' '$BIN' $*; echo \$? >'$dir.status'; stty -a >'$dir.stty'; sleep 120"
}

start_demo
curl -sS -o "$WORK/expected.sh" "$DEMO_BASE/orvane-demo-1.1.sh"

# All the way through.
mkdir "$WORK/full"
launch "$WORK/full" --demo-rate 400
await "Would you like to view the ReadMe file?"
keys y
await "-- End of read-me: press Enter --"
await "What is new in 1.1"
keys Enter
await "Download the update?"
keys y
await "File name [$WORK/full/orvane-demo-1.1.sh]:"
keys -l "mine.sh"
keys Enter
await "mine.sh ($WORK/full/mine.sh)"  # the accepted name, in full
await "Do you want to install the update now?"
await "Downloading Update [####################] 100%  189 of 189 bytes received"
expect "progress drawn on one line" test "$(screen | grep -c 'Downloading Update')" = 1
keys y
wait_for 20 test -s "$WORK/full.status"
expect "full run exits 0" test "$(cat "$WORK/full.status" 2>/dev/null)" = 0
expect "typed name saved byte for byte" cmp -s "$WORK/expected.sh" "$WORK/full/mine.sh"
await "Orvane Demo 1.1 is installed."

# Escape, and Ctrl-C, during a slow download: the download error, and no file left behind.
for key in Escape C-c; do
  mkdir "$WORK/cancel-$key"
  launch "$WORK/cancel-$key" --demo-rate 20
  await "Would you like to view the ReadMe file?"
  keys n
  await "Download the update?"
  keys Enter
  await "File name ["
  keys Enter
  await "bytes received"
  keys "$key"
  await "Download Error"
  await 'Error: "Connection aborted on request."'
  keys Enter
  wait_for 20 test -s "$WORK/cancel-$key.status"
  expect "$key: cancelled run exits 1" test "$(cat "$WORK/cancel-$key.status" 2>/dev/null)" = 1
  await "cancelled; nothing was saved"
  expect "$key: no file left" test -z "$(ls -A "$WORK/cancel-$key")"
done

# Ctrl-C while the page is read (the please-wait spinner turns): the request is given
# up, and the check ends as cancelled.
SLOW_PORT=$(free_port)
spawn python3 "$HERE/slow_page.py" "$SLOW_PORT" "$DEMO_URL" 5
wait_for 10 curl -s -o /dev/null "http://127.0.0.1:$SLOW_PORT/" || bad "slow page server did not start"
mkdir "$WORK/reading"
launch "$WORK/reading" "http://127.0.0.1:$SLOW_PORT/page"
await "Checking For Update..."
keys C-c
wait_for 20 test -s "$WORK/reading.stty"
expect "Ctrl-C while reading: exits 1" test "$(cat "$WORK/reading.status" 2>/dev/null)" = 1
await "cancelled; nothing was saved"
expect "Ctrl-C while reading: nothing asked" test "$(screen | grep -c 'Update Available')" = 0

# A signal cancels like the user does: during a question (the terminal in key mode) and
# during the download. The terminal is given back as it was, no partial file stays, and
# the exit status is that of a cancel.
for case in TERM:question HUP:download INT:download; do
  sig=${case%%:*} when=${case#*:}
  dir="$WORK/signal-$sig"
  mkdir "$dir"
  launch "$dir" --demo-rate 20
  await "Would you like to view the ReadMe file?"
  if [ "$when" = download ]; then
    keys n
    await "Download the update?"
    keys Enter
    await "File name ["
    keys Enter
    await "bytes received"
  fi
  kill -"$sig" "$(cat "$dir.pid")"
  wait_for 20 test -s "$dir.stty"
  expect "SIG$sig: exits 1" test "$(cat "$dir.status" 2>/dev/null)" = 1
  await "stopped by SIG$sig; nothing was saved"
  expect "SIG$sig: terminal restored" grep -qE '(^| )icanon( |$)' "$dir.stty"
  expect "SIG$sig: echo restored" grep -qE '(^| )echo( |$)' "$dir.stty"
  expect "SIG$sig: no file left" test -z "$(ls -A "$dir")"
done

# The three answers (--offer-skip), kept in the state file that --if-due reads: a skipped
# version is not offered by a scheduled check, a check by hand still offers it, "remind me
# later" holds the schedule back, and --forget-skipped offers it again.
STATE="$WORK/state/update-check.ini"
# answer_check NAME KEY ARGS...: a check with the question answered by KEY; its status
# goes to $WORK/NAME.status.
answer_check() {
  local name=$1 key=$2
  shift 2
  mkdir "$WORK/$name"
  launch "$WORK/$name" --offer-skip --state-file "$STATE" --demo-rate 0 "$@"
  await "Would you like to view the ReadMe file?"
  keys n
  await "Install/Skip this version/Remind me later [Install]:"
  keys "$key"
}
answer_check skip s --if-due 0
wait_for 20 test -s "$WORK/skip.status"
expect "skip: exits 1" test "$(cat "$WORK/skip.status" 2>/dev/null)" = 1
contains "skip: version kept" "$STATE" "SkippedVersion=1.1"
mkdir "$WORK/skipped"
launch "$WORK/skipped" --state-file "$STATE" --if-due 0
await "Version 1.1 is skipped (--forget-skipped offers it again)"
answer_check later r
wait_for 20 test -s "$WORK/later.status"
expect "remind me later: exits 1" test "$(cat "$WORK/later.status" 2>/dev/null)" = 1
expect "reminder kept" grep -qE '^RemindAfter=[1-9]' "$STATE"
"$BIN" --state-file "$STATE" --if-due 0 --json </dev/null >"$WORK/held.json" 2>/dev/null
contains "not due while reminded" "$WORK/held.json" '{"result":"not-due",'
"$BIN" --state-file "$STATE" --forget-skipped >/dev/null || bad "--forget-skipped"
answer_check install i --if-due 0
await "File name ["
keys Enter
await "Do you want to install the update now?"
keys n
wait_for 20 test -s "$WORK/install.status"
expect "offered again and saved: exits 0" test "$(cat "$WORK/install.status" 2>/dev/null)" = 0
expect "saved byte for byte" cmp -s "$WORK/expected.sh" "$WORK/install/orvane-demo-1.1.sh"
finish
