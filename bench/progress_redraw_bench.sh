#!/usr/bin/env bash
# How often orvane-check redraws its progress line while a download runs as fast as the
# loopback allows: a Python server sends a large update in small pieces (each one a
# progress report), orvane-check runs in a pseudo-terminal (script), and the redraws are
# counted in what it wrote. Target: at most 10 redraws a second, whatever the rate.
#
#   bash bench/progress_redraw_bench.sh [path/to/orvane-check] [MiB] [bytes-per-second]
set -euo pipefail
cd "$(dirname "$0")/.."
bin=$(realpath "${1:-build/release/apps/orvane-check/orvane-check}")
mib=${2:-256}
rate=${3:-0}  # 0: as fast as possible
command -v script >/dev/null || { echo "progress_redraw_bench: script (util-linux) is missing" >&2; exit 2; }
work=$(mktemp -d)
server=
cleanup() {
  [[ -n $server ]] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()')

cat >"$work/server.py" <<'PY'
import socket, sys, threading, time
port, size, rate = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
base = "http://127.0.0.1:%d" % port
page = ('<META HTTP-EQUIV="Version" CONTENT="2.0">\r\n'
        '<META HTTP-EQUIV="Download" CONTENT="%s/big.bin">\r\n' % base).encode()
piece = b"\0" * 4096
def serve(c):
    req = b""
    while b"\r\n\r\n" not in req:
        d = c.recv(4096)
        if not d: return
        req += d
    path = req.split(b" ")[1]
    if path == b"/big.bin":
        c.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: %d\r\n\r\n" % size)
        sent, start = 0, time.monotonic()
        while sent < size:
            n = min(len(piece), size - sent)
            c.sendall(piece[:n])
            sent += n
            if rate and sent > rate * (time.monotonic() - start):
                time.sleep(0.001)
    else:
        c.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: %d\r\n\r\n" % len(page) + page)
    c.close()
s = socket.socket()
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", port))
s.listen(16)
while True:
    c, _ = s.accept()
    c.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    threading.Thread(target=serve, args=(c,), daemon=True).start()
PY
python3 "$work/server.py" "$port" $((mib * 1024 * 1024)) "$rate" &
server=$!
for _ in $(seq 100); do curl -fs -o /dev/null "http://127.0.0.1:$port/" && break; sleep 0.05; done

mkdir "$work/save"
start=$(date +%s.%N)
(cd "$work/save" && TERM=xterm COLUMNS=120 script -qfec \
  "'$bin' http://127.0.0.1:$port/update.htm --yes --no-run --current-version 1.0" \
  "$work/typescript" </dev/null >/dev/null)
end=$(date +%s.%N)
size=$(stat -c %s "$work/save/big.bin")
redraws=$(grep -o $'\rDownloading Update' "$work/typescript" | wc -l)
awk -v r="$redraws" -v s="$start" -v e="$end" -v b="$size" 'BEGIN {
  t = e - s
  printf "downloaded %d bytes in %.2f s (%.1f MiB/s)\n", b, t, b / t / 1048576
  printf "progress line drawn %d times: %.1f a second (target at most 10)\n", r, r / t
}'
