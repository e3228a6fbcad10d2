#!/usr/bin/python3
"""End-to-end scenarios of a whole assignment, `tessel-cli set` against
simulated servers that restart, take the address and offer their web form
and FTP service:

    assign_scenarios.py SCENARIO TESSEL_CLI TESSEL_PEER

Each scenario runs several cases side by side, each on a bed of its own (its
own switch and namespaces), since one assignment lasts 40 to 80 s at real
speed. A case checks the exit status and the outcome text, the events of the
assignment in the logfile, what the server saw (the reply, the web requests
byte for byte, the FTP commands and the uploaded file) and the time from the
reply to the outcome against the fixed schedule.
Exit status 0 passed, 1 failed, 77 skipped (no root or namespaces).
"""

import os
import re
import signal
import sys
import threading
import time
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import assign_schedule as schedule  # noqa: E402
import tessel_log  # noqa: E402
from run_scenario import fields  # noqa: E402
from tessel_log import ftp_events  # noqa: E402
from testbed import (FACTORY_DEFAULT, PROGRAM_ADDRESS, Failure, as_user, check, main,  # noqa: E402
                     program_command)

SET_LIMIT_SECONDS = 150
EXIT_STORED, EXIT_UNTIL_RESTART, EXIT_NOT_VERIFIED, EXIT_NO_REQUEST, EXIT_REFUSED = 0, 1, 2, 3, 65
# Only the final ICMP check found the server: no store was confirmed, so the
# address holds until the server restarts (box 109), and a script can tell
# it from a stored address.
EXIT_UNCONFIRMED = 4
BROADCAST = "255.255.255.255"

BOX_STORED = ["IP address set permanently and successfully!"]
BOX_UNTIL_RESTART = ["IP address set successfully, until the server is restarted.", "",
                     "You can now set it permanently using a web browser."]
BOX_NO_REQUEST = ["Time out occurred, while waiting for server request.", "",
                  "The server was restarted too long ago, so",
                  "please restart your MERROW-server and then retry."]
BOX_IN_USE = ["The IP address you entered is already being used",
              "by another device connected to your network.", "",
              "Please enter another IP address and retry."]

SELECTED = "Request from the selected server."
BY_BROADCAST = "Send reply using broadcast (because no IP-address yet)."
def config_content(name, address):
    if name.lower() == "config":
        return b"INT_ADDR.    : " + address.encode() + b" \r\n"
    return b"[IP] \r\nInternetAddress       = " + address.encode() + b" \r\n"


def assignment_events(source, serial, address, verified, stored_by_http=False, ftp=()):
    """The logfile lines of one assignment: from the chosen server's request
    to the end of the procedure."""
    lines = [tessel_log.RECEIVED + source + ".", f"Serialnumber {serial}.",
             "Checking if already in list.", SELECTED]
    if source in ("0.0.0.0", FACTORY_DEFAULT):
        lines.append(BY_BROADCAST)
    lines += [f"Sent BOOTP/DHCP reply with desired IP-address {address}.",
              "Waiting for server to restart.", "Wait for server restart finished.",
              "Checking if temporary IP-setting was set using HTTP/ICMP.",
              "Checking if temporary IP-setting was set finished."]
    if not verified:
        return lines
    lines += [f"Success setting temporary IP-address {address}.",
              "Trying to set permanent IP-address using HTTP started.",
              "Trying to set permanent IP-address using HTTP finished."]
    if stored_by_http:
        return lines + [f"Success setting permanent IP-address {address}."]
    return lines + list(ftp)


