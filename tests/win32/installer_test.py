#!/usr/bin/python3
"""tessel-setup.exe in a fresh Wine prefix: a silent install puts the
programs, the help and the Start-menu entry in place and registers the
uninstaller; tessel.exe starts from there and shows its window (in a
network namespace of its own, with only loopback, on a virtual display);
a silent uninstall removes all of it.

    installer_test.py TESSEL_SETUP_EXE

Exit status 0 passed, 1 failed, 77 skipped (no installer, Wine, Xvfb or root).
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time

WINE = os.environ.get("TESSEL_WINE", "/usr/lib/wine/wine64")
WINESERVER = os.path.join(os.path.dirname(WINE), "wineserver")
SKIP = 77
PRODUCT = "MERROW Tessel"
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall" + "\\" + PRODUCT
INSTALLED = ["tessel.exe", "tessel-cli.exe", "uninstall.exe", "help/topic1.html", "help/contents.html"]


def fail(message):
    print(f"installer: FAILED: {message}")
    sys.exit(1)


def main(setup):
    for path, what in ((setup, "tessel-setup.exe (scripts/package-windows)"), (WINE, "Wine"),
                       ("/usr/bin/Xvfb", "Xvfb"), ("/usr/bin/xdotool", "xdotool"), ("/usr/bin/unshare", "unshare")):
        if not os.path.exists(path):
            print(f"skipped: {what} is not there: {path}")
            return SKIP
    if os.geteuid() != 0:
        print("skipped: the program's own network namespace needs root")
        return SKIP
    folder = tempfile.mkdtemp(prefix="tessel-installer-")
    prefix = os.path.join(folder, "prefix")
    os.mkdir(prefix)
    display = f":{900 + os.getpid() % 90}"
    env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all", DISPLAY=display,
               WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d")
    xvfb = subprocess.Popen(["/usr/bin/Xvfb", display, "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    # One namespace with only loopback for the whole prefix: Wine's sockets
    # live in its server, which is started there first.
    shell = subprocess.Popen(["/usr/bin/unshare", "--net", "/bin/sh"], stdin=subprocess.PIPE, env=env, text=True)
    try:
        def wine(*args, timeout=120):
            # Each step in the namespace, by a fresh `nsenter` into the
            # shell's. Output goes through a file: Wine's background
            # processes would hold a pipe open.
            with tempfile.TemporaryFile("w+") as out:
                result = subprocess.run(["/usr/bin/nsenter", "-t", str(shell.pid), "-n", WINE] + list(args),
                                        env=env, stdout=out, stderr=subprocess.DEVNULL, timeout=timeout)
                out.seek(0)
                result.stdout = out.read()
            return result

        subprocess.run(["/usr/bin/nsenter", "-t", str(shell.pid), "-n", WINESERVER, "-p"], env=env, check=True)
        started = time.monotonic()
        wine("wineboot", "--init", timeout=180)
        print(f"  fresh prefix made in {time.monotonic() - started:.1f} s", flush=True)
        wine("reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed", "/d", "N", "/f")
        started = time.monotonic()
        code = wine(setup, "/S").returncode
        print(f"  silent install: exit {code} in {time.monotonic() - started:.1f} s", flush=True)
        if code != 0:
            fail(f"silent install ended with {code}")
        home = os.path.join(prefix, "drive_c", "Program Files", PRODUCT)
        missing = [name for name in INSTALLED if not os.path.isfile(os.path.join(home, name))]
        if missing:
            fail(f"not installed in {home}: {missing}")
        link = os.path.join(prefix, "drive_c", "ProgramData", "Microsoft", "Windows", "Start Menu", "Programs",
                            PRODUCT, PRODUCT + ".lnk")
        if not os.path.isfile(link):
            fail(f"no Start-menu entry {link}")
        query = wine("reg", "query", UNINSTALL_KEY)
        if "uninstall.exe" not in query.stdout or PRODUCT not in query.stdout:
            fail(f"the uninstaller is not registered:\n{query.stdout}")

        program = subprocess.Popen(["/usr/bin/nsenter", "-t", str(shell.pid), "-n", WINE,
                                    os.path.join(home, "tessel.exe")], env=env, cwd=folder,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 30
        shown = False
        while time.monotonic() < deadline and not shown:
            shown = subprocess.run(["/usr/bin/xdotool", "search", "--onlyvisible", "--name", "^ " + PRODUCT + "$"],
                                   env=env, stdout=subprocess.DEVNULL).returncode == 0
            time.sleep(0.3)
        subprocess.run([WINESERVER, "-k"], env=env, timeout=30)
        program.wait(10)
        if not shown:
            fail("the installed tessel.exe showed no window")
        print("  the installed tessel.exe showed its window", flush=True)

        subprocess.run(["/usr/bin/nsenter", "-t", str(shell.pid), "-n", WINESERVER, "-p"], env=env, check=True)
        wine(os.path.join(home, "uninstall.exe"), "/S")
        # The uninstaller runs on from a copy of itself: wait for its work.
        deadline = time.monotonic() + 60
        while os.path.exists(home) and time.monotonic() < deadline:
            time.sleep(0.3)
        left = [name for name in INSTALLED if os.path.exists(os.path.join(home, name))]
        if left or os.path.exists(home) or os.path.exists(link) or os.path.exists(os.path.dirname(link)):
            fail(f"left after the silent uninstall: {left or home}")
        if wine("reg", "query", UNINSTALL_KEY).returncode == 0:
            fail("the uninstall entry is still registered")
        print("installer: passed")
        return 0
    finally:
        subprocess.run([WINESERVER, "-k"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
        shell.stdin.close()
        shell.wait(10)
        xvfb.terminate()
        xvfb.wait(10)
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]) if len(sys.argv) == 2 else 2)
