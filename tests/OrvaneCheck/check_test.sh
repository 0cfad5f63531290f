#!/usr/bin/env bash
# orvane-check as a script would run it, standard input closed: the whole check against the
# embedded demo server, a page with nothing newer, the check through a proxy, signed pages
# (verified, changed, re-signed by another key, a file that differs from what was signed),
# the unattended start of a verified update, and bad use, each with its exit status.
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
  "signature verified: the file must be 189 bytes with SHA-256 " \
  "Downloading Update [####################] 100%  189 of 189 bytes received" \
  "file verified: 189 bytes, SHA-256 as the page gives" \
  "Saved $WORK/save/orvane-demo-1.1.sh" \
  "To start it yourself: chmod +x '$WORK/save/orvane-demo-1.1.sh' && '$WORK/save/orvane-demo-1.1.sh'"; do
  contains "demo output" "$WORK/demo.out" "$line"
done
expect "product named before the first question" test \
  "$(grep -n -m1 'Found Orvane Demo' "$WORK/demo.out" | cut -d: -f1)" -lt \
  "$(grep -n -m1 'Would you like' "$WORK/demo.out" | cut -d: -f1)"
start_demo
curl -sS -o "$WORK/expected.sh" "$DEMO_BASE/orvane-demo-1.1.sh"
# --quiet: the same check, nothing on standard output, errors only.
mkdir "$WORK/quiet"
run quiet --yes --quiet --save-to "$WORK/quiet" --demo-rate 0
expect "quiet exit 0 (got $status)" test "$status" = 0
expect "quiet: nothing printed" test ! -s "$WORK/quiet.out" -a ! -s "$WORK/quiet.err"
expect "quiet: saved" cmp -s "$WORK/expected.sh" "$WORK/quiet/orvane-demo-1.1.sh"
expect "saved byte for byte" cmp -s "$WORK/expected.sh" "$WORK/save/orvane-demo-1.1.sh"
expect "not asked to install" test "$(grep -c 'Do you want to install' "$WORK/demo.out")" = 0
expect "not made executable" test ! -x "$WORK/save/orvane-demo-1.1.sh"
sleep 1  # a started update would have said its line by now
expect "not started" test "$(grep -c '^Orvane Demo 1.1 is installed.$' "$WORK/demo.out")" = 0
expect "nothing else left" test "$(ls -A "$WORK/save")" = orvane-demo-1.1.sh

# Started without a person: the demo check has its server's key, so its verified update
# is saved, made executable and started without waiting for an answer.
mkdir "$WORK/unattended"
run unattended --run-unattended --save-to "$WORK/unattended"
expect "--run-unattended exits 0 (got $status)" test "$status" = 0
contains "unattended: verified" "$WORK/unattended.out" "signature verified"
contains "unattended: install answered" "$WORK/unattended.out" "Do you want to install the update now?"
expect "unattended: made executable" test -x "$WORK/unattended/orvane-demo-1.1.sh"
expect "unattended: started" wait_for 10 grep -qx "Orvane Demo 1.1 is installed." "$WORK/unattended.out"
# Named page without a key: refused before anything is read.
run unattended-nokey --run-unattended "http://127.0.0.1:9/update.htm"
expect "--run-unattended without a key exits 2 (got $status)" test "$status" = 2
contains "--run-unattended refused" "$WORK/unattended-nokey.err" \
  "--run-unattended is refused without --public-key or --public-key-file"

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

# The same proxy named by http_proxy; --noproxy takes the check around it.
mkdir "$WORK/via-env" "$WORK/around-env"
: >"$WORK/proxy/log"
http_proxy="http://127.0.0.1:$proxy_port" run env-proxy "$DEMO_URL" --yes --no-run --save-to "$WORK/via-env"
expect "check by http_proxy exits 0 (got $status)" test "$status" = 0
contains "request by way of http_proxy" "$WORK/proxy/log" "GET $DEMO_BASE/orvane-demo.htm HTTP/1.0"
: >"$WORK/proxy/log"
http_proxy="http://127.0.0.1:$proxy_port" run env-noproxy "$DEMO_URL" --yes --no-run --noproxy 127.0.0.1 \
  --save-to "$WORK/around-env"
expect "check around http_proxy exits 0 (got $status)" test "$status" = 0
expect "no request by way of the proxy" test ! -s "$WORK/proxy/log"

