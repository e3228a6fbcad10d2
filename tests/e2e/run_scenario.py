#!/usr/bin/python3
"""End-to-end scenarios of Tessel's server discovery, one per run:

    run_scenario.py SCENARIO TESSEL_CLI TESSEL_PEER

The program (`tessel-cli list`) runs in its own namespace at 10.77.0.1;
simulated servers (`tessel-peer`) broadcast from other namespaces on the same
bridge. Each scenario checks the rows the program lists and its logfile line
by line. Exit status 0 passed, 1 failed, 77 skipped (no root or namespaces).
"""

import os
import re
import shutil
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import tessel_log  # noqa: E402
from testbed import (FACTORY_DEFAULT, PROGRAM_ADDRESS, Failure, check, main,  # noqa: E402
                     program_command)

PYTHON = "/usr/bin/python3"
HERE = os.path.dirname(os.path.abspath(__file__))
SINK = os.path.join(HERE, "bootp_sink.py")

START_NOTE_SECONDS = 8.9   # the program's start-up note; requests wait in the socket
STOP_LIMIT_SECONDS = 3.0   # a stop while the receive blocks must end the program sooner
EXIT_UNAVAILABLE = 69
ROW = re.compile(r"^([0-9A-F]{2}(?:-[0-9A-F]{2}){5}) (\d{1,3}(?:\.\d{1,3}){3})$")
FIELD = re.compile(r"(\w+)=(\S*)")


def fields(line):
    """The key=value pairs of one peer output line, with its keyword as 'kind'."""
    result = dict(FIELD.findall(line))
    result["kind"] = line.split(" ", 1)[0]
    return result


def peer_lines(process, kind):
    return [fields(text) for _, text in process.stdout.snapshot() if text.startswith(kind + " ")]


def run_peer(node, peer, args, timeout=15):
    """Runs one tessel-peer to its end; it must succeed. Its servers only
    ask: a reply does not restart them (a restarted server runs until
    stopped, and would take the stand-in's addresses)."""
    process = node.start([peer, "--linger", "0", "--ignore-replies"] + list(args),
                         name="tessel-peer")
    code = process.wait(timeout)
    check(code == 0, f"tessel-peer in {node.namespace} ended with {code}:\n"
          f"{process.stderr.text()}")
    return process


class Program:
    """One run of `tessel-cli list` in the program's namespace."""

    def __init__(self, node, cli, args, workdir):
        self.workdir = workdir
        self.process = node.start(program_command(cli, node) + ["list"] + list(args), cwd=workdir,
                                  name="tessel-cli")
        self.started = self.process.started
        self.stop_sent = None

    def wait_bound(self):
        if not self.process.wait_udp_bound(67, timeout=5):
            code = self.process.wait(1)
            raise Failure(f"tessel-cli did not bind UDP port 67 (exit {code}):\n"
                          f"{self.process.stderr.text()}")

    def elapsed(self):
        return time.monotonic() - self.started

    def sleep_until(self, seconds):
        delay = self.started + seconds - time.monotonic()
        if delay > 0:
            time.sleep(delay)

    def wait_row(self, serial, timeout):
        entry = self.process.stdout.wait_for(
            lambda text: (m := ROW.match(text)) is not None and m.group(1) == serial, timeout)
        check(entry is not None, f"{serial} was not listed within {timeout:.1f} s")
        return entry[0] - self.started

    def rows(self, before=None):
        """(serial, address, seconds after start) of the listing lines printed
        before the stop, so that the closing summary is not taken for rows."""
        limit = before if before is not None else (self.stop_sent or float("inf"))
        rows = []
        for when, text in self.process.stdout.snapshot():
            match = ROW.match(text)
            if match and when < limit:
                rows.append((match.group(1), match.group(2), when - self.started))
        return rows

    def stop(self, number):
        """Sends the signal; returns (exit status, seconds to exit)."""
        self.stop_sent = time.monotonic()
        self.process.signal(number)
        code = self.process.wait(10)
        check(code is not None, f"tessel-cli did not end within 10 s of {number.name}")
        return code, self.process.ended - self.stop_sent

    def check_rows(self, expected, before=None):
        actual = [(serial, address) for serial, address, _ in self.rows(before)]
        check(actual == expected, f"listed rows differ:\n  expected {expected}\n"
              f"  actual   {actual}")

    def log(self, name):
        return tessel_log.read(os.path.join(self.workdir, name))


