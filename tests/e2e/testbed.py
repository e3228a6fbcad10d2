"""Network-namespace test bed for Tessel's end-to-end scenarios.

Makes one namespace per host (the program's and one per group of simulated
servers), joined by veth pairs to a bridge that lives in a namespace of its
own, so nothing touches the machine's own network and every broadcast stays
on the bed. Everything made is removed again, also when a scenario fails or
the run is interrupted. Needs root; where namespaces cannot be made the run
ends with SKIP_CODE and says why.
"""

import ctypes
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

SKIP_CODE = 77
NAME_PREFIX = "tessel-e2e-"
IP = "/usr/bin/ip" if os.path.exists("/usr/bin/ip") else "/sbin/ip"
SYSCTL = "/usr/sbin/sysctl" if os.path.exists("/usr/sbin/sysctl") else "/sbin/sysctl"
SETPRIV = "/usr/bin/setpriv"

# The program's host and the simulated servers share one /24; servers at the
# factory default or without an address get their own setup per node.
PROGRAM_ADDRESS = "10.77.0.1"
FACTORY_DEFAULT = "198.51.100.80"


def as_user(uid, groups=()):
    """The command prefix that runs a program as an ordinary user (uid and
    gid `uid`, no supplementary groups but `groups`, gids): root's
    capabilities are dropped at the switch, so the program has only what its
    file grants."""
    joined = ",".join(str(gid) for gid in groups)
    return [SETPRIV, f"--reuid={uid}", f"--regid={uid}",
            f"--groups={joined}" if joined else "--clear-groups", "--"]


class Skip(Exception):
    """The bed cannot be made here: the scenario is skipped, not passed."""


class Failure(Exception):
    """A check of a scenario failed."""


class Interrupted(BaseException):
    """SIGINT, SIGTERM or SIGHUP arrived; the bed is still torn down."""


def check(condition, message):
    if not condition:
        raise Failure(message)


def run(args, check_rc=True, timeout=10):
    result = subprocess.run(args, capture_output=True, text=True, timeout=timeout)
    if check_rc and result.returncode != 0:
        raise RuntimeError(f"{' '.join(args)} failed ({result.returncode}): "
                           f"{result.stderr.strip()}")
    return result


def _pid_alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        return True
    return True


def _processes_in_namespace(name):
    try:
        wanted = os.stat(f"/run/netns/{name}")
    except OSError:
        return []
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            own = os.stat(f"/proc/{entry}/ns/net")
        except OSError:
            continue
        if (own.st_dev, own.st_ino) == (wanted.st_dev, wanted.st_ino):
            found.append(int(entry))
    return found


def sweep_stale_namespaces():
    """Removes namespaces left by earlier runs that were killed outright
    (CTest's time-out does that), with the processes still running in them.
    Only ours, and only where the run that made them is gone: other runs may
    be working beside this one."""
    listing = run([IP, "netns", "list"], check_rc=False).stdout
    for line in listing.splitlines():
        name = line.split()[0] if line.split() else ""
        match = re.match(re.escape(NAME_PREFIX) + r"(\d+)-", name)
        if match and not _pid_alive(int(match.group(1))):
            for pid in _processes_in_namespace(name):
                try:
                    os.kill(pid, signal.SIGKILL)
                except OSError:
                    pass
            run([IP, "netns", "del", name], check_rc=False)


_libc = ctypes.CDLL(None, use_errno=True)
_PR_SET_PDEATHSIG = 1


def _die_with_parent():
    # Children of a run that is killed outright go with it instead of
    # lingering in namespaces nobody will remove.
    _libc.prctl(_PR_SET_PDEATHSIG, signal.SIGKILL, 0, 0, 0)


class Output:
    """Lines of one stream of a child process, each with the monotonic time
    at which it was read."""

    def __init__(self, stream):
        self.lines = []  # (time, text)
        self._cond = threading.Condition()
        self._closed = False
        self._thread = threading.Thread(target=self._pump, args=(stream,), daemon=True)
        self._thread.start()

    def _pump(self, stream):
        for raw in iter(stream.readline, b""):
            with self._cond:
                self.lines.append((time.monotonic(), raw.decode("latin-1").rstrip("\r\n")))
                self._cond.notify_all()
        with self._cond:
            self._closed = True
            self._cond.notify_all()

    def wait_for(self, predicate, timeout):
        """Waits until some line satisfies predicate; returns (time, text) or None."""
        deadline = time.monotonic() + timeout
        with self._cond:
            while True:
                for entry in self.lines:
                    if predicate(entry[1]):
                        return entry
                remaining = deadline - time.monotonic()
                if self._closed or remaining <= 0:
                    return None
                self._cond.wait(remaining)

    def join(self, timeout=5):
        self._thread.join(timeout)

    def text(self):
        with self._cond:
            return "\n".join(text for _, text in self.lines)

    def snapshot(self):
        with self._cond:
            return list(self.lines)


