#!/usr/bin/python3
"""Whole-assignment timing: the time from the reply being sent to the
outcome being shown, by `tessel-cli set` against a simulated server in the
namespace test bed, next to the floor that the fixed waits of that path set
(the sum of the waits the procedure, the progress display and the final
check prescribe). Printed as a ratio for the path stored by the web form and
the path stored over FTP (the form answering 500), plus the procedure's own
part (reply to the store confirmed on the server) against its waits.

    assignment_bench.py TESSEL_CLI TESSEL_PEER [--runs N]

Runs of one path go side by side, each on a bed of its own. Needs root (the
bed's namespaces); exit status 77 with a reason where they cannot be made.
"""

import os
import statistics
import sys
import threading

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))

import assign_schedule as schedule  # noqa: E402
from assign_scenarios import BOX_STORED, EXIT_STORED, SetRun  # noqa: E402
from testbed import SKIP_CODE, Failure, Skip, TestBed  # noqa: E402

# The procedure alone: reply -> store confirmed on the server.
PROCEDURE_FLOOR = {
    "http": schedule.RESTART + schedule.POLL,
    "ftp": schedule.RESTART + schedule.POLL + schedule.HTTP_LIMIT,
}
PATHS = {"http": [], "ftp": ["--web-status", "500"]}


def one_run(bed, cli, peer, path, number, results):
    serial = f"0A-1B-2C-00-0{'1' if path == 'http' else '2'}-{number:02X}"
    run = SetRun(bed, cli, peer, serial, f"10.77.0.{100 + number}", PATHS[path]).finish()
    run.check_outcome(EXIT_STORED, BOX_STORED)
    run.check_one_reply()
    if path == "http":
        stored = [when for when, f in run.peer_lines("WEB", "answered") if f["status"] == "200"]
    else:
        stored = [when for when, _ in run.peer_lines("FTP", "stored")]
    if not stored:
        raise Failure(f"{path} run {number}: the server never confirmed a store")
    results.append((run.outcome_at - run.reply_at, stored[0] - run.reply_at))


def measure(bed, cli, peer, path, runs):
    results, errors = [], []

    def guarded(child, number):
        try:
            one_run(child, cli, peer, path, number, results)
        except Exception as error:  # noqa: BLE001 - reported below
            errors.append(f"{path} run {number}: {error}")

    children = [bed.child(f"{path}{n}") for n in range(runs)]
    threads = [threading.Thread(target=guarded, args=(child, n), daemon=True)
               for n, child in enumerate(children)]
    for thread in threads:
        thread.start()
    for thread in threads:
        while thread.is_alive():
            thread.join(0.5)
    if errors:
        raise Failure("\n".join(errors))
    return results


def main(argv):
    if len(argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    cli, peer = os.path.abspath(argv[1]), os.path.abspath(argv[2])
    runs = int(argv[argv.index("--runs") + 1]) if "--runs" in argv else 3
    try:
        with TestBed("bench") as bed:
            figures = {path: measure(bed, cli, peer, path, runs) for path in PATHS}
    except Skip as reason:
        print(f"skipped: {reason}")
        return SKIP_CODE
    except Failure as failure:
        print(f"assignment bench failed: {failure}")
        return 1

    print("assignment: reply sent -> outcome shown, against the fixed waits of the path")
    print(f"{'path':<6}{'runs':>5}{'floor s':>10}{'median s':>10}{'min s':>8}{'max s':>8}"
          f"{'ratio':>8}   procedure: floor s, median s, ratio")
    for path, results in figures.items():
        totals = [total for total, _ in results]
        procedure = [part for _, part in results]
        floor = schedule.FLOOR[path]
        median = statistics.median(totals)
        proc_floor = PROCEDURE_FLOOR[path]
        proc_median = statistics.median(procedure)
        print(f"{path:<6}{len(totals):>5}{floor:>10.2f}{median:>10.2f}{min(totals):>8.2f}"
              f"{max(totals):>8.2f}{median / floor:>8.3f}   "
              f"{proc_floor:.2f}, {proc_median:.2f}, {proc_median / proc_floor:.3f}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
