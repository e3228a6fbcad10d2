#!/usr/bin/python3
"""The Debian package, as a new user meets it:

    package_scenario.py install SOURCE_DIR TESSEL_PEER

Builds the package with SOURCE_DIR/scripts/package (lintian included),
installs it with dpkg on this machine, upgrades it to a newer version of
itself, and checks that both programs carry their capabilities after each
step. The installed window starts for user nobody in secure-execution mode
under Xvfb and offscreen; the installed tessel-cli, run by nobody on the
namespace test bed (ping sockets closed to it), gives a peer its address and
stores it. Then the package is purged and every file it installed is gone.
Skipped (77) without root or namespaces, or when a package named tessel is
already installed here (the test would remove someone's installation).
"""

import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from privilege_scenarios import ALL_CAPS, GETCAP, NOBODY, set_stored_as_nobody  # noqa: E402
from testbed import Failure, Skip, as_user, check, main, run  # noqa: E402

PROGRAMS = ["/usr/bin/tessel", "/usr/bin/tessel-cli"]
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


def check_capabilities(step):
    for program in PROGRAMS:
        listed = run([GETCAP, program], check_rc=False).stdout.split()
        granted = listed[-1].partition("=") if listed else ("", "", "")
        check(set(granted[0].split(",")) == set(ALL_CAPS.split(",")) and granted[2] == "ep",
              f"after {step}: {program} carries {listed[-1] if listed else 'no capabilities'}")


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
    """The installed window run by nobody: it holds its capabilities, runs
    in secure-execution mode, and is still up after three seconds."""
    folder = bed.make_folder()
    os.chown(folder, NOBODY, NOBODY)
    window = subprocess.Popen(as_user(NOBODY) + ["/usr/bin/tessel"], cwd=folder,
                              env=dict(environment, HOME=folder, XDG_RUNTIME_DIR=folder),
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    try:
        time.sleep(3)
        if window.poll() is not None:
            raise Failure(f"the window ended {how}: {window.communicate(timeout=5)[0]!r}")
        with open(f"/proc/{window.pid}/status") as status:
            uid = [line.split()[1] for line in status if line.startswith("Uid:")][0]
        # setpriv replaces itself with the program: the pid is the window's.
        check(uid == str(NOBODY), f"the window runs as uid {uid}")
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
        check_capabilities("installation")
        newer, version = newer_copy(deb, work)
        result = dpkg("-i", newer)
        check(result.returncode == 0 and installed_version() == version,
              f"the upgrade to {version} failed:\n{result.stdout}{result.stderr}")
        check_capabilities("the upgrade")
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
        finally:
            xvfb.terminate()
            xvfb.wait(5)
        print("  the window starts for nobody with its capabilities, under Xvfb and offscreen",
              flush=True)

        set_stored_as_nobody(bed, "/usr/bin/tessel-cli", peer, "0A-1B-2C-00-06-01", "10.77.0.61")
        print("  the installed tessel-cli, run by nobody, stored a peer's address", flush=True)
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
    print(f"  purged: none of its {len(files)} paths is left as a file", flush=True)


SCENARIOS = {"install": scenario_install}

if __name__ == "__main__":
    sys.exit(main(SCENARIOS, sys.argv))
