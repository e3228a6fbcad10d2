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
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from wine_sandbox import WineSandbox, missing_tools  # noqa: E402

SKIP = 77
PRODUCT = "MERROW Tessel"
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall" + "\\" + PRODUCT
INSTALLED = ["tessel.exe", "tessel-cli.exe", "uninstall.exe", "help/topic1.html", "help/contents.html"]


def fail(message):
    print(f"installer: FAILED: {message}")
    sys.exit(1)


def main(setup):
    missing = missing_tools() + ([setup] if not os.path.exists(setup) else [])
    if missing:
        print(f"skipped: not there: {missing} (the installer comes from scripts/package-windows)")
        return SKIP
    if os.geteuid() != 0:
        print("skipped: the program's own network namespace needs root")
        return SKIP
    with WineSandbox("installer") as box:
        started = time.monotonic()
        box.make_prefix()
        print(f"  fresh prefix made in {time.monotonic() - started:.1f} s", flush=True)
        started = time.monotonic()
        code = box.wine(setup, "/S").returncode
        print(f"  silent install: exit {code} in {time.monotonic() - started:.1f} s", flush=True)
        if code != 0:
            fail(f"silent install ended with {code}")
        home = os.path.join(box.prefix, "drive_c", "Program Files", PRODUCT)
        missing = [name for name in INSTALLED if not os.path.isfile(os.path.join(home, name))]
        if missing:
            fail(f"not installed in {home}: {missing}")
        link = os.path.join(box.prefix, "drive_c", "ProgramData", "Microsoft", "Windows", "Start Menu", "Programs",
                            PRODUCT, PRODUCT + ".lnk")
        if not os.path.isfile(link):
            fail(f"no Start-menu entry {link}")
        query = box.wine("reg", "query", UNINSTALL_KEY)
        if "uninstall.exe" not in query.stdout or PRODUCT not in query.stdout:
            fail(f"the uninstaller is not registered:\n{query.stdout}")

        program = box.start(os.path.join(home, "tessel.exe"))
        deadline = time.monotonic() + 30
        shown = False
        while time.monotonic() < deadline and not shown:
            shown = box.window_shown("^ " + PRODUCT + "$")
            time.sleep(0.3)
        box.stop_server()
        program.wait(10)
        if not shown:
            fail("the installed tessel.exe showed no window")
        print("  the installed tessel.exe showed its window", flush=True)

        box.start_server()
        box.wine(os.path.join(home, "uninstall.exe"), "/S")
        # The uninstaller runs on from a copy of itself: wait for its work.
        deadline = time.monotonic() + 60
        while os.path.exists(home) and time.monotonic() < deadline:
            time.sleep(0.3)
        left = [name for name in INSTALLED if os.path.exists(os.path.join(home, name))]
        if left or os.path.exists(home) or os.path.exists(link) or os.path.exists(os.path.dirname(link)):
            fail(f"left after the silent uninstall: {left or home}")
        if box.wine("reg", "query", UNINSTALL_KEY).returncode == 0:
            fail("the uninstall entry is still registered")
    print("installer: passed")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]) if len(sys.argv) == 2 else 2)