class SetRun:
    """One `tessel-cli set` against one simulated server on a bed of its own."""

    def __init__(self, bed, cli, peer, serial, address, peer_args=(), server_addresses=(),
                 program_route=True, server_bridge="br0", prepare=None, user=None, set_args=(),
                 groups=()):
        """`user`: a uid to run tessel-cli as (through setpriv), in a folder
        it owns, with the supplementary `groups`; `set_args`: further options
        of set."""
        self.bed, self.serial, self.address = bed, serial, address
        self.prog = bed.add_node("prog", [PROGRAM_ADDRESS + "/24"], default_route=program_route)
        if prepare:
            prepare(bed, self.prog)
        self.srv = bed.add_node("srv", list(server_addresses), bridge=server_bridge)
        self.folder = bed.make_folder()
        self.record = os.path.join(self.folder, "record")
        os.mkdir(self.record)
        self.logfile = os.path.join(self.folder, "set.log")
        command = program_command(cli, self.prog) + ["set", serial, address, "--logfile", self.logfile] + \
            list(set_args)
        if user is not None:
            os.chown(self.folder, user, user)
            command = as_user(user, groups) + command
        self.tessel = self.prog.start(command, cwd=self.folder, name="tessel-cli")
        if not self.tessel.wait_udp_bound(67, timeout=5):
            raise Failure(f"tessel-cli did not bind port 67: {self.tessel.stderr.text()}")
        self.peer = self.srv.start([peer, "--linger", "forever", "--interval", "1000",
                                    "--count", "0", "--record", self.record] + list(peer_args)
                                   + ["--server", serial], name="tessel-peer")

    def finish(self):
        self.code = self.tessel.wait(SET_LIMIT_SECONDS)
        check(self.code is not None, f"tessel-cli set did not end within {SET_LIMIT_SECONDS} s")
        time.sleep(0.3)  # lines the peer printed last
        self.entries = tessel_log.read(self.logfile)
        self.log = [text for _, text in self.entries]
        return self

    # What the peer said.
    def peer_lines(self, kind, word=None):
        out = []
        for when, text in self.peer.stdout.snapshot():
            parts = text.split(" ")
            if parts[0] == kind and (word is None or (len(parts) > 1 and parts[1] == word)):
                out.append((when, fields(text)))
        return out

    def replies(self):
        return [(when, f) for when, f in self.peer_lines("REPLY") if f["ours"] == "1"]

    def out_lines(self):
        return [(when, text) for when, text in self.tessel.stdout.snapshot()]

    # Checks.
    def check_outcome(self, code, box):
        check(self.code == code, f"exit status {self.code}, not {code}; stderr:\n"
              f"{self.tessel.stderr.text()}")
        texts = [text for _, text in self.out_lines()]
        for start in range(len(texts)):
            if texts[start:start + len(box)] == box:
                self.outcome_at = self.out_lines()[start][0]
                return
        raise Failure(f"the outcome box {box[0]!r} was not printed; stdout:\n"
                      + "\n".join(texts))

    def check_unconfirmed(self):
        line = f"answers at {self.address}; storing it permanently was not confirmed"
        check(line in [text for _, text in self.out_lines()], f"no line {line!r} after the box")

    def check_home_page(self):
        check(f"Home page: http://{self.address}/" in self.tessel.stdout.text(),
              "the home page was not offered")

    def check_one_reply(self):
        replies = self.replies()
        check(len(replies) == 1, f"the server heard {len(replies)} replies, not one")
        when, reply = replies[0]
        check(reply["yiaddr"] == self.address and reply["to"] == BROADCAST and
              reply["from"] == f"{PROGRAM_ADDRESS}:67",
              f"reply: yiaddr {reply['yiaddr']} to {reply['to']} from {reply['from']}")
        self.reply_at = when
        return reply

    def check_restarted(self):
        restarts = self.peer_lines("RESTART")
        check(len(restarts) == 1 and restarts[0][1]["address"] == self.address + "/24",
              f"the server did not restart once with {self.address}: {restarts}")

    def check_log(self, source, events, repeats=1, others=None):
        """The listing of the server first; then the assignment's events as
        one block; then only the stop and the footer (and, with others, the
        lines that others accepts: other traffic heard meanwhile)."""
        log = self.log
        check(log[:2] == [tessel_log.HEADER, ""], f"logfile header: {log[:2]}")
        check(log[2:7] == ["", tessel_log.RECEIVED + source + ".", f"Serialnumber {self.serial}.",
                           "Checking if already in list.", "New server, so add to list."],
              f"the first request is not the listing of {self.serial}: {log[2:7]}")
        selected = [i for i, text in enumerate(log) if text == SELECTED]
        check(len(selected) == repeats, f"{len(selected)} assignments in the logfile, "
              f"not {repeats}:\n" + "\n".join(log))
        start = selected[0] - 3
        check(log[start - 1] == "", f"no empty line before the chosen request: {log[start - 1]!r}")
        block = log[start:start + len(events)]
        if block != events:
            raise Failure("assignment events differ:\n  expected:\n    " + "\n    ".join(events) +
                          "\n  actual:\n    " + "\n    ".join(log[start:start + len(events) + 3]))
        rest = log[start + len(events):]
        if repeats == 1:
            allowed = [text for text in rest if text != "" and
                       not text.startswith(tessel_log.RECEIVED) and not (others and others(text))]
            check(allowed == [tessel_log.STOPPED, tessel_log.FOOTER],
                  f"after the assignment the logfile holds more than the stop: {allowed[:20]}")
        check(log[-3:] == ["", "", tessel_log.FOOTER], f"logfile does not end with the footer: "
              f"{log[-3:]}")

    def check_schedule(self, path, probed=True):
        """Reply -> verification and reply -> outcome against the fixed waits."""
        if probed:
            connections = self.peer_lines("WEB", "connection")
            check(connections, "nothing connected to port 80")
            after = connections[0][0] - self.reply_at
            check(schedule.PROBE_AFTER_REPLY - 0.05 <= after <= schedule.PROBE_AFTER_REPLY + 1.0,
                  f"port 80 was tried {after:.2f} s after the reply, not "
                  f"{schedule.PROBE_AFTER_REPLY} s")
        took = self.outcome_at - self.reply_at
        floor = schedule.FLOOR[path]
        check(floor - 0.05 <= took <= floor + schedule.SLACK,
              f"reply to outcome took {took:.2f} s; the {path} path's fixed waits are "
              f"{floor:.2f} s (allowed up to {floor + schedule.SLACK:.2f} s)")
        self.took = took

    def web_requests(self):
        return [f for _, f in self.peer_lines("WEB", "request")]

    def check_form_post(self, final_status):
        """The port probe sent nothing; the form went out without and then
        with root's credentials, with the exact header and body."""
        check(self.peer_lines("WEB", "empty"), "the port probe was not an empty connection")
        requests = self.web_requests()
        check([r["auth"] for r in requests] == ["none", "good"],
              f"the form was not posted without, then with credentials: {requests}")
        check(requests[0]["status"] == "401" and requests[1]["status"] == str(final_status),
              f"statuses {[r['status'] for r in requests]}")
        with open(requests[1]["file"], "rb") as recorded:
            data = recorded.read()
        head, _, body = data.partition(b"\r\n\r\n")
        lines = head.split(b"\r\n")
        want_body = b"internetaddress=" + self.address.encode() + b"&storeip=Store+IP+Settings"
        check(lines[0] == b"POST /cgi-bin/config.html HTTP/1.0", f"request line {lines[0]!r}")
        check(body == want_body, f"form body {body!r}")
        check(lines.count(b"Content-type: application/x-www-form-urlencoded") == 1,
              f"the form's content type is not the exact header: {lines}")
        check(b"Authorization: Basic cm9vdDp3eHl6" in lines, f"no basic credentials of root: {lines}")
        check(f"Content-Length: {len(want_body)}".encode() in lines, f"content length: {lines}")

    def check_ftp(self, commands_end, stored=None, outcome="stored"):
        """The FTP exchange: log-in as root, the search for CONFIG in active
        mode, and when it gets so far the ASCII upload of that name."""
        commands = [(f["verb"], f["arg"]) for _, f in self.peer_lines("FTP", "command")]
        check(commands[:3] == [("USER", "root"), ("PASS", "wxyz"), ("PWD", "")],
              f"FTP log-in: {commands[:3]}")
        verbs = [verb for verb, _ in commands]
        check("PASV" not in verbs and "EPSV" not in verbs, f"passive mode asked for: {commands}")
        got = [c for c in commands if c[0] in ("NLST", "STOR")]
        check(got == commands_end, f"FTP search and upload: {got}, not {commands_end}")
        if stored is not None:
            name, content = stored
            done = self.peer_lines("FTP", outcome)
            check(len(done) == 1, f"FTP upload not {outcome}: {self.peer_lines('FTP')}")
            upload = done[0][1]
            check(upload["type"] == "A", f"upload of {name} in type {upload['type']}, not ASCII")
            if content is not None:
                with open(upload["file"], "rb") as kept:
                    check(kept.read() == content, f"uploaded {name} differs from {content!r}")


