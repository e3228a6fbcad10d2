#!/usr/bin/python3
"""End-to-end scenarios of the program run by an ordinary user, as a new
user would run it after installing it: a copy of tessel-cli with file
capabilities (exactly those its own message names), started through
setpriv as user nobody, in a program namespace whose
net.ipv4.ping_group_range excludes that user, so ICMP works only through
the capability:

    privilege_scenarios.py unprivileged TESSEL_CLI TESSEL_PEER TESSEL_NET
    privilege_scenarios.py member TESSEL_CLI TESSEL_PEER TESSEL_NET HOLD_LIBRARY

Cases of `unprivileged`, side by side on beds of their own: with a helper
tessel-net beside it that holds no capabilities, `list` is refused with the
setcap command to run for the helper, and after running it `list` hears a
peer while tessel-cli holds nothing; `set` gives a peer its address and stores it; for a peer that never
restarts the fallback's permanent ARP entry appears in the program's
namespace (and without cap_net_admin it does not, and the logfile says so;
an administrator's static entry for the address stays as it was), while
the program's threads hold no effective capability and its pings none;
`probe icmp` tells "not permitted" from "no answer"; `set` without
cap_net_raw refuses to take the unchecked address for a free one.

Cases of `member`: tessel-cli without any capability, beside a copy of
tessel-net that only root and a group made by the test may run (0750) and
that holds the three capabilities: outside the group, `list` says how to
join it; in the group, `set` stores a peer's address with the ICMP check
through the helper, while tessel-cli's permitted set is empty and the
helper's capabilities are permitted but not effective; and when tessel-cli
is killed with SIGKILL while the fallback's neighbour entry is in the table,
the helper removes the entry and ends.
Exit status 0 passed, 1 failed, 77 skipped (no root, namespaces, setcap or
setpriv).
"""

import os
import shutil
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import tessel_log  # noqa: E402
from assign_scenarios import (BOX_STORED, EXIT_NOT_VERIFIED, EXIT_STORED, SELECTED,  # noqa: E402
                              SetRun, assignment_events, run_cases)
from testbed import IP, PROGRAM_ADDRESS, SETPRIV, SYSCTL, Skip, as_user, check, main, run  # noqa: E402

SETCAP = "/usr/sbin/setcap" if os.path.exists("/usr/sbin/setcap") else "/sbin/setcap"
GETCAP = "/usr/sbin/getcap" if os.path.exists("/usr/sbin/getcap") else "/sbin/getcap"
NOBODY = 65534
ALL_CAPS = "cap_net_bind_service,cap_net_raw,cap_net_admin"
EXIT_PORT_UNAVAILABLE, EXIT_NOT_CHECKED = 69, 77
BOX_NOT_VERIFIED = ["Time out occurred, while trying to reach the server for verification.",
                    "The support logfile tells each step that was tried."]
BOX_NOT_CHECKED = ["The IP address could not be checked, because this program",
                   "could not send an ICMP echo request (ping) to it.", "",
                   "If another device already uses this address, both will fail."]
ARP_FAILED = "ARP table entry could not be changed for IP-address "


def user_folder(bed):
    folder = bed.make_folder()
    os.chown(folder, NOBODY, NOBODY)
    return folder


def program_copy(bed, program, capabilities, name="tessel-cli"):
    """A copy of the program that nobody may run, with the given file
    capabilities ("" for none)."""
    path = os.path.join(bed.make_folder(), name)
    shutil.copy(program, path)
    os.chmod(path, 0o755)
    if capabilities:
        run([SETCAP, capabilities + "+ep", path])
    return path


def close_ping_sockets(_bed, prog):
    """No ping sockets for anyone on the program's host: ICMP only through
    cap_net_raw. Fits SetRun's `prepare`."""
    run([IP, "netns", "exec", prog.namespace, SYSCTL, "-q", "-w", "net.ipv4.ping_group_range=1 0"])


def program_node(bed):
    prog = bed.add_node("prog", [PROGRAM_ADDRESS + "/24"], default_route=True)
    close_ping_sockets(bed, prog)
    return prog


CAP_BITS = {"cap_net_bind_service": 10, "cap_net_raw": 13, "cap_net_admin": 12}


