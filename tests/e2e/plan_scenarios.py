#!/usr/bin/python3
"""End-to-end scenarios of `tessel-cli plan`: several simulated servers,
each in a namespace of its own (a server takes its serial as the hardware
address of its interface when it restarts), on one bed with the program:

    plan_scenarios.py SCENARIO TESSEL_CLI TESSEL_PEER

Exit status 0 passed, 1 failed, 77 skipped (no root or namespaces).
"""

import os
import re
import signal
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import tessel_log  # noqa: E402
from run_scenario import fields  # noqa: E402
from assign_scenarios import run_cases  # noqa: E402
from testbed import FACTORY_DEFAULT, PROGRAM_ADDRESS, check, main  # noqa: E402

PLAN_LIMIT_SECONDS = 200
SELECTED = "Request from the selected server."


class PlanRun:
    """A plan file, the program and one peer per server on one bed."""

    def __init__(self, bed, cli, peer, servers, plan_lines, plan_args=(), program_route=True,
                 prepare=None, command=None):
        """servers: [(role, serial, addresses, peer arguments, bridge)];
        command: the program's command instead of plan (list ...)."""
        self.bed = bed
        self.prog = bed.add_node("prog", [PROGRAM_ADDRESS + "/24"], default_route=program_route)
        if prepare:
            prepare(bed, self.prog)
        self.folder = bed.make_folder()
        self.logfile = os.path.join(self.folder, "plan.log")
        self.plan = os.path.join(self.folder, "plan.csv")
        with open(self.plan, "w", encoding="ascii") as plan:
            plan.write("".join(line + "\n" for line in plan_lines))
        words = command or ["plan", self.plan]
        self.tessel = self.prog.start([cli] + words + ["--logfile", self.logfile] + list(plan_args),
                                      cwd=self.folder, name="tessel-cli")
        if not self.tessel.wait_udp_bound(67, timeout=5):
            raise AssertionError(f"tessel-cli did not bind port 67: {self.tessel.stderr.text()}")
        self.peers = {}
        for role, serial, addresses, args, bridge in servers:
            node = bed.add_node(role, addresses, bridge=bridge)
            self.peers[serial] = node.start([peer, "--linger", "forever", "--interval", "1000", "--count", "0"]
                                            + list(args) + ["--server", serial], name=f"peer-{role}")

    def finish(self, limit=PLAN_LIMIT_SECONDS):
        self.code = self.tessel.wait(limit)
        check(self.code is not None, f"tessel-cli plan did not end within {limit} s")
        time.sleep(0.3)
        self.log = [text for _, text in tessel_log.read(self.logfile)]
        return self

    def replies(self, serial):
        return [fields(text) for _, text in self.peers[serial].stdout.snapshot()
                if text.startswith("REPLY") and fields(text)["ours"] == "1"]

    def table(self):
        """The rows of the closing table: {serial: (address, outcome)}."""
        lines = self.tessel.stdout.text().splitlines()
        check(any(line.startswith("SERIAL ") for line in lines), f"no table:\n{self.tessel.stdout.text()}")
        start = [i for i, line in enumerate(lines) if line.startswith("SERIAL ")][-1]
        rows = {}
        for line in lines[start + 1:]:
            if not line.strip():
                continue
            serial, address, rest = line[:17], line[19:34].strip(), line[36:]
            rows[serial] = (address, rest[:32].strip())
        return rows

    def check_table(self, expected):
        rows = self.table()
        check(rows == expected, f"table {rows}, not {expected}\n{self.tessel.stdout.text()}")

    def job_lines(self, serial):
        """The logfile lines of one server's job, without its "[SERIAL] "."""
        mark = f"[{serial}] "
        return [text[len(mark):] for text in self.log if text.startswith(mark)]

    def check_log_whole(self):
        # tessel_log.read already refused any line that is not whole; each
        # job's events are there once per reply.
        check(self.log[:2] == [tessel_log.HEADER, ""], f"logfile header: {self.log[:2]}")
        check(self.log[-1] == tessel_log.FOOTER, f"logfile end: {self.log[-3:]}")