def program_node(bed):
    return bed.add_node("prog", [PROGRAM_ADDRESS + "/24"], default_route=True)


# --------------------------------------------------------------------------
# The peer and the bed themselves, against a stand-in for the program.

def _scan_vendor_class(data):
    """The maker's pattern: 43 at p, 42 at p+2, 'T' at p+8, class at p+10."""
    for p in range(236, 492):
        if p > 236 and data[p] == 255:
            return None
        if p + 11 < len(data) and data[p] == 43 and data[p + 2] == 42 and data[p + 8] == ord("T"):
            return data[p + 10:p + 12].decode("latin-1")
    return None


def _check_request(data, mac, xid, length, requested=None, vendor=None, op=1):
    label = f"request of {mac}"
    check(len(data) == length, f"{label}: {len(data)} bytes, not {length}")
    if length == 0:
        return
    check(data[0] == op, f"{label}: op {data[0]}, not {op}")
    check(data[1:4] == bytes([1, 6, 0]), f"{label}: htype/hlen/hops {data[1:4].hex()}")
    check(data[4:8].hex().upper() == xid[2:], f"{label}: xid {data[4:8].hex()} not {xid}")
    check(data[8:28] == bytes(20), f"{label}: secs..giaddr not zero")
    check(data[28:34].hex("-").upper() == mac, f"{label}: chaddr {data[28:34].hex('-')}")
    check(data[34:236] == bytes(202), f"{label}: chaddr tail, sname or file not zero")
    check(data[236:240] == bytes([99, 130, 83, 99]), f"{label}: no DHCP cookie")
    # The options, walked by their lengths as a DHCP server would.
    options, p = {}, 240
    while p < len(data) and data[p] != 255:
        if data[p] == 0:
            p += 1
            continue
        check(p + 1 < len(data), f"{label}: option {data[p]} cut short")
        options[data[p]] = data[p + 2:p + 2 + data[p + 1]]
        p += 2 + data[p + 1]
    check(p < len(data), f"{label}: no end option")
    check(data[p + 1:] == bytes(len(data) - p - 1), f"{label}: padding after end is not zero")
    check(options.get(53) == b"\x01", f"{label}: option 53 is {options.get(53)!r}")
    want50 = bytes(int(x) for x in requested.split(".")) if requested else None
    check(options.get(50) == want50, f"{label}: option 50 {options.get(50)!r} not {want50!r}")
    check((43 in options) == (vendor is not None), f"{label}: option 43 presence wrong")
    check(_scan_vendor_class(data) == vendor,
          f"{label}: vendor class {_scan_vendor_class(data)!r} not {vendor!r}")


