#!/usr/bin/python3
"""The Debian package, as users meet it:

    package_scenario.py install SOURCE_DIR TESSEL_PEER PROBE_PLUGIN HOLD_LIBRARY

Builds the package with SOURCE_DIR/scripts/package (lintian included), or
takes the one TESSEL_PACKAGE_DEB names (built by that script). Installs
0.1.1 (built once from its commit into SOURCE_DIR/build/package-COMMIT/, or
TESSEL_PACKAGE_OLD_DEB), upgrades it unattended to this package and then to
a newer version of itself, and checks after each step that the helper
alone carries capabilities and may be run only by root and the group
tessel, that tessel and tessel-cli in /usr/bin are ordinary programs, and
that 0.1.1's programs are gone with their overrides; a descriptor held open
on each old file across each upgrade finds it without capabilities. No installed file but
the helper holds a capability, and the helper loads no Qt, libcurl or TLS
library. As user nobody in the group, on the namespace test bed with ping
sockets closed: the installed window under Xvfb sets a peer's address,
driven by PROBE_PLUGIN, a Qt plugin named through QT_PLUGIN_PATH that
finds no capability in the window; tessel-cli sets another; tessel-cli
killed with SIGKILL during the fallback (held by HOLD_LIBRARY before it
asks for the removal itself) takes its helper and its neighbour entry with
it. Outside the group, tessel-cli and the window say how to get
access. dpkg-reconfigure no leaves the helper to root, yes gives the group
its access back, and an administrator's override root root 755 stays and
leaves the helper without capabilities. Then the package is purged: every
file it installed and its overrides are gone; the group stays (the test
removes it after).
Skipped (77) without root or namespaces, or when a package named tessel or
the group tessel is already there (the test would remove them).
"""

import grp
import os
import re
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from assign_scenarios import BOX_STORED, EXIT_STORED, SetRun, assignment_events  # noqa: E402
from privilege_scenarios import (ALL_CAPS, EXIT_PORT_UNAVAILABLE, GETCAP, NOBODY, TABLE_HELPER_CAPS,  # noqa: E402
                                 check_runs_as_nobody, close_ping_sockets, ended, helper_of)
from testbed import IP, PROGRAM_ADDRESS, Failure, Skip, as_user, check, main, run  # noqa: E402

HELPER = "/usr/libexec/tessel/tessel-net"
PROGRAMS = ["/usr/bin/tessel", "/usr/bin/tessel-cli"]
# Where 0.1.1 kept its programs, with their capabilities and overrides.
OLD_PROGRAMS = ["/usr/libexec/tessel/tessel", "/usr/libexec/tessel/tessel-cli"]
OLD_COMMIT = "fe2857b"
GROUP = "tessel"
XVFB = "/usr/bin/Xvfb"
XWININFO = "/usr/bin/xwininfo"
# Libraries a capability holder must not load: the toolkit, the internet
# client and every TLS library it could bring.
FORBIDDEN_LIBRARIES = re.compile(r"libQt|libcurl|libssl|libcrypto|libgnutls|libnss3|libmbedtls|libwolfssl")
SERIAL, ADDRESS = "0A-1B-2C-00-06-01", "10.77.0.61"


def dpkg(*args):
    """dpkg, waiting while another installation holds dpkg's lock."""
    deadline = time.monotonic() + 600
    while True:
        result = run(["dpkg"] + list(args), check_rc=False, timeout=300)
        if result.returncode == 0 or "lock" not in result.stderr or time.monotonic() > deadline:
            return result
        time.sleep(2)


def installed_version():
    result = run(["dpkg-query", "-W", "-f=${Status} ${Version}", "tessel"], check_rc=False)
    words = result.stdout.split()
    return words[-1] if result.returncode == 0 and "installed" in words[:3] else None


def group_id():
    try:
        return grp.getgrnam(GROUP).gr_gid
    except KeyError:
        return None


def held_open(paths):
    """Descriptors of the files, as a member could hold them across an
    upgrade to start the old file later."""
    return {path: os.open(path, os.O_RDONLY) for path in paths if os.path.exists(path)}


