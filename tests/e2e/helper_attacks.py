#!/usr/bin/python3
"""The network helper tessel-net used the way a member of its group can use
it: started directly, with a socket of the member's own on descriptor 3,
without any Tessel program, by user nobody in a group made by the test that
may run a copy holding the three capabilities (0750 root:GROUP, +p), in the
program's namespace of a test bed:

    helper_attacks.py helper_attacks TESSEL_NET

Each case is one way of misusing the helper: the loopback device's shared
entry, a gateway's or the network's own addresses, entries without end or
without number, signals, a limit on its descriptors, empty messages,
descriptors sent along, checks at flood rate, and the rights and system
calls each helper keeps.
Exit status 0 passed, 1 failed, 77 skipped (no root, namespaces, setcap or
setpriv).

`helper_attacks.py drive HELPER` is the member's side: it reads one JSON
command a line and answers each with one JSON line.
"""

import array
import fcntl
import json
import os
import re
import resource
import shutil
import signal
import socket
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from assign_scenarios import run_cases  # noqa: E402
from privilege_scenarios import ALL_CAPS, CAP_BITS, NOBODY, SETCAP, check_tools, free_group  # noqa: E402
from testbed import IP, PROGRAM_ADDRESS, as_user, check, main, run  # noqa: E402

HARDWARE = "02:00:00:00:00:66"
GATEWAY, OTHER_TABLE_GATEWAY, HOST = "10.77.0.254", "10.77.0.253", "10.77.0.2"
PROTOCOL = 116  # kNeighbourProtocol
MAX_TAGGED = 16  # kMaxTaggedNeighbours, for the whole table
LIFETIME = 30  # kOwnNeighbourLifetimeMs, in seconds


# --- the member's side -------------------------------------------------------

def start_helper(helper, role):
    """A helper with a socket of the member's own on its descriptor 3."""
    a, b = socket.socketpair(socket.AF_UNIX, socket.SOCK_SEQPACKET)
    ours = fcntl.fcntl(a.fileno(), fcntl.F_DUPFD_CLOEXEC, 10)
    theirs = fcntl.fcntl(b.fileno(), fcntl.F_DUPFD, 20)
    a.close()
    b.close()
    os.dup2(theirs, 3)
    os.close(theirs)
    process = subprocess.Popen([helper, role], pass_fds=(3,))
    os.close(3)
    sock = socket.socket(fileno=ours)
    sock.settimeout(15)
    return process, sock


def drive(helper):
    """Runs as the member: starts the helper as the programs would not have
    to, and does what each command line says."""
    process, sock = None, None
    swarm = []
    for line in sys.stdin:
        command = json.loads(line)
        answer = {}
        if "start" in command:
            process, sock = start_helper(helper, command["start"])
            answer["pid"] = process.pid
        elif "swarm" in command:
            # Many helpers at once, each sent all of its requests before any
            # reply is read, so that they change the table side by side.
            swarm = [start_helper(helper, "table") for _ in command["swarm"]]
            for (_, member_sock), texts in zip(swarm, command["swarm"]):
                for text in texts:
                    member_sock.send(text.encode())
            answer["replies"] = [[member_sock.recv(256).decode() for _ in texts]
                                 for (_, member_sock), texts in zip(swarm, command["swarm"])]
        elif "swarm_signal" in command:
            for swarm_process, _ in swarm:
                os.kill(swarm_process.pid, command["swarm_signal"])
                swarm_process.wait()
        elif "unread" in command:
            # Requests without reading a reply, until the helper takes none.
            sent = 0
            try:
                for _ in range(command["unread"]):
                    sock.send(b"remove-neighbour 10.77.0.9", socket.MSG_DONTWAIT)
                    sent += 1
            except OSError:
                pass
            answer["sent"] = sent
        elif "asks" in command:
            started = time.monotonic()
            replies = []
            for text in command["asks"]:
                fds = [os.open("/dev/null", os.O_RDONLY) for _ in range(command.get("fds", 0))]
                try:
                    if fds:
                        sock.sendmsg([text.encode()], [(socket.SOL_SOCKET, socket.SCM_RIGHTS,
                                                        array.array("i", fds))])
                    else:
                        sock.send(text.encode())
                    replies.append(sock.recv(256).decode(errors="replace"))
                except OSError as error:
                    replies.append(f"(no reply: {error})")
                for fd in fds:
                    os.close(fd)
            answer = {"replies": replies, "elapsed": time.monotonic() - started}
        elif "signal" in command:
            os.kill(process.pid, command["signal"])
        elif "nofile" in command:
            resource.prlimit(process.pid, resource.RLIMIT_NOFILE, (command["nofile"], command["nofile"]))
        elif "close" in command:
            sock.close()
        if "wait" in command:
            try:
                answer["status"] = process.wait(command["wait"])
            except subprocess.TimeoutExpired:
                answer["status"] = None
        print(json.dumps(answer), flush=True)
    # The test is over: a helper that did not end with its socket ends now.
    if process is not None and process.poll() is None:
        sock.close()
        try:
            process.wait(5)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