def scenario_peer_selftest(bed, _cli, peer):
    """tessel-peer sends what servers send and reports what it hears: checked
    byte by byte by a stand-in on port 67 that also answers each request."""
    # Refused outside a namespace, and before any socket is opened.
    host = subprocess.run([peer, "--server", "0A-1B-2C-00-00-01"], capture_output=True,
                          text=True, timeout=10)
    check(host.returncode == EXIT_UNAVAILABLE and "namespace" in host.stderr,
          f"peer in the machine's own namespace: {host.returncode} {host.stderr!r}")
    bad = subprocess.run([peer, "--server", "0A-1B-2C-00-00"], capture_output=True, timeout=10)
    check(bad.returncode == 64, f"bad MAC gives {bad.returncode}, not 64")

    prog = program_node(bed)
    sink = prog.start([PYTHON, SINK], name="sink")
    check(sink.stdout.wait_for(lambda t: t == "LISTENING", 5) is not None,
          f"sink did not start: {sink.stderr.text()}")
    a = bed.add_node("a")
    b = bed.add_node("b", [FACTORY_DEFAULT + "/24", "10.77.0.21/24"])
    c = bed.add_node("c", ["10.77.0.22/24"])

    # A source the interface does not have is refused, not silently replaced.
    for source in ("0.0.0.0", "10.9.9.9"):
        wrong = b.start([peer, "--from", source, "--server", "0A-1B-2C-00-00-0F"])
        check(wrong.wait(5) == EXIT_UNAVAILABLE, f"--from {source} on an interface without it "
              f"was not refused: {wrong.stderr.text()}")

    pa = run_peer(a, peer, [
        "--from", "0.0.0.0", "--interval", "300", "--linger", "1",
        "--server", "0A-1B-2C-00-00-01", "--requested", "10.0.0.7", "--count", "2",
        "--server", "0A-1B-2D-00-00-02", "--no-vendor", "--length", "548",
        "--server", "00-11-22-33-44-55", "--class", "Ps",
        "--server", "0a:1b:2c:00:00:09", "--length", "0",
        "--server", "0A-1B-2C-00-00-0A", "--length", "3000",
        "--server", "0A-1B-2C-00-00-0B", "--op", "2"])
    pb = run_peer(b, peer, ["--linger", "1",
                            "--server", "0A-1B-2C-00-00-03", "--from", "factory",
                            "--server", "0A-1B-2C-00-00-04", "--from", "10.77.0.21",
                            "--class", "XX", "--xid", "DEADBEEF"])
    # Two peers side by side in one namespace share the client port and both
    # hear every reply; the first sends again once the second listens.
    pc1 = c.start([peer, "--ignore-replies", "--interval", "700", "--count", "2", "--linger", "2",
                   "--server", "0A-1B-2C-00-00-05"], name="tessel-peer")
    check(pc1.stdout.wait_for(lambda t: t.startswith("READY"), 5) is not None, "peer c1 not ready")
    pc2 = c.start([peer, "--ignore-replies", "--linger", "2", "--server", "0A-1B-2C-00-00-06"], name="tessel-peer")
    for process in (pc1, pc2):
        check(process.wait(10) == 0, f"peer in c ended badly: {process.stderr.text()}")

    sent = {}
    for process in (pa, pb, pc1, pc2):
        for line in peer_lines(process, "SENT"):
            sent.setdefault(line["mac"], line["xid"])
    check(len(set(sent.values())) == len(sent), f"servers share an xid: {sent}")
    check(sent["0A-1B-2C-00-00-04"] == "0xDEADBEEF", "given xid not used")

    dgrams = [t.split(" ") for _, t in sink.stdout.snapshot() if t.startswith("DGRAM ")]
    got = [(d[1], int(d[2]), bytes.fromhex(d[4]) if len(d) > 4 else b"") for d in dgrams]
    wanted = [  # (source, mac, length, requested, vendor, op), in sending order
        ("0.0.0.0", "0A-1B-2C-00-00-01", 300, "10.0.0.7", "PS", 1),
        ("0.0.0.0", "0A-1B-2D-00-00-02", 548, None, None, 1),
        ("0.0.0.0", "00-11-22-33-44-55", 300, None, "Ps", 1),
        ("0.0.0.0", "0A-1B-2C-00-00-09", 0, None, "PS", 1),
        ("0.0.0.0", "0A-1B-2C-00-00-0A", 3000, None, "PS", 1),
        ("0.0.0.0", "0A-1B-2C-00-00-0B", 300, None, "PS", 2),
        ("0.0.0.0", "0A-1B-2C-00-00-01", 300, "10.0.0.7", "PS", 1),
        (FACTORY_DEFAULT, "0A-1B-2C-00-00-03", 300, None, "PS", 1),
        ("10.77.0.21", "0A-1B-2C-00-00-04", 300, None, "XX", 1),
        ("10.77.0.22", "0A-1B-2C-00-00-05", 300, None, "PS", 1),
        ("10.77.0.22", "0A-1B-2C-00-00-06", 300, None, "PS", 1),
        ("10.77.0.22", "0A-1B-2C-00-00-05", 300, None, "PS", 1),
    ]
    check(len(got) == len(wanted), f"stand-in received {len(got)} datagrams, not {len(wanted)}")
    for (source, port, data), (w_source, mac, length, requested, vendor, op) in zip(got, wanted):
        check(source == w_source and port == 68, f"{mac} came from {source}:{port}")
        _check_request(data, mac, sent[mac], length, requested, vendor, op)

    # The stand-in answered every request of 240 bytes or more, in order,
    # with yiaddr 10.77.0.(100 + n).
    answered = []
    for n, mac in enumerate(w[1] for w in wanted if w[2] >= 240 and w[5] == 1):
        answered.append((mac, f"10.77.0.{100 + n}"))
        if mac.endswith("-02"):
            answered.append((mac, "10.77.0.99"))  # the stand-in's odd reply
    own = {process: {line["mac"] for line in peer_lines(process, "SENT")}
           for process in (pa, pb, pc1, pc2)}
    for process in (pa, pb, pc1, pc2):
        replies = peer_lines(process, "REPLY")
        mine = [(r["mac"], r["yiaddr"]) for r in replies if r["ours"] == "1"]
        check(mine == [x for x in answered if x[0] in own[process]],
              f"peer with {sorted(own[process])} heard its replies as {mine}")
        for reply in replies:
            check(reply["ours"] == ("1" if reply["mac"] in own[process] else "0"),
                  f"reply for {reply['mac']} marked ours={reply['ours']}")
            expected = {"from": f"{PROGRAM_ADDRESS}:67", "len": "512", "op": "2",
                        "siaddr": PROGRAM_ADDRESS, "sname": "testbed-host", "sname_nul": "1",
                        "cookie": "dhcp", "end": "492", "ciaddr": "0.0.0.0"}
            if reply["yiaddr"] == "10.77.0.99":
                expected.update({"sname": "x" * 64, "sname_nul": "0", "end": "-1"})
            wrong = {k: reply.get(k) for k, v in expected.items() if reply.get(k) != v}
            check(not wrong, f"reply fields wrong: {wrong}")
            if reply["ours"] == "1":
                check(reply["xid"] == sent[reply["mac"]], f"reply xid {reply['xid']} for "
                      f"{reply['mac']} is not its request's")
        others = [(o["len"], o["op"]) for o in peer_lines(process, "OTHER")]
        check(others == ([("100", "2")] if process is pa else []),
              f"the short datagram was not reported once as OTHER: {others}")
        done = peer_lines(process, "DONE")
        check(done and done[0]["replies"] == str(len(replies)), f"DONE line wrong: {done}")
    c1_heard = {r["mac"] for r in peer_lines(pc1, "REPLY")}
    c2_heard = {r["mac"] for r in peer_lines(pc2, "REPLY")}
    check({"0A-1B-2C-00-00-05", "0A-1B-2C-00-00-06"} <= c1_heard & c2_heard,
          f"peers side by side did not both hear both replies: {c1_heard} / {c2_heard}")