class Process:
    """A child started in a namespace. `ip netns exec` replaces itself with
    the command, so pid and signals are the command's own."""

    def __init__(self, bed, namespace, args, cwd=None, name=None):
        self.name = name or os.path.basename(args[0])
        self.args = args
        self.started = time.monotonic()
        self.popen = subprocess.Popen([IP, "netns", "exec", namespace] + list(args),
                                      stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                      stdin=subprocess.DEVNULL, cwd=cwd,
                                      preexec_fn=_die_with_parent)
        self.pid = self.popen.pid
        self.stdout = Output(self.popen.stdout)
        self.stderr = Output(self.popen.stderr)
        self.ended = None
        bed.processes.append(self)

    def signal(self, number):
        if self.popen.poll() is None:
            self.popen.send_signal(number)

    def wait(self, timeout):
        """Exit status, or None when it did not end in time."""
        try:
            code = self.popen.wait(timeout)
        except subprocess.TimeoutExpired:
            return None
        if self.ended is None:
            self.ended = time.monotonic()
        self.stdout.join()
        self.stderr.join()
        return code

    def running(self):
        return self.popen.poll() is None

    def _in_socket_table(self, table, port, state=None):
        """True when a socket of this process's namespace is on the port in
        /proc/PID/net/TABLE (which shows that namespace), in the given state
        if one is given ("0A" is a listening TCP socket)."""
        try:
            with open(f"/proc/{self.pid}/net/{table}") as rows:
                next(rows)
                for line in rows:
                    fields = line.split()
                    if int(fields[1].split(":")[1], 16) == port and (state is None or fields[3] == state):
                        return True
        except (OSError, StopIteration, IndexError, ValueError):
            return False
        return False

    def udp_port_bound(self, port):
        return self._in_socket_table("udp", port)

    def wait_tcp_listening(self, port, timeout=5):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self._in_socket_table("tcp", port, "0A"):
                return
            check(self.running(), f"{self.name} ended at start:\n{self.describe()}")
            time.sleep(0.02)
        raise Failure(f"{self.name} does not listen on port {port}:\n{self.describe()}")

    def wait_udp_bound(self, port, timeout=5):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.udp_port_bound(port):
                return True
            if not self.running():
                return False
            time.sleep(0.01)
        return False

    def kill(self):
        if self.popen.poll() is None:
            self.popen.terminate()
            try:
                self.popen.wait(1)
            except subprocess.TimeoutExpired:
                self.popen.kill()
                self.popen.wait(2)

    def describe(self):
        return (f"--- {self.name} {' '.join(self.args)}\n"
                f"stdout:\n{self.stdout.text()}\nstderr:\n{self.stderr.text()}")


def program_command(program, node):
    """The command line that starts `program` on `node`: a path as it is, or
    what a launcher (a callable, such as a Wine prefix of the node's own)
    makes of it."""
    return list(program(node)) if callable(program) else [program]


class Node:
    def __init__(self, bed, namespace, addresses):
        self.bed = bed
        self.namespace = namespace
        self.addresses = addresses

    def start(self, args, cwd=None, name=None):
        return Process(self.bed, self.namespace, args, cwd=cwd, name=name)

    def run(self, args, timeout=10):
        return run([IP, "netns", "exec", self.namespace] + list(args), check_rc=False,
                   timeout=timeout)


