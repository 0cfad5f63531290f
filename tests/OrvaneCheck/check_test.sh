#!/usr/bin/env bash
# orvane-check as a script would run it, standard input closed: the whole check against the
# embedded demo server, a page with nothing newer, the check through a proxy, and bad use,
# each with its exit status.
source "$(dirname "$0")/lib.sh" "$1"
run() {  # run NAME ARGS...: output in $WORK/NAME.out and .err, status in $status
  local name=$1
  shift
  timeout 60 "$BIN" "$@" </dev/null >"$WORK/$name.out" 2>"$WORK/$name.err"
  status=$?
}

# The whole check with --yes: the product named before the first question, read-me
# shown, file saved, exit 0; nobody agreed to start it, so it is neither started nor made
# executable, and the output says how to start it.
mkdir "$WORK/save"
run demo --yes --save-to "$WORK/save"
expect "demo exit 0 (got $status)" test "$status" = 0
for line in "Found Orvane Demo 1.1 (" "Version 1.1 is available." \
  "Would you like to view the ReadMe file?" \
  "What is new in 1.1" "Download the update?" "File name [$WORK/save/orvane-demo-1.1.sh]" \
  "Downloading Update [####################] 100%  189 of 189 bytes received" \
  "Saved $WORK/save/orvane-demo-1.1.sh" \
  "To start it yourself: chmod +x '$WORK/save/orvane-demo-1.1.sh' && '$WORK/save/orvane-demo-1.1.sh'"; do
  contains "demo output" "$WORK/demo.out" "$line"
done
expect "product named before the first question" test \
  "$(grep -n -m1 'Found Orvane Demo' "$WORK/demo.out" | cut -d: -f1)" -lt \
  "$(grep -n -m1 'Would you like' "$WORK/demo.out" | cut -d: -f1)"
start_demo
curl -sS -o "$WORK/expected.sh" "$DEMO_BASE/orvane-demo-1.1.sh"
expect "saved byte for byte" cmp -s "$WORK/expected.sh" "$WORK/save/orvane-demo-1.1.sh"
expect "not asked to install" test "$(grep -c 'Do you want to install' "$WORK/demo.out")" = 0
expect "not made executable" test ! -x "$WORK/save/orvane-demo-1.1.sh"
sleep 1  # a started update would have said its line by now
expect "not started" test "$(grep -c '^Orvane Demo 1.1 is installed.$' "$WORK/demo.out")" = 0
expect "nothing else left" test "$(ls -A "$WORK/save")" = orvane-demo-1.1.sh

# Starting without a person is refused outright until updates can be verified.
run unattended --yes --run-unattended --save-to "$WORK/save"
expect "--run-unattended exits 2 (got $status)" test "$status" = 2
contains "--run-unattended refused" "$WORK/unattended.err" "--run-unattended is refused"

# With --yes an existing file is not replaced: exit 1, and it says so.
run yes-again --yes --save-to "$WORK/save"
expect "--yes keeps the file, exit 1 (got $status)" test "$status" = 1
contains "--yes says why" "$WORK/yes-again.err" "$WORK/save/orvane-demo-1.1.sh exists"
expect "file untouched by --yes" cmp -s "$WORK/expected.sh" "$WORK/save/orvane-demo-1.1.sh"

# A second run with the file in place: without --yes the overwrite question takes its
# default (No), so nothing is downloaded and the file stays as it was.
run again --save-to "$WORK/save" --no-run
expect "declined overwrite exits 1 (got $status)" test "$status" = 1
contains "overwrite asked" "$WORK/again.out" "already exists."
expect "file untouched" cmp -s "$WORK/expected.sh" "$WORK/save/orvane-demo-1.1.sh"

# Nothing newer on the page.
run current "$DEMO_URL" --current-version 1.1
expect "no update exits 1 (got $status)" test "$status" = 1
contains "no update box" "$WORK/current.out" "There is no update available."

# Through a proxy: the page, the read-me and the file all go by way of it.
proxy_port=$(free_port)
mkdir "$WORK/proxy" "$WORK/via-proxy"
cat >"$WORK/proxy/tinyproxy.conf" <<CONF
Port $proxy_port
Listen 127.0.0.1
Allow 127.0.0.1
Timeout 30
LogFile "$WORK/proxy/log"
LogLevel Info
CONF
spawn tinyproxy -d -c "$WORK/proxy/tinyproxy.conf"
wait_for 10 curl -fs -o /dev/null -x "127.0.0.1:$proxy_port" "$DEMO_URL"
run proxy "$DEMO_URL" --yes --no-run --proxy "127.0.0.1:$proxy_port" --save-to "$WORK/via-proxy"
expect "proxied check exits 0 (got $status)" test "$status" = 0
expect "proxied file byte for byte" cmp -s "$WORK/expected.sh" "$WORK/via-proxy/orvane-demo-1.1.sh"
for path in orvane-demo.htm readme.txt orvane-demo-1.1.sh; do
  contains "request by way of the proxy" "$WORK/proxy/log" "GET $DEMO_BASE/$path HTTP/1.0"
done

# Bad use: one clear line on standard error and exit 2, nothing saved.
bad_use() {  # bad_use NAME EXPECTED-TEXT ARGS...
  local name=$1 text=$2
  shift 2
  run "$name" "$@"
  expect "$name exits 2 (got $status)" test "$status" = 2
  contains "$name message" "$WORK/$name.err" "$text"
}
bad_use option "unknown option --colour" --colour
bad_use value '--version-format wants build or simple (got "fast")' --version-format fast
bad_use scheme "HOME-URL must be an http:// address" https://example.com/
bad_use resolve "can't resolve hostname" http://no-such-host.invalid/update.htm --save-to "$WORK/save"
refused=$(free_port)
bad_use refused "could not read http://127.0.0.1:$refused/" "http://127.0.0.1:$refused/update.htm"
bad_use missing-dir 'folder "/nonexistent/dir" does not exist' --save-to /nonexistent/dir
bad_use unwritable '"/proc" is not writable' --save-to /proc
mkdir "$WORK/plain"
echo "<HTML><BODY>No entries here.</BODY></HTML>" >"$WORK/plain/index.htm"
http_port=$(free_port)
spawn python3 -m http.server "$http_port" --bind 127.0.0.1 --directory "$WORK/plain" >/dev/null 2>&1
wait_for 10 curl -fs -o /dev/null "http://127.0.0.1:$http_port/index.htm"
bad_use no-entry 'has no "Version" entry' "http://127.0.0.1:$http_port/index.htm" --save-to "$WORK/save"
expect "nothing saved by bad use" test "$(ls -A "$WORK/save")" = orvane-demo-1.1.sh
finish