# --------------------------------------------------------------------------
# The program's discovery.

def scenario_listing(bed, cli, peer):
    """Default mode, ended by --seconds: both maker prefixes listed, a foreign
    prefix dropped, 0.0.0.0 with and without option 50, the factory default,
    a listed server coming back from another address; all requests sent
    during the start-up note are handled after it, in order."""
    seconds = 15
    prog = program_node(bed)
    a = bed.add_node("a")
    b = bed.add_node("b", [FACTORY_DEFAULT + "/24"])
    c = bed.add_node("c", ["10.77.0.20/24"])
    folder = bed.make_folder()
    with open(os.path.join(folder, tessel_log.DEFAULT_NAME), "wb") as stale:
        stale.write(b"left from an earlier run\r\n")
    tessel = Program(prog, cli, ["--seconds", str(seconds)], folder)
    tessel.wait_bound()

    pa = run_peer(a, peer, ["--from", "0.0.0.0",
                            "--server", "0A-1B-2C-00-00-01", "--requested", "10.0.0.7",
                            "--server", "0A-1B-2D-00-00-02",
                            "--server", "00-11-22-33-44-55"])
    pb = run_peer(b, peer, ["--from", "factory", "--server", "0A-1B-2C-00-00-03"])
    last_sent = max(t for p in (pa, pb) for t, text in p.stdout.snapshot()
                    if text.startswith("SENT"))
    check(last_sent - tessel.started < START_NOTE_SECONDS - 1,
          f"the bed was too slow: requests went out {last_sent - tessel.started:.1f} s "
          "after start, not during the start-up note")
    for serial in ("0A-1B-2C-00-00-01", "0A-1B-2D-00-00-02", "0A-1B-2C-00-00-03"):
        at = tessel.wait_row(serial, seconds - 3 - tessel.elapsed())
        check(at >= START_NOTE_SECONDS - 0.05,
              f"{serial} was listed {at:.2f} s after start, during the start-up note")

    run_peer(c, peer, ["--server", "0A-1B-2C-00-00-01",
                       "--server", "0A-1B-2C-00-00-04", "--requested", "10.0.0.9"])
    tessel.wait_row("0A-1B-2C-00-00-04", seconds - 1 - tessel.elapsed())

    code = tessel.process.wait(START_NOTE_SECONDS + seconds + 10)
    check(code == 0, f"tessel-cli ended with {code}, not 0")
    # --seconds counts the hearing only: from the end of the start-up note.
    ran = tessel.process.ended - tessel.started
    check(START_NOTE_SECONDS + seconds - 0.5 <= ran <= START_NOTE_SECONDS + seconds + 3,
          f"--seconds {seconds} ran {ran:.1f} s")
    tessel.check_rows([("0A-1B-2C-00-00-01", "10.0.0.7"), ("0A-1B-2D-00-00-02", "0.0.0.0"),
                       ("0A-1B-2C-00-00-03", FACTORY_DEFAULT),
                       ("0A-1B-2C-00-00-04", "10.77.0.20")],
                      before=tessel.started + seconds - 0.3)

    expected = tessel_log.Expected()
    expected.listed("0.0.0.0", "0A-1B-2C-00-00-01", found="10.0.0.7")
    expected.listed("0.0.0.0", "0A-1B-2D-00-00-02")
    expected.foreign("0.0.0.0", "00-11-22-33-44-55")
    expected.listed(FACTORY_DEFAULT, "0A-1B-2C-00-00-03")
    expected.known("10.77.0.20", "0A-1B-2C-00-00-01")
    expected.listed("10.77.0.20", "0A-1B-2C-00-00-04")
    entries = tessel.log(tessel_log.DEFAULT_NAME)
    tessel_log.check_run(entries, expected)
    # Time stamps have whole seconds: the first request handled must stand at
    # least 8 s after the header to have waited for the note.
    first = entries[2 + expected.marks[0][0]][0]
    check((first - entries[0][0]) % 86400 >= int(START_NOTE_SECONDS),
          "the first request was logged less than 8 s after start")


