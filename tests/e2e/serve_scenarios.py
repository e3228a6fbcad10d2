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
import stat
import subprocess
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

    def __init__(self, bed, cli, plan_lines, args=(), prog=None, folder=None, unread_notify=False):
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
        if unread_notify:
            # A service manager that never reads: its queue is full before
            # the program sends anything, and is never emptied.
            filler = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
            filler.setblocking(False)
            try:
                while True:
                    filler.sendto(b"X=1", notify_path)
            except BlockingIOError:
                pass
            filler.close()
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
        """The ledger's lines, those of a rotated ledger (".1") first."""
        return [line for path in (self.ledger + ".1", self.ledger) if os.path.exists(path)
                for line in read_ledger(path)]

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

    def timed_stop(self, state):
        """SIGTERM: the seconds until serve ended, printed; exit 0 within 5 s."""
        stamp = time.monotonic()
        code = self.stop(limit=10)
        took = self.tessel.ended - stamp
        print(f"    SIGTERM {state}: ended after {took:.2f} s", flush=True)
        check(code == 0 and took <= 5.0, f"{state}: exit status {code} {took:.2f} s after SIGTERM\n"
              f"{self.tessel.stderr.text()}")

    def status(self):
        result = run([self.cli, "status", self.plan, "--ledger", self.ledger, "--json"], check_rc=False)
        check(result.returncode == 0, f"status: {result.stderr}")
        rows = [json.loads(line) for line in result.stdout.splitlines()]
        return {row["serial"]: row for row in rows if "serial" in row}, rows[-1]["summary"]


LOGROTATE_CONF = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "packaging",
                              "tessel-serve.logrotate")


