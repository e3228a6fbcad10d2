#!/usr/bin/python3
"""End-to-end scenarios of `tessel-cli serve`, the service: simulated
servers (tessel-peer), each on a host of its own, on one bed with the
program, which runs until the scenario stops it:

    serve_scenarios.py SCENARIO TESSEL_CLI TESSEL_PEER

The program runs with its stderr named in JOURNAL_STREAM, as under systemd,
and NOTIFY_SOCKET naming a datagram socket the scenario holds. Back-offs are
shortened by --test-only-backoff-divisor, never by other constants.
Exit status 0 passed, 1 failed, 77 skipped (no root or namespaces).
"""

import calendar
import json
import os
import random
import re
import shutil
import signal
import socket
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import tessel_log  # noqa: E402
from assign_scenarios import run_cases  # noqa: E402
from run_scenario import fields  # noqa: E402
from testbed import PROGRAM_ADDRESS, Skip, check, main, run  # noqa: E402

LEDGER_LINE = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z\t[0-9A-F-]{17}\t[^\t]+\t[^\t]+\t-?\d\t[^\t]+\t\d+\t"
                         r"(-|\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)$")
PRIORITY = re.compile(r"^<[3-7]>")
# The shell that names its stderr (a pipe) in JOURNAL_STREAM, as systemd names
# the journal's stream, before it becomes the program.
JOURNAL = 'JOURNAL_STREAM="$(stat -L -c %d:%i /proc/self/fd/2)" exec "$@"'


def read_ledger(path):
    """The ledger's lines; every one must be whole."""
    with open(path, "rb") as ledger:
        data = ledger.read().decode()
    check(not data or data.endswith("\n"), f"the ledger ends in a torn line: {data[-200:]!r}")
    lines = data.splitlines()
    bad = [line for line in lines if not LEDGER_LINE.match(line)]
    check(not bad, f"ledger lines not whole: {bad}")
    return [line.split("\t") for line in lines]


class Serve:
    """One serve run on the bed's program host, its plan, ledger and
    notification socket."""

    def __init__(self, bed, cli, plan_lines, args=(), prog=None, folder=None):
        self.bed, self.cli = bed, cli
        self.prog = prog or bed.add_node("prog", [PROGRAM_ADDRESS + "/24"], default_route=True)
        self.folder = folder or bed.make_folder()
        self.plan = os.path.join(self.folder, "plan.csv")
        self.ledger = os.path.join(self.folder, "ledger")
        self.logfile = os.path.join(self.folder, "support.log")
        self.write_plan(plan_lines)
        notify_path = os.path.join(self.folder, f"notify-{len(os.listdir(self.folder))}")
        self.notify = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        self.notify.bind(notify_path)
        self.notify.settimeout(0.1)
        self.notes = []
        self.tessel = self.prog.start(
            ["env", f"NOTIFY_SOCKET={notify_path}", "sh", "-c", JOURNAL, "sh", cli, "serve", self.plan,
             "--ledger", self.ledger, "--logfile", self.logfile] + list(args), cwd=self.folder, name="serve")
        check(self.tessel.wait_udp_bound(67, timeout=5), f"serve did not bind port 67: {self.tessel.stderr.text()}")

    def write_plan(self, lines):
        with open(self.plan + ".new", "w", encoding="ascii") as plan:
            plan.write("".join(line + "\n" for line in lines))
        os.replace(self.plan + ".new", self.plan)

    def notifications(self):
        while True:
            try:
                self.notes.append(self.notify.recv(4096).decode())
            except (socket.timeout, BlockingIOError):
                return self.notes

    def lines(self):
        return read_ledger(self.ledger) if os.path.exists(self.ledger) else []

    def wait_ledger(self, predicate, timeout, what):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            self.notifications()  # the program never waits for a reader
            if predicate(self.lines()):
                return self.lines()
            check(self.tessel.running(), f"serve ended: {self.tessel.stderr.text()}")
            time.sleep(0.2)
        raise AssertionError(f"{what} not in the ledger within {timeout} s: {self.lines()}\n"
                             f"{self.tessel.stderr.text()}")

    def stop(self, number=signal.SIGTERM, limit=20):
        self.tessel.signal(number)
        code = self.tessel.wait(limit)
        check(code is not None, f"serve did not end within {limit} s of signal {number}")
        self.notifications()
        return code

    def status(self):
        result = run([self.cli, "status", self.plan, "--ledger", self.ledger, "--json"], check_rc=False)
        check(result.returncode == 0, f"status: {result.stderr}")
        rows = [json.loads(line) for line in result.stdout.splitlines()]
        return {row["serial"]: row for row in rows if "serial" in row}, rows[-1]["summary"]