def scenario_all_prefixes(bed, cli, peer):
    """--all lists foreign prefixes too; ended by SIGTERM."""
    prog = program_node(bed)
    d = bed.add_node("d", ["10.77.0.30/24"])
    folder = bed.make_folder()
    tessel = Program(prog, cli, ["--all", "--seconds", "60", "--logfile",
                                 os.path.join(folder, "all.log")], folder)
    tessel.wait_bound()
    run_peer(d, peer, ["--server", "00-11-22-33-44-55",
                       "--server", "0A-1B-2C-00-00-10",
                       "--server", "12-34-56-78-9A-BC", "--no-vendor"])
    tessel.wait_row("12-34-56-78-9A-BC", 15)
    time.sleep(0.3)
    code, took = tessel.stop(signal.SIGTERM)
    check(code == 128 + signal.SIGTERM, f"tessel-cli ended with {code} after SIGTERM")
    check(took < STOP_LIMIT_SECONDS, f"SIGTERM took {took:.2f} s")
    tessel.check_rows([("00-11-22-33-44-55", "10.77.0.30"), ("0A-1B-2C-00-00-10", "10.77.0.30"),
                       ("12-34-56-78-9A-BC", "10.77.0.30")])
    expected = tessel_log.Expected()
    for serial in ("00-11-22-33-44-55", "0A-1B-2C-00-00-10", "12-34-56-78-9A-BC"):
        expected.listed("10.77.0.30", serial)
    tessel_log.check_run(tessel.log("all.log"), expected)
    check(not os.path.exists(os.path.join(folder, tessel_log.DEFAULT_NAME)),
          "--logfile given, yet the default logfile was written too")


