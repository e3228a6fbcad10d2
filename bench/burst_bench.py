#!/usr/bin/python3
"""How much traffic of other servers an assignment survives: `tessel-cli
set` against a simulated server on the namespace test bed, while a second
host broadcasts well-formed requests of other servers of the maker's two
prefixes (a new MAC address each) at a fixed rate, from the moment the
chosen server was heard until the run ends. For each rate, from the lowest
up: whether the assignment ended stored (exit 0) and how long it took from
the start of the traffic to the reply and to the outcome; the figure is the
largest rate at which it still ended stored (the climb stops at the first
rate that failed).

    burst_bench.py TESSEL_CLI TESSEL_PEER [--rates 5,10,20,...] [--ask-every MS]
                   [--label TEXT]

--ask-every is how often the chosen server asks while it waits for its
reply (default 1000 ms, as tessel-peer; a DHCP client backs off to several
seconds, which leaves it fewer chances to get through).

Needs root (the bed's namespaces); exit status 77 with a reason where they
cannot be made.
"""

import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))

from assign_scenarios import EXIT_STORED, SetRun  # noqa: E402
from testbed import SKIP_CODE, Failure, Skip, TestBed  # noqa: E402

BURST = os.path.join(HERE, "..", "tests", "e2e", "burst.py")
DEFAULT_RATES = [5, 10, 20, 40, 80, 160, 320, 640, 1280, 2560]


def one_rate(bed, cli, peer, rate, number, ask_every):
    serial, address = f"0A-1B-2C-00-06-{number:02X}", f"10.77.0.{180 + number}"
    noise = []

    def noise_host(noise_bed, _prog):
        noise.append(noise_bed.add_node("noise", ["10.77.0.5/24"]))
    run = SetRun(bed, cli, peer, serial, address, ["--interval", str(ask_every)], prepare=noise_host)
    heard = run.tessel.stderr.wait_for(lambda t: t.startswith(f"heard {serial}"), 30)
    if heard is None:
        raise Failure(f"{rate}/s: the server was not heard")
    sender = noise[0].start(["/usr/bin/python3", BURST, "--rate", str(rate), "--seconds", "300",
                             "--mix", "maker", "--avoid", serial], name="burst")
    started = sender.stdout.wait_for(lambda t: t == "BURST started", 5)
    if started is None:
        raise Failure(f"{rate}/s: the traffic did not start: {sender.stderr.text()}")
    run.finish()
    sender.kill()
    replies = run.replies()
    reply_s = replies[0][0] - started[0] if replies else None
    outcome_s = run.tessel.ended - started[0]
    return run.code == EXIT_STORED, reply_s, outcome_s


def main(argv):
    if len(argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    cli, peer = os.path.abspath(argv[1]), os.path.abspath(argv[2])
    rates = DEFAULT_RATES
    if "--rates" in argv:
        rates = [int(r) for r in argv[argv.index("--rates") + 1].split(",")]
    label = argv[argv.index("--label") + 1] if "--label" in argv else os.path.basename(cli)
    ask_every = int(argv[argv.index("--ask-every") + 1]) if "--ask-every" in argv else 1000
    print(f"other servers' requests during an assignment ({label}; the server asks every {ask_every} ms):")
    print(f"{'rate/s':>8}{'stored':>8}{'to reply s':>12}{'to end s':>10}")
    best = None
    try:
        with TestBed("burst") as bed:
            for number, rate in enumerate(rates, start=1):
                stored, reply_s, outcome_s = one_rate(bed.child(f"r{rate}"), cli, peer, rate, number,
                                                               ask_every)
                print(f"{rate:>8}{'yes' if stored else 'NO':>8}"
                      f"{'-' if reply_s is None else f'{reply_s:.1f}':>12}{outcome_s:>10.1f}", flush=True)
                if not stored:
                    break
                best = rate
    except Skip as reason:
        print(f"skipped: {reason}")
        return SKIP_CODE
    except Failure as failure:
        print(f"burst bench failed: {failure}")
        return 1
    print(f"largest rate still stored: {best if best is not None else 'none'} requests/s"
          + (" (the highest tried)" if best == rates[-1] else ""))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