def check_nothing_held_runs_with_capabilities(held, step):
    """The old files, replaced now, carry no capability: started through
    the descriptors held, they would run with none."""
    check(held, f"{step}: no descriptor held")
    for path, fd in held.items():
        try:
            os.getxattr(f"/proc/self/fd/{fd}", "security.capability")
            left = True
        except OSError:
            left = False
        finally:
            os.close(fd)
        check(not left, f"after {step} the old {path}, held open, still carries capabilities")


def capabilities(path):
    """The file capabilities getcap lists for the path, "" for none."""
    listed = run([GETCAP, path], check_rc=False).stdout.split()
    return listed[-1] if listed else ""


def check_access(step, granted):
    """`granted`: the helper carries its capabilities and only root and the
    group may run it, through dpkg-statoverride; else it is root's ordinary
    file without capabilities. The programs in /usr/bin are ordinary files
    without capabilities or overrides either way, and 0.1.1's programs in
    /usr/libexec/tessel are gone with their overrides."""
    gid = group_id()
    check(gid is not None, f"after {step}: no group {GROUP}")
    held = capabilities(HELPER)
    info = os.stat(HELPER)
    owner = (info.st_uid, info.st_gid, stat.S_IMODE(info.st_mode))
    override = run(["dpkg-statoverride", "--list", HELPER], check_rc=False).stdout.strip()
    if granted:
        caps = held.partition("=")
        check(set(caps[0].split(",")) == set(ALL_CAPS.split(",")) and caps[2] == "p",
              f"after {step}: {HELPER} carries {held or 'no capabilities'}")
        check(owner == (0, gid, 0o750), f"after {step}: {HELPER} is {owner[0]}:{owner[1]} {owner[2]:o}")
        check(override.split() == ["root", GROUP, "750", HELPER], f"after {step}: override {override!r}")
    else:
        check(not held, f"after {step}: {HELPER} still carries {held}")
        check(owner == (0, 0, 0o755), f"after {step}: {HELPER} is {owner[0]}:{owner[1]} {owner[2]:o}")
        check(override == "", f"after {step}: override {override!r} is left")
    for program in PROGRAMS:
        info = os.stat(program)
        check(not capabilities(program), f"after {step}: {program} carries {capabilities(program)}")
        check((info.st_uid, info.st_gid, stat.S_IMODE(info.st_mode)) == (0, 0, 0o755),
              f"after {step}: {program} is not root's 0755")
        check(not run(["dpkg-statoverride", "--list", program], check_rc=False).stdout.strip(),
              f"after {step}: {program} has an override")
    for old in OLD_PROGRAMS:
        check(not os.path.exists(old), f"after {step}: {old} is still there")
        left = run(["dpkg-statoverride", "--list", old], check_rc=False).stdout.strip()
        check(not left, f"after {step}: the override {left!r} of {old} is left")


def check_only_helper_holds(files):
    """No installed file but the helper holds a capability, and none that
    does loads Qt, libcurl or a TLS library. Returns the helper's size and
    the libraries it loads."""
    regular = [path for path in files if os.path.isfile(path) and not os.path.islink(path)]
    listed = run([GETCAP] + regular, check_rc=False).stdout.splitlines()
    listed += run([GETCAP, "-r", os.path.dirname(HELPER)], check_rc=False).stdout.splitlines()
    holders = sorted({line.split()[0] for line in listed if line.strip()})
    check(holders == [HELPER], f"capability holders: {holders}")
    loaded = run(["ldd", HELPER]).stdout.split()
    needed = re.findall(r"\(NEEDED\).*\[(.+)\]", run(["readelf", "-d", HELPER]).stdout)
    check(needed, f"readelf lists no library of {HELPER}")
    forbidden = [name for name in loaded + needed if FORBIDDEN_LIBRARIES.search(name)]
    check(not forbidden, f"{HELPER} loads {forbidden}")
    return os.path.getsize(HELPER), sorted(name for name in loaded if name.startswith("lib"))