def scenario_print_servers_only(bed, cli, peer):
    """--print-servers-only: no vendor pattern, or a class other than "PS"
    (also "Ps"), is not a print server; the first "PS" writes "This is a print
    server" and is listed, later ones are listed without it. As in the
    installer's mode the class decides, not the maker: a foreign "PS" is
    listed too."""
    prog = program_node(bed)
    e = bed.add_node("e", ["10.77.0.40/24"])
    folder = bed.make_folder()
    tessel = Program(prog, cli, ["--print-servers-only", "--seconds", "60",
                                 "--logfile", os.path.join(folder, "ps.log")], folder)
    tessel.wait_bound()
    run_peer(e, peer, ["--server", "0A-1B-2C-00-00-20", "--no-vendor",
                       "--server", "0A-1B-2C-00-00-21", "--class", "Ps",
                       "--server", "0A-1B-2D-00-00-22", "--class", "XX",
                       "--server", "0A-1B-2C-00-00-23",
                       "--server", "0A-1B-2D-00-00-24", "--length", "548",
                       "--requested", "10.0.0.8",
                       "--server", "0A-1B-2C-00-00-25", "--no-vendor",
                       "--server", "00-11-22-33-44-66"])
    tessel.wait_row("00-11-22-33-44-66", 15)
    time.sleep(0.5)
    code, _ = tessel.stop(signal.SIGTERM)
    check(code == 128 + signal.SIGTERM, f"tessel-cli ended with {code} after SIGTERM")
    tessel.check_rows([("0A-1B-2C-00-00-23", "10.77.0.40"), ("0A-1B-2D-00-00-24", "10.77.0.40"),
                       ("00-11-22-33-44-66", "10.77.0.40")])
    source = "10.77.0.40"
    expected = tessel_log.Expected()
    expected.not_print_server(source, "0A-1B-2C-00-00-20")
    expected.not_print_server(source, "0A-1B-2C-00-00-21")
    expected.not_print_server(source, "0A-1B-2D-00-00-22")
    expected.listed(source, "0A-1B-2C-00-00-23", first_print_server=True)
    expected.listed(source, "0A-1B-2D-00-00-24")
    expected.not_print_server(source, "0A-1B-2C-00-00-25")
    expected.listed(source, "00-11-22-33-44-66")
    tessel_log.check_run(tessel.log("ps.log"), expected)


def scenario_odd_datagrams(bed, cli, peer):
    """Datagrams that are not whole requests: empty, longer than the receive
    buffer (by 1 byte and by far), exactly the buffer's size, and op 2. The
    loop logs each and goes on; none of the faulty ones is listed."""
    prog = program_node(bed)
    f = bed.add_node("f", ["10.77.0.50/24"])
    folder = bed.make_folder()
    tessel = Program(prog, cli, ["--seconds", "60", "--logfile",
                                 os.path.join(folder, "odd.log")], folder)
    tessel.wait_bound()
    tessel.sleep_until(START_NOTE_SECONDS + 0.4)  # the loop now waits in the receive
    run_peer(f, peer, ["--server", "0A-1B-2C-00-00-30",
                       "--server", "0A-1B-2C-00-00-31", "--length", "0",
                       "--server", "0A-1B-2C-00-00-32", "--length", "3000",
                       "--server", "0A-1B-2C-00-00-33", "--length", "2049",
                       "--server", "0A-1B-2C-00-00-34", "--length", "2048",
                       "--server", "0A-1B-2C-00-00-35", "--op", "2",
                       "--server", "0A-1B-2C-00-00-36"])
    tessel.wait_row("0A-1B-2C-00-00-36", 10)
    time.sleep(0.5)
    code, _ = tessel.stop(signal.SIGINT)
    check(code == 128 + signal.SIGINT, f"tessel-cli ended with {code} after SIGINT")
    source = "10.77.0.50"
    tessel.check_rows([("0A-1B-2C-00-00-30", source), ("0A-1B-2C-00-00-34", source),
                       ("0A-1B-2C-00-00-36", source)])
    expected = tessel_log.Expected()
    expected.listed(source, "0A-1B-2C-00-00-30")
    expected.empty(source)
    expected.receive_error(source, "3000 bytes")
    expected.receive_error(source, "2049 bytes")
    expected.listed(source, "0A-1B-2C-00-00-34")
    expected.not_request(source)
    expected.listed(source, "0A-1B-2C-00-00-36")
    tessel_log.check_run(tessel.log("odd.log"), expected)


