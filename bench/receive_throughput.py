#!/usr/bin/python3
"""Throughput of the program's receive loop on the namespace test bed.

A sender host floods COUNT BOOTREQUESTs from foreign MAC addresses at port
67 of the program's host; each is received, logged and dropped ("Not an
MERROW-server") without the listing pause. The same flood goes, in the same
run and on the same bed, to two bare receive loops (bench_bare_receiver):
one that takes each datagram with recv() and asks nothing else, the most
any loop can take here, and one that receives as the program must
(recvmmsg in the channel's batches, each datagram with its arrival
interface, IP_PKTINFO), the floor of the program's loop; and to
`tessel-cli list` with its logfile on and off. A request from a maker MAC after the flood is the end marker: the
rate is

    handled / (time from the flood's first datagram to the marker's output)

where handled = sent - dropped by the full socket buffer. The drops are the
drops column of the receiving socket in /proc/net/udp, read in the
program's namespace; the namespace's UDP counters (datagrams taken by
recvmsg) must add up with them to what was sent, and the bare loop's own
count and the logfile's "Not an MERROW-server" lines must equal handled.

The marker's own handling (for the program the fixed listing pause) is in
that time too; its output time on the idle loop, measured just before each
flood, is shown beside it.

Two more figures: the rate until the loop took the marker off the socket
(the queue of the receiving socket empty once the marker is in it: without
the program's listing pause and the terminal's look at the table), and
handled per CPU second of the receiving process (its own cost; the
delivery into the socket runs on the sender's CPU).

Usage (root): receive_throughput.py CLI FLOOD BARE [--count N] [--rounds R]
Exit status 0 measured, 1 failed, 77 skipped ("skipped: <reason>").
"""

import argparse
import os
import signal
import statistics
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import testbed  # noqa: E402
from testbed import Failure, Skip, check  # noqa: E402

# The program's start-up note lasts 8.9 s after the bind; requests sent
# during it would wait in (and overflow) the socket buffer.
NOTE_WAIT_S = 9.5
FLOOD_PREFIX = "11-22-33"
MARKER_PREFIX = "0A-1B-2C"
# The bare loops: recv() of one datagram at a time, and the floor of the
# program's own loop, recvmmsg with each datagram's arrival interface.
BARE = {"bare recv()": [], "bare recvmmsg": ["--batch"]}
VARIANTS = tuple(BARE) + ("logfile on", "logfile off")


def udp_port67(pid):
    """(rx_queue bytes, drops) of the socket on port 67 in the namespace of
    pid, or None when there is none."""
    try:
        with open(f"/proc/{pid}/net/udp") as table:
            next(table)
            for line in table:
                fields = line.split()
                if int(fields[1].split(":")[1], 16) == 67:
                    return int(fields[4].split(":")[1], 16), int(fields[-1])
    except (OSError, StopIteration, IndexError, ValueError):
        pass
    return None


def udp_counters(pid):
    """The namespace's Udp counters from /proc/PID/net/snmp."""
    with open(f"/proc/{pid}/net/snmp") as snmp:
        rows = [line.split() for line in snmp if line.startswith("Udp:")]
    return dict(zip(rows[0][1:], (int(v) for v in rows[1][1:])))


def cpu_seconds(pid):
    """CPU time of all threads of pid, in seconds (schedstat: nanoseconds
    on a CPU). The kernel's delivery into the socket runs on the sender's
    CPU, so this is the loop's own cost: recvmsg, checks and logging."""
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/schedstat") as stat:
                total += int(stat.read().split()[0])
        except (OSError, IndexError, ValueError):
            pass  # a thread that ended meanwhile
    return total / 1e9


def backlog_drops():
    """Datagrams the machine dropped before any socket (input backlog full),
    all CPUs; for the whole machine, so other developers' traffic counts."""
    total = 0
    with open("/proc/net/softnet_stat") as stat:
        for line in stat:
            total += int(line.split()[1], 16)
    return total


def start_flood(node, flood, count, marker_base, watch):
    args = [flood, "--interface", "eth0", "--count", str(count), "--prefix", FLOOD_PREFIX,
            "--marker-prefix", MARKER_PREFIX, "--marker-base", str(marker_base), "--watch", watch]
    return node.start(args, name="bench_flood")