def run_cases(bed, cases):
    """Runs cases side by side, each on a bed of its own; fails with the
    reasons and the programs' output of every case that failed."""
    beds = [bed.child(name) for name, _ in cases]
    results = {}
    timings = {}

    def one(name, body, case_bed):
        started = time.monotonic()
        try:
            body(case_bed)
            results[name] = None
        except Failure as failure:
            results[name] = str(failure)
        except Exception:  # noqa: BLE001 - reported as the case's failure
            results[name] = traceback.format_exc()
        timings[name] = time.monotonic() - started

    threads = [threading.Thread(target=one, args=(name, body, case_bed), daemon=True)
               for (name, body), case_bed in zip(cases, beds)]
    for thread in threads:
        thread.start()
    for thread in threads:
        while thread.is_alive():
            thread.join(0.5)
    failed = []
    for (name, _), case_bed in zip(cases, beds):
        outcome = results.get(name, "did not finish")
        print(f"  {name}: {'passed' if outcome is None else 'FAILED'} in "
              f"{timings.get(name, 0):.1f} s", flush=True)
        if outcome is not None:
            failed.append(f"=== {name}: {outcome}\n{case_bed.describe()}")
    if failed:
        raise Failure(f"{len(failed)} of {len(cases)} cases failed:\n" + "\n".join(failed))


def stored_over_ftp_case(cli, peer, serial, address, peer_args, name, listing, source_args=(),
                         server_addresses=(), source="0.0.0.0"):
    def body(bed):
        run = SetRun(bed, cli, peer, serial, address, list(peer_args) + list(source_args),
                     server_addresses).finish()
        run.check_outcome(EXIT_STORED, BOX_STORED)
        run.check_one_reply()
        run.check_restarted()
        content = config_content(name, address)
        run.check_log(source, assignment_events(source, serial, address, True, ftp=ftp_events(
            16, 18, (19, name), 20, 21, (15, address))))
        run.check_ftp([("NLST", "CONFIG"), ("STOR", name)], (name, content))
        check(len(content) == {"config": 15, "config.ini": 31}[name.lower()] + len(address) + 3,
              "content length")
        return run
    return body


