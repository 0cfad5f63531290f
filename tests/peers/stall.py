"""Accepts one connection and reads nothing until told to: the other side's data
piles up in the system's buffers (kept small with --rcvbuf). On a line "go" on stdin,
or --read-after seconds after the connection came, it reads everything until the other
side ends and prints "got <n> <crc32 hex> <eof|reset>". Otherwise it just holds the
connection until --timeout.
"""

import time

import peerlib


def main():
    p = peerlib.parser(__doc__)
    p.add_argument("--rcvbuf", type=int, default=0)
    p.add_argument("--read-after", type=float, default=-1)
    args = p.parse_args()
    peerlib.start(args)
    conn = peerlib.accept_one(args.port, rcvbuf=args.rcvbuf)
    if args.read_after >= 0:
        time.sleep(args.read_after)
    elif not peerlib.wait_for_line("go"):
        return
    n, crc, how = peerlib.read_to_eof(conn)
    peerlib.say("got", n, peerlib.crc_hex(crc), how)
    conn.close()


if __name__ == "__main__":
    main()
