"""Accepts one connection, sends N bytes of seeded random data, then closes gracefully.

Prints "sent <n> <crc32 hex>" once everything was handed to the system, then
"closed". With --hold, waits for a line "go" on stdin before sending.
"""

import peerlib


def main():
    p = peerlib.parser(__doc__)
    p.add_argument("--bytes", type=int, required=True)
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--hold", action="store_true")
    args = p.parse_args()
    peerlib.start(args)
    conn = peerlib.accept_one(args.port)
    if args.hold:
        peerlib.wait_for_line("go")
    data = peerlib.payload(args.bytes, args.seed)
    conn.sendall(data)
    peerlib.say("sent", len(data), peerlib.data_crc_hex(data))
    conn.close()
    peerlib.say("closed")


if __name__ == "__main__":
    main()