# Bad use: one clear line on standard error and exit 2, nothing saved.
bad_use() {  # bad_use NAME EXPECTED-TEXT ARGS...
  local name=$1 text=$2
  shift 2
  run "$name" "$@"
  expect "$name exits 2 (got $status)" test "$status" = 2
  contains "$name message" "$WORK/$name.err" "$text"
}
bad_use option "unknown option --colour" --colour
expect "a usage error is one line" test "$(wc -l <"$WORK/option.err")" = 1
# After "--" every word is a HOME-URL, even one that looks like an option.
bad_use dash-dash 'HOME-URL must be an http:// or https:// address, like https://example.com/update.htm (got "--yes")' -- --yes
bad_use value '--version-format: wants build or simple (got "fast")' --version-format fast
bad_use scheme "HOME-URL must be an http:// or https:// address" ftp://example.com/
bad_use ca-file '--ca-file: wants a readable file of certificates (got "/nonexistent.pem")' --ca-file /nonexistent.pem
bad_use resolve "could not resolve host no-such-host.invalid" http://no-such-host.invalid/update.htm --save-to "$WORK/save"
refused=$(free_port)
bad_use refused "could not read http://127.0.0.1:$refused/update.htm: could not connect to 127.0.0.1 port $refused: connection refused" \
  "http://127.0.0.1:$refused/update.htm"
bad_use missing-dir 'folder "/nonexistent/dir" does not exist' --save-to /nonexistent/dir
bad_use unwritable '"/proc" is not writable' --save-to /proc
mkdir "$WORK/plain"
echo "<HTML><BODY>No entries here.</BODY></HTML>" >"$WORK/plain/index.htm"
http_port=$(free_port)
spawn python3 -m http.server "$http_port" --bind 127.0.0.1 --directory "$WORK/plain" >/dev/null 2>&1
wait_for 10 curl -fs -o /dev/null "http://127.0.0.1:$http_port/index.htm"
bad_use no-entry 'has no "Version" entry' "http://127.0.0.1:$http_port/index.htm" --save-to "$WORK/save"
bad_use bad-key "--public-key: line 1 is not an Ed25519 public key" --public-key bm90IGEga2V5 --save-to "$WORK/save"
bad_use no-key-file "--public-key-file: cannot read" --public-key-file "$WORK/none.pub"
expect "nothing saved by bad use" test "$(ls -A "$WORK/save")" = orvane-demo-1.1.sh

# Signed pages, against the key the demo server prints.
expect "demo key printed" test -n "$DEMO_KEY"
mkdir "$WORK/signed"
run signed "$DEMO_URL" --yes --no-run --public-key "$DEMO_KEY" --save-to "$WORK/signed"
expect "signed: exit 0 (got $status)" test "$status" = 0
contains "signed: verified" "$WORK/signed.out" "signature verified"
expect "signed: byte for byte" cmp -s "$WORK/expected.sh" "$WORK/signed/orvane-demo-1.1.sh"
echo "$DEMO_KEY" >"$WORK/demo.pub"
run signed-current "$DEMO_URL" --yes --public-key-file "$WORK/demo.pub" --current-version 1.1
expect "signed, nothing newer: exit 1 (got $status)" test "$status" = 1
contains "signed, nothing newer: verified" "$WORK/signed-current.out" "signature verified"