def thread_sets(pid):
    """{thread id: {"Uid": ..., "CapEff": int, ...}} of every thread of a
    running program (/proc/PID/status shows only the first thread)."""
    sets = {}
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/status") as status:
                fields = dict(line.rstrip("\n").split(":\t", 1) for line in status if ":\t" in line)
        except FileNotFoundError:
            continue  # the thread ended meanwhile
        sets[task] = {key: (int(value, 16) if key.startswith("Cap") else value)
                      for key, value in fields.items()}
    return sets


def check_runs_as_nobody(process, granted=ALL_CAPS, pid=None):
    """The program is nobody's and holds the `granted` capabilities only
    from its file: permitted in every thread, effective in none while it
    waits (they are effective only during the calls that need them), and
    never inheritable or ambient."""
    wanted = sum(1 << CAP_BITS[name] for name in granted.split(",") if name)
    for task, fields in thread_sets(pid or process.pid).items():
        check(fields["Uid"].split()[:2] == [str(NOBODY)] * 2, f"runs as uid {fields['Uid']}")
        check(fields["CapPrm"] == wanted, f"thread {task}: permitted {fields['CapPrm']:x}, not {wanted:x}")
        check(fields["CapEff"] == 0, f"thread {task}: effective {fields['CapEff']:x} while waiting")
        check(fields["CapInh"] == 0 and fields["CapAmb"] == 0,
              f"thread {task}: inheritable {fields['CapInh']:x}, ambient {fields['CapAmb']:x}")


def set_stored_as_nobody(bed, cli, peer, serial, address, groups=()):
    """`set` run by nobody (with the supplementary `groups`) stores a peer's
    address over the web form, with the same logfile as for root."""
    setrun = SetRun(bed, cli, peer, serial, address, prepare=close_ping_sockets, user=NOBODY,
                    groups=groups)
    check_runs_as_nobody(setrun.tessel)
    setrun.finish()
    setrun.check_outcome(EXIT_STORED, BOX_STORED)
    setrun.check_one_reply()
    setrun.check_restarted()
    setrun.check_log("0.0.0.0", assignment_events("0.0.0.0", serial, address, True, True))
    setrun.check_form_post(200)


def start_peer(node, peer, serial, *args):
    return node.start([peer, "--linger", "forever", "--interval", "1000", "--count", "0"]
                      + list(args) + ["--server", serial], name="tessel-peer")


def helper_of(process):
    """The pid of the program's helper child, tessel-net; None if none."""
    for task in os.listdir(f"/proc/{process.pid}/task"):
        with open(f"/proc/{process.pid}/task/{task}/children") as children:
            for pid in children.read().split():
                with open(f"/proc/{pid}/comm") as comm:
                    if comm.read().strip() == "tessel-net":
                        return int(pid)
    return None


