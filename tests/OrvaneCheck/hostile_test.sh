#!/usr/bin/env bash
# orvane-check against a server that sends what a compromised or careless server, or
# anyone on the path, could send: entries it must not fetch, names it must not write,
# texts that would drive the terminal, pages too large to hold, versions too long for a
# machine word, a script it must not start, and signals in the middle of a download.
# Every run checks the exit status, that no raw control byte of the server reaches the
# output, and what is on disk byte for byte.
source "$(dirname "$0")/lib.sh" "$1"

mkdir "$WORK/tmp"
MARKER="$WORK/started"
python3 "$HERE/hostile_server.py" "$MARKER" >"$WORK/server.port" 2>"$WORK/server.err" &
PIDS+=($!)
wait_for 10 test -s "$WORK/server.port" || { bad "hostile server did not start"; cat "$WORK/server.err" >&2; finish; exit 1; }
BASE="http://127.0.0.1:$(head -1 "$WORK/server.port")"
SIGNER=$(sed -n 2p "$WORK/server.port")

# run NAME PAGE ARGS...: orvane-check on page PAGE of the server, standard input closed,
# saving into the empty folder $WORK/NAME; output in $WORK/NAME.out and .err, status in
# $status.
run() {
  local name=$1 page=$2
  shift 2
  mkdir -p "$WORK/$name"
  (cd "$WORK/$name" && TMPDIR="$WORK/tmp" timeout 60 "$BIN" "$BASE/page/$page" "$@" \
    </dev/null >"$WORK/$name.out" 2>"$WORK/$name.err")
  status=$?
}
# What the user saw is UTF-8 without a C0 control but line feed and tab, without DEL and
# without a C1 control (U+0080 to U+009F, encoded or as a raw byte).
clean_output() {
  local name=$1 found
  if found=$(python3 - "$WORK/$name.out" "$WORK/$name.err" <<'PY'
import re
import sys

control = re.compile("[\x00-\x08\x0b-\x1f\x7f-\x9f]")
for path in sys.argv[1:]:
    data = open(path, "rb").read()
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError as e:
        print("%s: no UTF-8 at byte %d: %r" % (path, e.start, data[max(0, e.start - 20):e.start + 4]))
        sys.exit(1)
    for n, line in enumerate(text.split("\n"), 1):
        if control.search(line):
            print("%s:%d: %r" % (path, n, line))
            sys.exit(1)
PY
  ); then
    ok
  else
    bad "$name: a raw control byte reached the terminal"
    echo "$found" >&2
  fi
}
# Nothing was written: not in the save folder, not in the temporary folder.
nothing_left() {
  expect "$1: nothing saved ($(ls -A "$WORK/$1" | head -3))" test -z "$(ls -A "$WORK/$1")"
  expect "$1: nothing in the temporary folder" test -z "$(ls -A "$WORK/tmp")"
}
# refused NAME PAGE TEXT: the check fails with exit 2, TEXT on standard error, the
# failure box shown, nothing written, and no crash.
refused() {
  local name=$1 page=$2 text=$3
  run "$name" "$page" --yes
  expect "$name: exit 2 (got $status)" test "$status" = 2
  contains "$name: reason" "$WORK/$name.err" "$text"
  if grep -qE 'Connection Error|Download Error|Update Not Verified' "$WORK/$name.out"; then ok; else bad "$name: no failure box"; cat "$WORK/$name.out" >&2; fi
  clean_output "$name"
  nothing_left "$name"
}

# 1 and 2. Entries that crashed the check or meant something else than plain HTTP: each
# a failure naming the entry.
refused bad-date bad-date 'The Date entry "Feb 30, 2020" is no date'
refused readme-file readme-file 'The ReadMe entry "file:///etc/passwd" cannot be fetched: unsupported protocol: file'
refused readmeext-file readmeext-file 'The ReadMeExt entry "file:///etc/passwd" cannot be fetched: unsupported protocol: file'
refused download-empty download-empty 'The Download entry gives no address'
refused download-long download-long 'The Download entry gives no address'
refused download-file download-file 'The Download entry "file:///etc/passwd" cannot be fetched: unsupported protocol: file'
# An https entry naming a server that speaks plain HTTP: TLS fails, nothing is fetched in
# the open. A read-me that cannot be read is not shown; the check goes on without it.
refused download-https download-https 'TLS handshake with 127.0.0.1 failed'
refused download-ftp download-ftp 'unsupported protocol: ftp'
run readme-https readme-https --yes --no-run
expect "readme-https: exit 0 (got $status)" test "$status" = 0
if grep -qF 'Read me' "$WORK/readme-https.out"; then bad "readme-https: the read-me was shown"; else ok; fi
clean_output readme-https
refused redirect-js redirect-js 'The Redirect entry "javascript:alert(1)" cannot be fetched: unsupported protocol: javascript'
contains "redirect-js: the page it was reading" "$WORK/redirect-js.err" "could not read javascript:alert(1)"

