#!/usr/bin/python3
"""End-to-end runs of the Windows build: tessel-cli.exe under Wine in the
namespace test bed, against tessel-peer in device namespaces:

    wine_scenarios.py SCENARIO TESSEL_CLI_EXE TESSEL_PEER COMMAND_RECORDER

Wine keeps a program's sockets in its server process (wineserver), so every
program namespace gets a Wine prefix of its own, and that prefix's server is
started inside the namespace before the program. In each prefix the
system's arp.exe and ping.exe are replaced by COMMAND_RECORDER, which writes
down each command line it is started with: the scenarios check the exact
commands the program started, not what Wine's own arp and ping make of them.
Exit status 0 passed, 1 failed, 77 skipped (no root, no namespaces or no Wine).
"""

import os
import shutil
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import tessel_log  # noqa: E402
from assign_scenarios import (BOX_STORED, BOX_UNTIL_RESTART, EXIT_STORED, EXIT_UNCONFIRMED, SetRun,  # noqa: E402
                              assignment_events, config_content, run_cases, second_network_case)
from run_scenario import Program, run_peer  # noqa: E402
from testbed import (FACTORY_DEFAULT, IP, PROGRAM_ADDRESS, Failure, Skip, check,  # noqa: E402
                     main)

WINE = os.environ.get("TESSEL_WINE", "/usr/lib/wine/wine64")
WINESERVER = os.path.join(os.path.dirname(WINE), "wineserver")
PREFIX_LIMIT = 120          # making a prefix takes a few seconds; on a busy machine more
LIST_SECONDS = 14
EXIT_ANSWERED, EXIT_NOT_ANSWERED = 0, 1
ICMP_WAIT = 4.0
STOP_LIMIT_SECONDS = 3.0   # as for the Linux build


def windows_path(path):
    """A path of this machine as a Windows program under Wine names it."""
    return "Z:" + path.replace("/", "\\")