def start_peer(bed, peer, node, serial, args=()):
    return node.start([peer, "--linger", "forever", "--interval", "1000", "--count", "0"] + list(args)
                      + ["--server", serial], name=f"peer-{serial[-2:]}")


def replies(process):
    return [(when, fields(text)) for when, text in process.stdout.snapshot()
            if text.startswith("REPLY") and fields(text)["ours"] == "1"]


def results(lines, serial):
    return [line[3] for line in lines if line[1] == serial]


def scenario_serve_run(bed, cli, peer):
    """A planned server reset twice is served twice; servers not in the plan
    are never answered; a reload during a job adds a server without cutting
    the job; a refused reload keeps the running plan; SIGTERM ends with 0.
    Notifications and journal priorities as under systemd."""
    first, added, stranger = "0A-1B-2C-00-0C-01", "0A-1B-2C-00-0C-02", "0A-1B-2C-00-0C-09"
    plan = ["serial,address", f"{first},10.77.0.241"]
    serve = Serve(bed, cli, plan, ["--test-only-backoff-divisor", "60"])
    nodes = {serial: bed.add_node(f"s{serial[-1]}") for serial in (first, added, stranger)}
    peers = {serial: start_peer(bed, peer, node, serial) for serial, node in nodes.items()}

    # The first job replies; the plan grows by one server during it.
    deadline = time.monotonic() + 40
    while not replies(peers[first]) and time.monotonic() < deadline:
        time.sleep(0.1)
    check(replies(peers[first]), f"{first} was not answered:\n{serve.tessel.stderr.text()}")
    serve.write_plan(plan + [f"{added},10.77.0.242"])
    reloaded = time.monotonic()
    serve.tessel.signal(signal.SIGHUP)
    serve.wait_ledger(lambda lines: results(lines, first) == ["stored"] and results(lines, added) == ["stored"],
                      90, "both servers stored")
    check(all(when > reloaded for when, _ in replies(peers[added])), "the added server was answered before the reload")

    # A refused plan: told with its line, the running plan kept.
    serve.write_plan(plan + [f"{added},10.77.0.242", "0A-1B-2C-00-0C-0O,10.77.0.243"])
    serve.tessel.signal(signal.SIGHUP)
    time.sleep(1.0)
    stderr = serve.tessel.stderr.text()
    check(f"{serve.plan}: line 4: not a serial number" in stderr and "the running plan of 2 servers is kept" in stderr,
          f"the refused reload was not told: {stderr}")

    # Reset: the server asks again from no address and is served again.
    peers[first].kill()
    nodes[first].run(["ip", "addr", "flush", "dev", "eth0"])
    again = start_peer(bed, peer, nodes[first], first)
    serve.wait_ledger(lambda lines: results(lines, first) == ["stored", "stored"], 60, f"{first} stored again")
    check(replies(again) and all(r["yiaddr"] == "10.77.0.241" for _, r in replies(again)), "reset server's replies")

    code = serve.stop()
    check(code == 0, f"exit status {code} after SIGTERM, not 0")
    check(not replies(peers[stranger]), "the server not in the plan was answered")
    stderr = serve.tessel.stderr.text()
    check(stderr.count(f"heard {stranger} 0.0.0.0 (not in the plan; not answered)") == 1,
          f"the stranger was not told once: {stderr}")
    # Under JOURNAL_STREAM every line carries its priority, and every job's
    # line names its server.
    lines = stderr.splitlines()
    check(lines and all(PRIORITY.match(line) for line in lines), f"lines without a priority: {lines}")
    stored = [line for line in lines if " stored (" in line]
    check(len(stored) == 3 and all(line.startswith(("<5>" + first, "<5>" + added)) for line in stored),
          f"job lines: {stored}")
    check(any(line.startswith("<3>") and "line 4" in line for line in lines), "the refusal is not an error line")
    notes = serve.notifications()
    check(notes and notes[0].startswith("READY=1\nSTATUS=1 planned, 0 served since start"), f"notifications: {notes}")
    check(any(n.startswith("RELOADING=1") for n in notes) and notes[-1] == "STOPPING=1", f"notifications: {notes}")
    check(any("STATUS=2 planned, 3 served since start, 0 in back-off" in n for n in notes), f"notifications: {notes}")
    serve.write_plan(plan + [f"{added},10.77.0.242"])
    rows, summary = serve.status()
    check(rows[first]["last"]["result"] == "stored" and rows[added]["last"]["stage"] == 5, f"status: {rows}")
    check(summary == {"planned": 2, "seen": 2, "never_seen": 0, "in_back_off": 0}, f"status summary: {summary}")
    log = [text for _, text in tessel_log.read(serve.logfile)]
    check(log[-1] == tessel_log.FOOTER, f"logfile end: {log[-3:]}")