# 4. The server does not choose a dangerous file name.
refused download-dot download-dot '"." names a folder, not a file'
refused download-dotdot download-dotdot '".." names a folder, not a file'
refused download-900 download-900 'the name is longer than 255 bytes'
refused download-slash download-slash 'the address names no file'
refused download-hidden download-hidden 'a name starting with "." would be a hidden file'
refused download-backslash download-backslash 'the name holds a backslash'
refused download-escape download-escape 'a blank or control character in the address'
refused download-del download-del 'a blank or control character in the address'
refused download-c1 download-c1 'a control character or no UTF-8 in the address'
refused download-raw download-raw 'a control character or no UTF-8 in the address'
# A percent-escape is taken literally: a decoded "/" never becomes a folder.
run download-percent download-percent --yes
expect "download-percent: exit 0 (got $status)" test "$status" = 0
expect "download-percent: literal name" test "$(ls -A "$WORK/download-percent")" = 'a%2Fb.sh'
expect "download-percent: byte for byte" test "$(cat "$WORK/download-percent/a%2Fb.sh")" = 'payload of a%2Fb.sh'

# For scripts, the same hostile texts make one valid JSON object, standard output holding
# nothing else; a failure gives its kind and text.
run escapes-json escapes --yes --json
expect "escapes --json: exit 0 (got $status)" test "$status" = 0
expect "escapes --json: one valid object" python3 -c '
import json, sys
lines = open(sys.argv[1], encoding="utf-8").read().splitlines()
o = json.loads(lines[0])
assert len(lines) == 1 and o["result"] == "downloaded" and o["product"].startswith("Evil\x1b]0;owned")
assert o["saved_file"].endswith(".sh") and o["failure_kind"] is None, o' "$WORK/escapes-json.out"
run missing-json nonexistent-page --json
expect "failure --json: exit 2 (got $status)" test "$status" = 2
expect "failure --json: kind and text" python3 -c '
import json, sys
o = json.loads(open(sys.argv[1]).read())
assert o["result"] == "failed" and o["failure_kind"] == "page" and o["failure_text"], o' \
  "$WORK/missing-json.out"

# 3 and 8. Texts that would drive the terminal are shown, escaped; the product is named
# before the first question; the file is saved byte for byte.
run escapes escapes --yes
expect "escapes: exit 0 (got $status)" test "$status" = 0
clean_output escapes
contains "escapes: product line" "$WORK/escapes.out" 'Found Evil\x1b]0;owned\x07\x1b[2J\u009b31m'
contains "escapes: version escaped" "$WORK/escapes.out" 'Version 1.1.2\x1b]0;owned\x07\x1b[2J\u009b31m is available.'
contains "escapes: author escaped" "$WORK/escapes.out" 'by Mallory\x1b]0;owned'
c1=$(printf '\\u%04x' $(seq 128 159))
contains "escapes: every C1 control escaped" "$WORK/escapes.out" "\u009b31m$c1"
contains "escapes: read-me escaped" "$WORK/escapes.out" 'Read me\x1b]0;owned\x07\x1b[2J\u009b31m'
contains "escapes: no UTF-8 shown as U+FFFD" "$WORK/escapes.out" $'\xef\xbf\xbd\xef\xbf\xbdbad UTF-8'
expect "escapes: product before the first question" test \
  "$(grep -n -m1 '^Found ' "$WORK/escapes.out" | cut -d: -f1)" -lt \
  "$(grep -n -m1 'Would you like' "$WORK/escapes.out" | cut -d: -f1)"
expect "escapes: saved byte for byte" test "$(cat "$WORK/escapes/u.sh")" = "payload of u.sh"
# A failed page read: the box follows the status, standard error names the page and the
# reason phrase (escaped).
run missing missing --yes
expect "missing: exit 2 (got $status)" test "$status" = 2
# (The reason phrase carries the CSI as the raw byte 0x9b, which is no UTF-8.)
contains "missing: page and reason" "$WORK/missing.err" \
  "could not read $BASE/status/404: Gone"'\x1b]0;owned\x07\x1b[2J'$'\xef\xbf\xbd''31m'
contains "missing: the status box" "$WORK/missing.out" "404"
clean_output missing
nothing_left missing

# 5. Nothing downloaded is started without a person agreeing: not with --yes, not
# without a terminal; --run-unattended without the publisher's key is refused.
for how in yes no-terminal; do
  if [ "$how" = yes ]; then run "script-$how" script --yes; else run "script-$how" script; fi
  expect "script-$how: saved, exit 0 (got $status)" test "$status" = 0
  expect "script-$how: byte for byte" test "$(cat "$WORK/script-$how/script.sh")" = "$(printf "#!/bin/sh\ntouch '%s'\n" "$MARKER")"
  expect "script-$how: not made executable" test ! -x "$WORK/script-$how/script.sh"
  contains "script-$how: how to start it" "$WORK/script-$how.out" "To start it yourself: chmod +x"