class WinePrefix:
    """A Wine prefix of one namespace, with its server running there."""

    def __init__(self, node, recorder, extra_env=(), recorded=("arp.exe", "ping.exe")):
        """`recorded`: the system programs the recorder stands in for;
        `extra_env`: more of the programs' environment (a display)."""
        self.node = node
        folder = node.bed.make_folder()
        self.path = os.path.join(folder, "prefix")
        os.mkdir(self.path)
        self.record = os.path.join(folder, "commands.txt")
        self.env = [f"WINEPREFIX={self.path}", "WINEDEBUG=-all",
                    # No Mono or Gecko installer, no menu entries; the
                    # recorder runs in place of Wine's own arp and ping.
                    "WINEDLLOVERRIDES=mscoree,mshtml=;winemenubuilder.exe=d;" + ",".join(recorded) + "=n",
                    f"TESSEL_COMMAND_RECORD={windows_path(self.record)}"] + list(extra_env)
        node.bed.cleanups.append(self.close)
        self._run([WINESERVER, "-p"], 10, "the Wine server did not start")
        self._run([WINE, "wineboot", "--init"], PREFIX_LIMIT, "the Wine prefix was not made")
        system32 = os.path.join(self.path, "drive_c", "windows", "system32")
        for name in recorded:
            shutil.copyfile(recorder, os.path.join(system32, name))

    def _run(self, args, timeout, failure):
        # The server stays in the background: it must not hold our pipes.
        try:
            code = subprocess.run([IP, "netns", "exec", self.node.namespace, "/usr/bin/env"] +
                                  self.env + args, stdin=subprocess.DEVNULL,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                  timeout=timeout).returncode
        except subprocess.TimeoutExpired:
            code = None
        check(code == 0, f"{failure} in {self.node.namespace} (exit {code})")

    def command(self, program):
        return ["/usr/bin/env"] + self.env + [WINE, program]

    def commands(self):
        """The command lines the program started, in the order they began."""
        try:
            with open(self.record, "rb") as record:
                data = record.read()
        except FileNotFoundError:
            return []
        check(data.endswith(b"\r\n") or not data, f"command record cut short: {data!r}")
        return data.decode("utf-8").split("\r\n")[:-1]

    def close(self):
        subprocess.run([IP, "netns", "exec", self.node.namespace, "/usr/bin/env"] + self.env +
                       [WINESERVER, "-k"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=10, check=False)


class WineProgram:
    """tessel-cli.exe as a launcher for the bed's programs: each node it is
    started on gets its prefix (made on first use)."""

    def __init__(self, exe, recorder):
        self.exe, self.recorder = exe, recorder
        self.prefixes = {}

    def __call__(self, node):
        if node.namespace not in self.prefixes:
            self.prefixes[node.namespace] = WinePrefix(node, self.recorder)
        return self.prefixes[node.namespace].command(self.exe)

    def commands(self, node):
        return self.prefixes[node.namespace].commands()


def check_commands(program, node, expected, timeout=10):
    """The commands run concurrently and are recorded as each starts, so
    only their multiset is certain. A command may still be starting when
    the program has ended: wait a little for the last ones."""
    deadline = time.monotonic() + timeout
    while True:
        actual = program.commands(node)
        if len(actual) >= len(expected) or time.monotonic() > deadline:
            break
        time.sleep(0.2)
    check(sorted(actual) == sorted(expected),
          "commands started:\n  expected " + repr(sorted(expected)) + "\n  actual   " + repr(actual))


def require_wine(program, peer, recorder):
    for path, what in ((WINE, "Wine (wine64)"), (program, "tessel-cli.exe"), (peer, "tessel-peer"),
                       (recorder, "the command recorder")):
        if not os.path.exists(path):
            raise Skip(f"{what} is not there: {path}")
    return WineProgram(program, recorder)


# --------------------------------------------------------------------------

def scenario_wine_list(bed, exe, peer, recorder):
    """tessel-cli.exe list hears servers asking from 0.0.0.0 and from the
    factory default, with the logfile given as a Windows path."""
    program = require_wine(exe, peer, recorder)
    prog = bed.add_node("prog", [PROGRAM_ADDRESS + "/24"], default_route=True)
    a = bed.add_node("a")
    b = bed.add_node("b", [FACTORY_DEFAULT + "/24"])
    folder = bed.make_folder()
    logfile = os.path.join(folder, "list.log")
    program(prog)  # the prefix first: its start-up is not the program's
    tessel = Program(prog, program, ["--seconds", str(LIST_SECONDS), "--logfile",
                                     windows_path(logfile)], folder)
    tessel.wait_bound()
    run_peer(a, peer, ["--from", "0.0.0.0", "--server", "0A-1B-2C-00-09-01",
                       "--server", "00-11-22-33-44-55"])
    run_peer(b, peer, ["--from", "factory", "--server", "0A-1B-2D-00-09-02"])
    code = tessel.process.wait(LIST_SECONDS + 25)  # the start-up note comes first
    check(code == 0, f"tessel-cli.exe list ended with {code}, not 0:\n{tessel.process.stderr.text()}")
    tessel.check_rows([("0A-1B-2C-00-09-01", "0.0.0.0"), ("0A-1B-2D-00-09-02", FACTORY_DEFAULT)],
                      before=tessel.process.ended)
    log = [text for _, text in tessel_log.read(logfile)]
    check(log[:2] == [tessel_log.HEADER, ""] and log[-3:] == ["", "", tessel_log.FOOTER],
          f"logfile without its header or footer: {log}")
    check(sum(text == "New server, so add to list." for text in log) == 2,
          "the logfile does not list the two servers:\n" + "\n".join(log))
    check(program.commands(prog) == [], f"list started commands: {program.commands(prog)}")


def scenario_wine_set(bed, exe, peer, recorder):
    """Whole assignments by tessel-cli.exe: stored by the form, with the
    program's host on no default route; stored over FTP when the form
    fails; the reply out of the second network the request came in on; a
    server that does not answer on port 80, for which the fallback's arp
    and ping commands run and the final ICMP check finds it."""
    program = require_wine(exe, peer, recorder)

    def form(case_bed):
        serial, address = "0A-1B-2C-00-0A-01", "10.77.0.161"
        run = SetRun(case_bed, program, peer, serial, address, program_route=False,
                     prepare=lambda _bed, node: program(node)).finish()
        run.check_outcome(EXIT_STORED, BOX_STORED)
        run.check_home_page()
        run.check_one_reply()
        run.check_restarted()
        run.check_log("0.0.0.0", assignment_events("0.0.0.0", serial, address, True, True))
        run.check_form_post(200)
        check(not run.peer_lines("FTP"), "FTP was tried after the form was stored")
        run.check_schedule("http")
        check_commands(program, run.prog, ["arp -d " + address] * 3 + ["arp -d 0.0.0.0"])

    def ftp(case_bed):
        serial, address = "0A-1B-2C-00-0A-02", "10.77.0.162"
        run = SetRun(case_bed, program, peer, serial, address, ["--web-status", "500"],
                     prepare=lambda _bed, node: program(node)).finish()
        run.check_outcome(EXIT_STORED, BOX_STORED)
        run.check_one_reply()
        run.check_restarted()
        run.check_log("0.0.0.0", assignment_events("0.0.0.0", serial, address, True, ftp=(
            tessel_log.ftp_events(16, 18, (19, "CONFIG"), 20, 21, (15, address)))))
        # WinINet searches by LIST (and picks the name itself), in active
        # mode, and sends the file in ASCII, exactly as written.
        commands = [(f["verb"], f["arg"]) for _, f in run.peer_lines("FTP", "command")]
        check(commands[:2] == [("USER", "root"), ("PASS", "wxyz")], f"FTP log-in: {commands}")
        verbs = [verb for verb, _ in commands]
        check("PASV" not in verbs and "EPSV" not in verbs and "PORT" in verbs,
              f"not in active mode: {commands}")
        check([c for c in commands if c[0] in ("LIST", "NLST", "STOR")] ==
              [("LIST", ""), ("STOR", "CONFIG")], f"FTP search and upload: {commands}")
        stored = run.peer_lines("FTP", "stored")
        check(len(stored) == 1 and stored[0][1]["type"] == "A", f"FTP upload: {stored}")
        with open(stored[0][1]["file"], "rb") as kept:
            content = kept.read()
        check(content == config_content("CONFIG", address), f"uploaded CONFIG: {content!r}")
        run.check_schedule("ftp")

    def no_port_80(case_bed):
        serial, address = "0A-1B-2C-00-0A-04", "10.77.0.164"
        run = SetRun(case_bed, program, peer, serial, address, ["--no-web"],
                     prepare=lambda _bed, node: program(node)).finish()
        # Not verified (3): the fallback's ARP method, then the final ICMP
        # check, which the server answers; no store was confirmed.
        run.check_outcome(EXIT_UNCONFIRMED, BOX_UNTIL_RESTART)
        run.check_unconfirmed()
        run.check_one_reply()
        run.check_restarted()
        run.check_log("0.0.0.0", assignment_events("0.0.0.0", serial, address, False))
        run.check_schedule("replied", probed=False)
        check_commands(program, run.prog, [
            "arp -d " + address, "arp -d " + address, "arp -d 0.0.0.0",
            "ping -n 1 -w 1000 10.77.255.255",
            f"arp -s {address} {serial} {PROGRAM_ADDRESS}",
            "ping -n 1 -w 1000 " + address, "arp -d " + address,
            "arp -d " + address])

    run_cases(bed, [("form_no_default_route", form), ("form_refused_then_ftp", ftp),
                    ("second_network", second_network_case(program, peer, "0A-1B-2C-00-0A-03",
                                                           "10.88.0.163", "0A-1B-2C-00-0A-09",
                                                           lambda _bed, node: program(node))),
                    ("no_port_80", no_port_80)])


def scenario_wine_probe(bed, exe, peer, recorder):
    """tessel-cli.exe probe icmp through the system's ICMP service: a host
    that answers, one whose kernel ignores echo requests, an address nobody
    has, and one for which a router reports its network unreachable (an
    error report is no answer)."""
    program = require_wine(exe, peer, recorder)
    prog = bed.add_node("prog", [PROGRAM_ADDRESS + "/24"], default_route=True)
    bed.add_node("echo", ["10.77.0.70/24"])
    silent = bed.add_node("silent", ["10.77.0.71/24"])
    result = silent.run(["/usr/sbin/sysctl", "-q", "-w", "net.ipv4.icmp_echo_ignore_all=1"])
    check(result.returncode == 0, f"echo answers cannot be switched off: {result.stderr}")
    # A router that answers for a network it cannot reach with "network
    # unreachable": the ICMP service counts that as a reply, yet no device
    # answered.
    router = bed.add_node("router", ["10.77.0.254/24"])
    for args in (["/usr/sbin/sysctl", "-q", "-w", "net.ipv4.ip_forward=1"],
                 [IP, "route", "add", "unreachable", "10.99.0.0/24"]):
        result = router.run(args)
        check(result.returncode == 0, f"router: {' '.join(args)}: {result.stderr}")
    result = prog.run([IP, "route", "add", "10.99.0.0/24", "via", "10.77.0.254"])
    check(result.returncode == 0, f"route to the router: {result.stderr}")
    command = program(prog)
    failed = []
    for name, address, code in (("answers", "10.77.0.70", EXIT_ANSWERED),
                                 ("silent_host", "10.77.0.71", EXIT_NOT_ANSWERED),
                                 ("nobody_there", "10.77.0.99", EXIT_NOT_ANSWERED),
                                 ("router_says_unreachable", "10.99.0.5", EXIT_NOT_ANSWERED)):
        process = prog.start(command + ["probe", "icmp", address], name="tessel-cli.exe probe")
        got = process.wait(30)
        took = (process.ended or time.monotonic()) - process.started
        outcome = "passed"
        if got != code:
            outcome = "FAILED"
            failed.append(f"{name}: exit {got}, not {code}\n{process.describe()}")
        elif code == EXIT_NOT_ANSWERED and took < ICMP_WAIT and not name.startswith("router"):
            outcome = "FAILED"
            failed.append(f"{name}: no answer after {took:.2f} s, before the {ICMP_WAIT} s wait")
        print(f"  {name}: {outcome} ({took:.2f} s)", flush=True)
    if failed:
        raise Failure("\n".join(failed))


def scenario_wine_interrupt(bed, exe, peer, recorder):
    """Ctrl+C reaches tessel-cli.exe through its console control handler
    (Wine hands a SIGINT of its process to the handler as Ctrl+C): `list`
    ends at once with status 130, as `set` while it waits for the server;
    both write their logfile to the end."""
    program = require_wine(exe, peer, recorder)
    prog = bed.add_node("prog", [PROGRAM_ADDRESS + "/24"], default_route=True)
    folder = bed.make_folder()
    program(prog)
    for name, words, code in (("list", ["list", "--seconds", "60"], 130),
                              ("set", ["set", "0A-1B-2C-00-0B-01", "10.77.0.171"], 130)):
        logfile = os.path.join(folder, name + ".log")
        process = prog.start(program(prog) + words + ["--logfile", windows_path(logfile)],
                             cwd=folder, name="tessel-cli.exe " + name)
        check(process.wait_udp_bound(67, timeout=15), f"{name}: port 67 not bound:\n{process.describe()}")
        time.sleep(2.0)
        sent = time.monotonic()
        process.signal(signal.SIGINT)
        got = process.wait(10)
        took = time.monotonic() - sent
        print(f"  {name}: Ctrl+C to exit {took:.2f} s, status {got}", flush=True)
        check(got == code, f"{name}: exit {got} after Ctrl+C, not {code}:\n{process.describe()}")
        check(took < STOP_LIMIT_SECONDS, f"{name}: Ctrl+C took {took:.2f} s to end the program")
        texts = [text for _, text in tessel_log.read(logfile)]
        check(texts[:1] == [tessel_log.HEADER] and texts[-1:] == [tessel_log.FOOTER],
              f"{name}: logfile not written to the end: {texts}")


SCENARIOS = {
    "wine_list": scenario_wine_list,
    "wine_interrupt": scenario_wine_interrupt,
    "wine_set": scenario_wine_set,
    "wine_probe": scenario_wine_probe,
}

if __name__ == "__main__":
    sys.exit(main(SCENARIOS, sys.argv))
