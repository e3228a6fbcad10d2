#!/usr/bin/python3
"""tessel-setup.exe in a fresh Wine prefix: a silent install puts the
programs, the help and the Start-menu entry in place and registers the
uninstaller; tessel.exe starts from there and shows its window (in a
network namespace of its own, with only loopback, on a virtual display);
a silent uninstall removes all of it and nothing else (a user's own page
in help\ stays). It installs twice, as a reinstall over itself: the
firewall then holds one rule per program. Wine's netsh has no firewall,
so COMMAND_RECORDER stands in for netsh.exe and the rules are the ones
its recorded command lines leave, read as netsh reads them.

    installer_test.py TESSEL_SETUP_EXE COMMAND_RECORDER

Exit status 0 passed, 1 failed, 77 skipped (no installer, Wine, Xvfb or root).
"""

import os
import re
import shlex
import shutil
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from wine_sandbox import WineSandbox, missing_tools  # noqa: E402

SKIP = 77
PRODUCT = "MERROW Tessel"
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall" + "\\" + PRODUCT
INSTALLED = ["tessel.exe", "tessel-cli.exe", "uninstall.exe", "help/topic1.html", "help/contents.html"]


USER_PAGE = "help/my notes.html"


def fail(message):
    print(f"installer: FAILED: {message}")
    sys.exit(1)


def firewall_rules(commands):
    """The rules (name, program) that netsh would hold after `commands`:
    "add rule" adds one; "delete rule name=N" deletes every rule of that
    name."""
    rules = []
    for line in commands:
        words = shlex.split(line.replace("\\", "/"))[1:]
        if words[:2] != ["advfirewall", "firewall"] or words[2:4] not in (["add", "rule"], ["delete", "rule"]):
            fail(f"a netsh command the test does not know: {line}")
        options = dict(word.split("=", 1) for word in words[4:] if "=" in word)
        if words[2] == "add":
            rules.append((options["name"], options.get("program", "")))
        else:
            rules = [rule for rule in rules if rule[0] != options["name"]]
    return rules


def main(setup, recorder):
    missing = missing_tools() + [path for path in (setup, recorder) if not os.path.exists(path)]
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
        record = os.path.join(box.folder, "netsh.txt")
        shutil.copyfile(recorder, os.path.join(box.prefix, "drive_c", "windows", "system32", "netsh.exe"))
        box.env["WINEDLLOVERRIDES"] += ";netsh.exe=n"
        box.env["TESSEL_COMMAND_RECORD"] = "Z:" + record.replace("/", "\\")
        for attempt in ("install", "reinstall"):
            started = time.monotonic()
            code = box.wine(setup, "/S").returncode
            print(f"  silent {attempt}: exit {code} in {time.monotonic() - started:.1f} s", flush=True)
            if code != 0:
                fail(f"silent {attempt} ended with {code}")
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
        rules = firewall_rules(read_record(record))
        programs = sorted(re.sub(r".*/", "", program) for _, program in rules)
        if programs != ["tessel-cli.exe", "tessel.exe"]:
            fail(f"after two installs the firewall holds {rules}, not one rule per program")
        print(f"  after two installs: {len(rules)} firewall rules, one per program", flush=True)

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
        # A page of the user's own beside the help: not the installer's.
        with open(os.path.join(home, USER_PAGE), "w") as page:
            page.write("<p>mine</p>\n")
        box.wine(os.path.join(home, "uninstall.exe"), "/S")
        # The uninstaller runs on from a copy of itself: wait for its work,
        # which ends with the uninstall entry.
        deadline = time.monotonic() + 60
        while box.wine("reg", "query", UNINSTALL_KEY).returncode == 0 and time.monotonic() < deadline:
            time.sleep(0.3)
        left = sorted(os.path.relpath(os.path.join(folder, name), home)
                      for folder, _, names in os.walk(home) for name in names)
        if left != [USER_PAGE] or os.path.exists(link) or os.path.exists(os.path.dirname(link)):
            fail(f"after the silent uninstall {home} holds {left}, not the user's page alone")
        if box.wine("reg", "query", UNINSTALL_KEY).returncode == 0:
            fail("the uninstall entry is still registered")
        rules = firewall_rules(read_record(record))
        if rules:
            fail(f"firewall rules left after the uninstall: {rules}")
    print("installer: passed")
    return 0


def read_record(path):
    """The recorded netsh command lines (none when netsh never ran)."""
    if not os.path.exists(path):
        return []
    with open(path, "rb") as record:
        return record.read().decode("utf-8").split("\r\n")[:-1]


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]) if len(sys.argv) == 3 else 2)