def scenario_stop_while_blocked(bed, cli, peer):
    """SIGINT while the loop waits in its receive ends the program promptly,
    with the stop in the logfile and a summary beside the rows. Ctrl+C during
    the start-up note must not wait for the note either."""
    prog = program_node(bed)
    g = bed.add_node("g", ["10.77.0.60/24"])
    folder = bed.make_folder()

    early = Program(prog, cli, ["--seconds", "60", "--logfile",
                                os.path.join(folder, "early.log")], folder)
    early.wait_bound()
    time.sleep(1.5)
    code, took = early.stop(signal.SIGINT)
    print(f"stop_while_blocked: SIGINT during the start-up note to exit {took:.3f} s")
    check(code == 128 + signal.SIGINT, f"SIGINT during the note: exit {code}")
    check(took < STOP_LIMIT_SECONDS, f"SIGINT during the note took {took:.2f} s")
    texts = [text for _, text in early.log("early.log")]
    check(texts[:2] == [tessel_log.HEADER, ""] and texts[-3:] == ["", "", tessel_log.FOOTER],
          f"SIGINT during the note: logfile is {texts}")

    tessel = Program(prog, cli, ["--seconds", "60", "--logfile",
                                 os.path.join(folder, "stop.log")], folder)
    tessel.wait_bound()
    run_peer(g, peer, ["--server", "0A-1B-2C-00-00-40"])
    tessel.wait_row("0A-1B-2C-00-00-40", 15)
    time.sleep(1.0)
    code, took = tessel.stop(signal.SIGINT)
    print(f"stop_while_blocked: SIGINT to exit {took:.3f} s")
    check(code == 128 + signal.SIGINT, f"tessel-cli ended with {code} after SIGINT")
    check(took < STOP_LIMIT_SECONDS, f"SIGINT took {took:.2f} s to end the program")
    # The summary goes beside the rows, not among them, and counts them.
    summary = [text for when, text in tessel.process.stderr.snapshot()
               if when >= tessel.stop_sent]
    check(any(re.search(r"\b1 server\b", text) for text in summary),
          f"no summary counting the one server after the stop: {summary}")
    tessel.check_rows([("0A-1B-2C-00-00-40", "10.77.0.60")])
    expected = tessel_log.Expected()
    expected.listed("10.77.0.60", "0A-1B-2C-00-00-40")
    tessel_log.check_run(tessel.log("stop.log"), expected)


HOLDER = ("import socket,time\n"
          "s=socket.socket(socket.AF_INET,socket.SOCK_DGRAM)\n"
          "s.bind(('0.0.0.0',67))\nprint('HELD',flush=True)\ntime.sleep(600)\n")