def reconfigure(answer):
    selection = subprocess.run(["debconf-set-selections"], input=f"tessel tessel/group-access boolean {answer}\n",
                               text=True, capture_output=True, timeout=30)
    check(selection.returncode == 0, f"debconf-set-selections: {selection.stderr}")
    result = run(["dpkg-reconfigure", "-f", "noninteractive", "tessel"], check_rc=False, timeout=120)
    check(result.returncode == 0, f"dpkg-reconfigure ({answer}) failed:\n{result.stdout}{result.stderr}")
    return result


def check_admin_override_kept_without_capabilities():
    """An administrator's override that lets everyone run the helper stays,
    and the helper then gets no capabilities, with a word on stderr; once
    the override is gone, configure grants them again."""
    run(["dpkg-statoverride", "--remove", HELPER])
    run(["dpkg-statoverride", "--update", "--add", "root", "root", "0755", HELPER])
    said = reconfigure("true").stderr
    check(not capabilities(HELPER), f"with the override root root 755 the helper carries {capabilities(HELPER)}")
    override = run(["dpkg-statoverride", "--list", HELPER]).stdout.split()
    check(override == ["root", "root", "755", HELPER], f"the administrator's override became {override}")
    check(f"{HELPER} was not given its capabilities" in said and "root root 755" in said,
          f"configure did not say why the helper has no capabilities:\n{said}")
    run(["dpkg-statoverride", "--remove", HELPER])
    reconfigure("true")
    check_access("the override removed and dpkg-reconfigure", True)


def old_package(source):
    """0.1.1, as `scripts/package OLD_COMMIT` builds it from the commit
    before the helper into SOURCE/build/package-OLD_COMMIT/, where later runs
    find it (or the one TESSEL_PACKAGE_OLD_DEB names)."""
    given = os.environ.get("TESSEL_PACKAGE_OLD_DEB", "")
    if given:
        check(given.endswith(".deb") and os.path.isfile(given), f"TESSEL_PACKAGE_OLD_DEB is no package: {given}")
        return given
    built = run([os.path.join(source, "scripts", "package"), OLD_COMMIT], check_rc=False, timeout=1500)
    check(built.returncode == 0, f"the package of {OLD_COMMIT} failed:\n{built.stdout[-3000:]}{built.stderr[-2000:]}")
    return built.stdout.strip().splitlines()[-1]


def newer_copy(deb, folder):
    """The same package with a higher version: installing it is an upgrade
    that runs every maintainer script of one."""
    tree = os.path.join(folder, "tree")
    run(["dpkg-deb", "-R", deb, tree])
    control = os.path.join(tree, "DEBIAN", "control")
    with open(control) as source:
        text = source.read()
    version = re.search(r"^Version: (.+)$", text, re.M).group(1) + "+upgrade1"
    with open(control, "w") as target:
        target.write(re.sub(r"^Version: .+$", f"Version: {version}", text, flags=re.M))
    newer = os.path.join(folder, "tessel-newer.deb")
    run(["dpkg-deb", "--root-owner-group", "-b", tree, newer], timeout=60)
    return newer, version


def check_holds_nothing(process, what):
    """The program runs as nobody without any capability; the table helper
    it started is the installed one and holds cap_net_admin, permitted
    only, once it has handed the port over."""
    check_runs_as_nobody(process, "")
    helper = helper_of(process)
    check(helper is not None, f"no helper runs beside {what}")
    check(os.readlink(f"/proc/{helper}/exe") == HELPER, f"{what} started {os.readlink(f'/proc/{helper}/exe')}")
    check_runs_as_nobody(process, TABLE_HELPER_CAPS, pid=helper)
    return helper