def finish_flood(process, count, timeout):
    code = process.wait(timeout)
    check(code is not None, f"bench_flood did not end within {timeout} s")
    check(code == 0, f"bench_flood failed ({code}): {process.stderr.text()}")
    result = {"markers": [], "sent": 0, "start": None, "end": None}
    for _, line in process.stdout.snapshot():
        fields = dict(part.split("=", 1) for part in line.split()[1:] if "=" in part)
        if line.startswith("FLOOD "):
            result.update(sent=int(fields["sent"]), start=float(fields["start"]), end=float(fields["end"]))
        elif line.startswith("MARKER "):
            result["markers"].append((fields["mac"], float(fields["at"]), fields["dropped"] == "1"))
    check(result["start"] is not None and result["markers"], f"bench_flood said too little:\n{process.stdout.text()}")
    check(result["sent"] == count, f"bench_flood sent {result['sent']} of {count}")
    return result


def run_flood(node, flood, count, marker_base, watch, timeout):
    return finish_flood(start_flood(node, flood, count, marker_base, watch), count, timeout)


def wait_queue_empty(sender, pid, timeout):
    """The moment the receive loop took the end marker: once the sender has
    seen its marker kept, the first time the receiving socket's queue is
    empty (the marker is its last datagram). Polled every 0.2 ms, only after
    the flood, so the polling does not take CPU from the flood itself."""
    kept = sender.stdout.wait_for(lambda t: t.startswith("MARKER ") and t.endswith("dropped=0"), timeout)
    check(kept is not None, f"no end marker got through within {timeout} s: {sender.stdout.text()[-300:]}")
    deadline = time.monotonic() + timeout
    while True:
        state = udp_port67(pid)
        now = time.monotonic()
        check(state is not None, "the receiver's socket went away during the flood")
        if state[0] == 0:
            return now
        check(now < deadline, f"the receiver's queue did not empty within {timeout} s")
        time.sleep(0.0002)


def wait_settled(pid, before_counters, before_drops, total, timeout=30):
    """Waits until every datagram sent has been taken by recvmsg or dropped
    and the queue is empty; returns (received, dropped)."""
    deadline = time.monotonic() + timeout
    while True:
        state = udp_port67(pid)
        check(state is not None, "the receiver's socket is gone before the count was taken")
        received = udp_counters(pid)["InDatagrams"] - before_counters["InDatagrams"]
        dropped = state[1] - before_drops
        if received + dropped >= total and state[0] == 0:
            check(received + dropped == total,
                  f"received {received} + dropped {dropped} is more than the {total} sent: "
                  "other traffic on the bed")
            return received, dropped
        check(time.monotonic() < deadline,
              f"after {timeout} s only {received} received + {dropped} dropped of {total} sent "
              "(lost elsewhere, e.g. the input backlog)")
        time.sleep(0.01)