def scenario_serve_backoff(bed, cli, peer):
    """Side by side: a server whose address another device answers on is
    refused at growing intervals, told once per back-off; SIGTERM during a
    job ends at a safe step with a truthful ledger; kill -9 at random
    moments never leaves a torn ledger line."""

    def growing(case_bed):
        serial, address = "0A-1B-2C-00-0D-01", "10.77.0.251"
        case_bed.add_node("holder", [address + "/24"])
        serve = Serve(case_bed, cli, [f"{serial},{address}"], ["--test-only-backoff-divisor", "6"])
        server = start_peer(case_bed, peer, case_bed.add_node("srv"), serial)
        lines = serve.wait_ledger(lambda lines: len(lines) >= 3, 120, "three refusals")
        rows, summary = serve.status()
        code = serve.stop()
        check(code == 0, f"exit status {code}")
        check([line[3] for line in lines[:3]] == ["address in use"] * 3, f"ledger: {lines}")
        check([line[6] for line in lines[:3]] == ["1", "2", "3"], f"strikes: {lines}")
        times = [tessel_time(line[0]) for line in lines[:3]]
        nexts = [tessel_time(line[7]) for line in lines[:3]]
        # 5 s, 10 s, 20 s: each job starts after its back-off has passed.
        for got, want in zip([n - t for t, n in zip(times, nexts)], (5, 10, 20)):
            check(abs(got - want) < 0.5, f"back-offs: {[n - t for t, n in zip(times, nexts)]}")
        check(times[1] >= nexts[0] and times[2] >= nexts[1], f"a job before its back-off passed: {lines}")
        check(times[2] - times[1] > times[1] - times[0] + 3, f"intervals did not grow: {times}")
        check(rows[serial]["back_off_until"] is not None and summary["in_back_off"] == 1, f"status: {rows}")
        told = serve.tessel.stderr.text().count(f"{serial} 0.0.0.0 asks; in back-off until")
        # Once per back-off, though it asks every second; the last one may
        # not have been asked in yet.
        check(told in (len(lines) - 1, len(lines)), f"told {told} times for {len(lines)} back-offs")
        sent = [text for _, text in server.stdout.snapshot() if text.startswith("SENT")]
        check(len(sent) > 3 * told, f"the server asked only {len(sent)} times")
        check(not replies(server), "the address in use was given")

    def stopped(case_bed):
        serial, address = "0A-1B-2C-00-0D-02", "10.77.0.252"
        serve = Serve(case_bed, cli, [f"{serial},{address}"])
        server = start_peer(case_bed, peer, case_bed.add_node("srv"), serial)
        deadline = time.monotonic() + 40
        while not replies(server) and time.monotonic() < deadline:
            time.sleep(0.1)
        check(replies(server), "no reply within 40 s")
        time.sleep(1.0)
        stamp = time.monotonic()
        code = serve.stop(signal.SIGTERM, 30)
        check(code == 0, f"exit status {code}, not 0")
        check(serve.tessel.ended - stamp <= 8.4 + 3.0, f"ended {serve.tessel.ended - stamp:.1f} s after SIGTERM")
        check(f"server {serial} may be restarting with" in serve.tessel.stderr.text(), "no state line")
        lines = serve.lines()
        check(len(lines) == 1 and lines[0][1] == serial and lines[0][3] == "interrupted after the reply"
              and int(lines[0][4]) >= 1 and lines[0][5].startswith("stopped on request"), f"ledger: {lines}")

    def killed(case_bed):
        serial, address = "0A-1B-2C-00-0D-03", "10.77.0.253"
        case_bed.add_node("holder", [address + "/24"])
        start_peer(case_bed, peer, case_bed.add_node("srv"), serial)
        prog, folder = None, None
        for round_ in range(4):
            serve = Serve(case_bed, cli, [f"{serial},{address}"], ["--test-only-backoff-divisor", "1000"],
                          prog=prog, folder=folder)
            prog, folder = serve.prog, serve.folder
            time.sleep(random.uniform(10.0, 20.0))
            serve.tessel.signal(signal.SIGKILL)
            check(serve.tessel.wait(5) is not None, "serve did not die")
            read_ledger(serve.ledger)
        check(len(read_ledger(serve.ledger)) >= 2, f"too few ledger lines: {read_ledger(serve.ledger)}")

    run_cases(bed, [("growing", growing), ("stopped", stopped), ("killed", killed)])


