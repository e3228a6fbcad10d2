#!/usr/bin/python3
"""tessel-serve.service as the package installs it, under Debian's own
systemd booted as PID 1 in a container on the program host of the test bed:

    systemd_scenario.py service SOURCE_DIR

The container boots the tree scripts/setup made (/var/cache/tessel-systemd,
docs/testbed.md) under an overlay with a tmpfs upper layer, with
systemd-nspawn of the host's systemd version unpacked beside it; the
package (TESSEL_PACKAGE_DEB, else built with SOURCE_DIR/scripts/package) is
installed in it with dpkg. A real DHCP client device on the bed is served,
reset and served again; the plan is reloaded with an added server and with
a refused one; a member of the group tessel reads the status; every Tessel
process's capability sets, no_new_privs and seccomp mode are read from
/proc; and a stop kills no process. Everything is torn down at the end.
Exit status 0 passed, 1 failed, 77 skipped (no root, no rig).
"""

import glob
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from serve_scenarios import BUSYBOX, DHCLIENT, dhclient_device, read_ledger, results, tessel_time  # noqa: E402
from testbed import PROGRAM_ADDRESS, Failure, Skip, _die_with_parent, check, main, run  # noqa: E402

RIG = "/var/cache/tessel-systemd"
TREE = os.path.join(RIG, "bookworm")
NSENTER = "/usr/bin/nsenter"
# The capabilities by number (linux/capability.h).
CAPABILITIES = {10: "cap_net_bind_service", 12: "cap_net_admin", 13: "cap_net_raw"}
ROLE_BOUND = {"serve": set(), "table": {10, 12}, "check": {13}}
SERIAL, ADDRESS = "0A-1B-2C-00-0E-01", "10.77.0.245"
ADDED = "0A-1B-2C-00-0E-02,10.77.0.246"
MEMBER_UID = 1500


def nspawn_program():
    version = subprocess.run(["dpkg-query", "-W", "-f=${Version}", "systemd"], capture_output=True,
                             text=True, check=False).stdout.strip()
    folder = os.path.join(RIG, f"nspawn-{version}")
    program = os.path.join(folder, "usr", "bin", "systemd-nspawn")
    if not version or not os.access(program, os.X_OK) or not os.access(os.path.join(TREE, "lib/systemd/systemd"),
                                                                        os.X_OK):
        raise Skip(f"the systemd rig is not made ({RIG}): run scripts/setup")
    return program, glob.glob(os.path.join(folder, "usr", "lib", "*", "systemd"))


def the_package(source):
    deb = os.environ.get("TESSEL_PACKAGE_DEB", "")
    if not deb:
        built = run([os.path.join(source, "scripts", "package")], check_rc=False, timeout=1500)
        check(built.returncode == 0, f"scripts/package failed:\n{built.stdout[-3000:]}{built.stderr[-2000:]}")
        deb = built.stdout.strip().splitlines()[-1]
    check(deb.endswith(".deb") and os.path.isfile(deb), f"no package: {deb}")
    return deb


