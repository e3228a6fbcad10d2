#!/usr/bin/python3
"""A burst of other traffic at UDP port 67: what a misbehaving device or a
large site powered on together sends while an assignment runs.

    burst.py --rate N --seconds S [--mix junk,maker,foreign] [--avoid SERIAL]

Broadcasts N datagrams a second for S seconds from port 68 of the only
interface of the namespace to 255.255.255.255:67, in an even mix of the
kinds named:

  junk     random bytes of a random length from 0 to 3000
  maker    a well-formed BOOTREQUEST (300 bytes) from a new MAC address of
           the maker's two prefixes each time (never --avoid)
  foreign  the same from a MAC address of another prefix

Prints "BURST started" when the first datagram goes and "BURST sent=N
seconds=S" at the end. Refuses to run outside a named network namespace, so
it can never reach a real network. Exit 0 done, 64 bad arguments, 69 no
usable interface or namespace.
"""

import argparse
import os
import random
import socket
import sys
import time

SO_BINDTODEVICE = 25
MAKER = ((0x0A, 0x1B, 0x2C), (0x0A, 0x1B, 0x2D))


def in_named_namespace():
    try:
        own = os.stat("/proc/self/ns/net").st_ino
        return any(os.stat(os.path.join("/run/netns", n)).st_ino == own
                   for n in os.listdir("/run/netns"))
    except OSError:
        return False


def only_interface():
    names = [n for n in os.listdir("/sys/class/net") if n != "lo"]
    return names[0] if len(names) == 1 else None


def request(mac):
    b = bytearray(300)
    b[0], b[1], b[2] = 1, 1, 6
    b[4:8] = random.getrandbits(32).to_bytes(4, "big")
    b[28:34] = bytes(mac)
    b[236:240] = bytes((99, 130, 83, 99))
    b[240:243] = bytes((53, 1, 1))
    b[243] = 255
    return bytes(b)


def make(kind, avoid):
    if kind == "junk":
        return random.randbytes(random.randint(0, 3000))
    while True:
        if kind == "maker":
            prefix = random.choice(MAKER)
        else:
            prefix = tuple(random.getrandbits(8) for _ in range(3))
            if prefix in MAKER:
                continue
        mac = prefix + tuple(random.getrandbits(8) for _ in range(3))
        if "-".join(f"{x:02X}" for x in mac) != avoid:
            return request(mac)


def main():
    parser = argparse.ArgumentParser(add_help=True)
    parser.add_argument("--rate", type=float, required=True)
    parser.add_argument("--seconds", type=float, required=True)
    parser.add_argument("--mix", default="junk,maker,foreign")
    parser.add_argument("--avoid", default="")
    try:
        args = parser.parse_args()
    except SystemExit:
        return 64
    kinds = args.mix.split(",")
    if args.rate <= 0 or args.seconds <= 0 or not set(kinds) <= {"junk", "maker", "foreign"}:
        print("burst: bad --rate, --seconds or --mix", file=sys.stderr)
        return 64
    if not in_named_namespace():
        print("burst: runs only inside a named network namespace", file=sys.stderr)
        return 69
    interface = only_interface()
    if interface is None:
        print("burst: no single interface besides lo", file=sys.stderr)
        return 69
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
    sock.setsockopt(socket.SOL_SOCKET, SO_BINDTODEVICE, interface.encode())
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    sock.bind(("0.0.0.0", 68))

    step = 0.01
    start = time.monotonic()
    sent, due = 0, 0.0
    print("BURST started", flush=True)
    while True:
        now = time.monotonic()
        if now - start >= args.seconds:
            break
        due = (now - start + step) * args.rate
        while sent < due:
            try:
                sock.sendto(make(kinds[sent % len(kinds)], args.avoid), ("255.255.255.255", 67))
            except OSError:
                pass  # a full send queue loses this one, as a real network would
            sent += 1
        time.sleep(max(0.0, start + (now - start) + step - time.monotonic()))
    print(f"BURST sent={sent} seconds={time.monotonic() - start:.1f}", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