def second_network_case(cli, peer, serial, address, bystander_serial, prepare=None):
    """The program's host on two networks with the server on the one that
    is not the default route: the reply must leave there, and only there.
    `prepare(bed, node)` runs on the program's node once it has both."""
    def body(case_bed):
        bystanders = []

        def two_networks(net_bed, prog):
            net_bed.add_bridge("br1")
            net_bed.add_interface(prog, "eth1", ["10.88.0.1/24"], "br1")
            # A host on the default route's network that hears every reply
            # broadcast there.
            by = net_bed.add_node("by", ["10.77.0.9/24"])
            bystanders.append(by.start([peer, "--linger", "forever", "--count", "1",
                                        "--server", bystander_serial], name="bystander"))
            if prepare:
                prepare(net_bed, prog)
        run = SetRun(case_bed, cli, peer, serial, address, server_bridge="br1",
                     prepare=two_networks).finish()
        run.check_outcome(EXIT_STORED, BOX_STORED)
        check(run.replies(), "the server on the second network heard no reply")
        _, reply = run.replies()[0]
        check(reply["to"] == BROADCAST and reply["yiaddr"] == address, f"reply {reply}")
        run.reply_at = run.replies()[0][0]
        heard = [t for _, t in bystanders[0].stdout.snapshot() if t.startswith("REPLY")]
        check(not heard, f"the reply also went out on the default route's network: {heard}")
        run.check_log("0.0.0.0", assignment_events("0.0.0.0", serial, address, True, True))
        run.check_form_post(200)
        run.check_schedule("http")
    return body


# --------------------------------------------------------------------------

def scenario_assign_http(bed, cli, peer):
    """The form stores the address (200, 204) for servers asking from 0.0.0.0
    and from the factory default; the form refused (401 with a changed
    password, 500 for a server asking from its old address) or too slow
    (4 s), so the FTP route stores it; a server that takes the address but
    does not listen on port 80 is not verified, yet the final ICMP check
    finds it."""

    def form_stored(serial, address, status, source_args, server_addresses, source):
        def body(case_bed):
            run = SetRun(case_bed, cli, peer, serial, address,
                         ["--web-status", str(status)] + source_args, server_addresses).finish()
            run.check_outcome(EXIT_STORED, BOX_STORED)
            run.check_home_page()
            reply = run.check_one_reply()
            check(reply["ciaddr"] == "0.0.0.0", f"ciaddr {reply['ciaddr']}")
            run.check_restarted()
            run.check_log(source, assignment_events(source, serial, address, True, True))
            run.check_form_post(status)
            check(not run.peer_lines("FTP"), "FTP was tried after the form was stored")
            run.check_schedule("http")
            print(f"    {status}: reply to outcome {run.took:.2f} s", flush=True)
        return body

    def refused_then_ftp(serial, address, args, server_addresses, source, statuses):
        inner = stored_over_ftp_case(cli, peer, serial, address, args, "CONFIG", None,
                                     server_addresses=server_addresses, source=source)

        def body(case_bed):
            run = inner(case_bed)
            requests = run.web_requests()
            check([r["status"] for r in requests] == statuses,
                  f"form answers {[r['status'] for r in requests]}, not {statuses}")
            run.check_schedule("ftp")
        return body

    def slow_form(case_bed):
        serial, address = "0A-1B-2C-00-01-05", "10.77.0.105"
        run = stored_over_ftp_case(cli, peer, serial, address, ["--web-delay", "4000"], "CONFIG",
                                   None)(case_bed)
        requests = run.web_requests()
        check([(r["auth"], r["status"]) for r in requests] == [("none", "401"), ("good", "200")],
              f"the slow form was not posted with credentials: {requests}")
        # FTP begins once the 2.8 s are over, while the form is still pending.
        posted = [when for when, f in run.peer_lines("WEB", "request") if f["auth"] == "good"][0]
        answered = run.peer_lines("WEB", "answered")[-1][0]
        ftp_began = run.peer_lines("FTP", "session")[0][0]
        check(posted + 2.6 <= ftp_began < answered,
              f"FTP began {ftp_began - posted:.2f} s after the form, which was answered "
              f"{answered - posted:.2f} s after it")
        run.check_schedule("ftp")

    def no_port_80(case_bed):
        serial, address = "0A-1B-2C-00-01-06", "10.77.0.106"
        run = SetRun(case_bed, cli, peer, serial, address, ["--no-web"]).finish()
        run.check_outcome(EXIT_UNCONFIRMED, BOX_UNTIL_RESTART)
        run.check_unconfirmed()
        run.check_one_reply()
        run.check_restarted()
        run.check_log("0.0.0.0", assignment_events("0.0.0.0", serial, address, False))
        check(not run.peer_lines("WEB") and not run.peer_lines("FTP"),
              "the server was reached by HTTP or FTP")
        run.check_schedule("replied", probed=False)

    run_cases(bed, [
        ("form_200_unset", form_stored("0A-1B-2C-00-01-01", "10.77.0.101", 200, [], [],
                                       "0.0.0.0")),
        ("form_204_factory", form_stored("0A-1B-2D-00-01-02", "10.77.0.102", 204,
                                         ["--from", "factory"], [FACTORY_DEFAULT + "/24"],
                                         FACTORY_DEFAULT)),
        ("form_401_then_ftp", refused_then_ftp("0A-1B-2C-00-01-03", "10.77.0.103",
                                               ["--web-password", "changed"], [], "0.0.0.0",
                                               ["401", "401"])),
        ("form_500_old_address", refused_then_ftp("0A-1B-2C-00-01-04", "10.77.0.104",
                                                  ["--web-status", "500", "--from", "10.77.0.24"],
                                                  ["10.77.0.24/24"], "10.77.0.24",
                                                  ["401", "500"])),
        ("form_slow_then_ftp", slow_form),
        ("no_port_80", no_port_80),
    ])