def measure(bed, program_node, sender_node, tools, variant, count, folder, marker_base):
    cli, flood, bare = tools
    if variant in BARE:
        receiver = program_node.start([bare, "--marker-prefix", MARKER_PREFIX] + BARE[variant],
                                      name="bench_bare_receiver")
        check(receiver.stdout.wait_for(lambda t: t == "READY", 5) is not None,
              f"bare receiver did not start: {receiver.stderr.text()}")
        check(receiver.wait_udp_bound(67, 5), "bare receiver did not bind port 67")

        def shows(macs):
            return lambda text: text.startswith("MARKER mac=") and text.split()[1][4:] in macs
    else:
        logfile = os.path.join(folder, f"tessel-{marker_base}.log")
        args = [cli, "list", "--seconds", "300", "--logfile", logfile]
        if variant == "logfile off":
            args.append("--logfile-off")
        receiver = program_node.start(args, cwd=folder, name="tessel-cli")
        check(receiver.wait_udp_bound(67, 5), f"tessel-cli did not bind port 67: {receiver.stderr.text()}")
        time.sleep(NOTE_WAIT_S)
        check(receiver.running(), f"tessel-cli ended during its start-up note: {receiver.stderr.text()}")

        def shows(macs):
            return lambda text: text.split(" ")[0] in macs
    watch = f"/proc/{receiver.pid}/net/udp"

    # The marker's own time on the idle loop (for the program: the first
    # maker request also takes the note rows away, so the flood does not).
    probe = run_flood(sender_node, flood, 0, marker_base, watch, 10)
    landed = [m for m in probe["markers"] if not m[2]]
    check(landed, "the idle marker was dropped")
    seen = receiver.stdout.wait_for(shows({landed[0][0]}), 10)
    check(seen is not None, f"idle marker {landed[0][0]} not seen")
    idle_latency = seen[0] - landed[0][1]

    counters0 = udp_counters(receiver.pid)
    state0 = udp_port67(receiver.pid)
    backlog0 = backlog_drops()
    cpu0 = cpu_seconds(receiver.pid)
    sender = start_flood(sender_node, flood, count, marker_base + 1, watch)
    taken = wait_queue_empty(sender, receiver.pid, 120)
    result = finish_flood(sender, count, 10)
    macs = {m[0] for m in result["markers"]}
    seen = receiver.stdout.wait_for(shows(macs), 60)
    check(seen is not None, f"no end marker seen within 60 s: {receiver.stdout.text()[-500:]}")
    markers_sent = len(result["markers"])
    received, dropped = wait_settled(receiver.pid, counters0, state0[1], count + markers_sent)
    cpu = cpu_seconds(receiver.pid) - cpu0
    # A marker taken just now still needs its listing pause to be printed.
    time.sleep(0.2 * markers_sent + 0.3 if variant not in BARE else 0.1)
    markers_received = sum(1 for _, text in receiver.stdout.snapshot() if shows(macs)(text))
    backlog = backlog_drops() - backlog0

    flood_received = received - markers_received
    flood_dropped = dropped - (markers_sent - markers_received)
    check(flood_received + flood_dropped == count and flood_dropped >= 0,
          f"counts do not add up: {flood_received} received + {flood_dropped} dropped of {count}")
    handled = count - flood_dropped

    receiver.signal(signal.SIGINT)
    code = receiver.wait(10)
    # tessel-cli ends a listing stopped by Ctrl+C with 128 + SIGINT, as every
    # command does; the bare loops end with 0.
    expected = 0 if variant in BARE else 128 + signal.SIGINT
    check(code == expected, f"{receiver.name} ended with {code}, not {expected}, after SIGINT: "
          f"{receiver.stderr.text()}")
    if variant in BARE:
        done = receiver.stdout.wait_for(lambda t: t.startswith("DONE "), 1)
        check(done is not None, "bare receiver gave no totals")
        totals = dict(p.split("=") for p in done[1].split()[1:])
        check(int(totals["flood"]) == handled, f"bare receiver counted {totals['flood']}, the socket {handled}")
        check(totals["nointerface"] == "0", f"{totals['nointerface']} datagrams came without their interface")
    elif variant == "logfile on":
        with open(logfile, "rb") as log:
            logged = sum(1 for line in log if line.rstrip(b"\r\n").endswith(b"Not an MERROW-server."))
        check(logged == handled, f"logfile holds {logged} 'Not an MERROW-server' lines, handled {handled}")
        os.remove(logfile)
    else:
        if os.path.exists(logfile):
            os.remove(logfile)

    elapsed = seen[0] - result["start"]
    to_taken = taken - result["start"]
    return {
        "variant": variant, "sent": count, "dropped": flood_dropped, "handled": handled,
        "elapsed": elapsed, "idle_latency": idle_latency, "rate": handled / elapsed,
        "to_taken": to_taken, "net_rate": handled / to_taken, "cpu": cpu,
        "cpu_rate": handled / cpu if cpu > 0 else float("nan"),
        "send_rate": count / max(result["end"] - result["start"], 1e-9),
        "markers": markers_sent, "backlog": backlog,
    }


def show_run(r):
    kept = "kept up" if r["dropped"] == 0 else f"dropped {r['dropped']:>7}"
    print(f"  {r['variant']:<14} handled {r['handled']:>7} of {r['sent']} ({kept}); "
          f"marker output after {r['elapsed'] * 1000:7.1f} ms: {r['rate']:>7.0f}/s; "
          f"marker taken after {r['to_taken'] * 1000:7.1f} ms: {r['net_rate']:>7.0f}/s; "
          f"CPU {r['cpu'] * 1e6 / max(r['handled'], 1):5.2f} us each: {r['cpu_rate']:>7.0f}/s; "
          f"idle marker output {r['idle_latency'] * 1000:5.1f} ms; sender {r['send_rate']:>7.0f}/s; "
          f"markers {r['markers']}"
          + (f"; machine backlog drops {r['backlog']}" if r["backlog"] else ""), flush=True)


# (key, heading) of the figures summarised, each in datagrams per second.
FIGURES = (("rate", "to marker output"), ("net_rate", "to marker taken"), ("cpu_rate", "per CPU second"))


