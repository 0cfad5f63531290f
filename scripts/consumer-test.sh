#!/usr/bin/env bash
# Installs the package from a build tree as a user would, and builds the example consumer
# (examples/consumer, the embedding shown in the README) against what was installed:
# - `cmake --install` into a fresh prefix: the consumer built with CMake and with
#   pkg-config; the installed programs sign the page it checks;
# - with --deb, also the Debian packages (`cpack -G DEB`), unpacked with `dpkg -x` into a
#   scratch root, and the consumer built against that root.
# Each consumer checks a signed page on a local web server: it must save the update, say
# "up to date" for the current version, and refuse the page once it is changed.
#   scripts/consumer-test.sh [BUILD-DIR] [--deb]   (default build/debug)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/debug}
deb=${2:-}
work=$(mktemp -d)
server=
cleanup() {
  if [[ -n $server ]]; then kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "consumer test: $*" >&2; exit 1; }

cmake --build "$build" >/dev/null
cmake --install "$build" --prefix "$work/prefix" >/dev/null
prefix=$work/prefix
for f in bin/orvane-check bin/orvane-sign bin/httpget bin/orvane-designer \
         share/man/man1/httpget.1 share/man/man1/orvane-designer.1 \
         include/orvanepack/Host/Application.h include/orvanepack/Orvane/Orvane.h \
         lib/pkgconfig/orvanepack.pc lib/cmake/OrvanePack/OrvanePackConfig.cmake; do
  [[ -e $prefix/$f ]] || fail "not installed: $f"
done
[[ ! -e $prefix/include/Host ]] || fail "headers installed outside include/orvanepack"

# The page and its update, signed with the installed orvane-sign.
mkdir "$work/site"
head -c 200000 /dev/urandom >"$work/site/setup.bin"
"$prefix/bin/orvane-sign" keygen "$work/key" >"$work/pub"
pub=$(head -n 1 "$work/pub")
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
url=http://127.0.0.1:$port
{
  echo '<HTML><HEAD>'
  "$prefix/bin/orvane-sign" sign --key "$work/key" --url "$url/setup.bin" --version 1.2.0.7 \
    --product "Sample Editor" --expires "$(date -u -d '+30 days' +%F)" "$work/site/setup.bin"
  echo '</HEAD></HTML>'
} >"$work/site/info.html"
sed 's/1\.2\.0\.7/1.2.0.8/' "$work/site/info.html" >"$work/site/forged.html"
python3 -m http.server "$port" --bind 127.0.0.1 --directory "$work/site" >/dev/null 2>&1 &
server=$!
for _ in $(seq 50); do
  curl -s -o /dev/null "$url/info.html" && break
  sleep 0.1
done

# check EXE: the three answers of one consumer build.
check() {
  local exe=$1 out dir
  dir=$(mktemp -d "$work/run.XXXXXX")
  out=$(cd "$dir" && timeout 60 "$exe" "$url/info.html" 1.1.0.0 "$pub" </dev/null) ||
    fail "$exe: no update saved: $out"
  [[ $out == *"Sample Editor 1.2.0.7"*"saved as"*"(signature verified)"* ]] || fail "$exe answered: $out"
  cmp -s "$dir/setup.bin" "$work/site/setup.bin" || fail "$exe: the saved file differs"
  local status=0
  out=$(cd "$dir" && timeout 60 "$exe" "$url/info.html" 1.2.0.7 "$pub" </dev/null) || status=$?
  [[ $status == 1 && $out == *"up to date"* ]] || fail "$exe, current version: $status $out"
  status=0
  out=$(cd "$dir" && timeout 60 "$exe" "$url/forged.html" 1.1.0.0 "$pub" </dev/null 2>&1) || status=$?
  [[ $status == 2 && $out == *"signature"* ]] || fail "$exe, changed page: $status $out"
}

# The CMake way and the pkg-config way, against the installed prefix.
cmake -S examples/consumer -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
[[ $(pkg-config --modversion orvanepack) == 0.81.0 ]] || fail "pkg-config version is wrong"
c++ -std=c++20 examples/consumer/main.cpp $(pkg-config --cflags --libs orvanepack) \
    -Wl,-rpath,"$prefix/lib" -o "$work/orvane-consumer-pc"
check "$work/cmake-build/orvane-consumer"
check "$work/orvane-consumer-pc"
echo "consumer builds (CMake, pkg-config) against the installed prefix: update saved and verified"

[[ $deb == --deb ]] || exit 0
# The Debian packages, unpacked into a root of their own.
(cd "$build" && rm -f ./*.deb && cpack -G DEB >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack failed"; }
root=$work/root
for p in "$build"/*.deb; do
  dpkg-deb --info "$p" >/dev/null || fail "$p is no Debian package"
  dpkg -x "$p" "$root"
  echo "$(basename "$p"): $(stat -c %s "$p") bytes; $(dpkg-deb -f "$p" Depends)"
done
[[ -x $root/usr/bin/orvane-check && -e $root/usr/include/orvanepack/Orvane/Orvane.h ]] ||
  fail "the packages lack the programs or the headers"
cmake -S examples/consumer -B "$work/deb-build" -DCMAKE_PREFIX_PATH="$root/usr" \
  -DCMAKE_BUILD_RPATH="$root/usr/lib" >/dev/null
cmake --build "$work/deb-build" >/dev/null
check "$work/deb-build/orvane-consumer"
echo "consumer build against the unpacked Debian packages: update saved and verified"