def scenario_assign_ftp(bed, cli, peer):
    """The form refused (500) and the FTP route's failure table: a changed
    password, no FTP service, CONFIG not found (an empty listing and a 450),
    the upload refused, a first entry with an unknown name, the connection
    dropped during the upload: each leaves the address set until restart
    (4) with its events, when the server does not answer the final ICMP
    check; one that answers it is taken as stored (5). Listings with config.ini or Config.INI first store
    the second format under the name the server gave (49 bytes for a
    15-character address)."""

    def until_restart(serial, address, args, codes, commands, upload=None, icmp=False):
        # The final ICMP check would turn 4 into 5: this server stays silent.
        def body(case_bed):
            run = SetRun(case_bed, cli, peer, serial, address, ["--web-status", "500"] + args +
                         ([] if icmp else ["--no-icmp"]))
            run.finish()
            if icmp:
                run.check_outcome(EXIT_UNCONFIRMED, BOX_UNTIL_RESTART)
                run.check_unconfirmed()
            else:
                run.check_outcome(EXIT_UNTIL_RESTART, BOX_UNTIL_RESTART)
            run.check_home_page()
            run.check_one_reply()
            run.check_restarted()
            run.check_log("0.0.0.0", assignment_events("0.0.0.0", serial, address, True,
                                                       ftp=ftp_events(*codes)))
            if commands is not None:
                run.check_ftp(commands, upload[:2] if upload else None,
                              upload[2] if upload else "stored")
            run.check_schedule("verified")
        return body

    def stored(serial, address, listing, name):
        inner = stored_over_ftp_case(cli, peer, serial, address,
                                     ["--web-status", "500", "--ftp-files", listing], name, listing)

        def body(case_bed):
            inner(case_bed).check_schedule("ftp")
        return body

    nlst = ("NLST", "CONFIG")
    run_cases(bed, [
        ("ftp_password", until_restart("0A-1B-2C-00-02-01", "10.77.0.151",
                                       ["--ftp-password", "changed"], (16, 17), None)),
        ("no_ftp", until_restart("0A-1B-2C-00-02-02", "10.77.0.152", ["--no-ftp"], (16, 17), None)),
        ("ftp_not_found", until_restart("0A-1B-2C-00-02-03", "10.77.0.153",
                                        ["--ftp-files", "none"], (16, 18, -8, 21), [nlst])),
        ("ftp_not_found_450", until_restart("0A-1B-2C-00-02-04", "10.77.0.154",
                                            ["--ftp-files", "none", "--ftp-missing-450"],
                                            (16, 18, -8, 21), [nlst])),
        ("ftp_upload_refused", until_restart("0A-1B-2C-00-02-05", "10.77.0.155",
                                             ["--ftp-refuse-upload"],
                                             (16, 18, (19, "CONFIG"), -9, 21),
                                             [nlst, ("STOR", "CONFIG")],
                                             ("CONFIG", None, "refused"))),
        ("ftp_unknown_first", until_restart("0A-1B-2C-00-02-06", "10.77.0.156",
                                            ["--ftp-files", "readme.txt,CONFIG"],
                                            (16, 18, (19, "readme.txt"), -9, 21), [nlst])),
        ("ftp_dropped", until_restart("0A-1B-2C-00-02-07", "10.77.0.157", ["--ftp-drop-upload"],
                                      (16, 18, (19, "CONFIG"), 20, -10, 21),
                                      [nlst, ("STOR", "CONFIG")], ("CONFIG", None, "dropped"))),
        ("ftp_refused_icmp_answers", until_restart("0A-1B-2C-00-02-0B", "10.77.0.161",
                                                   ["--ftp-refuse-upload"],
                                                   (16, 18, (19, "CONFIG"), -9, 21),
                                                   [nlst, ("STOR", "CONFIG")],
                                                   ("CONFIG", None, "refused"), icmp=True)),
        ("ftp_one_entry", stored("0A-1B-2C-00-02-08", "10.77.0.158", "setup.cfg", "CONFIG")),
        ("ftp_ini_first", stored("0A-1B-2C-00-02-09", "10.77.0.159", "config.ini,CONFIG,readme",
                                 "config.ini")),
        ("ftp_INI_first_long", stored("0A-1B-2C-00-02-0A", "192.168.100.200",
                                      "Config.INI,CONFIG", "Config.INI")),
    ])