def summarise(rounds, count):
    print(f"\nreceive loop, {count} foreign requests of 300 bytes, {len(rounds)} round(s); "
          "datagrams handled per second, min / median over rounds")
    print(f"  {'':<14}" + "".join(f" {heading:>19} {'/recv':>6} {'/mmsg':>6}  " for _, heading in FIGURES)
          + " sender")
    medians = {}
    for variant in VARIANTS:
        line = f"  {variant:<14}"
        for key, _ in FIGURES:
            values = [r[variant][key] for r in rounds]
            ratios = [[r[variant][key] / r[bare][key] for r in rounds] for bare in BARE]
            medians[variant, key] = (statistics.median(values),) + tuple(statistics.median(x) for x in ratios)
            shown = [f"{statistics.median(x):.3f}" if variant != bare else "" for x, bare in zip(ratios, BARE)]
            line += f" {min(values):>9.0f} {statistics.median(values):>9.0f} {shown[0]:>6} {shown[1]:>6}  "
        kept = [100.0 * r[variant]["handled"] / r[variant]["sent"] for r in rounds]
        line += (f" {statistics.median(r[variant]['send_rate'] for r in rounds):>7.0f}/s, "
                 f"handled {min(kept):.1f}% / {statistics.median(kept):.1f}% of it")
        print(line)
    print("  to marker output: until the end marker's output line (for the program after its 140 ms\n"
          "    listing pause and the terminal's look at the table every 100 ms);\n"
          "  to marker taken: until the loop took the end marker off the socket;\n"
          "  per CPU second: handled / CPU time of the receiving process (the loop's own cost; what\n"
          "    it could take with a core to itself and a sender fast enough);\n"
          "  /recv, /mmsg = this loop / bare recv(), / bare recvmmsg of the same round, median over rounds\n"
          "    (bare recvmmsg takes what the program must take with each datagram: the floor of its loop)")
    # A loop that takes nearly all that was sent is timed at the sender's
    # pace: then only the CPU figure tells its own limit.
    bounded = [v for v in VARIANTS
               if statistics.median(r[v]["handled"] / r[v]["sent"] for r in rounds) >= 0.95]
    if bounded:
        print(f"  note: {', '.join(bounded)} took 95% or more of the flood: the timed figures there are "
              "the sender's pace\n    (its CPU carries the whole delivery through the bed), not the "
              "loop's limit; see per CPU second")
    def part(key):
        recv, mmsg, on, off = (medians[v, key] for v in VARIANTS)
        return (f"bare recv() {recv[0]:.0f}/s, bare recvmmsg {mmsg[0]:.0f}/s (x{mmsg[1]:.3f}), "
                f"logfile on {on[0]:.0f}/s (x{on[1]:.3f} of recv(), x{on[2]:.3f} of recvmmsg), "
                f"logfile off {off[0]:.0f}/s (x{off[1]:.3f}, x{off[2]:.3f})")
    print(f"summary (median of {len(rounds)}, N={count}): to marker taken: {part('net_rate')}; "
          f"per CPU second: {part('cpu_rate')}; to marker output: {part('rate')}", flush=True)


def _interrupted(number, _frame):
    raise testbed.Interrupted(signal.Signals(number).name)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("cli")
    parser.add_argument("flood")
    parser.add_argument("bare")
    parser.add_argument("--count", type=int, default=100000)
    parser.add_argument("--rounds", type=int, default=3)
    options = parser.parse_args(argv[1:])
    if options.count < 1 or options.rounds < 1:
        parser.error("--count and --rounds need 1 or more")
    tools = tuple(os.path.abspath(p) for p in (options.cli, options.flood, options.bare))
    for path in tools:
        if not os.access(path, os.X_OK):
            print(f"receive_throughput: {path} is not an executable", file=sys.stderr)
            return 1
    for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(number, _interrupted)
    bed = None
    try:
        with testbed.TestBed() as bed, tempfile.TemporaryDirectory(prefix="tessel-bench-") as folder:
            program_node = bed.add_node("prog", [testbed.PROGRAM_ADDRESS + "/24"], default_route=True)
            # No address: the flood comes from 0.0.0.0, as from a new server.
            sender_node = bed.add_node("send")
            print(f"receive throughput: {options.rounds} round(s) of {options.count} requests; "
                  f"load average {os.getloadavg()[0]:.2f} on {os.cpu_count()} CPU(s); logfiles in {folder}",
                  flush=True)
            rounds = []
            base = 0x100
            for number in range(options.rounds):
                print(f"round {number + 1}:", flush=True)
                turn = number % len(VARIANTS)
                order = VARIANTS[turn:] + VARIANTS[:turn]
                round_results = {}
                for variant in order:
                    round_results[variant] = measure(bed, program_node, sender_node, tools, variant,
                                                     options.count, folder, base)
                    base += 0x100
                    show_run(round_results[variant])
                rounds.append(round_results)
            summarise(rounds, options.count)
        return 0
    except Skip as reason:
        print(f"skipped: {reason}")
        return testbed.SKIP_CODE
    except Failure as failure:
        print(f"receive throughput: FAILED: {failure}")
        if bed is not None:
            print(bed.describe()[-4000:])
        return 1
    except testbed.Interrupted as which:
        print(f"receive throughput: interrupted by {which}; test bed removed")
        return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