class Container:
    """Debian's systemd as PID 1 of a container in the network namespace
    `namespace`, its root an overlay of TREE that goes with it."""

    def __init__(self, bed, namespace):
        self.bed = bed
        program, libraries = nspawn_program()
        self.folder = tempfile.mkdtemp(prefix="tessel-systemd-")
        bed.cleanups.append(self.remove)
        self.root = os.path.join(self.folder, "root")
        layers = os.path.join(self.folder, "layers")
        os.makedirs(self.root)
        os.makedirs(layers)
        run(["mount", "-t", "tmpfs", "-o", "mode=0755", "tessel-systemd", layers])
        self.mounts = [layers]
        os.makedirs(os.path.join(layers, "upper"))
        os.makedirs(os.path.join(layers, "work"))
        try:
            run(["mount", "-t", "overlay", "tessel-systemd", "-o",
                 f"lowerdir={TREE},upperdir={layers}/upper,workdir={layers}/work", self.root])
        except RuntimeError as error:
            raise Skip(f"cannot mount an overlay: {error}") from None
        self.mounts.insert(0, self.root)
        self.console = open(os.path.join(self.folder, "console.log"), "wb")
        environment = dict(os.environ, LD_LIBRARY_PATH=":".join(libraries), SYSTEMD_LOG_LEVEL="warning")
        self.nspawn = subprocess.Popen(
            [program, "-D", self.root, "--boot", "--keep-unit", "--register=no", "--console=read-only",
             f"--network-namespace-path=/run/netns/{namespace}", "--capability=CAP_NET_ADMIN",
             "--machine=tessel-systemd"], stdin=subprocess.DEVNULL, stdout=self.console, stderr=subprocess.STDOUT,
            env=environment, preexec_fn=_die_with_parent)
        self.leader = self._find_leader(30)
        # Until its bus is up, systemctl cannot even ask.
        deadline = time.monotonic() + 90
        state = ""
        while state not in ("running", "degraded") and time.monotonic() < deadline:
            asked = self.run(["systemctl", "is-system-running", "--wait"], check_rc=False, timeout=90)
            state = asked.stdout.strip() or asked.stderr.strip()
            time.sleep(0.2)
        check(state in ("running", "degraded"), f"the container's systemd did not boot: {state}\n{self.log()}")

    def _find_leader(self, timeout):
        """The container's PID 1 as the host sees it."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            check(self.nspawn.poll() is None, f"systemd-nspawn ended: {self.log()}")
            for status in glob.glob("/proc/[0-9]*/status"):
                try:
                    with open(status) as file:
                        fields = dict(line.rstrip("\n").split(":\t", 1) for line in file if ":\t" in line)
                except OSError:
                    continue
                if fields.get("NSpid", "").split()[-1:] == ["1"] and fields.get("Name") == "systemd" and \
                        self._descends(int(fields["Pid"])):
                    return int(fields["Pid"])
            time.sleep(0.2)
        raise Failure(f"no systemd in the container within {timeout} s: {self.log()}")

    def _descends(self, pid):
        while pid > 1:
            if pid == self.nspawn.pid:
                return True
            try:
                with open(f"/proc/{pid}/stat") as stat:
                    pid = int(stat.read().rsplit(")", 1)[1].split()[1])
            except (OSError, ValueError, IndexError):
                return False
        return False

    def log(self):
        self.console.flush()
        with open(self.console.name, "rb") as console:
            return console.read()[-3000:].decode(errors="replace")

    def run(self, args, check_rc=True, timeout=30, prefix=()):
        """A command in every namespace of the container, as root (or as
        `prefix` makes it)."""
        return run([NSENTER, "-t", str(self.leader), "-a", "env", "-i",
                    "PATH=/usr/sbin:/usr/bin:/sbin:/bin", "LANG=C.UTF-8", *prefix, *args],
                   check_rc=check_rc, timeout=timeout)

    def path(self, inside):
        return os.path.join(self.root, inside.lstrip("/"))

    def remove(self):
        if self.nspawn.poll() is None:
            # The container's init powers off on SIGRTMIN+4.
            os.kill(self.leader, signal.SIGRTMIN + 4)
            try:
                self.nspawn.wait(30)
            except subprocess.TimeoutExpired:
                self.nspawn.kill()
                self.nspawn.wait(10)
        self.console.close()
        for mount in self.mounts:
            run(["umount", mount], check_rc=False)
        shutil.rmtree(self.folder, ignore_errors=True)


def tessel_processes(container):
    """Every Tessel process of the container: role and /proc status fields."""
    found = {}
    for status in glob.glob("/proc/[0-9]*/status"):
        pid = int(status.split("/")[2])
        try:
            if os.readlink(f"/proc/{pid}/ns/pid") != os.readlink(f"/proc/{container.leader}/ns/pid"):
                continue
            with open(f"/proc/{pid}/cmdline", "rb") as file:
                argv = file.read().split(b"\0")
            with open(status) as file:
                fields = dict(line.rstrip("\n").split(":\t", 1) for line in file if ":\t" in line)
        except OSError:
            continue
        program = os.path.basename(argv[0].decode(errors="replace"))
        if program == "tessel-cli" and b"serve" in argv:
            found[pid] = ("serve", fields)
        elif program == "tessel-net" and len(argv) > 1:
            found[pid] = (argv[1].decode(), fields)
    return found


def capability_set(text):
    value = int(text, 16)
    return {bit for bit in range(64) if value >> bit & 1}


def check_process(pid, role, fields):
    """No capability in serve; only its role's in a helper, permitted but
    not raised, nothing to inherit or pass on; no_new_privs and a filter."""
    bound = ROLE_BOUND.get(role)
    check(bound is not None, f"a tessel-net of no role: {pid} {role}")
    sets = {name: capability_set(fields[name]) for name in ("CapInh", "CapPrm", "CapEff", "CapBnd", "CapAmb")}
    names = {name: sorted(CAPABILITIES.get(bit, str(bit)) for bit in bits) for name, bits in sets.items()}
    check(sets["CapBnd"] == bound and sets["CapPrm"] <= bound and not sets["CapInh"] and not sets["CapAmb"] and
          not sets["CapEff"], f"{role} ({pid}) holds {names}")
    check(fields["NoNewPrivs"] == "1" and fields["Seccomp"] == "2",
          f"{role} ({pid}): NoNewPrivs {fields['NoNewPrivs']}, Seccomp {fields['Seccomp']}")
    return names


class ProcessWatch(threading.Thread):
    """Reads every Tessel process's status while the service runs: the echo
    checks' helpers live for a job only."""

    def __init__(self, container):
        super().__init__(daemon=True)
        self.container = container
        self.seen = {}
        self.errors = []
        self.ending = threading.Event()

    def run(self):
        sighted = set()
        while not self.ending.wait(0.1):
            for pid, (role, fields) in tessel_processes(self.container).items():
                # A helper read between its exec and its first step still
                # holds all the unit gave it: each process is judged from
                # its second sighting on, a poll later.
                if pid in self.seen or pid not in sighted:
                    sighted.add(pid)
                    continue
                try:
                    self.seen[pid] = (role, check_process(pid, role, fields))
                except (Failure, KeyError) as error:
                    self.errors.append(str(error))
                    self.seen[pid] = (role, None)

    def stop(self):
        self.ending.set()
        self.join(5)