def scenario_assign_refusals(bed, cli, peer):
    """A server that never asks again after it was listed: no reply, outcome
    0 (exit 3). The desired address already answering ICMP (another host has
    it): refused with box 106 (exit 65) and no reply on the wire. A server
    that does not listen on port 80 and keeps asking: each of its requests
    while the job is handed over starts the procedure again, so it hears the
    reply again; the final ICMP check finds it (5)."""

    def never_again(case_bed):
        serial, address = "0A-1B-2C-00-03-01", "10.77.0.131"
        run = SetRun(case_bed, cli, peer, serial, address, ["--count", "1"]).finish()
        run.check_outcome(EXIT_NO_REQUEST, BOX_NO_REQUEST)
        check(not run.replies() and not run.peer_lines("RESTART"), "a reply was sent")
        check(SELECTED not in run.log, "an assignment was logged")
        check(run.log[-4:] == [tessel_log.STOPPED, "", "", tessel_log.FOOTER],
              f"logfile end: {run.log[-4:]}")
        check("Home page" not in run.tessel.stdout.text(), "home page offered for outcome 0")

    def in_use(case_bed):
        serial, address = "0A-1B-2C-00-03-02", "10.77.0.77"

        def holder(holder_bed, _prog):
            holder_bed.add_node("holder", [address + "/24"])
        run = SetRun(case_bed, cli, peer, serial, address, prepare=holder).finish()
        run.check_outcome(EXIT_REFUSED, BOX_IN_USE)
        ended = run.tessel.ended - run.tessel.started
        # The server is still asking: nothing may answer it, even after the
        # refusal (the peer reports every reply it hears on its port).
        time.sleep(1.5)
        sent = run.peer_lines("SENT")
        check(len(sent) >= 5, f"the server asked only {len(sent)} times")
        check(not run.peer_lines("REPLY"), f"a reply went out: {run.peer_lines('REPLY')}")
        check(SELECTED not in run.log, "an assignment was logged")
        check(ended < 8.9 + 4 + 5, f"refusal took {ended:.1f} s")

    def keeps_asking(case_bed):
        serial, address = "0A-1B-2C-00-03-03", "10.77.0.133"
        run = SetRun(case_bed, cli, peer, serial, address, ["--no-web", "--keep-asking"]).finish()
        run.check_outcome(EXIT_UNCONFIRMED, BOX_UNTIL_RESTART)
        run.check_unconfirmed()
        replies = run.replies()
        check(len(replies) >= 2 and all(r["yiaddr"] == address for _, r in replies),
              f"the server heard {len(replies)} replies, not two or more")
        # The second procedure starts when the first has given up on port 80.
        gap = replies[1][0] - replies[0][0]
        check(schedule.RESTART + 8.4 - 0.1 <= gap <= schedule.RESTART + 8.4 + 1.5,
              f"second reply {gap:.2f} s after the first")
        check(replies[1][1]["to"] == BROADCAST, "second reply not broadcast")
        selected = [i for i, text in enumerate(run.log) if text == SELECTED]
        check(len(selected) >= 2, "the procedure did not start again")
        sent = f"Sent BOOTP/DHCP reply with desired IP-address {address}."
        check(sent in run.log[selected[1]:selected[1] + 3], "the second reply was not logged")

    def network_edge(case_bed):
        # The bed's network is 10.77.0.0/24: its broadcast address is refused
        # before anything listens, --yes or not, with a box of its own.
        prog = case_bed.add_node("prog", [PROGRAM_ADDRESS + "/24"])
        for address in ("10.77.0.255", "10.77.0.0"):
            result = prog.run([cli, "set", "0A-1B-2C-00-03-04", address, "--yes"])
            check(result.returncode == EXIT_REFUSED, f"{address}: exit {result.returncode}:\n{result.stderr}")
            check("the network address or the broadcast address" in result.stdout,
                  f"{address}: not the network's own box:\n{result.stdout}")

    run_cases(bed, [("never_again", never_again), ("address_in_use", in_use),
                    ("keeps_asking", keeps_asking), ("network_edge", network_edge)])