def scenario_port_unavailable(bed, cli, _peer):
    """Port 67 held by another socket: exit 69, a message that says the port
    is taken, and the bind failure in the logfile. Port 67 refused for lack of
    permission: exit 69 and a message that says so, not 'in use'."""
    prog = program_node(bed)
    holder = prog.start([PYTHON, "-c", HOLDER], name="holder")
    check(holder.stdout.wait_for(lambda t: t == "HELD", 5) is not None,
          f"could not hold port 67: {holder.stderr.text()}")
    folder = bed.make_folder()
    tessel = Program(prog, cli, ["--seconds", "10", "--logfile",
                                 os.path.join(folder, "held.log")], folder)
    code = tessel.process.wait(8)
    check(holder.running(), f"the socket holding port 67 went away: {holder.stderr.text()}")
    check(code == EXIT_UNAVAILABLE, f"port held: exit {code}, not {EXIT_UNAVAILABLE}")
    said = (tessel.process.stdout.text() + "\n" + tessel.process.stderr.text()).lower()
    check(("in use" in said or "taken" in said) and "permi" not in said,
          f"port held: the message does not say the port is taken: {said!r}")
    texts = [text for _, text in tessel.log("held.log")]
    check(texts == [tessel_log.HEADER, "", tessel_log.BIND_FAILED, "", "", tessel_log.FOOTER],
          f"port held: logfile is {texts}")
    holder.kill()

    # An ordinary user may not bind ports below 1024 in a new namespace.
    own_cli = os.path.join(folder, "tessel-cli")
    shutil.copy(cli, own_cli)
    os.chmod(own_cli, 0o755)
    os.chmod(folder, 0o777)
    nobody = prog.start(["/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                         own_cli, "list", "--seconds", "10", "--logfile",
                         os.path.join(folder, "denied.log")], cwd=folder, name="tessel-cli")
    code = nobody.wait(8)
    check(code == EXIT_UNAVAILABLE, f"no permission: exit {code}, not {EXIT_UNAVAILABLE}")
    said = (nobody.stdout.text() + "\n" + nobody.stderr.text()).lower()
    check("permi" in said and "in use" not in said and "taken" not in said,
          f"no permission: the message does not say so: {said!r}")


def scenario_logfile_killed(bed, cli, peer):
    """kill -9 right after the listing: every line the run wrote is in the
    logfile, whole, though the program had no chance to close it."""
    prog = program_node(bed)
    h = bed.add_node("h", ["10.77.0.70/24"])
    folder = bed.make_folder()
    path = os.path.join(folder, "killed.log")
    tessel = Program(prog, cli, ["--seconds", "60", "--logfile", path], folder)
    tessel.wait_bound()
    run_peer(h, peer, ["--server", "0A-1B-2C-00-00-70", "--server", "00-11-22-33-44-71",
                       "--server", "0A-1B-2D-00-00-72"])
    tessel.wait_row("0A-1B-2D-00-00-72", 15)
    tessel.process.popen.kill()
    check(tessel.process.wait(5) == -signal.SIGKILL, "tessel-cli did not end by SIGKILL")
    expected = tessel_log.Expected()
    expected.listed("10.77.0.70", "0A-1B-2C-00-00-70")
    expected.foreign("10.77.0.70", "00-11-22-33-44-71")
    expected.listed("10.77.0.70", "0A-1B-2D-00-00-72")
    actual = [text for _, text in tessel.log("killed.log")]
    wanted = [tessel_log.HEADER, ""] + expected.lines
    check(actual == wanted, f"logfile after kill -9:\n  expected {wanted}\n  actual   {actual}")


def scenario_manual(bed, cli, peer):
    """Not a test: makes the usual bed and keeps it until Ctrl+C, for trying
    the program and the peer by hand."""
    prog = program_node(bed)
    nodes = [bed.add_node("a"), bed.add_node("b", [FACTORY_DEFAULT + "/24"]),
             bed.add_node("c", ["10.77.0.20/24"])]
    print(f"program host ({PROGRAM_ADDRESS}/24):\n  ip netns exec {prog.namespace} {cli} list")
    for node in nodes:
        print(f"server host ({', '.join(node.addresses) or 'no address'}):\n"
              f"  ip netns exec {node.namespace} {peer} --server 0A-1B-2C-01-02-03")
    print("Ctrl+C removes the test bed.", flush=True)
    while True:
        time.sleep(3600)


SCENARIOS = {
    "peer_selftest": scenario_peer_selftest,
    "listing": scenario_listing,
    "all_prefixes": scenario_all_prefixes,
    "print_servers_only": scenario_print_servers_only,
    "odd_datagrams": scenario_odd_datagrams,
    "stop_while_blocked": scenario_stop_while_blocked,
    "port_unavailable": scenario_port_unavailable,
    "logfile_killed": scenario_logfile_killed,
    "manual": scenario_manual,
}

if __name__ == "__main__":
    sys.exit(main(SCENARIOS, sys.argv))