done
sleep 1  # a started script would have left its mark by now
expect "no script started" test ! -e "$MARKER"
run unattended script --yes --run-unattended
expect "unattended: exit 2 (got $status)" test "$status" = 2
contains "unattended: refused" "$WORK/unattended.err" "--run-unattended is refused"
nothing_left unattended

# 6. Sizes and numbers the server controls are bounded.
for page in huge-announced huge-streamed; do
  mkdir -p "$WORK/$page"
  (cd "$WORK/$page" && timeout 60 "$BIN" "$BASE/$page" --yes </dev/null >"$WORK/$page.out" 2>"$WORK/$page.err")
  status=$?
  expect "$page: exit 2 (got $status)" test "$status" = 2
  contains "$page: reason" "$WORK/$page.err" "is larger than the 1,048,576 bytes a page may have (MaxPageSize)"
  nothing_left "$page"
done
# A file that goes on past its announced length: exactly the announced bytes are saved.
run overlong overlong --yes
expect "overlong: exit 0 (got $status)" test "$status" = 0
expect "overlong: 1000 bytes saved" test "$(stat -c %s "$WORK/overlong/overlong.bin" 2>/dev/null)" = 1000
run long-version long-version --yes --current-version 1.20250101120
expect "long-version: no update, exit 1 (got $status)" test "$status" = 1
contains "long-version: compared exactly" "$WORK/long-version.out" "There is no update available."
nines=$(printf '9%.0s' $(seq 1 10000))
run downgrade downgrade --yes --current-version "$nines"
expect "downgrade: no update, exit 1 (got $status)" test "$status" = 1
contains "downgrade: not offered" "$WORK/downgrade.out" "There is no update available."
nothing_left downgrade

# 7. Signals during a download, no terminal: the cancel path, exit 1, no partial file.
for sig in TERM INT HUP; do
  name="signal-$sig"
  mkdir "$WORK/$name"
  (cd "$WORK/$name" && exec "$BIN" "$BASE/page/slow" --yes \
    </dev/null >"$WORK/$name.out" 2>"$WORK/$name.err") &
  pid=$!
  # The download runs once its partial file exists.
  wait_for 20 sh -c "ls -A '$WORK/$name' | grep -q part"
  sleep 0.3
  kill -"$sig" "$pid"
  wait_for 30 sh -c "! kill -0 $pid" || { bad "SIG$sig: still running"; kill -KILL "$pid"; }
  wait "$pid"
  status=$?
  expect "SIG$sig: exit 1 (got $status)" test "$status" = 1
  contains "SIG$sig: said" "$WORK/$name.err" "stopped by SIG$sig; nothing was saved"
  nothing_left "$name"
done
# 9. A page signed with the publisher's key and changed afterwards: whatever the change,
# nothing of it is shown as the publisher's or given to the installer, and nothing is
# started; a read-me that is not the signed one is skipped with the reason.
signed_pages() {
  local name how
  for name in forged-params forged-author forged-readme other-product old-form readme-other; do
    # The signed update itself is saved, not started: the marker tells forged starts.
    how=--run-unattended
    [ "$name" = readme-other ] && how=--no-run
    mkdir -p "$WORK/signed-$name"
    (cd "$WORK/signed-$name" && TMPDIR="$WORK/tmp" timeout 60 "$BIN" "$BASE/signed/$name" \
      --yes "$how" --public-key "$SIGNER" --product "Signed Product" \
      </dev/null >"$WORK/signed-$name.out" 2>"$WORK/signed-$name.err")
    status=$?
    clean_output "signed-$name"
    if [ "$name" = readme-other ]; then
      expect "signed-$name: the update is still offered, exit 0 (got $status)" test "$status" = 0
      contains "signed-$name: the read-me is skipped" "$WORK/signed-$name.out" \
        "read-me not shown: The read-me's SHA-256 is "
      continue
    fi
    expect "signed-$name: refused, exit 2 (got $status)" test "$status" = 2
    nothing_left "signed-$name"
    if grep -qE -- '--from-attacker|555-0100|Read me' "$WORK/signed-$name.out"; then
      bad "signed-$name: the change was shown"
    else ok; fi
  done
  contains "signed-other-product: why" "$WORK/signed-other-product.err" 'is for the product "Other Product"'
  contains "signed-old-form: why" "$WORK/signed-old-form.err" "re-sign it with the current orvane-sign"
  contains "signed-forged-params: why" "$WORK/signed-forged-params.err" "signature does not match its entries"
  sleep 1  # a started script would have left its mark by now
  expect "no forged update started" test ! -e "$MARKER"
}
if [ "$SIGNER" != - ]; then signed_pages; else echo "skipped the signed pages: python3-cryptography is missing"; fi
finish