class InstalledWindowRun(SetRun):
    """The installed window, run by nobody in the group on a display of its
    own in the program's namespace, with the probe plugin named through the
    environment: the plugin records the window's capabilities and sets the
    server's address as a user would. SetRun's checks of what the server saw
    and of the logfile."""

    def __init__(self, bed, peer, plugin, groups, serial, address):  # noqa: SetRun's own starts tessel-cli
        self.bed, self.serial, self.address = bed, serial, address
        self.prog = bed.add_node("prog", [PROGRAM_ADDRESS + "/24"], default_route=True)
        close_ping_sockets(bed, self.prog)
        self.srv = bed.add_node("srv", [])
        self.folder = bed.make_folder()
        os.chown(self.folder, NOBODY, NOBODY)
        self.record = os.path.join(self.folder, "record")
        os.mkdir(self.record)
        self.logfile = os.path.join(self.folder, "MERROW Tessel.log")
        self.probe = os.path.join(self.folder, "probe.txt")
        plugins = bed.make_folder()
        os.mkdir(os.path.join(plugins, "generic"))
        shutil.copy(plugin, os.path.join(plugins, "generic", "libtessel-probe.so"))
        number = 90 + os.getpid() % 500
        self.xvfb = self.prog.start([XVFB, f":{number}", "-ac", "-nolisten", "tcp", "-screen", "0",
                                     "1024x768x24"], name="Xvfb")
        deadline = time.monotonic() + 10
        while not os.path.exists(f"/tmp/.X11-unix/X{number}") and time.monotonic() < deadline:
            time.sleep(0.05)
        environment = ["/usr/bin/env", "-i", "PATH=/usr/bin:/bin", f"DISPLAY=:{number}", f"HOME={self.folder}",
                       f"XDG_RUNTIME_DIR={self.folder}", f"QT_PLUGIN_PATH={plugins}",
                       "QT_QPA_GENERIC_PLUGINS=tessel-probe", f"TESSEL_PROBE_RECORD={self.probe}",
                       f"TESSEL_PROBE_DRIVE={serial} {address}"]
        self.tessel = self.prog.start(as_user(NOBODY, groups) + environment + [PROGRAMS[0]], cwd=self.folder,
                                      name="window")

    def start_peer(self, peer):
        self.peer = self.srv.start([peer, "--linger", "forever", "--interval", "1000", "--count", "0",
                                    "--record", self.record, "--server", self.serial], name="tessel-peer")

    def probed(self):
        if not os.path.exists(self.probe):
            return []
        with open(self.probe) as record:
            return record.read().splitlines()


def check_window_sets_server(bed, peer, plugin, gid):
    serial, address = "0A-1B-2C-00-06-02", "10.77.0.62"
    window = InstalledWindowRun(bed, peer, plugin, [gid], serial, address)
    if not window.tessel.wait_udp_bound(67, timeout=20):
        raise Failure(f"the installed window did not get port 67:\n{window.tessel.describe()}\n"
                      f"plugin: {window.probed()}")
    check_holds_nothing(window.tessel, "the window")
    window.start_peer(peer)
    window.finish()
    window.xvfb.kill()
    probed = window.probed()
    sets = dict(line.split(": ", 1) for line in probed if line.startswith("Cap"))
    check(set(sets) >= {"CapPrm", "CapEff"}, f"the plugin was not loaded into the window: {probed}\n"
          f"{window.tessel.describe()}")
    check(int(sets["CapPrm"], 16) == 0 and int(sets["CapEff"], 16) == 0,
          f"the plugin found capabilities in the window: {sets}")
    check(window.code == 0, f"the window ended with {window.code}:\n{window.tessel.describe()}")
    check("BOX " + BOX_STORED[0] in probed and f"ROW {serial} {address}" in probed,
          f"the window did not set the address: {probed}")
    window.check_one_reply()
    window.check_restarted()
    window.check_form_post(200)
    window.check_log("0.0.0.0", assignment_events("0.0.0.0", serial, address, True, stored_by_http=True))


def check_cli_sets_server(bed, peer, gid):
    setrun = SetRun(bed, PROGRAMS[1], peer, SERIAL, ADDRESS, prepare=close_ping_sockets, user=NOBODY,
                    groups=[gid])
    check_holds_nothing(setrun.tessel, "tessel-cli")
    setrun.finish()
    setrun.check_outcome(EXIT_STORED, BOX_STORED)
    setrun.check_one_reply()
    setrun.check_restarted()
    setrun.check_form_post(200)