def scenario_plan_run(bed, cli, peer):
    """Three listed servers (stored by the form; stored over FTP after the
    form failed; one that never answers at its new address) and one that is
    not listed: each listed one gets its whole assignment, side by side; the
    unlisted one is heard and never answered; the table and the exit status
    of the worst (2: not verified) tell it."""
    http, ftp, failing, stranger = ("0A-1B-2C-00-08-01", "0A-1B-2C-00-08-02", "0A-1B-2C-00-08-03",
                                    "0A-1B-2C-00-08-09")
    servers = [("s1", http, [], [], "br0"),
               ("s2", ftp, [FACTORY_DEFAULT + "/24"], ["--from", "factory", "--web-status", "500"], "br0"),
               ("s3", failing, [], ["--no-web", "--no-icmp"], "br0"),
               ("s4", stranger, [], [], "br0")]
    plan = ["serial,address", "# three of the floor", "0a:1b:2c:00:08:01, 10.77.0.201",
            '"0A1B.2C00.0802","10.77.0.202"', "", "0a1b2c000803,10.77.0.203  # never verified"]
    run = PlanRun(bed, cli, peer, servers, plan).finish()
    check(run.code == 2, f"exit status {run.code}, not 2 (not verified):\n{run.tessel.stderr.text()}")
    run.check_table({http: ("10.77.0.201", "stored"), ftp: ("10.77.0.202", "stored"),
                     failing: ("10.77.0.203", "not verified")})
    for serial, address in ((http, "10.77.0.201"), (ftp, "10.77.0.202"), (failing, "10.77.0.203")):
        replies = run.replies(serial)
        check(replies and all(r["yiaddr"] == address for r in replies), f"{serial} replies: {replies}")
    check(not run.replies(stranger), "the server that is not in the plan was answered")
    check(f"heard {stranger} 0.0.0.0 (not in the plan)" in run.tessel.stderr.text(),
          f"the unlisted server was not told as heard: {run.tessel.stderr.text()}")
    check(re.search(r"^\d+ requests? from 1 server not in the plan; none answered\.$", run.tessel.stderr.text(), re.M),
          f"the count of servers not in the plan: {run.tessel.stderr.text()}")
    run.check_log_whole()
    # Every line of a job names its server.
    for serial, address in ((http, "10.77.0.201"), (ftp, "10.77.0.202")):
        check(tessel_log.stored(address) in run.job_lines(serial), f"no permanent success of {address} under {serial}")
    for serial in (http, ftp, failing):
        check(SELECTED in run.job_lines(serial), f"no assignment of {serial} in the logfile")
    check(SELECTED not in run.log, "a job's line without its server")
    check("FTP config file opened." in run.job_lines(ftp), "the FTP store is not under its server")
    # Overlapped: the three replies went out within one job's time.
    firsts = [min(when for when, text in run.peers[s].stdout.snapshot() if text.startswith("REPLY"))
              for s in (http, ftp, failing)]
    check(max(firsts) - min(firsts) < 20, f"the jobs did not overlap: replies {firsts}")


def scenario_plan_interrupted(bed, cli, peer):
    """Ctrl+C one second after the first job's reply, one job at a time:
    the job stops at its next safe step (the end of the restart wait), the
    second server's job never starts, and the table says where each stands."""
    first, second = "0A-1B-2C-00-09-01", "0A-1B-2C-00-09-02"
    servers = [("s1", first, [], [], "br0"), ("s2", second, [], [], "br0")]
    run = PlanRun(bed, cli, peer, servers, [f"{first},10.77.0.211", f"{second},10.77.0.212"],
                  ["--parallel", "1"])
    replied = None
    for _ in range(600):
        for serial in (first, second):
            if run.replies(serial):
                replied = serial
        if replied:
            break
        time.sleep(0.1)
    check(replied is not None, "no reply within 60 s")
    other = second if replied == first else first
    time.sleep(1.0)
    stamp = time.monotonic()
    run.tessel.signal(signal.SIGINT)
    run.finish()
    took = run.tessel.ended - stamp
    check(run.code == 130, f"exit status {run.code}, not 130: {run.tessel.stderr.text()}")
    check(took <= 8.4 + 3.0, f"ended {took:.2f} s after Ctrl+C")
    rows = run.table()
    check(rows[replied][1] == "interrupted after the reply", f"table: {rows}")
    check(rows[other][1] in ("heard, not started", "not heard"), f"table: {rows}")
    check(not run.replies(other), "the second job started after Ctrl+C")
    check(f"server {replied} may be restarting with" in run.tessel.stderr.text(), "no state line")
    run.check_log_whole()
    check(tessel_log.STOPPED in run.log, "no stop in the logfile")