def logrotate(serve):
    """The package's logrotate file, run by the real logrotate on this run's
    logfile (its path and user put in): it renames the file and sends the
    hang-up to the main process systemd names, which a stand-in systemctl
    names here (the serve under test)."""
    check(shutil.which("logrotate"), "logrotate is not installed (scripts/setup installs it)")
    with open(LOGROTATE_CONF) as shipped:
        conf = shipped.read()
    check("/var/log/tessel/support.log {" in conf and "su tessel-serve tessel" in conf, "logrotate file changed")
    conf = conf.replace("/var/log/tessel/support.log", serve.logfile).replace("su tessel-serve tessel", "su root root")
    bin_folder = os.path.join(serve.folder, "bin")
    os.makedirs(bin_folder, exist_ok=True)
    with open(os.path.join(bin_folder, "systemctl"), "w") as systemctl:
        systemctl.write('#!/bin/sh\n[ "$*" = "show --property=MainPID --value tessel-serve.service" ] || exit 1\n'
                        f'echo {serve.tessel.pid}\n')
    os.chmod(os.path.join(bin_folder, "systemctl"), 0o755)
    with open(os.path.join(serve.folder, "logrotate.conf"), "w") as out:
        out.write(conf)
    result = subprocess.run(["logrotate", "--force", "--state", os.path.join(serve.folder, "logrotate.state"),
                             os.path.join(serve.folder, "logrotate.conf")], capture_output=True, text=True,
                            timeout=30, env=dict(os.environ, PATH=bin_folder + ":" + os.environ["PATH"]))
    check(result.returncode == 0 and os.path.exists(serve.logfile + ".1"), f"logrotate: {result.stderr}")


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
    the job, and after a rotation (logfile and ledger renamed) its lines go
    to the new files; a refused reload keeps the running plan; SIGTERM ends
    with 0. Notifications and journal priorities as under systemd."""
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
    # A rotation: the ledger renamed by hand, the logfile by the package's
    # logrotate file, whose hang-up opens both anew (and reads the plan).
    os.rename(serve.ledger, serve.ledger + ".1")
    reloaded = time.monotonic()
    logrotate(serve)
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

    # One serve at a time on a ledger: a second one is refused before it
    # listens (were it not, port 67 would be taken: 69).
    second_plan = os.path.join(serve.folder, "second.csv")
    with open(second_plan, "w") as out:
        out.write(f"{first},10.77.0.241\n")
    second = serve.prog.run([cli, "serve", second_plan, "--ledger", serve.ledger, "--logfile",
                             os.path.join(serve.folder, "second.log")], timeout=20)
    check(second.returncode == 75 and f"{serve.ledger} is in use by another tessel-cli serve (process "
          f"{serve.tessel.pid})" in second.stderr, f"a second serve: {second.returncode} {second.stderr}")

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
    # No ledger is not "never seen"; a device is not a ledger.
    for ledger, code in ((os.path.join(serve.folder, "none"), 6), ("/dev/zero", 66)):
        result = run([serve.cli, "status", serve.plan, "--ledger", ledger], check_rc=False)
        check(result.returncode == code and not result.stdout, f"status of {ledger}: {result.returncode} {result}")
    # After the rotation the added server's lines went to the new files only.
    log = [text for _, text in tessel_log.read(serve.logfile, dated=True)]
    rotated = [text for _, text in tessel_log.read(serve.logfile + ".1", dated=True)]
    check(log[-1] == tessel_log.FOOTER and rotated[0] == tessel_log.HEADER, f"logfile ends: {rotated[:1]} {log[-3:]}")
    reply = "Sent BOOTP/DHCP reply with desired IP-address 10.77.0.242."
    check(any(text.endswith(reply) for text in log) and not any(text.endswith(reply) for text in rotated),
          "the added server's reply was not logged in the new logfile alone")
    check(added in {line[1] for line in read_ledger(serve.ledger)}
          and added not in {line[1] for line in read_ledger(serve.ledger + ".1")},
          "the added server's lines are not in the new ledger alone")


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
        # A logfile on a full disk: told when it fails, once, and serving goes
        # on. A node of its own for the full device, so that no other test's
        # lock on /dev/full stands in the way.
        full = os.path.join(case_bed.make_folder(), "full")
        os.mknod(full, 0o666 | stat.S_IFCHR, os.makedev(1, 7))
        serve = Serve(case_bed, cli, [f"{serial},{address}"], ["--logfile", full])
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
        told = [line for line in serve.tessel.stderr.text().splitlines() if f"{full} cannot be written" in line]
        check(len(told) == 1 and told[0].startswith("<3>") and "No space left on device" in told[0],
              f"the full logfile was told: {told}")
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


BURST = os.path.join(os.path.dirname(os.path.abspath(__file__)), "burst.py")
PASSED_OVER = re.compile(r"^<6>(\d+) requests from (\d+) servers not in the plan in the last \d+ s; none answered$")


def scenario_serve_flood(bed, cli, peer):
    """1000 requests a second of servers not in the plan (new maker serials
    and other makers', each once) from serve's start on: the planned server
    is heard and stored while the flood goes on; the others are never
    answered, never listed and never written to the logfile, only the first
    16 are named and the rest told as one count at the stop."""
    serial, address = "0A-1B-2C-00-10-01", "10.77.0.246"
    serve = Serve(bed, cli, [f"{serial},{address}"])
    noise = bed.add_node("noise", ["10.77.0.5/24"])
    sender = noise.start(["/usr/bin/python3", BURST, "--rate", "1000", "--seconds", "120", "--mix", "maker,foreign",
                          "--avoid", serial], name="burst")
    check(sender.stdout.wait_for(lambda t: t == "BURST started", 5) is not None, "the flood did not start")
    server = start_peer(bed, peer, bed.add_node("srv"), serial)
    serve.wait_ledger(lambda lines: results(lines, serial) == ["stored"], 60, "the planned server stored")
    check(sender.running(), "the flood ended before the planned server was stored")
    check(serve.stop() == 0, "serve did not end with 0")
    sender.kill()
    check(replies(server) and all(r["yiaddr"] == address for _, r in replies(server)), "the planned server's replies")

    lines = serve.tessel.stderr.text().splitlines()
    named = [line for line in lines if line.endswith("(not in the plan; not answered)")]
    check(len(named) == 16, f"{len(named)} servers not in the plan named, not the first 16: {named}")
    counts = [PASSED_OVER.match(line) for line in lines if PASSED_OVER.match(line)]
    check(len(counts) == 1, f"not one count line at the stop: {lines[-6:]}")
    requests, servers = int(counts[0][1]), int(counts[0][2])
    # A new serial each time, but 24 random bits of the maker's repeat now and then.
    check(requests > 10000 and requests * 0.98 < servers <= requests,
          f"passed over: {requests} requests from {servers} servers")
    # Nothing of theirs in the logfile: every request block there is the
    # planned server's, and it is the only server listed.
    log = [text for _, text in tessel_log.read(serve.logfile, dated=True)]
    serials = {text for text in log if text.startswith("Serialnumber ")}
    check(serials == {f"Serialnumber {serial}."}, f"other servers in the logfile: {sorted(serials)[:5]}")
    received = sum(text.startswith(tessel_log.RECEIVED) for text in log)
    check(received < 100, f"{received} requests written to the logfile")


def wait_replies(process, count, timeout, what):
    deadline = time.monotonic() + timeout
    while len(replies(process)) < count and time.monotonic() < deadline:
        time.sleep(0.1)
    check(len(replies(process)) >= count, f"{what}: {len(replies(process))} replies within {timeout} s")
    return replies(process)


def scenario_serve_stops(bed, cli, peer):
    """Nothing holds a stop: SIGTERM ends serve with 0 within 5 s with a
    notification socket whose queue is full and never read (from the start
    on), after its plan was replaced by a FIFO and reloaded, during the
    start-up note, while idle, and while a job waits after its reply. A FIFO
    plan is refused at the start too. Each stop's time is printed."""

    def unread_notify(case_bed):
        serve = Serve(case_bed, cli, ["0A-1B-2C-00-0F-01,10.77.0.231"], unread_notify=True)
        time.sleep(1.0)
        serve.tessel.signal(signal.SIGHUP)  # RELOADING=1 and READY=1 into the full queue
        time.sleep(1.0)
        check(serve.tessel.running(), f"serve ended: {serve.tessel.stderr.text()}")
        serve.timed_stop("notify queue full and never read")

    def fifo_plan(case_bed):
        serve = Serve(case_bed, cli, ["0A-1B-2C-00-0F-02,10.77.0.232"])
        os.remove(serve.plan)
        os.mkfifo(serve.plan)
        serve.tessel.signal(signal.SIGHUP)
        check(serve.tessel.stderr.wait_for(lambda text: "is a pipe (FIFO), not a regular file" in text, 5),
              f"the FIFO was not refused: {serve.tessel.stderr.text()}")
        serve.timed_stop("plan replaced by a FIFO, reloaded")
        started = serve.prog.start([cli, "serve", serve.plan, "--ledger", serve.ledger], name="serve-fifo")
        code = started.wait(5)
        check(code == 65 and "is a pipe (FIFO)" in started.stderr.text(),
              f"a FIFO plan at the start: {code} {started.stderr.text()}")

    def ordinary(case_bed):
        serial = "0A-1B-2C-00-0F-03"
        serve = Serve(case_bed, cli, [f"{serial},10.77.0.233"])
        time.sleep(1.0)
        serve.timed_stop("during the start-up note")
        serve = Serve(case_bed, cli, [f"{serial},10.77.0.233"], prog=serve.prog, folder=serve.folder)
        time.sleep(10.0)
        serve.timed_stop("idle")
        serve = Serve(case_bed, cli, [f"{serial},10.77.0.233"], prog=serve.prog, folder=serve.folder)
        server = start_peer(case_bed, peer, case_bed.add_node("srv"), serial)
        wait_replies(server, 1, 40, "the job's reply")
        time.sleep(1.0)
        serve.timed_stop("a job waiting after its reply")
        # The stage it had reached, not one the shortened waits raced on to.
        lines = serve.lines()
        check([line[3:5] for line in lines] == [["interrupted after the reply", "1"]], f"ledger: {lines}")

    run_cases(bed, [("unread_notify", unread_notify), ("fifo_plan", fifo_plan), ("ordinary", ordinary)])


def scenario_serve_changes(bed, cli, peer):
    """What changes under a running serve: a server that already has its
    planned address and keeps asking is told once, without strikes; a plan
    line given another address is served at once, its old back-off gone; an
    --interface missing at the start is waited for, and once deleted and made
    anew (another index, another address) heard again, the reply carrying
    the address the interface has then."""

    def holding(case_bed):
        serial, address = "0A-1B-2C-00-10-01", "10.77.0.221"
        serve = Serve(case_bed, cli, [f"{serial},{address}"], ["--test-only-backoff-divisor", "6"])
        start_peer(case_bed, peer, case_bed.add_node("srv", [address + "/24"]), serial, ["--from", address])
        serve.wait_ledger(lambda lines: results(lines, serial) == ["already set"], 30, "already set")
        # Asking every second past its (shortened) minute after the job:
        # each ask was a strike, a warning and a ledger line.
        time.sleep(15.0)
        check(results(serve.lines(), serial) == ["already set"], f"ledger: {serve.lines()}")
        check(serve.stop() == 0, f"exit status after SIGTERM: {serve.tessel.stderr.text()}")
        told = [line for line in serve.tessel.stderr.text().splitlines() if serial in line]
        check(len(told) == 2 and "already set" in told[1], f"told more than once: {told}")

    def changed(case_bed):
        serial, taken, other = "0A-1B-2C-00-10-02", "10.77.0.222", "10.77.0.223"
        for index, address in enumerate((taken, other)):
            case_bed.add_node(f"holder{index}", [address + "/24"])
        serve = Serve(case_bed, cli, [f"{serial},{taken}"])
        start_peer(case_bed, peer, case_bed.add_node("srv"), serial)
        serve.wait_ledger(lambda lines: results(lines, serial) == ["address in use"], 40, "the first refusal")
        # 30 s of back-off for that address; the new one is tried at once.
        serve.write_plan([f"{serial},{other}"])
        reloaded = time.monotonic()
        serve.tessel.signal(signal.SIGHUP)
        lines = serve.wait_ledger(lambda lines: len(results(lines, serial)) == 2, 25, "the new address tried")
        check(time.monotonic() - reloaded < 15 and lines[-1][2] == other, f"ledger: {lines}")
        check(serve.stop() == 0, f"exit status after SIGTERM: {serve.tessel.stderr.text()}")

    def interface(case_bed):
        first, second, off = "0A-1B-2C-00-10-03", "0A-1B-2C-00-10-04", "0A-1B-2C-00-10-05"
        case_bed.add_bridge("br1")
        serve = Serve(case_bed, cli, [f"{first},10.78.0.51", f"{second},10.78.0.52", f"{off},10.77.0.225"],
                      ["--interface", "eth1"])
        check(serve.tessel.stderr.wait_for(lambda text: "no interface eth1 here" in text, 5),
              f"the missing interface was not told: {serve.tessel.stderr.text()}")
        # A planned server whose requests arrive on eth0 is never heard.
        start_peer(case_bed, peer, case_bed.add_node("off"), off)
        case_bed.add_interface(serve.prog, "eth1", ["10.78.0.1/24"], "br1")
        server = start_peer(case_bed, peer, case_bed.add_node("srv1", bridge="br1"), first)
        check([r["siaddr"] for _, r in wait_replies(server, 1, 30, first)] == ["10.78.0.1"],
              f"replies: {replies(server)}")
        # Made anew: another index, another address.
        serve.prog.run(["ip", "link", "del", "eth1"])
        case_bed.add_interface(serve.prog, "eth1", ["10.78.0.2/24"], "br1")
        again = start_peer(case_bed, peer, case_bed.add_node("srv2", bridge="br1"), second)
        check([r["siaddr"] for _, r in wait_replies(again, 1, 15, second)] == ["10.78.0.2"],
              f"replies: {replies(again)}")
        check(serve.stop() == 0, f"exit status after SIGTERM: {serve.tessel.stderr.text()}")
        told = serve.tessel.stderr.text()
        check(f"heard {off}" not in told, f"heard off its interface: {told}")
        # Deleted and made anew within one look, it may never be seen gone.
        check(told.count("no interface eth1 here") in (1, 2) and told.count("interface eth1 is here (10.78.0.") == 2,
              f"the interface's comings and goings: {told}")

    run_cases(bed, [("holding", holding), ("changed", changed), ("interface", interface)])


def tessel_time(text):
    """Seconds of a ledger's UTC time."""
    return calendar.timegm(time.strptime(text[:19], "%Y-%m-%dT%H:%M:%S")) + int(text[20:23]) / 1000


SCENARIOS = {"serve_run": scenario_serve_run, "serve_backoff": scenario_serve_backoff,
             "serve_dhclient": scenario_serve_dhclient, "serve_flood": scenario_serve_flood,
             "serve_stops": scenario_serve_stops, "serve_changes": scenario_serve_changes}

if __name__ == "__main__":
    sys.exit(main(SCENARIOS, sys.argv))
