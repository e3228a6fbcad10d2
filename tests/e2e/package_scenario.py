#!/usr/bin/python3
"""The Debian package, as a new user meets it:

    package_scenario.py install SOURCE_DIR TESSEL_PEER

Builds the package with SOURCE_DIR/scripts/package (lintian included), or
takes the one TESSEL_PACKAGE_DEB names (built by that script), installs it
with dpkg on this machine, upgrades it to a newer version of itself, and
checks after each step that the programs in /usr/libexec/tessel
carry their capabilities and may be run only by root and the group tessel,
while the launchers in /usr/bin carry nothing. As user nobody in the group,
the installed window starts in secure-execution mode under Xvfb and
offscreen, and the installed tessel-cli, on the namespace test bed (ping
sockets closed to it), gives a peer its address and stores it. Outside the
group, both commands say how to get access and change nothing. Answering
no through dpkg-reconfigure leaves the programs to root; yes gives the
group its access back. Then the package is purged: every file it
installed, its overrides and the group are gone.
Skipped (77) without root or namespaces, or when a package named tessel is
already installed here (the test would remove someone's installation).
"""

import grp
import os
import re
import shutil
import stat
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from privilege_scenarios import ALL_CAPS, GETCAP, NOBODY, set_stored_as_nobody  # noqa: E402
from testbed import Failure, Skip, as_user, check, main, run  # noqa: E402

PROGRAMS = ["/usr/libexec/tessel/tessel", "/usr/libexec/tessel/tessel-cli"]
LAUNCHERS = ["/usr/bin/tessel", "/usr/bin/tessel-cli"]
GROUP = "tessel"
EXIT_NO_ACCESS = 126
XVFB = "/usr/bin/Xvfb"
XWININFO = "/usr/bin/xwininfo"
AT_SECURE = 23


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


def check_access(step, granted):
    """`granted`: the programs carry their capabilities and only root and the
    group may run them, through dpkg-statoverride; else they are root's
    ordinary files without capabilities. The launchers carry nothing."""
    gid = group_id()
    check(gid is not None, f"after {step}: no group {GROUP}")
    for program in PROGRAMS:
        listed = run([GETCAP, program], check_rc=False).stdout.split()
        info = os.stat(program)
        override = run(["dpkg-statoverride", "--list", program], check_rc=False).stdout.strip()
        if granted:
            caps = listed[-1].partition("=") if listed else ("", "", "")
            check(set(caps[0].split(",")) == set(ALL_CAPS.split(",")) and caps[2] == "p",
                  f"after {step}: {program} carries {listed[-1] if listed else 'no capabilities'}")
            check((info.st_uid, info.st_gid, stat.S_IMODE(info.st_mode)) == (0, gid, 0o750),
                  f"after {step}: {program} is {info.st_uid}:{info.st_gid} {stat.S_IMODE(info.st_mode):o}")
            check(override.split() == ["root", GROUP, "750", program], f"after {step}: override {override!r}")
        else:
            check(not listed, f"after {step}: {program} still carries {listed}")
            check((info.st_uid, info.st_gid, stat.S_IMODE(info.st_mode)) == (0, 0, 0o755),
                  f"after {step}: {program} is {info.st_uid}:{info.st_gid} {stat.S_IMODE(info.st_mode):o}")
            check(override == "", f"after {step}: override {override!r} is left")
    for launcher in LAUNCHERS:
        check(not run([GETCAP, launcher], check_rc=False).stdout.strip(), f"{launcher} carries capabilities")
        check(stat.S_IMODE(os.stat(launcher).st_mode) == 0o755, f"{launcher} is not 0755")


def reconfigure(answer):
    selection = subprocess.run(["debconf-set-selections"], input=f"tessel tessel/group-access boolean {answer}\n",
                               text=True, capture_output=True, timeout=30)
    check(selection.returncode == 0, f"debconf-set-selections: {selection.stderr}")
    result = run(["dpkg-reconfigure", "-f", "noninteractive", "tessel"], check_rc=False, timeout=120)
    check(result.returncode == 0, f"dpkg-reconfigure ({answer}) failed:\n{result.stdout}{result.stderr}")


def check_outsider_refused(bed, environment):
    """nobody outside the group: both commands tell how to get access, exit
    126, and the program never starts (no logfile, nothing bound)."""
    folder = bed.make_folder()
    os.chown(folder, NOBODY, NOBODY)
    logfile = os.path.join(folder, "outsider.log")
    for command in (["/usr/bin/tessel-cli", "list", "--seconds", "2", "--logfile", logfile],
                    ["/usr/bin/tessel"]):
        result = subprocess.run(as_user(NOBODY) + command, cwd=folder, env=environment,
                                capture_output=True, text=True, timeout=30)
        check(result.returncode == EXIT_NO_ACCESS, f"{command[0]} for an outsider: exit {result.returncode}:\n"
              f"{result.stdout}{result.stderr}")
        check("sudo usermod -aG tessel nobody" in result.stderr and "log in again" in result.stderr,
              f"{command[0]} does not say how to get access:\n{result.stderr}")
    check(not os.path.exists(logfile), "the program ran for an outsider: a logfile was written")