def scenario_assign_networks(bed, cli, peer):
    """The program's host without a default route (the reply must still
    leave); the program's host on two networks with the server on the one
    that is not the default route (the reply must leave there, and only
    there)."""

    def no_route(case_bed):
        serial, address = "0A-1B-2C-00-04-01", "10.77.0.141"
        run = SetRun(case_bed, cli, peer, serial, address, ["--from", "10.77.0.41"],
                     ["10.77.0.41/24"], program_route=False).finish()
        run.check_outcome(EXIT_STORED, BOX_STORED)
        run.check_one_reply()
        run.check_restarted()
        run.check_log("10.77.0.41", assignment_events("10.77.0.41", serial, address, True, True))
        run.check_form_post(200)
        run.check_schedule("http")
        print(f"    no default route: reply to outcome {run.took:.2f} s", flush=True)

    run_cases(bed, [("no_default_route", no_route),
                    ("second_network", second_network_case(cli, peer, "0A-1B-2C-00-04-02", "10.88.0.142",
                                                           "0A-1B-2C-00-04-09"))])


def burst_line(text):
    """A line that traffic of other devices may leave: their requests (no
    server of theirs is ever listed or answered during the job), junk and
    datagrams too long for the buffer."""
    return (text.startswith(tessel_log.RECEIVED) or text == "" or
            re.fullmatch(r"Serialnumber [0-9A-F]{2}(-[0-9A-F]{2}){5}\.", text) is not None or
            text in ("Not an MERROW-server.", "Checking if already in list.", "Socket receive error.",
                     "Socket receive error because it was closed."))


def scenario_assign_burst(bed, cli, peer):
    """60 s of other traffic at port 67 while a server is given its address,
    about 500 datagrams a second: junk of every length from 0 to 3000 bytes,
    requests of new servers of the maker's prefixes and of other prefixes.
    It changes nothing: stored by the form on the server's first request
    after the hand-over, no other server answered, the assignment's events
    one whole block, every other line one of the traffic's own. And a server
    that asks from another client port than 68 is answered at that port."""
    burst_script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "burst.py")

    def burst(case_bed):
        serial, address = "0A-1B-2C-00-05-01", "10.77.0.171"
        noise = []

        def noise_host(noise_bed, _prog):
            noise.append(noise_bed.add_node("noise", ["10.77.0.5/24"]))
        run = SetRun(case_bed, cli, peer, serial, address, prepare=noise_host)
        heard = run.tessel.stderr.wait_for(lambda t: t.startswith(f"heard {serial}"), 30)
        check(heard is not None, f"the server was not heard: {run.tessel.stderr.text()}")
        sender = noise[0].start(["/usr/bin/python3", burst_script, "--rate", "500", "--seconds", "60",
                                 "--avoid", serial], name="burst")
        check(sender.stdout.wait_for(lambda t: t == "BURST started", 5) is not None,
              f"the burst did not start: {sender.stderr.text()}")
        run.finish()
        run.check_outcome(EXIT_STORED, BOX_STORED)
        # The server asks every second: its first request after the hand-over
        # is answered, not one that waited behind the traffic.
        handed = [when for when, text in run.out_lines() if text == "SETTING IP ADDRESS"]
        check(handed, "the job was never handed over")
        waited = run.replies()[0][0] - handed[0] if run.replies() else None
        check(waited is not None and waited <= 2.5,
              f"the reply came {waited} s after the hand-over, not at the next request")
        replies = [f for _, f in run.peer_lines("REPLY")]
        check(len(replies) == 1 and replies[0]["ours"] == "1",
              f"the server's host heard {len(replies)} replies, not only its own one: {replies}")
        run.check_one_reply()
        run.check_restarted()
        # Once the job is over the window lists new servers again: the
        # traffic's may appear after the assignment, never during it.
        run.check_log("0.0.0.0", assignment_events("0.0.0.0", serial, address, True, True),
                      others=lambda t: burst_line(t) or t == "New server, so add to list.")
        job = run.log[:run.log.index(SELECTED)]
        check(job.count("New server, so add to list.") == 1, "another server was listed during the job")
        events = assignment_events("0.0.0.0", serial, address, True, True)
        known = set(events) | {tessel_log.HEADER, tessel_log.STOPPED, tessel_log.FOOTER,
                               "New server, so add to list."}
        strays = [t for t in run.log if not burst_line(t) and t not in known]
        check(not strays, f"lines that are neither the job's nor the traffic's: {strays[:10]}")
        sender.wait(70)
        sent = sender.stdout.wait_for(lambda t: t.startswith("BURST sent="), 5)
        check(sent is not None and int(fields(sent[1])["sent"]) >= 25000,
              f"the burst sent too little: {sent}")
        run.check_form_post(200)
        run.check_schedule("http")
        print(f"    {fields(sent[1])['sent']} datagrams of other traffic; reply {waited:.2f} s "
              f"after the hand-over; reply to outcome {run.took:.2f} s", flush=True)

    def reply_port(case_bed):
        serial, address = "0A-1B-2C-00-05-02", "10.77.0.172"
        run = SetRun(case_bed, cli, peer, serial, address, ["--port", "1068"]).finish()
        run.check_outcome(EXIT_STORED, BOX_STORED)
        check(run.peer_lines("READY")[0][1]["port"] == "1068", "the server did not ask from 1068")
        run.check_one_reply()  # heard on 1068: the reply went to the request's port
        run.check_restarted()
        run.check_log("0.0.0.0", assignment_events("0.0.0.0", serial, address, True, True))

    run_cases(bed, [("burst", burst), ("reply_port", reply_port)])


