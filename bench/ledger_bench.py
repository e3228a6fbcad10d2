#!/usr/bin/python3
"""The ledger of months: peak resident memory of `tessel-cli status` reading
a ledger of a million lines, and of `tessel-cli serve` starting on a copy of
it (which it compacts, then reads for the back-offs to restore), with the
time serve takes to compact it.

    ledger_bench.py TESSEL_CLI [--lines N] [--servers N] [--label TEXT]

The ledger holds N lines of M planned servers in turn, as serve writes
them. serve runs in a network namespace of its own (unshare -n, loopback
only), so its part needs root; without root only status is measured.
"""

import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time


def utc(seconds):
    return time.strftime("%Y-%m-%dT%H:%M:%S", time.gmtime(seconds)) + ".000Z"


def write_ledger(path, plan, lines, servers):
    serials = [f"0A-1B-2C-{n >> 16 & 255:02X}-{n >> 8 & 255:02X}-{n & 255:02X}" for n in range(servers)]
    with open(plan, "w") as out:
        out.write("serial,address\n")
        for n, serial in enumerate(serials):
            out.write(f"{serial},10.{80 + n // 62500}.{n // 250 % 250 + 1}.{n % 250 + 2}\n")
    start = time.time() - lines  # a line a second, ending now
    results = ["stored", "not verified", "address in use", "until restart"]
    with open(path, "w") as out:
        for i in range(lines):
            n = i % servers
            result = results[i // servers % len(results)]
            nxt = utc(start + i + 600) if result != "stored" else "-"
            out.write(f"{utc(start + i)}\t{serials[n]}\t10.{80 + n // 62500}.{n // 250 % 250 + 1}.{n % 250 + 2}\t"
                      f"{result}\t3\treplied; the server was not found at the address\t1\t{nxt}\n")


def peak_kib(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


def status_run(cli, plan, ledger):
    """Peak resident memory (KiB) and seconds of one status run."""
    started = time.monotonic()
    with open(os.devnull, "w") as null:
        child = subprocess.Popen([cli, "status", plan, "--ledger", ledger, "--json"], stdout=null,
                                 stderr=subprocess.PIPE)
    _, code, usage = os.wait4(child.pid, 0)
    seconds = time.monotonic() - started
    if code != 0:
        raise SystemExit(f"status failed ({code}): {child.stderr.read().decode()[-500:]}")
    return usage.ru_maxrss, seconds


def serve_run(cli, plan, ledger, folder):
    """serve's peak resident memory (KiB) once it serves, the seconds until
    its compaction was told and until it serves, and the ledger's size after."""
    logfile = os.path.join(folder, "support.log")
    started = time.monotonic()
    child = subprocess.Popen(["unshare", "-n", "sh", "-c", 'ip link set lo up && exec "$@"', "sh", cli, "serve",
                              plan, "--ledger", ledger, "--logfile", logfile],
                             stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    compacted = serving = None
    text = ""
    try:
        deadline = time.monotonic() + 600
        while serving is None and time.monotonic() < deadline:
            line = child.stderr.readline()
            if not line:
                break
            text += line
            if "was compacted" in line and compacted is None:
                compacted = time.monotonic() - started
            if "Serving the plan" in line:
                serving = time.monotonic() - started
        if serving is None:
            raise SystemExit(f"serve did not start:\n{text[-2000:]}")
        peak = peak_kib(child.pid)
    finally:
        child.send_signal(signal.SIGTERM)
        try:
            child.wait(30)
        except subprocess.TimeoutExpired:
            child.kill()
            child.wait()
    told = re.search(r"compacted from (\d+) to (\d+) bytes", text)
    return peak, compacted, serving, int(told.group(2)) if told else os.path.getsize(ledger)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("cli")
    parser.add_argument("--lines", type=int, default=1_000_000)
    parser.add_argument("--servers", type=int, default=1000)
    parser.add_argument("--label", default="this build")
    args = parser.parse_args()
    folder = tempfile.mkdtemp(prefix="tessel-ledger-bench-")
    try:
        plan, ledger = os.path.join(folder, "plan.csv"), os.path.join(folder, "ledger")
        write_ledger(ledger, plan, args.lines, args.servers)
        size = os.path.getsize(ledger)
        print(f"ledger memory ({args.label}): {args.lines:,} lines of {args.servers} servers, "
              f"{size / 1e6:.1f} MB")
        peak, seconds = status_run(args.cli, plan, ledger)
        print(f"  status: peak resident {peak / 1024:.1f} MiB, {seconds:.2f} s")
        if os.geteuid() != 0 or shutil.which("unshare") is None:
            print("  serve: skipped (its own network namespace needs root)")
            return 0
        copy = os.path.join(folder, "serve-ledger")
        shutil.copyfile(ledger, copy)
        peak, compacted, serving, after = serve_run(args.cli, plan, copy, folder)
        compaction = f"compacted in {compacted:.2f} s to {after / 1e6:.2f} MB" if compacted else "not compacted"
        print(f"  serve start: peak resident {peak / 1024:.1f} MiB; {compaction}; serving after {serving:.2f} s")
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