class TestBed:
    """Use as a context manager; leaving it removes every namespace and
    process that it made."""

    def __init__(self, label=""):
        self.tag = f"{NAME_PREFIX}{os.getpid()}-" + (f"{label}-" if label else "")
        self.switch = self.tag + "sw"
        self.namespaces = []
        self.processes = []
        self.folders = []
        self.children = []
        self.bridges = ["br0"]
        self._ports = 0
        # Called first when the bed is removed, while its namespaces still
        # stand (a Wine server of a namespace, say).
        self.cleanups = []

    def child(self, label):
        """A bed of its own (own switch, own namespaces) that this one removes
        with itself: cases that run side by side never hear each other."""
        bed = TestBed(label)
        bed.folders = self.folders
        bed.__enter__()
        self.children.append(bed)
        return bed

    def add_bridge(self, name):
        """A second network on the bed's switch."""
        run([IP, "-n", self.switch, "link", "add", name, "type", "bridge",
             "stp_state", "0", "forward_delay", "0"])
        run([IP, "-n", self.switch, "link", "set", name, "up"])
        self.bridges.append(name)

    def __enter__(self):
        if os.geteuid() != 0:
            raise Skip("network namespaces need root")
        if not os.path.exists(IP):
            raise Skip("iproute2 (ip) is not installed")
        sweep_stale_namespaces()
        try:
            self._add_namespace(self.switch)
        except RuntimeError as error:
            raise Skip(f"cannot make a network namespace: {error}") from None
        try:
            run([IP, "-n", self.switch, "link", "add", "br0", "type", "bridge",
                 "stp_state", "0", "forward_delay", "0"])
            run([IP, "-n", self.switch, "link", "set", "br0", "up"])
        except RuntimeError as error:
            self.close()
            raise Skip(f"cannot make a bridge in a namespace: {error}") from None
        return self

    def __exit__(self, kind, _value, _traceback):
        self.close()
        # Logfiles of a failed run stay for a look; those of a passed run go.
        for folder in self.folders:
            if kind is None:
                shutil.rmtree(folder, ignore_errors=True)
            else:
                print(f"test bed: files of this run kept in {folder}", file=sys.stderr)
        return False

    def make_folder(self):
        """A working folder for the program (its logfile goes there)."""
        folder = tempfile.mkdtemp(prefix=NAME_PREFIX)
        os.chmod(folder, 0o755)
        self.folders.append(folder)
        return folder

    def _add_namespace(self, name):
        run([IP, "netns", "add", name])
        self.namespaces.append(name)
        run([IP, "-n", name, "link", "set", "lo", "up"])
        # Before any interface exists, so none gets an IPv6 link-local
        # address and the bed carries only what the scenario sends.
        run([IP, "netns", "exec", name, SYSCTL, "-q", "-w",
             "net.ipv6.conf.all.disable_ipv6=1", "net.ipv6.conf.default.disable_ipv6=1"])

    def add_node(self, role, addresses=(), default_route=False, bridge="br0"):
        """A host on the bed: namespace, interface eth0 on the bridge, the
        given addresses ("10.77.0.5/24"), none for a server without one."""
        namespace = self.tag + role
        self._add_namespace(namespace)
        node = Node(self, namespace, list(addresses))
        self.add_interface(node, "eth0", addresses, bridge)
        if default_route:
            # As on a real host: the limited broadcast needs a route to leave
            # a socket that is not bound to a device.
            run([IP, "-n", namespace, "route", "add", "default", "dev", "eth0"])
        return node

    def add_interface(self, node, name, addresses, bridge):
        """One more interface of a host, on the given bridge."""
        self._ports += 1
        port = f"p{self._ports}"
        try:
            run([IP, "link", "add", name, "netns", node.namespace, "type", "veth",
                 "peer", "name", port, "netns", self.switch])
        except RuntimeError as error:
            raise Skip(f"cannot make a veth pair between namespaces: {error}") from None
        run([IP, "-n", self.switch, "link", "set", port, "master", bridge, "up"])
        for address in addresses:
            run([IP, "-n", node.namespace, "addr", "add", address, "dev", name])
        run([IP, "-n", node.namespace, "link", "set", name, "up"])

    def close(self):
        # A second Ctrl+C must not cut the tear-down short.
        kept = {number: signal.signal(number, signal.SIG_IGN)
                for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)}
        try:
            self._remove_all()
        finally:
            for number, handler in kept.items():
                signal.signal(number, handler)

    def _remove_all(self):
        for bed in self.children:
            bed._remove_all()
        for cleanup in reversed(self.cleanups):
            try:
                cleanup()
            except Exception:  # noqa: BLE001 - tear-down goes on whatever happens
                pass
        self.cleanups = []
        for process in self.processes:
            try:
                process.kill()
            except Exception:  # noqa: BLE001 - tear-down goes on whatever happens
                pass
        for name in reversed(self.namespaces):
            run([IP, "netns", "del", name], check_rc=False)
        left = [n for n in self.namespaces
                if n in run([IP, "netns", "list"], check_rc=False).stdout.split()]
        self.namespaces = []
        if left:
            print(f"test bed: could not remove {', '.join(left)}", file=sys.stderr)

    def describe(self):
        return "\n".join(process.describe() for process in self.processes)


def _raise_interrupted(number, _frame):
    raise Interrupted(signal.Signals(number).name)


def main(scenarios, argv):
    """Runs one scenario by name: argv = [script, scenario, *arguments].
    Exit status 0 pass, 1 fail, SKIP_CODE skipped."""
    if len(argv) < 2 or argv[1] not in scenarios:
        print(f"usage: {argv[0]} SCENARIO [ARGS...]\nscenarios: {', '.join(scenarios)}",
              file=sys.stderr)
        return 2
    for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(number, _raise_interrupted)
    name = argv[1]
    started = time.monotonic()
    bed = None
    try:
        with TestBed() as bed:
            scenarios[name](bed, *argv[2:])
        print(f"{name}: passed in {time.monotonic() - started:.1f} s")
        return 0
    except Skip as reason:
        print(f"skipped: {reason}")
        return SKIP_CODE
    except Failure as failure:
        print(f"{name}: FAILED after {time.monotonic() - started:.1f} s: {failure}")
        if bed is not None:
            print(bed.describe())
        return 1
    except Interrupted as which:
        print(f"{name}: interrupted by {which}; test bed removed")
        return 1