# --- the test's side ---------------------------------------------------------

class Member:
    """The member's side, running in the program's namespace as nobody with
    the test's group."""

    def __init__(self, bed, node, helper, gid):
        self.helper = helper
        self.popen = subprocess.Popen(
            [IP, "netns", "exec", node.namespace] + as_user(NOBODY, (gid,)) +
            [sys.executable, os.path.abspath(__file__), "drive", helper],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        bed.cleanups.append(self.end)

    def __call__(self, **command):
        self.popen.stdin.write(json.dumps(command) + "\n")
        self.popen.stdin.flush()
        line = self.popen.stdout.readline()
        check(line, "the member's side ended")
        return json.loads(line)

    def start(self, role):
        """The helper's pid, once it has given up its role's other rights and
        installed its filter (the last step before it answers)."""
        pid = self(start=role)["pid"]
        deadline = time.monotonic() + 5
        while status_field(pid, "Seccomp") != "2" and time.monotonic() < deadline:
            time.sleep(0.01)
        return pid

    def ask(self, *texts, fds=0):
        return self(asks=list(texts), fds=fds)["replies"]

    def end(self):
        if self.popen.poll() is None:
            self.popen.stdin.close()
            self.popen.wait(20)


def helper_copy(bed, helper, gid):
    """The helper as the package installs it, for the test's group."""
    copy = os.path.join(bed.make_folder(), "tessel-net")
    shutil.copy(helper, copy)
    os.chown(copy, 0, gid)
    os.chmod(copy, 0o750)
    run([SETCAP, ALL_CAPS + "+p", copy])
    return copy


def status_field(pid, name):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith(name + ":"):
                return line.split(":", 1)[1].strip()
    return None


def capabilities(pid):
    held = int(status_field(pid, "CapPrm"), 16)
    return {name for name, bit in CAP_BITS.items() if held >> bit & 1}


def neighbours(node, *selector):
    return node.run([IP, "neigh", "show"] + list(selector)).stdout.strip()


def tagged(node):
    """Tessel's entries in the kernel's table, each with its times (used,
    confirmed, updated, in seconds)."""
    return node.run([IP, "-s", "neigh", "show", "proto", str(PROTOCOL)]).stdout.strip().splitlines()


def scenario_helper_attacks(bed, helper):
    check_tools()
    gid = free_group()

    def network(case_bed, *more_addresses):
        """The program's host with a default gateway, a gateway in a second
        routing table, and a host that answers echo requests."""
        prog = case_bed.add_node("prog", [PROGRAM_ADDRESS + "/24", *more_addresses])
        case_bed.add_node("host", [HOST + "/24"])
        prog.run([IP, "route", "add", "default", "via", GATEWAY])
        prog.run([IP, "route", "add", "default", "via", OTHER_TABLE_GATEWAY, "table", "100"])
        return prog, Member(case_bed, prog, helper_copy(case_bed, helper, gid), gid)

    def neighbour_rules(case_bed):
        prog, member = network(case_bed)
        member.start("table")
        refused = {
            f"add-neighbour 10.99.0.50 lo {HARDWARE}": "loopback interface",
            f"add-neighbour {GATEWAY} eth0 {HARDWARE}": "a gateway of a route",
            f"add-neighbour {OTHER_TABLE_GATEWAY} eth0 {HARDWARE}": "a gateway of a route",
            f"add-neighbour 10.77.0.255 eth0 {HARDWARE}": "the network's broadcast address",
            f"add-neighbour 10.77.0.0 eth0 {HARDWARE}": "the network's own address",
            f"add-neighbour {PROGRAM_ADDRESS} eth0 {HARDWARE}": "an address of this computer",
            f"add-neighbour 10.78.0.5 eth0 {HARDWARE}": "not in a network of the interface",
            f"echo {HOST} 1000": "not a request of this helper",
        }
        replies = member.ask(*refused)
        for (request, reason), reply in zip(refused.items(), replies):
            check(reply == "refused " + reason, f"{request!r}: {reply!r}")
        check(neighbours(prog, "dev", "lo") == "", f"loopback's entry: {neighbours(prog, 'dev', 'lo')}")
        check(neighbours(prog, GATEWAY) == "", f"the gateway's entry: {neighbours(prog, GATEWAY)}")
        # One that is allowed: STALE, never permanent, tagged as ours.
        check(member.ask(f"add-neighbour 10.77.0.50 eth0 {HARDWARE}") == ["ok"], "10.77.0.50 refused")
        entry = neighbours(prog, "10.77.0.50")
        check(HARDWARE in entry and f"proto {PROTOCOL}" in entry and "PERMANENT" not in entry,
              f"the entry: {entry!r}")
        check(neighbours(prog, "proto", str(PROTOCOL)).startswith("10.77.0.50 "), "not listed by its number")
        # At most a few at once.
        replies = member.ask(*(f"add-neighbour 10.77.0.{n} eth0 {HARDWARE}" for n in range(100, 120)))
        check(replies.count("ok") == 7 and all(r.startswith("refused too many entries") for r in replies[7:]),
              f"twenty more entries: {replies}")
        member(close=True, wait=5)
        check(neighbours(prog, "proto", str(PROTOCOL)) == "", "entries left after the end")

    def lifetime(case_bed):
        prog, member = network(case_bed)
        pid = member.start("table")
        made = time.monotonic()
        check(member.ask(f"add-neighbour 10.77.0.51 eth0 {HARDWARE}") == ["ok"], "refused")
        # Asked again half-way, the entry keeps its first time.
        time.sleep(15)
        check(member.ask(f"add-neighbour 10.77.0.51 eth0 {HARDWARE}") == ["ok"], "the re-add refused")
        while neighbours(prog, "10.77.0.51") and time.monotonic() < made + 60:
            time.sleep(0.5)
        age = time.monotonic() - made
        print(f"    re-added at 15 s: gone at {age:.1f} s", flush=True)
        check(age < LIFETIME + 2, f"the entry lived {age:.1f} s")
        check(os.path.exists(f"/proc/{pid}"), "the helper ended")

    def stopped_and_killed(case_bed):
        """Helpers that cannot clean up: their entries go at another's next
        add once their lifetime is over."""
        prog, member = network(case_bed)
        stopped, killed, other = member, Member(case_bed, prog, member.helper, gid), Member(
            case_bed, prog, member.helper, gid)
        stopped.start("table")
        check(stopped.ask(f"add-neighbour 10.77.0.52 eth0 {HARDWARE}") == ["ok"], "refused")
        stopped(signal=signal.SIGSTOP)
        killed.start("table")
        check(killed.ask(f"add-neighbour 10.77.0.53 eth0 {HARDWARE}") == ["ok"], "refused")
        killed(signal=signal.SIGKILL, wait=5)
        made = time.monotonic()
        # Until then what they left stays, never permanent.
        for address in ("10.77.0.52", "10.77.0.53"):
            entry = neighbours(prog, address)
            check("PERMANENT" not in entry and f"proto {PROTOCOL}" in entry, f"left behind: {entry!r}")
        time.sleep(LIFETIME + 1)
        other.start("table")
        check(other.ask(f"add-neighbour 10.77.0.54 eth0 {HARDWARE}") == ["ok"], "refused")
        left = tagged(prog)
        print(f"    {LIFETIME + 1} s after SIGSTOP and SIGKILL, at another's add: {len(left)} entries "
              f"({time.monotonic() - made:.1f} s)", flush=True)
        check([line.split()[0] for line in left] == ["10.77.0.54"], f"left: {left}")
        stopped(signal=signal.SIGCONT)

    def many_helpers(case_bed):
        """Forty helpers of one member at once, eight entries each: the
        whole table holds no more than its cap, and none past its lifetime."""
        prog, member = network(case_bed, "10.80.0.1/16")
        asks = [[f"add-neighbour 10.80.{h + 1}.{n + 1} eth0 {HARDWARE}" for n in range(8)] for h in range(40)]
        started = time.monotonic()
        replies = member(swarm=asks)["replies"]
        made = sum(r.count("ok") for r in replies)
        held = tagged(prog)
        print(f"    40 helpers x 8 entries: {made} made, {len(held)} in the table "
              f"({time.monotonic() - started:.2f} s)", flush=True)
        check(len(held) <= MAX_TAGGED and made <= MAX_TAGGED, f"{made} made, {len(held)} held")
        check(all(r == "ok" or r.startswith("refused too many entries") or r == "kept" for h in replies for r in h),
              f"replies: {sorted(set(r for h in replies for r in h))}")
        # Killed all at once, they leave what they made until another's
        # next add past the lifetime.
        member(swarm_signal=int(signal.SIGKILL))
        time.sleep(LIFETIME + 1)
        other = Member(case_bed, prog, member.helper, gid)
        other.start("table")
        check(other.ask(f"add-neighbour 10.80.0.9 eth0 {HARDWARE}") == ["ok"], "refused")
        left = tagged(prog)
        ages = [int(re.search(r" used \d+/\d+/(\d+)", line).group(1)) for line in left]
        print(f"    after SIGKILL of all and another's add: {len(left)} entries, ages {ages} s", flush=True)
        check(len(left) == 1 and all(age < LIFETIME for age in ages), f"left: {left}")

    def unread_replies(case_bed):
        """A member that never reads: the helper ends, with its clean-up,
        instead of waiting in a send."""
        prog, member = network(case_bed)
        member.start("table")
        check(member.ask(f"add-neighbour 10.77.0.55 eth0 {HARDWARE}") == ["ok"], "refused")
        started = time.monotonic()
        sent = member(unread=1000)["sent"]
        status = member(wait=5)["status"]
        print(f"    unread replies: {sent} requests taken, helper ended with {status} "
              f"after {time.monotonic() - started:.2f} s", flush=True)
        check(status == 0, f"exit {status}")
        check(not neighbours(prog, "10.77.0.55"), f"left {neighbours(prog, '10.77.0.55')!r}")

    def ends_cleanly(case_bed):
        prog, member = network(case_bed)
        for number, signal_number in enumerate((signal.SIGTERM, signal.SIGHUP, signal.SIGINT)):
            member.start("table")
            address = f"10.77.0.{60 + number}"
            check(member.ask(f"add-neighbour {address} eth0 {HARDWARE}") == ["ok"], "refused")
            status = member(signal=int(signal_number), wait=5)["status"]
            check(status == 0, f"{signal_number.name}: exit {status}")
            check(not neighbours(prog, address), f"{signal_number.name}: left {neighbours(prog, address)!r}")
            member(close=True)
        # Its user takes away its descriptors: it still removes its entry.
        member.start("table")
        check(member.ask(f"add-neighbour 10.77.0.63 eth0 {HARDWARE}") == ["ok"], "refused")
        member(nofile=0)
        status = member(close=True, wait=5)["status"]
        check(status == 0 and not neighbours(prog, "10.77.0.63"),
              f"with no descriptors left: exit {status}, left {neighbours(prog, '10.77.0.63')!r}")

    def messages(case_bed):
        _prog, member = network(case_bed)
        pid = member.start("table")
        check(member.ask("") == ["refused empty request"], "an empty message")
        before = len(os.listdir(f"/proc/{pid}/fd"))
        replies = member.ask(*["remove-neighbour 10.77.0.9"] * 40, fds=2)
        check(set(replies) == {"refused control data"}, f"with descriptors: {set(replies)}")
        after = len(os.listdir(f"/proc/{pid}/fd"))
        check(after == before, f"descriptors held: {before} before, {after} after")
        check(member.ask("remove-neighbour 10.77.0.9") == ["ok"], "no answer after")

    def paced_checks(case_bed):
        _prog, member = network(case_bed)
        member.start("check")
        check(member.ask(f"echo {HOST} 1") == ["refused timeout below 1000 ms"], "a 1-ms check")
        answer = member(asks=[f"echo {HOST} 1000"] * 10)
        check(answer["replies"] == ["answered"] * 10, f"checks: {answer['replies']}")
        check(answer["elapsed"] >= 0.9, f"ten checks in {answer['elapsed']:.3f} s")

    def rights_by_role(case_bed):
        _prog, member = network(case_bed)
        check_pid = member.start("check")
        check(capabilities(check_pid) == {"cap_net_raw"}, f"check helper: {capabilities(check_pid)}")
        check(status_field(check_pid, "Seccomp") == "2", "no system-call filter on the check helper")
        member(close=True, wait=5)
        table_pid = member.start("table")
        check(capabilities(table_pid) == {"cap_net_bind_service", "cap_net_admin"},
              f"table helper: {capabilities(table_pid)}")
        check(status_field(table_pid, "Seccomp") == "2", "no system-call filter on the table helper")
        check(member.ask("bind-server-port") == ["ok"], "port refused")
        check(capabilities(table_pid) == {"cap_net_admin"}, f"after the port: {capabilities(table_pid)}")
        check(member.ask("bind-server-port") == ["refused port handed over already"], "a second port")

    run_cases(bed, [
        ("neighbour_rules", neighbour_rules),
        ("lifetime", lifetime),
        ("stopped_and_killed", stopped_and_killed),
        ("many_helpers", many_helpers),
        ("unread_replies", unread_replies),
        ("ends_cleanly", ends_cleanly),
        ("messages", messages),
        ("paced_checks", paced_checks),
        ("rights_by_role", rights_by_role),
    ])


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "drive":
        drive(sys.argv[2])
        sys.exit(0)
    sys.exit(main({"helper_attacks": scenario_helper_attacks}, sys.argv))
