#!/usr/bin/python3
"""How long a planned server waits under a flood of servers that serve will
never answer: `tessel-cli serve` with a plan of one simulated server
(tessel-peer) on the namespace test bed, and a second host that broadcasts
made-up requests at a fixed rate (bench, not test: it prints, it does not
judge).

    serve_flood_bench.py TESSEL_CLI TESSEL_PEER [--rate N] [--limit S] [--label TEXT]

Two cases, each once without and once with the flood: the maker's serial
numbers (new ones each time, serve as installed) and, with --all, random
MAC addresses of other makers. The flood starts with serve (so the start-up
note and everything after it meet it); the planned server is switched on
10 s later, when the note has ended. Printed for each: the seconds from
the server's first request to serve's reply and to its "stored" ledger
line, the flood's rate as the sending interface counted it, and the
support logfile's size. --limit (default 150 s) ends a wait for the ledger
line; a case that did not get there says so.

Needs root (the bed's namespaces); exit status 77 with a reason where they
cannot be made.
"""

import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))

from serve_scenarios import Serve, replies, results, start_peer  # noqa: E402
from testbed import SKIP_CODE, Failure, Skip, TestBed  # noqa: E402

BURST = os.path.join(HERE, "..", "tests", "e2e", "burst.py")
NOTE_SECONDS = 10.0
CASES = [("maker serials", "maker", []), ("--all, random MACs", "foreign", ["--all"])]


def tx_packets(node):
    return int(node.run(["cat", "/sys/class/net/eth0/statistics/tx_packets"]).stdout)


def one_run(bed, cli, peer, number, mix, args, rate, limit):
    serial, address = f"0A-1B-2C-00-0F-{number:02X}", f"10.77.0.{150 + number}"
    serve = Serve(bed, cli, [f"{serial},{address}"], args)
    flood_rate = None
    if rate:
        noise = bed.add_node("noise", ["10.77.0.5/24"])
        sent_before = tx_packets(noise)
        sender = noise.start(["/usr/bin/python3", BURST, "--rate", str(rate), "--seconds", str(limit + 60),
                              "--mix", mix, "--avoid", serial], name="burst")
        if sender.stdout.wait_for(lambda t: t == "BURST started", 5) is None:
            raise Failure(f"the flood did not start: {sender.stderr.text()}")
        flood_started = time.monotonic()
    time.sleep(NOTE_SECONDS)
    server = start_peer(bed, peer, bed.add_node("srv"), serial)
    asked = server.stdout.wait_for(lambda t: t.startswith("SENT"), 10)
    if asked is None:
        raise Failure(f"the server did not ask: {server.stderr.text()}")
    stored = None
    deadline = asked[0] + limit
    while time.monotonic() < deadline:
        if results(serve.lines(), serial) == ["stored"]:
            stored = time.monotonic() - asked[0]
            break
        if not serve.tessel.running():
            raise Failure(f"serve ended: {serve.tessel.stderr.text()}")
        time.sleep(0.2)
    got = replies(server)
    reply = got[0][0] - asked[0] if got else None
    if rate:
        flood_rate = (tx_packets(noise) - sent_before) / (time.monotonic() - flood_started)
        sender.kill()
    serve.stop()
    size = os.path.getsize(serve.logfile) if os.path.exists(serve.logfile) else 0
    return reply, stored, flood_rate, size


def seconds(value, limit):
    return f"{value:.1f}" if value is not None else f">{limit}"


def main(argv):
    if len(argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    cli, peer = os.path.abspath(argv[1]), os.path.abspath(argv[2])
    rate = int(argv[argv.index("--rate") + 1]) if "--rate" in argv else 1000
    limit = int(argv[argv.index("--limit") + 1]) if "--limit" in argv else 150
    label = argv[argv.index("--label") + 1] if "--label" in argv else os.path.basename(cli)
    print(f"a planned server under a flood of {rate} requests/s that serve never answers ({label}):")
    print(f"{'case':<22}{'flood':>8}{'to reply s':>12}{'to stored s':>13}{'sent/s':>9}{'logfile kB':>12}")
    number = 0
    try:
        with TestBed("serveflood") as bed:
            for name, mix, args in CASES:
                normal = None
                for flooded in (False, True):
                    number += 1
                    reply, stored, sent, size = one_run(bed.child(f"f{number}"), cli, peer, number, mix, args,
                                                        rate if flooded else 0, limit)
                    print(f"{name:<22}{'yes' if flooded else 'no':>8}{seconds(reply, limit):>12}"
                          f"{seconds(stored, limit):>13}{'-' if sent is None else f'{sent:.0f}':>9}"
                          f"{size / 1024:>12.0f}", flush=True)
                    if not flooded:
                        normal = stored
                    elif normal is not None:
                        late = "not stored" if stored is None else f"{stored - normal:+.1f} s"
                        print(f"{'':<22}under the flood against its normal time: {late}", flush=True)
    except Skip as reason:
        print(f"skipped: {reason}")
        return SKIP_CODE
    except Failure as failure:
        print(f"serve flood bench failed: {failure}")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
