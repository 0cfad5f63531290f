#!/usr/bin/env bash
# A program shipped as one file replaces itself with its verified update and starts again
# with the same arguments; one in a folder its user cannot write saves the update instead;
# a replaced program is put back with orvane-check --roll-back.
# Usage: relaunch_test.sh orvane-check orvane-sign relaunch-app-v1 relaunch-app-v2
source "$(dirname "$0")/../OrvaneCheck/lib.sh" "$1"
SIGN=$(realpath "$2")
V1=$(realpath "$3")
V2=$(realpath "$4")
cd "$WORK"
chmod 755 "$WORK"
mkdir www
"$SIGN" keygen key >pub 2>/dev/null || bad "keygen"
PUB=$(cat pub)
cp "$V2" www/app-v2
PORT=$(free_port)
URL=http://127.0.0.1:$PORT
spawn bash -c "exec python3 -m http.server $PORT --bind 127.0.0.1 --directory www >http.log 2>&1"
wait_for 10 python3 -c "import socket; socket.create_connection(('127.0.0.1', $PORT))" ||
  bad "http server did not start"
"$SIGN" sign --key key --url "$URL/app-v2" --version 2 --product Relaunch --date "Dec 1, 2026" \
  --expires 2099-12-31 www/app-v2 >meta 2>/dev/null || bad "sign"
{ echo "<html><head>"; cat meta; echo "</head></html>"; } >www/page.html

# install DIR: version 1 as DIR/app, mode 0750.
install_v1() {
  mkdir -p "$1"
  cp "$V1" "$1/app"
  chmod 750 "$1/app"
}
# start DIR RESULT: version 1 run from DIR/app with two arguments, one with a blank.
start() {
  (cd "$WORK" && timeout 60 "$1/app" "$URL/page.html" "$PUB" "$2" one "two words" \
    </dev/null >"$2.out" 2>&1)
}

# Replaced, started again with the same arguments, and the old file kept only until then.
install_v1 "$WORK/inst"
start "$WORK/inst" "$WORK/result"
wait_for 20 grep -q '^version=2' "$WORK/result" || bad "version 2 never ran"
contains "version 1 replaced itself" "$WORK/result" \
  "version=1 args=$URL/page.html|$PUB|$WORK/result|one|two words downloaded=1 saved=$WORK/inst/app outcome=1"
contains "version 2 with the same arguments" "$WORK/result" \
  "version=2 args=$URL/page.html|$PUB|$WORK/result|one|two words"
expect "the program is version 2" cmp -s "$V2" "$WORK/inst/app"
expect "its mode kept" test "$(stat -c %a "$WORK/inst/app")" = 750
wait_for 10 test ! -e "$WORK/inst/app.previous" || bad "app.previous left after version 2 started"
expect "nothing else left" test "$(ls -A "$WORK/inst")" = app

# A start that failed: the old file is there to go back to.
install_v1 "$WORK/failed"
RELAUNCH_PLAY_FAILED_START=1 start "$WORK/failed" "$WORK/failed-result"
wait_for 20 grep -q '^version=2' "$WORK/failed-result" || bad "version 2 never ran"
expect "the previous one kept" cmp -s "$V1" "$WORK/failed/app.previous"
"$BIN" --roll-back "$WORK/failed/app" >rollback.out 2>&1
expect "roll-back: exit 0" test $? = 0
expect "roll-back: version 1 again" cmp -s "$V1" "$WORK/failed/app"
expect "roll-back: nothing else left" test "$(ls -A "$WORK/failed")" = app
"$BIN" --roll-back "$WORK/failed/app" >rollback.out 2>&1
expect "roll-back without a previous one: exit 2" test $? = 2
contains "roll-back says why" rollback.out "There is no $WORK/failed/app.previous to go back to"

# A folder the user cannot write: never escalated into, the update saved instead. An
# administrator writes anywhere, so the program runs as nobody then.
install_v1 "$WORK/system"
chmod 555 "$WORK/system"
mkdir -m 777 "$WORK/home"
AS_USER=()
if [[ $(id -u) == 0 ]]; then AS_USER=(setpriv --reuid=65534 --regid=65534 --clear-groups); fi
touch "$WORK/ro-result" && chmod 666 "$WORK/ro-result"
(cd "$WORK/home" && timeout 60 "${AS_USER[@]}" "$WORK/system/app" "$URL/page.html" "$PUB" \
  "$WORK/ro-result" one </dev/null >"$WORK/ro.out" 2>&1)
contains "read-only: says so" "$WORK/ro.out" "The program cannot replace itself: the folder $WORK/system cannot be written"
contains "read-only: saved instead" "$WORK/ro-result" "version=1 args=$URL/page.html|$PUB|$WORK/ro-result|one downloaded=1 saved=$WORK/home/app-v2.EXE"
expect "read-only: program untouched" cmp -s "$V1" "$WORK/system/app"
expect "read-only: the update saved byte for byte" cmp -s "$V2" "$WORK/home/app-v2.EXE"
expect "read-only: version 2 never ran" test "$(grep -c '^version=2' "$WORK/ro-result")" = 0
chmod 755 "$WORK/system"
finish