DHCLIENT = "/usr/sbin/dhclient"
BUSYBOX = "/usr/bin/busybox"
FORM_CGI = os.path.join(os.path.dirname(os.path.abspath(__file__)), "stock", "config_form.cgi")
# dhclient's script on the device: the bound address on its interface, and
# nothing else of the host touched (no resolv.conf, no routes).
DHCLIENT_SCRIPT = """#!/bin/sh
case "$reason" in
BOUND|RENEW|REBIND|REBOOT) ip addr flush dev "$interface"; ip addr add "$new_ip_address/24" dev "$interface" ;;
esac
exit 0
"""


def dhclient_device(bed, serial):
    """A device on the bed whose hardware address is `serial`, with busybox
    httpd and the form CGI as its web form (each call kept in its folder's
    calls/); and a function that starts its dhclient, a round at a time."""
    device = bed.add_node("dev")
    device.run(["ip", "link", "set", "eth0", "address", serial.replace("-", ":").lower()])
    folder = bed.make_folder()
    os.makedirs(os.path.join(folder, "www", "cgi-bin"))
    shutil.copy(FORM_CGI, os.path.join(folder, "www", "cgi-bin", "config.html"))
    with open(os.path.join(folder, "httpd.conf"), "w") as conf:
        conf.write("/cgi-bin:root:wxyz\n")
    device.start([BUSYBOX, "httpd", "-f", "-p", "80", "-h", os.path.join(folder, "www"), "-c",
                  os.path.join(folder, "httpd.conf")], name="busybox httpd")
    script = os.path.join(folder, "dhclient-script")
    with open(script, "w") as out:
        out.write(DHCLIENT_SCRIPT)
    os.chmod(script, 0o755)
    open(os.path.join(folder, "dhclient.conf"), "w").close()

    def dhclient(round_):
        return device.start([DHCLIENT, "-d", "-4", "-cf", os.path.join(folder, "dhclient.conf"), "-sf", script,
                             "-lf", os.path.join(folder, f"leases-{round_}"), "-pf",
                             os.path.join(folder, f"pid-{round_}"), "eth0"], name=f"dhclient-{round_}")

    return device, dhclient, folder


def scenario_serve_dhclient(bed, cli, peer):
    """A real DHCP client (ISC dhclient) on a device whose hardware address
    is a planned serial, with busybox httpd and the form CGI for its web
    form: one serve run gives it its address, stores it through the form,
    and after the device is reset (its address gone, dhclient started
    anew) serves it again."""
    del peer
    if not (os.access(DHCLIENT, os.X_OK) and os.access(BUSYBOX, os.X_OK)):
        raise Skip("dhclient or busybox is not installed")
    serial, address = "0A-1B-2C-00-0E-01", "10.77.0.245"
    serve = Serve(bed, cli, [f"{serial},{address}"], ["--test-only-backoff-divisor", "60"])
    device, dhclient, folder = dhclient_device(bed, serial)
    client = dhclient(1)
    serve.wait_ledger(lambda lines: results(lines, serial) == ["stored"], 90, "the device stored")
    check(address in device.run(["ip", "-4", "addr", "show", "dev", "eth0"]).stdout, "dhclient did not bind")
    time.sleep(2.0)
    client.kill()
    device.run(["ip", "addr", "flush", "dev", "eth0"])
    dhclient(2)
    serve.wait_ledger(lambda lines: results(lines, serial) == ["stored", "stored"], 90, "the device stored again")
    check(serve.stop() == 0, "serve did not end with 0")
    calls = sorted(os.listdir(os.path.join(folder, "calls")))
    check(len(calls) == 4, f"the form was stored {len(calls) // 2} times, not twice: {calls}")


def tessel_time(text):
    """Seconds of a ledger's UTC time."""
    return calendar.timegm(time.strptime(text[:19], "%Y-%m-%dT%H:%M:%S")) + int(text[20:23]) / 1000


SCENARIOS = {"serve_run": scenario_serve_run, "serve_backoff": scenario_serve_backoff,
             "serve_dhclient": scenario_serve_dhclient}

if __name__ == "__main__":
    sys.exit(main(SCENARIOS, sys.argv))