def check_outsider_box(environment):
    """The window's launcher, started from a menu by an outsider, shows its
    message in a box (the program itself never runs)."""
    launcher = subprocess.Popen(as_user(NOBODY) + ["/usr/bin/tessel"], env=environment,
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    try:
        time.sleep(3)
        check(launcher.poll() is None, f"the launcher ended without a box: {launcher.returncode}")
        check(os.readlink(f"/proc/{launcher.pid}/exe") == "/usr/bin/tessel",
              "the program runs instead of the launcher")
        tree = subprocess.run([XWININFO, "-root", "-children"], env=environment,
                              capture_output=True, text=True, timeout=10).stdout
        check('"Tessel": ("tessel" "tessel")' in tree, f"no message box for the outsider:\n{tree}")
    finally:
        launcher.kill()
        launcher.wait(5)


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


def secure_execution(pid):
    with open(f"/proc/{pid}/auxv", "rb") as auxv:
        data = auxv.read()
    for offset in range(0, len(data) - 15, 16):
        kind, value = struct.unpack_from("QQ", data, offset)
        if kind == AT_SECURE:
            return value == 1
    return False


def check_window_starts(bed, environment, how):
    """The installed window run by nobody in the group: it holds its
    capabilities, runs in secure-execution mode, and is still up after three
    seconds."""
    folder = bed.make_folder()
    os.chown(folder, NOBODY, NOBODY)
    window = subprocess.Popen(as_user(NOBODY, [group_id()]) + ["/usr/bin/tessel"], cwd=folder,
                              env=dict(environment, HOME=folder, XDG_RUNTIME_DIR=folder),
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    try:
        time.sleep(3)
        if window.poll() is not None:
            raise Failure(f"the window ended {how}: {window.communicate(timeout=5)[0]!r}")
        with open(f"/proc/{window.pid}/status") as status:
            uid = [line.split()[1] for line in status if line.startswith("Uid:")][0]
        # setpriv and the launcher replace themselves with the program: the
        # pid is the window's.
        check(uid == str(NOBODY), f"the window runs as uid {uid}")
        check(os.readlink(f"/proc/{window.pid}/exe") == PROGRAMS[0], "the launcher did not start the window")
        check(secure_execution(window.pid), f"the window is not in secure-execution mode {how}")
        if "DISPLAY" in environment:
            tree = subprocess.run([XWININFO, "-root", "-children"], env=environment,
                                  capture_output=True, text=True, timeout=10).stdout
            check('("tessel" "tessel")' in tree, f"no window of class tessel {how}:\n{tree}")
    finally:
        window.kill()
        window.wait(5)


def scenario_install(bed, source, peer):
    if shutil.which("dpkg") is None:
        raise Skip("dpkg is not here")
    if installed_version() is not None:
        raise Skip("a package named tessel is installed here; the test would remove it")
    if group_id() is not None:
        raise Skip(f"a group {GROUP} exists here; purging the package would remove it")
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

    work = tempfile.mkdtemp(prefix="tessel-package-")
    files = []
    try:
        result = dpkg("-i", deb)
        check(result.returncode == 0, f"dpkg -i failed:\n{result.stdout}{result.stderr}")
        check_access("installation", True)
        newer, version = newer_copy(deb, work)
        result = dpkg("-i", newer)
        check(result.returncode == 0 and installed_version() == version,
              f"the upgrade to {version} failed:\n{result.stdout}{result.stderr}")
        check_access("the upgrade", True)
        files = [line for line in dpkg("-L", "tessel").stdout.splitlines() if line.startswith("/")]
        print(f"  installed and upgraded to {version}: {len(files)} paths", flush=True)

        display = f":{90 + os.getpid() % 500}"
        xvfb = subprocess.Popen([XVFB, display, "-ac", "-nolisten", "tcp", "-screen", "0",
                                 "1024x768x24"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            time.sleep(1.5)
            check(xvfb.poll() is None, f"Xvfb did not start on {display}")
            base = {"PATH": "/usr/bin:/bin"}
            check_window_starts(bed, dict(base, DISPLAY=display), "under Xvfb")
            check_window_starts(bed, dict(base, QT_QPA_PLATFORM="offscreen"), "offscreen")
            check_outsider_box(dict(base, DISPLAY=display))
        finally:
            xvfb.terminate()
            xvfb.wait(5)
        print("  the window starts for nobody in the group with its capabilities, under Xvfb and "
              "offscreen; outside the group a box says how to get access", flush=True)

        set_stored_as_nobody(bed, "/usr/bin/tessel-cli", peer, "0A-1B-2C-00-06-01", "10.77.0.61",
                             groups=[group_id()])
        print("  the installed tessel-cli, run by nobody in the group, stored a peer's address", flush=True)
        check_outsider_refused(bed, {"PATH": "/usr/bin:/bin"})
        print("  outside the group both commands say how to get access and exit 126", flush=True)

        reconfigure("false")
        check_access("dpkg-reconfigure (no)", False)
        reconfigure("true")
        check_access("dpkg-reconfigure (yes)", True)
        print("  dpkg-reconfigure: no leaves the programs to root, yes gives the group access again",
              flush=True)
    finally:
        removed = dpkg("-P", "tessel")
        shutil.rmtree(work, ignore_errors=True)
    check(removed.returncode == 0 and installed_version() is None,
          f"dpkg -P failed:\n{removed.stdout}{removed.stderr}")
    # Shared folders (/usr/bin, ...) stay; the package's own files and its
    # documentation folder go.
    left = [path for path in files if os.path.isfile(path) or os.path.islink(path)
            or path == "/usr/share/doc/tessel" and os.path.exists(path)]
    check(not left, f"files left after the purge: {left}")
    check(group_id() is None, f"the group {GROUP} is left after the purge")
    overrides = [line for line in run(["dpkg-statoverride", "--list"]).stdout.splitlines()
                 if "/tessel/" in line or f" {GROUP} " in line]
    check(not overrides, f"overrides left after the purge: {overrides}")
    print(f"  purged: none of its {len(files)} paths, its overrides or its group is left", flush=True)


SCENARIOS = {"install": scenario_install}

if __name__ == "__main__":
    sys.exit(main(SCENARIOS, sys.argv))