def scenario_service(bed, source):
    if not (os.access(DHCLIENT, os.X_OK) and os.access(BUSYBOX, os.X_OK)):
        raise Skip("dhclient or busybox is not installed")
    if not os.access(NSENTER, os.X_OK):
        raise Skip("nsenter (util-linux) is not installed")
    nspawn_program()
    deb = the_package(source)
    started = time.monotonic()

    def step(text):
        print(f"  {time.monotonic() - started:5.1f} s  {text}", flush=True)

    prog = bed.add_node("prog", [PROGRAM_ADDRESS + "/24"], default_route=True)
    container = Container(bed, prog.namespace)
    step(f"the container's systemd booted (PID {container.leader} on the host)")

    shutil.copy(deb, container.path("/root/tessel.deb"))
    installed = container.run(["env", "DEBIAN_FRONTEND=noninteractive", "dpkg", "-i", "/root/tessel.deb"],
                              check_rc=False, timeout=120)
    check(installed.returncode == 0, f"dpkg -i failed (scripts/setup puts the package's dependencies into the "
          f"tree):\n{installed.stdout[-2000:]}{installed.stderr[-2000:]}")
    # The sockets have no [Install]: they come with the service.
    for unit, expected in (("tessel-serve.service", "disabled"), ("tessel-net-table.socket", "static"),
                           ("tessel-net-check.socket", "static")):
        enabled = container.run(["systemctl", "is-enabled", unit], check_rc=False).stdout.strip()
        active = container.run(["systemctl", "is-active", unit], check_rc=False).stdout.strip()
        check(enabled == expected and active == "inactive",
              f"{unit} is {enabled} and {active} after the installation, not {expected} and inactive")
    step("the package installed; nothing of it enabled or started")

    with open(container.path("/etc/tessel/plan.csv"), "a", encoding="ascii") as plan:
        plan.write(f"{SERIAL},{ADDRESS}\n")
    check(container.run(["tessel-cli", "serve", "--check", "/etc/tessel/plan.csv"], check_rc=False).returncode == 0,
          "serve --check refused the plan")
    watch = ProcessWatch(container)
    watch.start()
    enabled = container.run(["systemctl", "enable", "--now", "tessel-serve"], check_rc=False, timeout=60)
    # Type=notify: the start job ends at READY=1.
    active = container.run(["systemctl", "is-active", "tessel-serve"], check_rc=False).stdout.strip()
    check(enabled.returncode == 0 and active == "active",
          f"tessel-serve did not start ({active}): {enabled.stderr}\n{journal(container)}")
    for socket_unit in ("tessel-net-table.socket", "tessel-net-check.socket"):
        state = container.run(["systemctl", "is-active", socket_unit], check_rc=False).stdout.strip()
        check(state == "active", f"{socket_unit} is {state} while the service runs")
    step("tessel-serve active (READY=1), with both helpers' sockets")
    # The exposure as the running manager sees the units it loaded.
    figures = []
    for unit, limit in (("tessel-serve.service", 2.0), ("tessel-net-table@0.service", 3.0),
                        ("tessel-net-check@0.service", 3.0)):
        text = container.run(["systemd-analyze", "security", "--no-pager", unit], check_rc=False).stdout
        found = re.search(r"Overall exposure level for \S+: ([0-9.]+)", text)
        check(found is not None and float(found.group(1)) <= limit, f"{unit}: exposure above {limit}:\n{text}")
        figures.append(f"{unit.split('@')[0].split('.')[0]} {found.group(1)}")
    step("exposure: " + ", ".join(figures))

    device, dhclient, folder = dhclient_device(bed, SERIAL)
    ledger = container.path("/var/lib/tessel/ledger")

    def wait_stored(times, timeout):
        # A device that asks again at once is held back first (30 s).
        deadline = time.monotonic() + timeout
        lines = []
        while time.monotonic() < deadline:
            lines = read_ledger(ledger) if os.path.exists(ledger) else []
            stored = results(lines, SERIAL).count("stored")
            check(stored <= times, f"stored more often than {times}: {lines}")
            if stored == times:
                return
            time.sleep(0.5)
        raise Failure(f"not stored {times} times within {timeout} s: {lines}\n{journal(container)}")

    client = dhclient(1)
    wait_stored(1, 90)
    check(ADDRESS in device.run(["ip", "-4", "addr", "show", "dev", "eth0"]).stdout, "dhclient did not bind")
    step("the device served and its address stored")
    time.sleep(2.0)
    client.kill()
    # Reset as a real device is reset, not within the minute after its job in
    # which serve takes a request as asking again at once and holds the
    # device back (dhclient's own back-off may then outlast the job's wait
    # for its next request).
    stored = [tessel_time(line[0]) for line in read_ledger(ledger) if line[1] == SERIAL and line[3] == "stored"]
    time.sleep(max(0.0, stored[-1] + 61.0 - time.time()))
    device.run(["ip", "addr", "flush", "dev", "eth0"])
    dhclient(2)
    wait_stored(2, 120)
    calls = sorted(os.listdir(os.path.join(folder, "calls")))
    check(len(calls) == 4, f"the form was stored {len(calls) // 2} times, not twice: {calls}")
    step("the device reset and served again; its form stored twice")

    with open(container.path("/etc/tessel/plan.csv"), "a", encoding="ascii") as plan:
        plan.write(ADDED + "\n")
    reload = container.run(["systemctl", "reload", "tessel-serve"], check_rc=False, timeout=60)
    check(reload.returncode == 0, f"the reload with an added server failed: {reload.stderr}")
    with open(container.path("/etc/tessel/plan.csv"), encoding="ascii") as plan:
        good = plan.read()
    with open(container.path("/etc/tessel/plan.csv"), "w", encoding="ascii") as plan:
        plan.write(good + "0A-1B-2C-00-0E-03,10.77.0.300\n")
    refused = container.run(["systemctl", "reload", "tessel-serve"], check_rc=False, timeout=60)
    check(refused.returncode != 0, "the reload of a refused plan reported success")
    active = container.run(["systemctl", "is-active", "tessel-serve"], check_rc=False).stdout.strip()
    check(active == "active", f"tessel-serve is {active} after a refused reload")
    with open(container.path("/etc/tessel/plan.csv"), "w", encoding="ascii") as plan:
        plan.write(good)
    step(f"reload: an added server taken (exit 0), a refused plan failed it (exit {refused.returncode})")

    container.run(["useradd", "--no-create-home", "--uid", str(MEMBER_UID), "--groups", "tessel", "member"])
    status = container.run(["tessel-cli", "status", "/etc/tessel/plan.csv"], check_rc=False,
                           prefix=("setpriv", f"--reuid={MEMBER_UID}", f"--regid={MEMBER_UID}", "--init-groups"))
    check(status.returncode == 0 and SERIAL in status.stdout and "0A-1B-2C-00-0E-02" in status.stdout,
          f"status as a member of tessel (exit {status.returncode}):\n{status.stdout}{status.stderr}")
    step("tessel-cli status as a member of the group tessel")

    watch.stop()
    check(not watch.errors, "; ".join(watch.errors))
    roles = {}
    for role, names in watch.seen.values():
        roles.setdefault(role, names)
    check({"serve", "table", "check"} <= set(roles), f"Tessel processes seen: {sorted(roles)}")
    for role, names in sorted(roles.items()):
        step(f"/proc of {role}: {names}, NoNewPrivs 1, Seccomp 2")
    step(f"{len(watch.seen)} Tessel processes read, none holding more")

    stopped = container.run(["systemctl", "stop", "tessel-serve"], check_rc=False, timeout=180)
    check(stopped.returncode == 0, f"systemctl stop failed: {stopped.stderr}")
    result = container.run(["systemctl", "show", "-p", "Result", "--value", "tessel-serve"]).stdout.strip()
    deadline = time.monotonic() + 10
    while tessel_processes(container) and time.monotonic() < deadline:
        time.sleep(0.2)
    left = tessel_processes(container)
    whole = container.run(["journalctl", "--no-pager", "-b"], check_rc=False).stdout
    killed = [line for line in whole.splitlines() if "SIGKILL" in line or "Killing process" in line]
    sockets = [container.run(["systemctl", "is-active", unit], check_rc=False).stdout.strip()
               for unit in ("tessel-net-table.socket", "tessel-net-check.socket")]
    check(result == "success" and not left and not killed and sockets == ["inactive", "inactive"],
          f"the stop: result {result}, left {left}, sockets {sockets}, killed: {killed}")
    step("systemctl stop: no process killed, the helpers ended with their connections, the sockets stopped")


def journal(container, unit=None, *options):
    args = ["journalctl", "--no-pager", "-b", *options]
    if unit:
        args += ["-u", unit]
    return container.run(args, check_rc=False).stdout[-6000:]


SCENARIOS = {"service": scenario_service}

if __name__ == "__main__":
    sys.exit(main(SCENARIOS, sys.argv))