def check_killed_during_fallback(bed, peer, gid, hold):
    """tessel-cli killed with SIGKILL while the fallback's entry is in the
    table: the helper ends with it and takes the entry away. The
    `hold` library keeps tessel-cli from asking for the removal itself."""
    serial, address = "0A-1B-2C-00-06-03", "10.77.0.63"
    folder = bed.make_folder()
    library, mark = os.path.join(folder, "hold.so"), os.path.join(folder, "held")
    shutil.copy(hold, library)
    os.chown(folder, NOBODY, NOBODY)
    held = lambda _node: ["/usr/bin/env", f"LD_PRELOAD={library}", f"TESSEL_TEST_HOLD_MARK={mark}",  # noqa: E731
                          PROGRAMS[1]]
    setrun = SetRun(bed, held, peer, serial, address, ["--ignore-replies"], prepare=close_ping_sockets,
                    user=NOBODY, groups=[gid])
    helper = check_holds_nothing(setrun.tessel, "tessel-cli")
    deadline = time.monotonic() + 90
    while not os.path.exists(mark) and time.monotonic() < deadline and setrun.tessel.running():
        time.sleep(0.2)
    check(os.path.exists(mark), f"the fallback never asked to remove its entry:\n{setrun.tessel.describe()}")
    table = setrun.prog.run([IP, "neigh", "show", "to", address]).stdout.strip()
    check(table.startswith(f"{address} dev eth0 ") and table.endswith(" proto 116"),
          f"the helper's entry is not in the table: {table!r}")
    setrun.tessel.signal(signal.SIGKILL)
    check(setrun.tessel.wait(5) is not None, "tessel-cli outlived SIGKILL")
    check(ended(helper), "the helper outlived its parent by 5 s")
    table = setrun.prog.run([IP, "neigh", "show", "to", address]).stdout.strip()
    check("proto 116" not in table, f"the entry was left behind: {table!r}")


def check_outsider_refused(bed, plugin):
    """nobody outside the group: tessel-cli says how to get access and exits
    as when port 67 cannot be had (69); the window shows the same advice in
    its box (read by the plugin)."""
    folder = bed.make_folder()
    os.chown(folder, NOBODY, NOBODY)
    result = subprocess.run(as_user(NOBODY) + [PROGRAMS[1], "list", "--seconds", "2"], cwd=folder,
                            env={"PATH": "/usr/bin:/bin"}, capture_output=True, text=True, timeout=30)
    check(result.returncode == EXIT_PORT_UNAVAILABLE, f"tessel-cli for an outsider: exit {result.returncode}:\n"
          f"{result.stdout}{result.stderr}")
    check("sudo usermod -aG tessel nobody" in result.stderr and "log in again" in result.stderr,
          f"tessel-cli does not say how to get access:\n{result.stderr}")
    window = InstalledWindowRun(bed.child("outsider"), None, plugin, [], "0A-1B-2C-00-06-09", "10.77.0.69")
    deadline = time.monotonic() + 30
    while not [line for line in window.probed() if line.startswith("BOX ")] and time.monotonic() < deadline:
        time.sleep(0.2)
    boxes = [line for line in window.probed() if line.startswith("BOX ")]
    check(boxes and "sudo usermod -aG tessel nobody" in boxes[0] and "log in again" in boxes[0],
          f"the window shows no advice to an outsider: {window.probed()}\n{window.tessel.describe()}")
    window.tessel.kill()
    window.xvfb.kill()


SERVICE_USER = "tessel-serve"
SERVICE_UNIT = "/lib/systemd/system/tessel-serve.service"
SERVICE_PLAN = "/etc/tessel/plan.csv"
SERVICE_LOGROTATE = "/etc/logrotate.d/tessel-serve"


def user_exists(name):
    return run(["getent", "passwd", name], check_rc=False).returncode == 0