def ended(pid, timeout=5):
    """True once the process has ended (a zombie not yet reaped has)."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            with open(f"/proc/{pid}/stat") as stat:
                if stat.read().rpartition(")")[2].split()[0] == "Z":
                    return True
        except FileNotFoundError:
            return True
        time.sleep(0.1)
    return False


def check_tools():
    for tool in (SETCAP, GETCAP, SETPRIV):
        if not os.path.exists(tool):
            raise Skip(f"{tool} is not installed")


def scenario_unprivileged(bed, cli, peer, helper):
    check_tools()

    def listing(case_bed):
        serial = "0A-1B-2C-00-05-01"
        prog = program_node(case_bed)
        srv = case_bed.add_node("srv")
        folder = user_folder(case_bed)
        copy = program_copy(case_bed, cli, "")
        # The helper beside the program, without capabilities yet.
        helper_copy = os.path.join(os.path.dirname(copy), "tessel-net")
        shutil.copy(helper, helper_copy)
        logfile = os.path.join(folder, "list.log")
        refused = prog.start(as_user(NOBODY) + [copy, "list", "--seconds", "2", "--logfile", logfile],
                             cwd=folder, name="tessel-cli")
        check(refused.wait(10) == EXIT_PORT_UNAVAILABLE,
              f"without capabilities: exit {refused.popen.returncode}:\n{refused.describe()}")
        # The message's own command, run as the message says (as root).
        commands = [line.split() for line in refused.stderr.text().splitlines()
                    if line.strip().startswith("setcap ")]
        check(len(commands) == 1 and commands[0][-1] == helper_copy,
              f"no setcap command for {helper_copy} in the message:\n{refused.stderr.text()}")
        run([SETCAP] + commands[0][1:])
        granted = run([GETCAP, helper_copy]).stdout.split()[-1]
        check(set(granted.partition("=")[0].split(",")) == set(ALL_CAPS.split(",")),
              f"getcap: {granted}")
        lister = prog.start(as_user(NOBODY) + [copy, "list", "--seconds", "6", "--logfile", logfile],
                            cwd=folder, name="tessel-cli")
        check(lister.wait_udp_bound(67), f"list did not bind port 67:\n{lister.describe()}")
        check_runs_as_nobody(lister, "")
        check_runs_as_nobody(lister, ALL_CAPS, pid=helper_of(lister))
        start_peer(srv, peer, serial)
        check(lister.wait(30) == 0, f"list: exit {lister.popen.returncode}")
        check(f"{serial} 0.0.0.0" in lister.stdout.text().splitlines(),
              f"the peer was not listed:\n{lister.describe()}")

    def set_stored(case_bed):
        set_stored_as_nobody(case_bed, program_copy(case_bed, cli, ALL_CAPS), peer,
                             "0A-1B-2C-00-05-02", "10.77.0.52")

    def fallback(serial, address, capabilities, entry_written, admin_entry=None):
        """A peer that hears the reply but never restarts: the fallback's
        ARP method writes a permanent entry with the serial (and removes it
        right after), seen by `ip monitor neigh` in the program's namespace.
        With `admin_entry` (a hardware address) an administrator's static
        entry for the address is there first, and stays as it was. The
        fallback's pings are a stand-in that records its own capabilities."""
        def body(case_bed):
            copy = program_copy(case_bed, cli, capabilities)
            commands = case_bed.make_folder()
            os.chmod(commands, 0o777)
            with open(os.path.join(commands, "ping"), "w") as ping:
                ping.write(f"#!/bin/sh\ngrep ^Cap /proc/$$/status > {commands}/caps.$$\n"
                           f"exec /usr/bin/ping \"$@\"\n")
            os.chmod(os.path.join(commands, "ping"), 0o755)
            monitors = []

            def prepare(_bed, prog):
                close_ping_sockets(_bed, prog)
                if admin_entry:
                    prog.run([IP, "neigh", "replace", address, "lladdr", admin_entry, "nud", "permanent",
                              "dev", "eth0"])
                monitors.append(prog.start([IP, "monitor", "neigh"], name="ip-monitor"))
            with_commands = lambda _node: ["/usr/bin/env", f"PATH={commands}:/usr/bin:/bin", copy]  # noqa: E731
            setrun = SetRun(case_bed, with_commands, peer, serial, address, ["--ignore-replies"],
                            prepare=prepare, user=NOBODY)
            samples = 0
            while setrun.tessel.popen.poll() is None and samples < 20:
                check_runs_as_nobody(setrun.tessel, capabilities)
                samples += 1
                time.sleep(1)
            setrun.finish()
            setrun.check_outcome(EXIT_NOT_VERIFIED, BOX_NOT_VERIFIED)
            check(not setrun.peer_lines("RESTART"), "the server restarted")
            time.sleep(0.5)
            events = [line.strip() for line in monitors[0].stdout.text().splitlines()]
            hardware = serial.lower().replace("-", ":")
            entry = f"{address} dev eth0 lladdr {hardware} PERMANENT"
            failures = [line for line in setrun.log if line.startswith(ARP_FAILED)]
            records = [name for name in os.listdir(commands) if name.startswith("caps.")]
            check(len(records) >= 2, f"the fallback's pings did not run: {records}")
            for name in records:
                with open(os.path.join(commands, name)) as record:
                    sets = dict(line.split(":\t") for line in record.read().splitlines())
                check(all(int(sets[key], 16) == 0 for key in ("CapInh", "CapPrm", "CapEff", "CapAmb")),
                      f"a ping started with {sets}")
            if admin_entry:
                table = setrun.prog.run([IP, "neigh", "show", "to", address]).stdout.strip()
                check(table == f"{address} dev eth0 lladdr {admin_entry} PERMANENT",
                      f"the administrator's entry did not survive: {table!r}; events {events}")
                check(not [line for line in events if line.startswith(address + " ") and
                           (hardware in line or "Deleted" in line)], f"the entry was touched: {events}")
                check(ARP_FAILED + address + "." in failures,
                      f"the entry left alone was not logged: {failures}")
            elif entry_written:
                # The kernel marks an entry FAILED before it deletes it.
                check(entry in events and f"Deleted {address} dev eth0 FAILED" in
                      events[events.index(entry):], f"the permanent entry was not written and "
                      f"removed: {events}")
                check(not failures, f"neighbour table failures logged: {failures}")
            else:
                check(not [line for line in events if "PERMANENT" in line],
                      f"a permanent entry appeared without cap_net_admin: {events}")
                check(ARP_FAILED + address + "." in failures,
                      f"the refused entry was not logged: {failures}")
        return body

    def probes(case_bed):
        prog = program_node(case_bed)
        case_bed.add_node("host", ["10.77.0.60/24"])
        folder = user_folder(case_bed)
        full = program_copy(case_bed, cli, ALL_CAPS)
        no_raw = program_copy(case_bed, cli, "cap_net_bind_service,cap_net_admin")

        def probe(copy, address):
            started = time.monotonic()
            result = prog.run(as_user(NOBODY) + [copy, "probe", "icmp", address, "--logfile",
                                                  os.path.join(folder, "probe.log")])
            return result.returncode, result.stdout.strip(), time.monotonic() - started

        answered = probe(full, "10.77.0.60")
        silent = probe(full, "10.77.0.61")
        refused = probe(no_raw, "10.77.0.60")
        run([IP, "netns", "exec", prog.namespace, SYSCTL, "-q", "-w",
             f"net.ipv4.ping_group_range={NOBODY} {NOBODY}"])
        ping_socket = probe(no_raw, "10.77.0.60")
        check(answered[:2] == (0, "10.77.0.60 answered the ICMP echo request.") and answered[2] < 2,
              f"with cap_net_raw: {answered}")
        check(silent[:2] == (1, "10.77.0.61 did not answer the ICMP echo request within 4 s."),
              f"nobody there: {silent}")
        check(refused[0] == EXIT_NOT_CHECKED and
              refused[1].startswith("10.77.0.60 was not checked: this program is not permitted")
              and refused[2] < 2, f"without cap_net_raw: {refused}")
        check(ping_socket[0] == 0, f"ping sockets permitted to nobody, no cap_net_raw: {ping_socket}")

    def unchecked_refused(case_bed):
        serial, address = "0A-1B-2C-00-05-05", "10.77.0.55"
        copy = program_copy(case_bed, cli, "cap_net_bind_service,cap_net_admin")
        setrun = SetRun(case_bed, copy, peer, serial, address, prepare=close_ping_sockets,
                        user=NOBODY).finish()
        setrun.check_outcome(EXIT_NOT_CHECKED, BOX_NOT_CHECKED)
        check("(refused: give --unchecked to set the address without the check)"
              in setrun.tessel.stdout.text(), "the refusal does not name --unchecked")
        time.sleep(1.5)
        check(not setrun.peer_lines("REPLY"), "a reply went out for an unchecked address")
        check(SELECTED not in setrun.log, "an assignment was logged")

    run_cases(bed, [
        ("list_after_setcap", listing),
        ("set_stored", set_stored),
        ("fallback_entry", fallback("0A-1B-2C-00-05-03", "10.77.0.53", ALL_CAPS, True)),
        ("fallback_without_cap_net_admin", fallback("0A-1B-2C-00-05-04", "10.77.0.54",
                                                    "cap_net_bind_service,cap_net_raw", False)),
        ("fallback_keeps_static_entry", fallback("0A-1B-2C-00-05-06", "10.77.0.56", ALL_CAPS, False,
                                                 admin_entry="02:00:5e:00:05:56")),
        ("probe_icmp", probes),
        ("set_unchecked_refused", unchecked_refused),
    ])