def scenario_plan_queue(bed, cli, peer):
    """One job at a time and --seconds shorter than a job: both servers ask
    in time, the second is started once the first has ended, after the
    deadline (--seconds bounds the hearing, not the queue). The two fail
    differently (never found at its address; the form and FTP both refused),
    and the logfile has each failure under its own server."""
    lost, unstored = "0A-1B-2C-00-0B-01", "0A-1B-2C-00-0B-02"
    servers = [("s1", lost, [], ["--no-web", "--no-icmp"], "br0"),
               ("s2", unstored, [], ["--web-status", "500", "--no-ftp"], "br0")]
    run = PlanRun(bed, cli, peer, servers, [f"{lost},10.77.0.231", f"{unstored},10.77.0.232"],
                  ["--parallel", "1", "--seconds", "12"]).finish()
    stderr = run.tessel.stderr.text()
    check(run.code == 2, f"exit status {run.code}, not 2 (the worst: not verified):\n{stderr}")
    run.check_table({lost: ("10.77.0.231", "not verified"), unstored: ("10.77.0.232", "unconfirmed")})
    run.check_log_whole()
    lost_lines, unstored_lines = run.job_lines(lost), run.job_lines(unstored)
    check(lost_lines and not any(t.startswith("Success setting temporary") for t in lost_lines),
          f"{lost}: {lost_lines}")
    check(tessel_log.FTP_EVENTS[17] in unstored_lines, f"no FTP failure under {unstored}: {unstored_lines}")
    check(tessel_log.FTP_EVENTS[17] not in lost_lines, f"{unstored}'s failure under {lost}")
    check(any(t.startswith("Success setting temporary IP-address 10.77.0.232") for t in unstored_lines),
          f"{unstored}: {unstored_lines}")
    check(all(not t.startswith(("FTP ", "Trying to set", "However")) for t in run.log),
          "a job's line without its server")


def second_network(bed, prog):
    bed.add_bridge("br1")
    bed.add_interface(prog, "eth1", ["10.88.0.1/24"], "br1")


def scenario_plan_interface(bed, cli, peer):
    """The program's host on two networks, a server asking on each. With
    --interface eth1, list hears only the server on eth1 and counts the
    other's requests; with --interface eth0, a plan of both stores the one
    on eth0 and never answers the one on eth1, which stays "not heard"."""
    near, far = "0A-1B-2C-00-0A-01", "0A-1B-2C-00-0A-02"
    servers = [("s1", near, [], [], "br0"), ("s2", far, [], [], "br1")]

    def listing(case_bed):
        run = PlanRun(case_bed, cli, peer, servers, [], ["--interface", "eth1", "--seconds", "15", "--json"],
                      prepare=second_network, command=["list"]).finish()
        check(run.code == 0, f"list ended with {run.code}: {run.tessel.stderr.text()}")
        lines = run.tessel.stdout.text().splitlines()
        check(len(lines) == 2 and f'"serial":"{far}"' in lines[0], f"list heard: {lines}")
        summary = lines[-1]
        other = int(summary.split('"other_interface":')[1].rstrip("}"))
        check(other >= 3, f"requests on eth0 not counted: {summary}")
        check(all(near not in text for text in run.log), "the server on eth0 is in the logfile")
        check(not run.replies(near) and not run.replies(far), "a listing answered a server")

    def plan(case_bed):
        run = PlanRun(case_bed, cli, peer, servers, [f"{near},10.77.0.221", f"{far},10.88.0.222"],
                      ["--interface", "eth0", "--seconds", "40"], prepare=second_network).finish()
        check(run.code == 3, f"exit status {run.code}, not 3 (one never heard):\n{run.tessel.stderr.text()}")
        run.check_table({near: ("10.77.0.221", "stored"), far: ("10.88.0.222", "not heard")})
        check(run.replies(near) and not run.replies(far), "replies went to the wrong network")
        check("requests on other interfaces were not heard" in run.tessel.stderr.text(), "no count of the others")

    run_cases(bed, [("list_eth1", listing), ("plan_eth0", plan)])


SCENARIOS = {
    "plan_interface": scenario_plan_interface,
    "plan_run": scenario_plan_run,
    "plan_interrupted": scenario_plan_interrupted,
    "plan_queue": scenario_plan_queue,
}

if __name__ == "__main__":
    sys.exit(main(SCENARIOS, sys.argv))
