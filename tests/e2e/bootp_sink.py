"""Stand-in for the program on port 67, used to check tessel-peer itself.

Prints one line per datagram it receives: "DGRAM <source ip> <source port>
<length> <hex bytes>", and answers every BOOTREQUEST of at least 240 bytes
with a plain BOOTP reply, broadcast to 255.255.255.255 at the request's source
port: yiaddr 10.77.0.<100 + n> for the n-th answered request, siaddr the
sink's host, sname "testbed-host". Built here, not from the program's code,
so it checks the peer's view of a reply independently. A request whose MAC
ends in 02 gets two more answers after that one: a reply with yiaddr
10.77.0.99, an unterminated sname and a DHCP option before the end option
(which the peer must not report as a clean end), and a 100-byte datagram
too short to be a reply. Runs until killed.
"""

import socket
import sys

REPLY_LENGTH = 512
END_OFFSET = 492


def make_reply(request, number):
    reply = bytearray(REPLY_LENGTH)
    reply[0:240] = request[0:240]
    reply[0] = 2
    reply[16:20] = bytes([10, 77, 0, 100 + number])
    reply[20:24] = bytes([10, 77, 0, 1])
    name = b"testbed-host\0"
    reply[44:44 + 64] = name + bytes(64 - len(name))
    reply[END_OFFSET] = 255
    return bytes(reply)


def main():
    port = int(sys.argv[1]) if len(sys.argv) > 1 else 67
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
    sock.bind(("0.0.0.0", port))
    print("LISTENING", flush=True)
    answered = 0
    while True:
        data, (host, source_port) = sock.recvfrom(70000)
        print(f"DGRAM {host} {source_port} {len(data)} {data.hex()}", flush=True)
        if len(data) >= 240 and data[0] == 1:
            sock.sendto(make_reply(data, answered), ("255.255.255.255", source_port))
            answered += 1
            if data[33] == 0x02:
                odd = bytearray(make_reply(data, 0))
                odd[16:20] = bytes([10, 77, 0, 99])
                odd[44:108] = b"x" * 64
                odd[240:243] = bytes([53, 1, 2])
                sock.sendto(bytes(odd), ("255.255.255.255", source_port))
                sock.sendto(bytes([2]) + bytes(99), ("255.255.255.255", source_port))


if __name__ == "__main__":
    main()
