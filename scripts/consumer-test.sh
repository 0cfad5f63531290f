#!/usr/bin/env bash
# Installs the package from a build tree into a fresh prefix, builds the example consumer
# against it with CMake and with pkg-config, and runs both against a local web server.
#   scripts/consumer-test.sh [BUILD-DIR]   (default build/debug)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build/debug}
work=$(mktemp -d)
server=
cleanup() {
  if [[ -n $server ]]; then kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

cmake --build "$build" --target OrvanePack >/dev/null
cmake --install "$build" --prefix "$work/prefix" >/dev/null

# The CMake way.
cmake -S examples/consumer -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
# The pkg-config way.
export PKG_CONFIG_PATH="$work/prefix/lib/pkgconfig"
[[ $(pkg-config --modversion orvanepack) == 0.81.0 ]] || { echo "pkg-config version is wrong"; exit 1; }
c++ -std=c++20 examples/consumer/main.cpp $(pkg-config --cflags --libs orvanepack) \
    -Wl,-rpath,"$work/prefix/lib" -o "$work/orvane-consumer-pc"

# The information page, served on a free port of the loopback.
mkdir "$work/site"
cat >"$work/site/info.html" <<'PAGE'
<HTML><HEAD>
<META HTTP-EQUIV="Product" CONTENT="Sample Editor">
<META HTTP-EQUIV="Version" CONTENT="1.2.0.7">
<META HTTP-EQUIV="Download" CONTENT="http://127.0.0.1/files/setup.exe">
</HEAD></HTML>
PAGE
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
python3 -m http.server "$port" --bind 127.0.0.1 --directory "$work/site" >/dev/null 2>&1 &
server=$!
for _ in $(seq 50); do
  curl -s -o /dev/null "http://127.0.0.1:$port/info.html" && break
  sleep 0.1
done

status=0
for exe in "$work/cmake-build/orvane-consumer" "$work/orvane-consumer-pc"; do
  out=$(timeout 30 "$exe" "http://127.0.0.1:$port/info.html" 1.1.0.0) || { echo "$exe failed"; status=1; continue; }
  if [[ $out != *"Sample Editor 1.2.0.7 at http://127.0.0.1/files/setup.exe"*"update available"* ]]; then
    echo "$exe answered: $out"; status=1
  fi
  out=$(timeout 30 "$exe" "http://127.0.0.1:$port/info.html" 1.2.0.7) || { echo "$exe failed"; status=1; continue; }
  [[ $out == *"up to date"* ]] || { echo "$exe answered: $out"; status=1; }
done
((status == 0)) && echo "consumer builds (CMake, pkg-config): both found the update"
exit $status
