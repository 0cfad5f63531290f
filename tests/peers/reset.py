"""Accepts one connection, optionally sends some bytes, reads until it has received
--read-before bytes (or the peer stops), then resets the connection: SO_LINGER on
with a time of 0, then close, which sends RST instead of FIN.

Prints "read <n>" and then "reset".
"""

import socket
import struct

import peerlib


def main():
    p = peerlib.parser(__doc__)
    p.add_argument("--read-before", type=int, default=0)
    p.add_argument("--send", type=int, default=0)
    args = p.parse_args()
    peerlib.start(args)
    conn = peerlib.accept_one(args.port)
    if args.send:
        conn.sendall(peerlib.payload(args.send, 1))
    count = 0
    if args.read_before:
        count, _, _ = peerlib.read_to_eof(conn, args.read_before)
    peerlib.say("read", count)
    conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    conn.close()
    peerlib.say("reset")


if __name__ == "__main__":
    main()
