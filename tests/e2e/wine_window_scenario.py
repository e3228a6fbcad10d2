#!/usr/bin/python3
"""End-to-end runs of tessel.exe, the Win32 window, under Wine in the
namespace test bed, driven as a user would with real X events:

    wine_window_scenario.py SCENARIO TESSEL_EXE TESSEL_PEER COMMAND_RECORDER WINDOW_READER

The program's namespace gets a virtual display (Xvfb) and a Wine prefix of
its own whose server is started there first; Wine draws the window frames
itself (Managed=N), so no window manager is needed. xdotool clicks and
types; WINDOW_READER (a small Windows program in the same prefix) tells
where the controls are and what the status line, the address fields and
any box say. The recorder stands in for arp, ping and winebrowser, so the
pages the program opens (help topics, the server's home page) are
recorded command lines. Under Wine a box's own Help button does nothing,
so help is tried with F1 in the box.
Exit status 0 passed, 1 failed, 77 skipped.
"""

import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import tessel_log  # noqa: E402
from testbed import PROGRAM_ADDRESS, Failure, Skip, check, main  # noqa: E402
from wine_scenarios import WINE, WinePrefix  # noqa: E402

SERIAL = "0A-1B-2C-00-0A-01"
ADDRESS = "10.77.0.50"
XDOTOOL = "/usr/bin/xdotool"
XVFB = "/usr/bin/Xvfb"
TEXT_STORED = "IP address set permanently and successfully!"
TEXT_OFFER = "Would you like this program to launch a Web browser"
TEXT_SHUTDOWN = "program shuts down"
HELP_STORED, HELP_FOLLOW_UP = 31, 19
LISTED = "New server, so add to list."


