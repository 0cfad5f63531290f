#!/usr/bin/env bash
# Makes the certificates of the TLS tests in DIR, with the openssl command:
#   ca.pem            the test authority (the only one the tests trust)
#   good.pem/.key     localhost and 127.0.0.1, issued by the test authority
#   expired.pem/.key  the same names, valid in 2020 only
#   other.pem/.key    other.example only
#   self.pem/.key     localhost and 127.0.0.1, signed by itself
#   chain.pem/.key    localhost and 127.0.0.1 from an untrusted root, served with that root
set -euo pipefail
dir=$1
cd "$dir"
key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1" 2>/dev/null; }
root() {  # key, certificate, name
  key "$1"
  openssl req -x509 -new -key "$1" -subj "/CN=$3" -days 3650 -out "$2" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign"
}
cat > ca.cnf <<'CNF'
[ca]
default_ca = test
[test]
dir = .
database = index.txt
new_certs_dir = issued
serial = serial
default_md = sha256
policy = any
unique_subject = no
[any]
commonName = supplied
CNF
mkdir -p issued
: > index.txt
echo 1000 > serial
leaf() {  # name, issuer certificate, issuer key, subject alt names, dates...
  local name=$1 cacert=$2 cakey=$3 san=$4
  shift 4
  key "$name.key"
  openssl req -new -key "$name.key" -subj "/CN=$name" -out "$name.csr"
  printf 'basicConstraints=CA:FALSE\nkeyUsage=digitalSignature\nextendedKeyUsage=serverAuth\nsubjectAltName=%s\n' \
    "$san" > "$name.ext"
  openssl ca -batch -notext -config ca.cnf -cert "$cacert" -keyfile "$cakey" -in "$name.csr" \
    -out "$name.pem" -extfile "$name.ext" "$@" 2>/dev/null
}
names="DNS:localhost,IP:127.0.0.1"
root ca.key ca.pem "Orvane Test CA"
leaf good ca.pem ca.key "$names" -days 30
leaf expired ca.pem ca.key "$names" -startdate 20200101000000Z -enddate 20201231000000Z
leaf other ca.pem ca.key "DNS:other.example" -days 30
key self.key
openssl req -x509 -new -key self.key -subj "/CN=localhost" -days 30 -out self.pem \
  -addext "basicConstraints=critical,CA:FALSE" -addext "subjectAltName=$names"
root stranger.key stranger.pem "Stranger Root"
leaf chain stranger.pem stranger.key "$names" -days 30
cat stranger.pem >> chain.pem
