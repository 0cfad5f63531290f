#!/usr/bin/env bash
# orvane-sign as a publisher's script runs it: a key, a signed page served over HTTP, and
# the check of that page refusing every change to the page, the file or the key.
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
cp key key.saved
run status out keygen key
status_is "keygen over an existing file" 2
expect "key file kept" cmp -s key key.saved
PUB=$(cat pub)

head -c 300000 /dev/urandom >www/setup.bin
PORT=$(free_port)
URL=http://127.0.0.1:$PORT
spawn bash -c "exec python3 -m http.server $PORT --bind 127.0.0.1 --directory www >http.log 2>&1"
wait_for 10 python3 -c "import socket; socket.create_connection(('127.0.0.1', $PORT))" ||
  bad "http server did not start"

run status out sign --key key --version 2.0 --product "Sample Editor" www/setup.bin
status_is "sign without --url" 2
run status out sign --key key --url setup.bin --version 2.0 --product "Sample Editor" www/setup.bin
status_is "sign with a relative address" 2

# page NAME [SIGN-ARGS...]: signs setup.bin and writes www/NAME.html around the lines.
page() {
  local name=$1
  shift
  "$BIN" sign --key key --url "$URL/setup.bin" --version 2.0 --product "Sample Editor" \
    --date 2026-12-01 "$@" www/setup.bin >"$name.meta" 2>/dev/null || bad "sign $name"
  { echo "<html><head>"; cat "$name.meta"; echo "</head><body>update</body></html>"; } >"www/$name.html"
}
page good --expires 2099-12-31
contains "signed lines" good.meta '<META HTTP-EQUIV="Size" CONTENT="300000">'
contains "signed lines" good.meta "<META HTTP-EQUIV=\"SHA256\" CONTENT=\"$(sha256sum www/setup.bin | cut -c1-64)\">"
contains "signed lines" good.meta '<META HTTP-EQUIV="Expires" CONTENT="2099-12-31">'
contains "signed lines" good.meta '<META HTTP-EQUIV="Signature" CONTENT="'

run status out verify --public-key "$PUB" "$URL/good.html"
status_is "verify a good page" 0
contains "verified" out "signature verified: Sample Editor 2.0"
contains "verified" out "file verified: 300000 bytes"

# Entries changed after signing, the old signature kept: refused before any download.
for change in 's/CONTENT="2.0"/CONTENT="2.1"/' 's/setup.bin"/setup2.bin"/' \
  's/CONTENT="300000"/CONTENT="300001"/' 's/2099-12-31/2199-12-31/'; do
  sed "$change" www/good.html >www/changed.html
  run status out verify --public-key "$PUB" "$URL/changed.html"
  status_is "page changed by $change" 1
  contains "page changed by $change" out "the signature does not match"
done

"$BIN" keygen other >otherpub
run status out verify --public-key "$(cat otherpub)" "$URL/good.html"
status_is "another key" 1
grep -v Signature www/good.html >www/unsigned.html
run status out verify --public-key "$PUB" "$URL/unsigned.html"
status_is "no signature" 1
contains "no signature" out "the page carries no signature"
page expired --expires 2020-01-31
run status out verify --public-key "$PUB" "$URL/expired.html"
status_is "expired page" 1
contains "expired page" out "the page expired on 2020-01-31"
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