def check_service_installed():
    """tessel-serve.service: installed, not enabled, valid; its plan a
    conffile that serve accepts; its user in the group."""
    check(os.path.isfile(SERVICE_UNIT), f"no {SERVICE_UNIT}")
    conffiles = dpkg("--status", "tessel").stdout
    check(f" {SERVICE_PLAN} " in conffiles, f"{SERVICE_PLAN} is not a conffile:\n{conffiles}")
    check(f" {SERVICE_LOGROTATE} " in conffiles, f"{SERVICE_LOGROTATE} is not a conffile:\n{conffiles}")
    if shutil.which("logrotate"):
        # As installed, with its user: logrotate reads it without an error.
        parsed = run(["logrotate", "--debug", "--state", "/dev/null", SERVICE_LOGROTATE], check_rc=False, timeout=60)
        check(parsed.returncode == 0 and "error" not in parsed.stderr, f"logrotate: {parsed.stdout}{parsed.stderr}")
    wants = "/etc/systemd/system/multi-user.target.wants/tessel-serve.service"
    check(not os.path.lexists(wants), "the package enabled tessel-serve.service")
    user = run(["id", "-gn", SERVICE_USER], check_rc=False)
    check(user.returncode == 0 and user.stdout.strip() == GROUP, f"{SERVICE_USER}'s group: {user.stdout}{user.stderr}")
    checked = run(["/usr/bin/tessel-cli", "serve", "--check", SERVICE_PLAN], check_rc=False)
    check(checked.returncode == 0, f"serve --check of the example plan: {checked.stderr}")
    exposure = ""
    if shutil.which("systemd-analyze"):
        verified = run(["systemd-analyze", "verify", "--man=no", SERVICE_UNIT], check_rc=False, timeout=60)
        check(verified.returncode == 0, f"systemd-analyze verify: {verified.stdout}{verified.stderr}")
        security = run(["systemd-analyze", "security", "--offline=true", SERVICE_UNIT], check_rc=False, timeout=60)
        exposure = " ".join(line for line in security.stdout.splitlines() if "Overall exposure" in line)
    return exposure