# A key of our own, made and used by the openssl command: pages signed by another
# implementation are verified alike, and a page, a key or a file that differs from what
# was signed is refused, with nothing saved.
openssl genpkey -algorithm ed25519 -out "$WORK/signer.pem" 2>/dev/null
SIGNER=$(openssl pkey -in "$WORK/signer.pem" -pubout -outform DER | tail -c 32 | base64 -w0)
head -c 100000 /dev/urandom >"$WORK/plain/update.bin"
python3 -c 'import sys; b = bytearray(open(sys.argv[1], "rb").read()); b[5000] ^= 1
open(sys.argv[2], "wb").write(b)' "$WORK/plain/update.bin" "$WORK/plain/flipped.bin"
SHA=$(sha256sum "$WORK/plain/update.bin" | cut -c1-64)
FILES="http://127.0.0.1:$http_port"
meta() { printf '<META HTTP-EQUIV="%s" CONTENT="%s">\n' "$1" "$2"; }
# signed_page NAME VERSION FILE SIZE EXPIRES [KEY-PEM]: $WORK/plain/NAME, signed over
# every entry; PRODUCT, PARAMS and FORM (1: the old signed text) change what is signed.
signed_page() {
  local name=$1 version=$2 url=$FILES/$3 size=$4 expires=$5 pem=${6:-$WORK/signer.pem}
  local product=${PRODUCT:-Signed Test} params=${PARAMS:-} SHA=${HASH:-$SHA}
  if [ "${FORM:-2}" = 1 ]; then
    printf 'orvane-signed-update-1\nProduct: %s\nVersion: %s\nDate: \nURL: %s\nSize: %s\nSHA256: %s\nExpires: %s\n' \
      "$product" "$version" "$url" "$size" "$SHA" "$expires" >"$WORK/$name.signed"
  else
    printf 'orvane-signed-update-2\nProduct: %s\nVersion: %s\nDate: \nAuthor: \nURL: %s\nSize: %s\nSHA256: %s\nExpires: %s\nParams: %s\nRedirect: \nReadMe: \nReadMeSize: \nReadMeSHA256: \nReadMeExt: \nReadMeExtSize: \nReadMeExtSHA256: \n' \
      "$product" "$version" "$url" "$size" "$SHA" "$expires" "$params" >"$WORK/$name.signed"
  fi
  local sig
  sig=$(openssl pkeyutl -sign -inkey "$pem" -rawin -in "$WORK/$name.signed" | base64 -w0)
  { echo "<HTML><HEAD>"; meta Product "$product"; meta Version "$version"; meta Download "$url"
    meta Size "$size"; meta SHA256 "$SHA"; [ -z "$expires" ] || meta Expires "$expires"
    [ -z "$params" ] || meta Params "$params"; meta Signature "$sig"
    echo "</HEAD><BODY>signed</BODY></HTML>"; } >"$WORK/plain/$name"
}
signed_page good.htm 2.0 update.bin 100000 2099-12-31
signed_page flipped.htm 2.0 flipped.bin 100000 2099-12-31
signed_page overlong.htm 2.0 update.bin 1000 2099-12-31
signed_page expired.htm 2.0 update.bin 100000 2020-01-31
signed_page downgrade.htm 0.9 update.bin 100000 2099-12-31
signed_page today.htm 2.0 update.bin 100000 "$(date -u +%F)"
signed_page yesterday.htm 2.0 update.bin 100000 "$(date -u -d yesterday +%F)"
signed_page unexpiring.htm 2.0 update.bin 100000 ""
PRODUCT="Other Product" signed_page other-product.htm 9.0 update.bin 100000 2099-12-31
FORM=1 signed_page old-form.htm 2.0 update.bin 100000 2099-12-31
sed 's/CONTENT="2.0"/CONTENT="2.1"/' "$WORK/plain/good.htm" >"$WORK/plain/changed.htm"
# Entries that the page's editor adds to a signed page: shown as the publisher's word, or
# given to the installer it starts.
sed 's|^<META HTTP-EQUIV="Signature"|<META HTTP-EQUIV="Author" CONTENT="Your IT department (call 555-0100)">\n&|' \
  "$WORK/plain/good.htm" >"$WORK/plain/forged-author.htm"
sed "s|^<META HTTP-EQUIV=\"Signature\"|<META HTTP-EQUIV=\"ReadMe\" CONTENT=\"$FILES/update.bin\">\\n&|" \
  "$WORK/plain/good.htm" >"$WORK/plain/forged-readme.htm"
grep -v Signature "$WORK/plain/good.htm" >"$WORK/plain/unsigned.htm"
openssl genpkey -algorithm ed25519 -out "$WORK/other.pem" 2>/dev/null
signed_page other-key.htm 2.0 update.bin 100000 2099-12-31 "$WORK/other.pem"