class WineWindow:
    """tessel.exe on a display of its own in the program's namespace."""

    def __init__(self, bed, node, exe, recorder, reader, args=()):
        for path, what in ((WINE, "Wine (wine64)"), (exe, "tessel.exe"), (recorder, "the command recorder"),
                           (reader, "the window reader"), (XDOTOOL, "xdotool"), (XVFB, "Xvfb")):
            if not os.path.exists(path):
                raise Skip(f"{what} is not there: {path}")
        self.node, self.reader = node, reader
        number = 100 + os.getpid() % 800
        self.display = f":{number}"
        self.xvfb = node.start([XVFB, self.display, "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                               name="Xvfb")
        socket = f"/tmp/.X11-unix/X{number}"
        deadline = time.monotonic() + 10
        while not os.path.exists(socket) and time.monotonic() < deadline:
            time.sleep(0.05)
        check(os.path.exists(socket), f"Xvfb did not start:\n{self.xvfb.describe()}")
        self.prefix = WinePrefix(node, recorder, [f"DISPLAY={self.display}"],
                                 ("arp.exe", "ping.exe", "winebrowser.exe"))
        self.prefix._run([WINE, "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed", "/d", "N", "/f"],
                         30, "Managed=N was not set")
        self.folder = bed.make_folder()
        self.logfile = os.path.join(self.folder, "MERROW Tessel.log")
        self.started = time.monotonic()
        self.process = node.start(self.prefix.command(exe) + list(args), cwd=self.folder, name="tessel.exe")
        check(self.process.wait_udp_bound(67, timeout=30), f"tessel.exe did not bind port 67:\n"
              f"{self.process.describe()}")
        self.facts = self.wait_read(lambda facts: "WINDOW" in facts, 20, "the window did not appear")
        self.shown = time.monotonic() - self.started

    def read(self):
        """The reader's facts: key -> list of values (one per line)."""
        result = self.node.run(self.prefix.command(self.reader), timeout=20)
        facts = {}
        for line in result.stdout.splitlines():
            key, _, value = line.partition(" ")
            facts.setdefault(key, []).append(value)
        return facts

    def wait_read(self, ready, timeout, failure):
        deadline = time.monotonic() + timeout
        while True:
            facts = self.read()
            if ready(facts):
                return facts
            if time.monotonic() > deadline or not self.process.running():
                raise Failure(f"{failure}; last read: {facts}\n{self.process.describe()}")
            time.sleep(0.3)

    def at(self, control):
        for value in self.facts.get("AT", []):
            parts = value.split()
            if parts[0] == str(control):
                return [int(v) for v in parts[1:]]
        raise Failure(f"control {control} not found: {self.facts}")

    def xdotool(self, *args):
        result = self.node.run(["/usr/bin/env", f"DISPLAY={self.display}", XDOTOOL] + [str(a) for a in args])
        check(result.returncode == 0, f"xdotool {args}: {result.stderr}")

    def click(self, x, y):
        self.xdotool("mousemove", "--sync", x, y, "click", "1")

    def keys(self, *names):
        self.xdotool("key", "--delay", "60", *names)

    def type(self, text):
        self.xdotool("type", "--delay", "60", text)

    def picture(self, name):
        """The whole display, beside the test's other output."""
        target = os.path.join(os.getcwd(), name)
        self.node.run(["/usr/bin/env", f"DISPLAY={self.display}", "/usr/bin/import", "-window", "root", target],
                      timeout=20)

    def wait_opened(self, fragment, timeout=10):
        """The recorder's line of a page the program opened."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            lines = [line for line in self.prefix.commands() if fragment in line]
            if lines:
                return lines
            time.sleep(0.2)
        raise Failure(f"nothing opened {fragment!r}; commands: {self.prefix.commands()}")

    def answer_box(self, text, help_topic, button="OK"):
        """Waits for the box with `text`; F1 in it opens its help topic;
        then a click on `button` answers it. A click rather than a key:
        with no window manager, starting the help page may leave Wine's
        keyboard focus elsewhere (seen on a busy machine), while a click
        goes to the window under the pointer."""
        facts = self.wait_read(lambda f: any(text in box for box in f.get("BOX", [])), 90,
                               f"no box {text!r}")
        # The keyboard to the box, as a click on its frame would give it:
        # with no window manager a box that follows another does not
        # always get the X input focus by itself.
        time.sleep(0.3)
        self.xdotool("search", "--onlyvisible", "--name", "^tessel$", "windowfocus", "--sync")
        self.keys("F1")
        self.wait_opened(f"topic{help_topic}.html")
        at = [value.split(maxsplit=2) for value in facts.get("BUTTON", [])]
        places = [(int(x), int(y)) for x, y, name in at if name == button]
        check(len(places) == 1, f"the box {text!r} has no one button {button!r}: {facts.get('BUTTON')}")
        self.click(*places[0])
        self.wait_read(lambda f: not any(text in box for box in f.get("BOX", [])), 10,
                       f"the box {text!r} did not go after a click on {button}")
        return facts

    def close(self, timeout=15, notice=False):
        """Close; with `notice`, the shutdown notice must be seen while
        the program ends (it stands for 2.8 s)."""
        x, y = self.at(2)[:2]
        self.click(x, y)
        if notice:
            notes, deadline = [], time.monotonic() + timeout
            while (self.process.running() and time.monotonic() < deadline
                   and not any(TEXT_SHUTDOWN in n for n in notes)):
                notes = self.read().get("NOTE", [])
            check(any(TEXT_SHUTDOWN in n for n in notes), "no shutdown notice was seen after Close")
        code = self.process.wait(timeout)
        check(code is not None, f"tessel.exe did not end after Close:\n{self.process.describe()}")
        return code

    def log(self):
        return [text for _, text in tessel_log.read(self.logfile)]


def wait_in_log(window, line, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        # Read as bytes: the program may be in the middle of a line.
        if os.path.exists(window.logfile):
            with open(window.logfile, "rb") as log:
                if line.encode() in log.read():
                    return
        time.sleep(0.2)
    raise Failure(f"{line!r} not in the logfile within {timeout} s")


def scenario_wine_window_set(bed, exe, peer, recorder, reader):
    """The peer is listed; a click on its row, the address typed, Set IP;
    the setting window's bar climbs; box 110 with F1 opening its topic,
    the browser offer; the row then shows the new address; Close shows
    the shutdown notice and ends the program with the logfile's closing
    line."""
    prog = bed.add_node("prog", [PROGRAM_ADDRESS + "/24"], default_route=True)
    srv = bed.add_node("srv", [])
    window = WineWindow(bed, prog, exe, recorder, reader)
    print(f"  window shown {window.shown:.2f} s after start", flush=True)
    record = os.path.join(window.folder, "record")
    os.mkdir(record)
    server = srv.start([peer, "--linger", "forever", "--interval", "1000", "--count", "0", "--record", record,
                        "--server", SERIAL], name="tessel-peer")
    wait_in_log(window, LISTED, 30)
    time.sleep(1.0)
    window.picture("wine_window_listed.png")
    x, y = [int(v) for v in window.facts["ROW0"][0].split()]
    window.click(x, y)
    facts = window.wait_read(lambda f: SERIAL in f.get("STATUS", [""])[0], 5, "the click did not select the row")
    # Field 1 is the leftmost eighth of the control; its text selected,
    # then the address typed as a user types it.
    _, cy, left, _, right, _ = window.at(1025)
    window.click(left + (right - left) // 8, cy)
    window.keys("Home", "shift+End")
    window.type(ADDRESS)
    facts = window.read()
    check(facts.get("ADDRESS") == [ADDRESS], f"the typed address reads {facts.get('ADDRESS')}")
    x, y = window.at(1018)[:2]
    window.click(x, y)
    # The setting window's bar climbs while the server restarts.
    bars = []

    def climbed_or_ended(facts):
        bars.extend(int(v) for v in facts.get("BAR", []))
        return (bars and max(bars) > bars[0]) or "BOX" in facts

    window.wait_read(climbed_or_ended, 90, "neither the setting window nor a box came")
    check(bars and max(bars) > bars[0], f"the setting window's bar did not climb: {bars}")
    print(f"  the setting window's bar read {', '.join(map(str, bars))}", flush=True)
    window.answer_box(TEXT_STORED, HELP_STORED)
    window.picture("wine_window_offer.png")
    window.answer_box(TEXT_OFFER, HELP_FOLLOW_UP, "No")
    restarts = [text for _, text in server.stdout.snapshot() if text.startswith("RESTART")]
    check(len(restarts) == 1 and f"{ADDRESS}/24" in restarts[0], f"the server did not restart: {restarts}")
    # A click on the row proposes the address the row shows: the new one
    # now (with the old 0.0.0.0 it would be this computer's network, .0).
    x, y = [int(v) for v in window.facts["ROW0"][0].split()]
    window.click(x, y)
    window.wait_read(lambda f: f.get("ADDRESS") == [ADDRESS], 5, "the row does not show the new address")
    code = window.close(notice=True)
    check(code == 0, f"tessel.exe ended with {code}")
    print("  Close showed the shutdown notice", flush=True)
    log = window.log()
    check(log[-1:] == [tessel_log.FOOTER], f"the logfile does not end with its closing line: {log[-3:]}")


def scenario_wine_window_inkwell(bed, exe, peer, recorder, reader):
    """The installer's run ("ink"): no Logfile box, no web buttons; Close
    still ends the program."""
    prog = bed.add_node("prog", [PROGRAM_ADDRESS + "/24"], default_route=True)
    window = WineWindow(bed, prog, exe, recorder, reader, ["ink"])
    hidden = set(window.facts.get("HIDDEN", []))
    check({"1042", "1038", "1039"} <= hidden, f"controls still shown in Inkwell mode: hidden {sorted(hidden)}")
    window.picture("wine_window_inkwell.png")
    code = window.close()
    check(code == 0, f"tessel.exe ended with {code}")


SCENARIOS = {"wine_window_set": scenario_wine_window_set, "wine_window_inkwell": scenario_wine_window_inkwell}

if __name__ == "__main__":
    sys.exit(main(SCENARIOS, sys.argv))
