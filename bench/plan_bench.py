#!/usr/bin/python3
"""Servers per minute of `tessel-cli plan`: a plan of N simulated servers
(each on a host of its own in the namespace test bed, all asking every
second from 0.0.0.0, each storing by its web form), run one at a time
(--parallel 1) and overlapped (--parallel N), side by side on beds of their
own. The rate is

    servers stored / (time from the first server heard to the last job's end)

so the program's 8.9-s start-up note, the same for both, is left out; the
whole run's time is printed beside it.

    plan_bench.py TESSEL_CLI TESSEL_PEER [--servers N] [--overlapped-only]

Needs root (the bed's namespaces); exit status 77 with a reason where they
cannot be made.
"""

import argparse
import os
import sys
import threading

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))

from plan_scenarios import PlanRun  # noqa: E402
from testbed import SKIP_CODE, Failure, Skip, TestBed  # noqa: E402

LIMIT_S = 1200


def one_plan(bed, cli, peer, servers, parallel, results):
    serials = [f"0A-1B-2C-00-0B-{n:02X}" for n in range(1, servers + 1)]
    hosts = [(f"s{n}", serial, [], [], "br0") for n, serial in enumerate(serials, 1)]
    lines = [f"{serial},10.77.0.{100 + n}" for n, serial in enumerate(serials, 1)]
    run = PlanRun(bed, cli, peer, hosts, lines, ["--parallel", str(parallel), "--seconds", str(LIMIT_S)])
    run.finish(LIMIT_S)
    if run.code != 0:
        raise Failure(f"--parallel {parallel}: exit status {run.code}\n{run.tessel.stderr.text()}")
    heard = [when for when, text in run.tessel.stderr.snapshot() if text.startswith("heard ")]
    ends = [when for when, text in run.tessel.stdout.snapshot() if text.endswith(" s)") and " stored " in text]
    if len(ends) != servers:
        raise Failure(f"--parallel {parallel}: {len(ends)} of {servers} stored")
    span = max(ends) - min(heard)
    results[parallel] = (servers * 60.0 / span, span, run.tessel.ended - run.tessel.started)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("cli")
    parser.add_argument("peer")
    parser.add_argument("--servers", type=int, default=10)
    parser.add_argument("--overlapped-only", action="store_true",
                        help="leave out the run one at a time (it takes about 35 s a server)")
    args = parser.parse_args()
    cli, peer = os.path.abspath(args.cli), os.path.abspath(args.peer)
    results, errors = {}, []
    try:
        with TestBed() as bed:
            def guarded(parallel, child):
                try:
                    one_plan(child, cli, peer, args.servers, parallel, results)
                except Exception as error:  # noqa: BLE001 - reported below
                    errors.append(str(error))
            threads = [threading.Thread(target=guarded, args=(p, bed.child(f"par{p}")))
                       for p in ((args.servers,) if args.overlapped_only else (1, args.servers))]
            for thread in threads:
                thread.start()
            for thread in threads:
                while thread.is_alive():
                    thread.join(0.5)
    except Skip as reason:
        print(f"skipped: {reason}")
        return SKIP_CODE
    if errors:
        print("failed:\n" + "\n".join(errors))
        return 1
    print(f"plan of {args.servers} simulated servers, each stored by its web form:")
    for parallel, label in ((1, "one at a time"), (args.servers, "overlapped")):
        if parallel not in results:
            continue
        rate, span, whole = results[parallel]
        print(f"  {label:14} (--parallel {parallel:2}): {rate:5.1f} servers a minute "
              f"({span:.1f} s from the first heard to the last stored; whole run {whole:.1f} s)")
    if 1 in results:
        print(f"  overlapped / one at a time: {results[args.servers][0] / results[1][0]:.2f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