# Runs the program with its stdout a pipe whose reader has gone, as after
# `tessel-cli ... | tee out.txt` when tee ended first; passes the signals
# on and ends as a shell reports the program's end (128 + a signal).
NO_READER = """
import os, signal, subprocess, sys
reader, writer = os.pipe()
child = subprocess.Popen(sys.argv[1:], stdout=writer)
os.close(writer)
os.close(reader)
for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
    signal.signal(number, lambda n, _f: child.send_signal(n))
code = child.wait()
sys.exit(128 - code if code < 0 else code)
"""


def scenario_assign_interrupted(bed, cli, peer):
    """Ctrl+C in set. While it waits for the server: it ends at once (130),
    nothing is sent, the logfile ends with the stop and its closing line.
    After the reply: it ends at the network thread's next safe step (the
    end of the restart wait), says the server may be restarting with the
    address, and the logfile holds the whole assignment up to there. A
    hang-up after the reply ends it the same way (129), and so does Ctrl+C
    when the reader of its output has gone (130, not 141)."""

    def waiting(case_bed):
        serial, address = "0A-1B-2C-00-07-01", "10.77.0.191"
        run = SetRun(case_bed, cli, peer, serial, address)  # port 67 is bound: it waits
        sent = time.monotonic()
        run.tessel.signal(signal.SIGINT)
        run.finish()
        took = run.tessel.ended - sent
        check(run.code == 130, f"exit status {run.code}, not 130: {run.tessel.stderr.text()}")
        check(took < 3.0, f"Ctrl+C while waiting took {took:.2f} s")
        check(f"nothing was sent to server {serial}" in run.tessel.stderr.text(), "no state line")
        check(not run.peer_lines("REPLY"), "a reply went out")
        check(run.log[-4:] == [tessel_log.STOPPED, "", "", tessel_log.FOOTER], f"logfile end: {run.log[-4:]}")

    def after_reply(case_bed, number=signal.SIGINT, serial="0A-1B-2C-00-07-02", address="10.77.0.192",
                    program=cli):
        run = SetRun(case_bed, program, peer, serial, address)
        check(run.peer.stdout.wait_for(lambda t: t.startswith("REPLY"), 40) is not None, "no reply")
        replied = time.monotonic()
        time.sleep(1.0)
        run.tessel.signal(number)
        run.finish()
        took = run.tessel.ended - replied
        check(run.code == 128 + number, f"exit status {run.code}, not {128 + number}: {run.tessel.stderr.text()}")
        # The restart wait (8.4 s after the reply) is the next safe step.
        check(8.0 <= took <= 8.4 + 3.0, f"ended {took:.2f} s after the reply")
        check(f"server {serial} may be restarting with {address}" in run.tessel.stderr.text(),
              f"no state line: {run.tessel.stderr.text()}")
        events = assignment_events("0.0.0.0", serial, address, False)[:7]
        start = run.log.index(SELECTED) - 3
        check(run.log[start:start + 7] == events, f"assignment events: {run.log[start:start + 9]}")
        check(run.log[start + 7:] == [tessel_log.STOPPED, "", "", tessel_log.FOOTER],
              f"after the reply the logfile holds: {run.log[start + 7:]}")
        check(not run.peer_lines("WEB"), "the port probe ran after the stop")

    def hang_up(case_bed):
        after_reply(case_bed, signal.SIGHUP, "0A-1B-2C-00-07-03", "10.77.0.193")

    def no_reader(case_bed):
        after_reply(case_bed, signal.SIGINT, "0A-1B-2C-00-07-04", "10.77.0.194",
                    lambda node: ["/usr/bin/python3", "-c", NO_READER] + program_command(cli, node))

    run_cases(bed, [("waiting", waiting), ("after_reply", after_reply), ("hang_up", hang_up),
                    ("no_reader", no_reader)])


SCENARIOS = {
    "assign_interrupted": scenario_assign_interrupted,
    "assign_burst": scenario_assign_burst,
    "assign_http": scenario_assign_http,
    "assign_ftp": scenario_assign_ftp,
    "assign_refusals": scenario_assign_refusals,
    "assign_networks": scenario_assign_networks,
}

if __name__ == "__main__":
    sys.exit(main(SCENARIOS, sys.argv))