def scenario_install(bed, source, peer, plugin, hold):
    if shutil.which("dpkg") is None:
        raise Skip("dpkg is not here")
    if installed_version() is not None:
        raise Skip("a package named tessel is installed here; the test would remove it")
    if group_id() is not None:
        raise Skip(f"a group {GROUP} exists here; the test would remove it")
    if user_exists(SERVICE_USER):
        raise Skip(f"a user {SERVICE_USER} exists here; the test would remove it")
    if not os.path.isfile(plugin):
        raise Skip("the probe plugin is not built (a build without the window)")
    # The question is answered by its default, as in an unattended install.
    os.environ["DEBIAN_FRONTEND"] = "noninteractive"
    deb = os.environ.get("TESSEL_PACKAGE_DEB", "")
    if deb:
        # scripts/test builds it beforehand with scripts/package, while
        # other scenarios run.
        check(deb.endswith(".deb") and os.path.isfile(deb), f"TESSEL_PACKAGE_DEB is no package: {deb}")
        print(f"  given {os.path.basename(deb)}, built by scripts/package", flush=True)
    else:
        built = run([os.path.join(source, "scripts", "package")], check_rc=False, timeout=1500)
        check(built.returncode == 0, f"scripts/package failed:\n{built.stdout[-3000:]}{built.stderr[-2000:]}")
        deb = built.stdout.strip().splitlines()[-1]
        check(deb.endswith(".deb") and os.path.exists(deb), f"no package: {deb}")
        print(f"  built {os.path.basename(deb)}, lintian without error", flush=True)
    old = old_package(source)

    work = tempfile.mkdtemp(prefix="tessel-package-")
    files = []
    try:
        # 0.1.1 first, as users have it: its programs carry the capabilities.
        result = dpkg("-i", old)
        check(result.returncode == 0, f"dpkg -i {old} failed:\n{result.stdout}{result.stderr}")
        check(all(capabilities(path) for path in OLD_PROGRAMS), "0.1.1's programs carry no capabilities")
        held = held_open(OLD_PROGRAMS)
        result = dpkg("-i", deb)
        check(result.returncode == 0, f"the upgrade from 0.1.1 failed:\n{result.stdout}{result.stderr}")
        check_nothing_held_runs_with_capabilities(held, "the upgrade from 0.1.1")
        check_access("the upgrade from 0.1.1", True)
        newer, version = newer_copy(deb, work)
        held = held_open([HELPER])
        result = dpkg("-i", newer)
        check(result.returncode == 0 and installed_version() == version,
              f"the upgrade to {version} failed:\n{result.stdout}{result.stderr}")
        check_nothing_held_runs_with_capabilities(held, f"the upgrade to {version}")
        check_access("the upgrade", True)
        files = [line for line in dpkg("-L", "tessel").stdout.splitlines() if line.startswith("/")]
        size, libraries = check_only_helper_holds(files)
        print(f"  upgraded from {os.path.basename(old)} and to {version}: {len(files)} paths; only the "
              f"helper ({size} bytes) holds capabilities, loading {' '.join(libraries)}", flush=True)

        exposure = check_service_installed()
        print(f"  tessel-serve.service installed, not enabled, verified; {exposure}", flush=True)

        gid = group_id()
        check_window_sets_server(bed.child("window"), peer, plugin, gid)
        print("  the installed window, run by nobody in the group under Xvfb, set a peer's address; the "
              "plugin named through QT_PLUGIN_PATH found no capability in it", flush=True)
        check_cli_sets_server(bed.child("cli"), peer, gid)
        print("  the installed tessel-cli, run by nobody in the group, stored a peer's address", flush=True)
        check_killed_during_fallback(bed.child("killed"), peer, gid, hold)
        print("  tessel-cli killed during the fallback: its helper ended and removed the entry", flush=True)
        check_outsider_refused(bed, plugin)
        print("  outside the group tessel-cli and the window say how to get access", flush=True)

        reconfigure("false")
        check_access("dpkg-reconfigure (no)", False)
        reconfigure("true")
        check_access("dpkg-reconfigure (yes)", True)
        check_admin_override_kept_without_capabilities()
        print("  dpkg-reconfigure: no leaves the helper to root, yes gives the group access again; an "
              "override root root 755 stays and leaves the helper without capabilities", flush=True)
    finally:
        removed = dpkg("-P", "tessel")
        shutil.rmtree(work, ignore_errors=True)
        kept_group = group_id()
        kept_user = user_exists(SERVICE_USER)
        if installed_version() is None and kept_user:
            # The service's user is this test's own too; it goes before its group.
            run(["deluser", "--quiet", "--system", SERVICE_USER], check_rc=False)
        if installed_version() is None and kept_group is not None:
            # The group is this test's own; the package leaves it.
            run(["delgroup", "--quiet", "--system", GROUP], check_rc=False)
    check(removed.returncode == 0 and installed_version() is None,
          f"dpkg -P failed:\n{removed.stdout}{removed.stderr}")
    check(kept_group is not None, f"the purge removed the group {GROUP}, whose number files may still name")
    check(not os.path.exists("/var/lib/tessel"), "the purge left the service's ledger folder")
    # Shared folders (/usr/bin, ...) stay; the package's own files and its
    # documentation folder go.
    # (/lib is such a folder: a link to usr/lib on a merged /usr.)
    left = [path for path in files if os.path.isfile(path) or os.path.islink(path) and not os.path.isdir(path)
            or path == "/usr/share/doc/tessel" and os.path.exists(path)]
    check(not left, f"files left after the purge: {left}")
    overrides = [line for line in run(["dpkg-statoverride", "--list"]).stdout.splitlines()
                 if "/tessel/" in line or f" {GROUP} " in line]
    check(not overrides, f"overrides left after the purge: {overrides}")
    print(f"  purged: none of its {len(files)} paths or its overrides is left; the group stayed", flush=True)


SCENARIOS = {"install": scenario_install}

if __name__ == "__main__":
    sys.exit(main(SCENARIOS, sys.argv))