def free_group():
    """A group number that names no group here: the group of the test."""
    taken = set()
    with open("/etc/group") as groups:
        for line in groups:
            parts = line.split(":")
            if len(parts) > 2 and parts[2].isdigit():
                taken.add(int(parts[2]))
    gid = 61000 + os.getpid() % 3000
    while gid in taken or gid == NOBODY:
        gid += 1
    return gid


def member_programs(bed, cli, helper, gid):
    """tessel-cli without capabilities, and beside it the helper as the
    package installs it: root's, run by root and the group only, with the
    three capabilities permitted."""
    copy = program_copy(bed, cli, "")
    helper_copy = os.path.join(os.path.dirname(copy), "tessel-net")
    shutil.copy(helper, helper_copy)
    os.chown(helper_copy, 0, gid)
    os.chmod(helper_copy, 0o750)
    run([SETCAP, ALL_CAPS + "+p", helper_copy])
    return copy


def scenario_member(bed, cli, peer, helper, hold):
    check_tools()
    gid = free_group()

    def outside(case_bed):
        prog = program_node(case_bed)
        folder = user_folder(case_bed)
        copy = member_programs(case_bed, cli, helper, gid)
        refused = prog.start(as_user(NOBODY) + [copy, "list", "--seconds", "2", "--logfile-off"],
                             cwd=folder, name="tessel-cli")
        check(refused.wait(10) == EXIT_PORT_UNAVAILABLE,
              f"outside the group: exit {refused.popen.returncode}:\n{refused.describe()}")
        text = refused.stderr.text()
        check("  sudo usermod -aG tessel nobody\nand you then log out and log in again." in text,
              f"the message does not say how to join the group:\n{text}")

    def member_set(case_bed):
        serial, address = "0A-1B-2C-00-05-07", "10.77.0.57"
        copy = member_programs(case_bed, cli, helper, gid)
        setrun = SetRun(case_bed, copy, peer, serial, address, prepare=close_ping_sockets, user=NOBODY,
                        groups=(gid,))
        # The program holds nothing; its helper holds the three, permitted
        # only, and ran the ICMP check (no ping sockets here).
        check_runs_as_nobody(setrun.tessel, "")
        child = helper_of(setrun.tessel)
        check(child is not None, "no helper runs beside tessel-cli")
        check_runs_as_nobody(setrun.tessel, ALL_CAPS, pid=child)
        setrun.finish()
        setrun.check_outcome(EXIT_STORED, BOX_STORED)
        setrun.check_one_reply()
        setrun.check_restarted()
        setrun.check_form_post(200)
        check(ended(child), "the helper outlived tessel-cli")

    def killed_during_fallback(case_bed):
        serial, address = "0A-1B-2C-00-05-08", "10.77.0.58"
        copy = member_programs(case_bed, cli, helper, gid)
        folder = user_folder(case_bed)
        library = os.path.join(folder, "hold.so")
        shutil.copy(hold, library)
        os.chmod(library, 0o755)
        mark = os.path.join(folder, "held")
        held = lambda _node: ["/usr/bin/env", f"LD_PRELOAD={library}",  # noqa: E731
                              f"TESSEL_TEST_HOLD_MARK={mark}", copy]
        setrun = SetRun(case_bed, held, peer, serial, address, ["--ignore-replies"],
                        prepare=close_ping_sockets, user=NOBODY, groups=(gid,))
        child = helper_of(setrun.tessel)
        check(child is not None, "no helper runs beside tessel-cli")
        deadline = time.monotonic() + 60
        while not os.path.exists(mark) and time.monotonic() < deadline and setrun.tessel.running():
            time.sleep(0.2)
        check(os.path.exists(mark), f"the fallback never asked to remove its entry:\n"
              f"{setrun.tessel.describe()}")
        hardware = serial.lower().replace("-", ":")
        table = setrun.prog.run([IP, "neigh", "show", "to", address]).stdout.strip()
        check(table == f"{address} dev eth0 lladdr {hardware} PERMANENT",
              f"the helper's entry is not in the table: {table!r}")
        setrun.tessel.signal(9)
        check(setrun.tessel.wait(5) is not None, "tessel-cli outlived SIGKILL")
        check(ended(child), "the helper outlived its parent")
        table = setrun.prog.run([IP, "neigh", "show", "to", address]).stdout.strip()
        check(hardware not in table and "PERMANENT" not in table,
              f"the helper left its entry behind: {table!r}")

    run_cases(bed, [
        ("outside_the_group", outside),
        ("member_set_stored", member_set),
        ("helper_ends_with_killed_parent", killed_during_fallback),
    ])


SCENARIOS = {"unprivileged": scenario_unprivileged, "member": scenario_member}

if __name__ == "__main__":
    sys.exit(main(SCENARIOS, sys.argv))