# signed NAME PAGE STATUS TEXT [ARGS...]: orvane-check on PAGE with the key, saving into
# the empty folder $WORK/NAME; the exit status, TEXT in its output, and a failure leaves
# nothing behind.
signed() {
  local name=$1 page=$2 want=$3 text=$4
  shift 4
  mkdir "$WORK/$name"
  run "$name" "$FILES/$page" --yes --no-run --save-to "$WORK/$name" "$@"
  expect "$name: exit $want (got $status)" test "$status" = "$want"
  if grep -qF -- "$text" "$WORK/$name.out" "$WORK/$name.err"; then ok; else bad "$name: \"$text\" not said"; cat "$WORK/$name.out" "$WORK/$name.err" >&2; fi
  [ "$want" = 0 ] || expect "$name: nothing saved" test -z "$(ls -A "$WORK/$name")"
}
signed good good.htm 0 "signature verified" --public-key "$SIGNER"
expect "good: byte for byte" cmp -s "$WORK/plain/update.bin" "$WORK/good/update.bin"
signed flipped flipped.htm 2 "The file's SHA-256 is " --public-key "$SIGNER"
signed overlong overlong.htm 2 "The server sent more than the 1,000 bytes the page gives" --public-key "$SIGNER"
signed expired expired.htm 2 "The signed page expired on 2020-01-31" --public-key "$SIGNER"
signed downgrade downgrade.htm 1 "There is no update available." --public-key "$SIGNER"
signed changed changed.htm 2 "signature does not match its entries" --public-key "$SIGNER"
signed other-key other-key.htm 2 "signature does not match its entries" --public-key "$SIGNER"
signed unsigned unsigned.htm 2 "is not signed" --public-key "$SIGNER"
contains "good: the product is not bound without --product" "$WORK/good.out" "product not checked (no --product)"
expect "good: said once" test "$(grep -c 'product not checked' "$WORK/good.out")" = 1
signed today today.htm 0 "signature verified" --public-key "$SIGNER"
signed yesterday yesterday.htm 2 "The signed page expired on $(date -u -d yesterday +%F)" --public-key "$SIGNER"
signed unexpiring unexpiring.htm 2 "no Expires entry" --public-key "$SIGNER"
signed unexpiring-allowed unexpiring.htm 0 "signature verified" --public-key "$SIGNER" --allow-unexpiring
signed other-product other-product.htm 2 'is for the product "Other Product", not for "Signed Test"' \
  --public-key "$SIGNER" --product "Signed Test"
signed bound-product good.htm 0 "signature verified" --public-key "$SIGNER" --product "Signed Test"
expect "bound-product: nothing said about the product" test "$(grep -c 'product not checked' "$WORK/bound-product.out")" = 0
signed old-form old-form.htm 2 "re-sign it with the current orvane-sign" --public-key "$SIGNER"
signed forged-author forged-author.htm 2 "signature does not match its entries" --public-key "$SIGNER"
signed forged-readme forged-readme.htm 2 "The ReadMeSize entry is missing" --public-key "$SIGNER"
if grep -qF "555-0100" "$WORK/forged-author.out"; then bad "forged-author: the author was shown"; else ok; fi
# Key rotation: the page's key among others, given one by one or in one file.
OTHER=$(openssl pkey -in "$WORK/other.pem" -pubout -outform DER | tail -c 32 | base64 -w0)
signed rotated good.htm 0 "signature verified" --public-key "$OTHER" --public-key "$SIGNER"
printf '%s\r\n\n%s\n' "$OTHER" "$SIGNER" >"$WORK/keys.pub"
signed rotated-file good.htm 0 "signature verified" --public-key-file "$WORK/keys.pub"
for name in changed other-key unsigned expired other-product unexpiring old-form forged-author; do
  expect "$name: refused before the download question" test "$(grep -c 'Download the update?' "$WORK/$name.out")" = 0
done
# A page signed with the right key, passed through a proxy that points its download at
# another file: refused before anything is fetched from the new address (the same page
# straight from the server passes, above).
cp "$WORK/plain/flipped.bin" "$WORK/plain/evil.bin"
python3 "$HERE/../peers/rewriting_proxy.py" update.bin evil.bin >"$WORK/rewriter.port" &
PIDS+=($!)
wait_for 10 test -s "$WORK/rewriter.port"
signed rewritten good.htm 2 "signature does not match its entries" --public-key "$SIGNER" \
  --proxy "127.0.0.1:$(head -1 "$WORK/rewriter.port")"
# Without a key the size and hash still hold the file, against corruption only.
signed hashed unsigned.htm 0 "no signature checked (no --public-key)"
signed hashed-flipped flipped.htm 2 "The file's SHA-256 is "
# An external read-me with nobody present (--yes, no terminal) is neither fetched nor
# opened, and the output says so; the temporary folder stays as it was.
echo "notes" >"$WORK/plain/notes.txt"
{ echo "<HTML><HEAD>"; meta Version 2.0; meta Download "$FILES/update.bin"
  meta ReadMeExt "$FILES/notes.txt"; echo "</HEAD></HTML>"; } >"$WORK/plain/ext.htm"
mkdir "$WORK/tmp" "$WORK/ext"
echo "the user's" >"$WORK/tmp/notes.txt"
TMPDIR="$WORK/tmp" run ext "$FILES/ext.htm" --yes --no-run --save-to "$WORK/ext"
expect "ext: exit 0 (got $status)" test "$status" = 0
contains "ext: said" "$WORK/ext.out" \
  "the read-me at $FILES/notes.txt was not fetched nor opened: nobody is present to look at it"
expect "ext: temporary folder untouched" test "$(ls -A "$WORK/tmp")" = notes.txt
contains "ext: the user's file kept" "$WORK/tmp/notes.txt" "the user's"

# A page trickled a byte every 0.2 s keeps the 30 s inactivity bound at bay for ever: the
# low-speed rule ends it, and so does the overall bound.
drip_port=$(free_port)
spawn python3 "$HERE/slow_page.py" "$drip_port" "$DEMO_URL" 0.2 drip
wait_for 10 bash -c "echo >/dev/tcp/127.0.0.1/$drip_port"
bad_use drip-slow "slower than 100 bytes/s for 1 s" "http://127.0.0.1:$drip_port/" --yes --speed-time 1
bad_use drip-long "took longer than 1 s" "http://127.0.0.1:$drip_port/" --yes --speed-limit 0 --max-time 1
bad_use speed-value '--speed-limit: wants a whole number from 0 to 1000000000 (got "fast")' --speed-limit fast

# Unattended, a page without the signature gets no further than its reading.
mkdir "$WORK/unattended-unsigned"
run unattended-unsigned "$FILES/unsigned.htm" --run-unattended --public-key "$SIGNER" \
  --save-to "$WORK/unattended-unsigned"
expect "unattended-unsigned: exit 2 (got $status)" test "$status" = 2
contains "unattended-unsigned: refused" "$WORK/unattended-unsigned.err" "is not signed"
expect "unattended-unsigned: nothing saved" test -z "$(ls -A "$WORK/unattended-unsigned")"

# The parameters a verified update starts with are the publisher's: signed ones are
# passed, ones the page's editor put in their place stop the check before the download.
printf '#!/bin/sh\necho "$@" >"%s"\n' "$WORK/started-args" >"$WORK/plain/installer.sh"
HASH=$(sha256sum "$WORK/plain/installer.sh" | cut -c1-64) PARAMS="--signed-arg" \
  signed_page params.htm 2.0 installer.sh "$(stat -c %s "$WORK/plain/installer.sh")" 2099-12-31
sed 's/--signed-arg/--target=\/ --from-attacker/' "$WORK/plain/params.htm" >"$WORK/plain/forged-params.htm"
for page in forged-params params; do
  mkdir "$WORK/unattended-$page"
  run "unattended-$page" "$FILES/$page.htm" --run-unattended --public-key "$SIGNER" \
    --save-to "$WORK/unattended-$page"
  expect "unattended-$page: exit $([ $page = params ] && echo 0 || echo 2) (got $status)" \
    test "$status" = "$([ $page = params ] && echo 0 || echo 2)"
done
contains "forged params: refused" "$WORK/unattended-forged-params.err" "signature does not match its entries"
expect "forged params: nothing saved" test -z "$(ls -A "$WORK/unattended-forged-params")"
expect "signed params: started with them" wait_for 10 grep -qx -- "--signed-arg" "$WORK/started-args"

# An https page, with the authority and the save folder both given relative to the folder
# the check starts in: moving into the save folder must not lose the authority's file.
mkdir -p "$WORK/tls/www" "$WORK/tls/certs" "$WORK/tls/save"
bash "$HERE/../peers/make_tls_certs.sh" "$WORK/tls/certs" >/dev/null 2>&1
cp "$WORK/tls/certs/ca.pem" "$WORK/tls/ca.pem"
printf '<META HTTP-EQUIV="Version" CONTENT="1.0">\n' >"$WORK/tls/www/page.htm"
TLS_PORT=$(free_port)
spawn python3 -c '
import http.server, os, ssl, sys
os.chdir(sys.argv[1])
s = http.server.ThreadingHTTPServer(("127.0.0.1", int(sys.argv[2])), http.server.SimpleHTTPRequestHandler)
c = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
c.load_cert_chain(sys.argv[3], sys.argv[4])
s.socket = c.wrap_socket(s.socket, server_side=True)
s.serve_forever()' "$WORK/tls/www" "$TLS_PORT" "$WORK/tls/certs/good.pem" "$WORK/tls/certs/good.key" 2>/dev/null
wait_for 10 python3 -c "import socket; socket.create_connection(('127.0.0.1', $TLS_PORT))"
cd "$WORK/tls"
run https "https://127.0.0.1:$TLS_PORT/page.htm" --ca-file ca.pem --save-to save --yes
cd - >/dev/null
expect "https with a relative --ca-file and --save-to: no update, exit 1 (got $status)" test "$status" = 1
contains "https: read and compared" "$WORK/https.out" "There is no update available."
finish
