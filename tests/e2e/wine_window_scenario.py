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
recorded command lines. Boxes have no Help button: help is tried with F1
in the box.
Exit status 0 passed, 1 failed, 77 skipped.
"""

import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import tessel_log  # noqa: E402
from testbed import PROGRAM_ADDRESS, Failure, Skip, check, main  # noqa: E402
from wine_scenarios import WINE, WinePrefix  # noqa: E402
from xwindow import WINDOW, WindowActFailed, act_on_window  # noqa: E402

SERIAL = "0A-1B-2C-00-0A-01"
ADDRESS = "10.77.0.50"
XDOTOOL = "/usr/bin/xdotool"
XVFB = "/usr/bin/Xvfb"
TEXT_STORED = "IP address set permanently and successfully!"
TEXT_OFFER = "Would you like this program to launch a Web browser"
TEXT_SHUTDOWN = "program shuts down"
HELP_STORED, HELP_FOLLOW_UP = 31, 19
LISTED = "New server, so add to list."
# The keys scenario's servers, each asking from an address of its own.
KEY_SERVERS = {"0A-1B-2C-00-0A-01": "10.77.0.21", "0A-1B-2C-00-0A-02": "10.77.0.22",
               "0A-1B-2C-00-0A-03": "10.77.0.23"}
TEXT_SAME = "The server is already configured with this IP address."
TEXT_NO_BROWSER = "Web browser could not be launched."
TEXT_RESERVED, TEXT_ZERO = "IP addresses ending with 0, 1 or 255", "The zero IP address 0.0.0.0 is invalid."
TEXT_BROADCAST, TEXT_IN_USE = "The broadcast IP address 255.255.255.255 is invalid.", "is already being used"
HELP_AT_REST, HELP_SAME, HELP_NO_BROWSER = 1, 37, 34
ABOUT_CAPTION = "MERROW Tessel"
LOG_OFF, LOG_ON = "Logfile writing turned off by user.", "Logfile writing turned on  by user."


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

    def read(self, *args):
        """The reader's facts: key -> list of values (one per line)."""
        result = self.node.run(self.prefix.command(self.reader) + list(args), timeout=20)
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

    def run_xdotool(self, args):
        return self.node.run(["/usr/bin/env", f"DISPLAY={self.display}", XDOTOOL] + [str(a) for a in args])

    def xdotool(self, *args):
        result = self.run_xdotool(args)
        check(result.returncode == 0, f"xdotool {args}: {result.stderr}")

    def focus(self, caption):
        """The keyboard to the window with this caption (a pattern), as a
        click on its frame gives it."""
        try:
            act_on_window(self.run_xdotool, ("search", "--onlyvisible", "--name", caption),
                          ("windowfocus", "--sync", WINDOW))
        except WindowActFailed as failure:
            raise Failure(f"the window {caption!r} did not take the focus: {failure}") from None

    def click(self, x, y):
        # A move with --sync to where the pointer already is never ends.
        if getattr(self, "pointer", None) == (x, y):
            self.xdotool("click", "1")
        else:
            self.xdotool("mousemove", "--sync", x, y, "click", "1")
        self.pointer = (x, y)

    def keys(self, *names):
        self.xdotool("key", "--delay", "60", *names)

    def focus_main(self):
        """The keyboard to the main window."""
        self.focus("^ MERROW Tessel$")

    def put_on_clipboard(self, text):
        """`text` on the clipboard, copied there by another program."""
        result = self.node.run(self.prefix.command(self.reader) + ["clip", text], timeout=20)
        check(result.returncode == 0, f"the clipboard did not take {text!r}")

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

    def answer_box(self, text, help_topic, button="OK", buttons=("OK",)):
        """Waits for the box with `text`, which has exactly `buttons` (as
        the text table names them: no Help button); F1 in it opens its
        help topic (unless None); then a click on `button` answers it. A click rather
        than a key:
        with no window manager, starting the help page may leave Wine's
        keyboard focus elsewhere (seen on a busy machine), while a click
        goes to the window under the pointer."""
        facts = self.wait_read(lambda f: any(text in box for box in f.get("BOX", [])), 90,
                               f"no box {text!r}")
        # The keyboard to the box, as a click on its frame would give it:
        # with no window manager a box that follows another does not
        # always get the X input focus by itself.
        time.sleep(0.3)
        if help_topic is not None:
            self.focus("^tessel$")
            self.keys("F1")
            self.wait_opened(f"topic{help_topic}.html")
            # The help page's program may have taken the activation (seen
            # once in four runs: the click then did not reach the box).
            time.sleep(0.3)
            self.focus("^tessel$")
        at = [value.split(maxsplit=2) for value in facts.get("BUTTON", [])]
        names = sorted(name for _, _, name in at)
        check(names == sorted(buttons), f"the box {text!r} has the buttons {names}, not {sorted(buttons)}")
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

    def caret_after_box(self, number, field):
        """The keyboard in address field `field` with all its text selected,
        the window the active one, after box `number`."""
        def ready(facts):
            sel = facts.get("FIELDSEL", [""])[0].split()
            return (facts.get("FOCUS") == [f"1025.{field}"] and facts.get("ACTIVE") == ["1"] and len(sel) == 3
                    and sel[0] == "0" and sel[1] == sel[2])
        facts = self.read()
        if not ready(facts):
            facts = self.wait_read(ready, 3, f"after box {number} the caret is not in field {field}, its text "
                                   f"selected, in the active window")
        print(f"  after box {number}: the caret in field {field}, the window active", flush=True)
        return facts

    def log(self):
        return [text for _, text in tessel_log.read(self.logfile)]


def log_count(window, line):
    """How often `line` is in the logfile so far."""
    if not os.path.exists(window.logfile):
        return 0
    with open(window.logfile, "rb") as log:
        return log.read().count(line.encode())


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
    window.answer_box(TEXT_OFFER, HELP_FOLLOW_UP, "No", ("Yes", "No"))
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


def scenario_wine_window_keys(bed, exe, peer, recorder, reader):
    """The window's keyboard with real key events, one window start for
    all: the address fields' accessible names as a screen reader reads
    them; F1 in the main window; Down, End, Up, Home in the list move the
    selection and the proposal; Enter presses Set IP (box 124, exactly its
    OK); in the address control the field-full step, Left and Right
    across the field edges, Backspace at a field's start, a pasted
    non-digit refused and pasted digits taken; About from the system
    menu; the Logfile box off and on; box 112 when no program opens a web
    page, and for Help when none opens the help page; Escape runs Close."""
    prog = bed.add_node("prog", [PROGRAM_ADDRESS + "/24"], default_route=True)
    srv = bed.add_node("srv", [address + "/24" for address in KEY_SERVERS.values()])
    window = WineWindow(bed, prog, exe, recorder, reader)
    command = [peer, "--linger", "forever", "--interval", "1000", "--count", "0"]
    for serial, address in KEY_SERVERS.items():
        command += ["--server", serial, "--from", address]
    srv.start(command, name="tessel-peer")
    deadline = time.monotonic() + 40
    while log_count(window, LISTED) < len(KEY_SERVERS):
        check(time.monotonic() < deadline, "the servers were not all listed")
        time.sleep(0.3)
    # The list then holds the servers, the start-up notes gone.
    window.wait_read(lambda f: f.get("ROWS") == [str(len(KEY_SERVERS))], 10, "the list does not hold the servers")

    # What a screen reader says for each field of the address control.
    facts = window.read("names")
    names = facts.get("NAME", [])
    check(names == [f"{n} IP address, field {n} of 4" for n in range(1, 5)],
          f"the address fields' accessible names: {names} (without: {facts.get('NAMELESS')})")
    print(f"  a screen reader reads the fields as {', '.join(n.split(' ', 1)[1] for n in names)}", flush=True)

    window.focus_main()
    window.keys("F1")
    window.wait_opened(f"topic{HELP_AT_REST}.html")
    print("  F1 in the main window opened its topic", flush=True)

    def selected(facts):
        serials = [serial for serial in KEY_SERVERS if serial in facts.get("STATUS", [""])[0]]
        return serials[0] if len(serials) == 1 else None

    def shows_row(row):
        def ready(facts):
            serial = selected(facts)
            return (facts.get("SELECTED") == [str(row)] and serial is not None
                    and facts.get("ADDRESS") == [KEY_SERVERS[serial]])
        return ready

    # The help page's program took the activation: the window back first.
    window.focus_main()
    time.sleep(0.5)
    # Before a server is picked, Set IP, the address control and the step-2
    # text are disabled: the mouse goes to the window under them, and their
    # tips still show.
    for control, tip in ((1018, "Sets InternetProtocol address"), (1025, "Specify a value between 0 and 255"),
                         (1054, "Contact your network administrator")):
        x, y = window.at(control)[:2]
        window.xdotool("mousemove", "--sync", x, y)
        window.pointer = (x, y)
        window.wait_read(lambda f: any(tip in text for text in f.get("TIP", [])), 8,
                         f"no tip over the disabled control {control}")
    print("  the disabled controls show their tips", flush=True)
    window.click(*[int(v) for v in window.facts["ROW0"][0].split()])
    window.picture("wine_window_keys_row.png")
    seen = [selected(window.wait_read(shows_row(0), 5, "the click did not select row 0"))]
    for key, row in (("Down", 1), ("End", 2), ("Up", 1), ("Home", 0)):
        window.keys(key)
        seen.append(selected(window.wait_read(shows_row(row), 5, f"{key} did not select row {row}")))
    check(len(set(seen[:3])) == 3 and seen[3] == seen[1] and seen[4] == seen[0],
          f"the list's keys showed the servers {seen}")
    print(f"  Down, End, Up, Home showed {', '.join(seen[1:])}", flush=True)

    # Enter in the list is the default button, Set IP: the row's own
    # address is proposed, so box 124 says it is already set.
    window.keys("Return")
    window.wait_read(lambda f: any(TEXT_SAME in box for box in f.get("BOX", [])), 30, "Enter did not press Set IP")
    window.picture("wine_window_box124.png")
    window.answer_box(TEXT_SAME, HELP_SAME)
    facts = window.caret_after_box(124, 4)
    first = selected(facts)
    _, cy, left, _, right, _ = window.at(1025)
    window.click(left + (right - left) // 8, cy)

    def at_field(n, address):
        return window.wait_read(lambda f: f.get("FOCUS") == [f"1025.{n}"] and f.get("ADDRESS") == [address], 5,
                                f"the keyboard is not in field {n} with {address}")

    octets = KEY_SERVERS[first].split(".")
    window.keys("Home", "shift+End")
    window.type("192")
    address = ".".join(["192"] + octets[1:])
    at_field(2, address)  # a full field hands on to the next
    window.keys("Home", "Left")
    at_field(1, address)  # Left at a field's start: the previous field
    window.keys("Right")
    at_field(2, address)  # Right after the last character: the next field
    window.keys("Home", "BackSpace")
    at_field(2, address)  # Backspace at the start deletes nothing and stays
    window.keys("Left", "Home", "BackSpace")
    at_field(2, address)  # in a full field it runs the field-full step
    window.type(".")
    at_field(3, address)
    window.put_on_clipboard("5x")
    window.keys("ctrl+v")
    time.sleep(0.5)
    at_field(3, address)  # refused: not a digit
    window.put_on_clipboard("45")
    window.keys("ctrl+v")
    at_field(3, ".".join(["192", octets[1], "45", octets[3]]))
    print("  address control: field-full step, arrows, Backspace and pastes as the rules say", flush=True)

    # Refusals: each box gives the caret back to its field, the field's
    # text selected, the window still the active one. The button is
    # clicked, which puts the keyboard on it first.
    set_ip = window.at(1018)[:2]
    field_1 = (left + (right - left) // 8, cy)
    others = [address for serial, address in KEY_SERVERS.items() if serial != first]
    for typed, text, button, buttons, number, field in (
            ("192.168.45.0", TEXT_RESERVED, "Cancel", ("OK", "Cancel"), 123, 4),
            ("0.0.0.0", TEXT_ZERO, "OK", ("OK",), 105, 1),
            ("255.255.255.255", TEXT_BROADCAST, "OK", ("OK",), 122, 1),
            (others[0], TEXT_IN_USE, "OK", ("OK",), 106, 4)):
        window.click(*field_1)
        for n, octet in enumerate(typed.split(".")):
            window.keys("Home", "shift+End")
            window.type(octet if len(octet) == 3 or n == 3 else octet + ".")
        at_field(4, typed)
        window.click(*set_ip)
        window.answer_box(text, None, button, buttons)
        window.caret_after_box(number, field)

    window.focus_main()
    window.keys("alt+space")
    time.sleep(0.5)
    # Ours is the menu's last item (Wine's frames add an "About Wine" of
    # their own, with the same letter): Up from the first reaches it.
    window.keys("Up", "Return")
    facts = window.wait_read(lambda f: ABOUT_CAPTION in f.get("DIALOG", []), 10, "About did not open")
    at = [value.split(maxsplit=2) for value in facts.get("BUTTON", [])]
    check(len(at) == 1 and at[0][2] == "OK", f"the About box's buttons: {facts.get('BUTTON')}")
    window.picture("wine_window_about.png")
    window.click(int(at[0][0]), int(at[0][1]))
    window.wait_read(lambda f: ABOUT_CAPTION not in f.get("DIALOG", []), 10, "the About box did not close")
    print("  About came from the system menu", flush=True)

    x, y = window.at(1042)[:2]
    window.click(x, y)
    window.wait_read(lambda f: f.get("CHECKED", [])[:1] == ["1042 0"], 5, "the Logfile box was not cleared")
    window.click(x, y)
    window.wait_read(lambda f: f.get("CHECKED", [])[:1] == ["1042 1"], 5, "the Logfile box was not set")

    # No program for web pages: the maker's home page gives box 112.
    window.prefix._run([WINE, "reg", "delete", r"HKCR\http", "/f"], 30, "the web pages' program was not removed")
    x, y = window.at(1039)[:2]
    window.click(x, y)
    window.answer_box(TEXT_NO_BROWSER, HELP_NO_BROWSER)
    window.wait_read(lambda f: f.get("ACTIVE") == ["1"], 5, "the window is not the active one after box 112")
    # Nor for the help pages (Wine's prefix gives ".html" no owner; the
    # class of web pages is the program's way in): Help says so, same box.
    opened = len(window.prefix.commands())
    window.prefix._run([WINE, "reg", "delete", r"HKCR\htmlfile", "/f"], 30, "the web pages' class was not removed")
    window.click(*window.at(57670)[:2])
    window.answer_box(TEXT_NO_BROWSER, None)
    check(len(window.prefix.commands()) == opened, f"a page was opened after all: {window.prefix.commands()}")
    print("  box 112 for a home page and for help with no program to open them", flush=True)

    window.focus_main()
    window.keys("Escape")
    code = window.process.wait(15)
    check(code == 0, f"tessel.exe did not end with 0 after Escape: {code}\n{window.process.describe()}")
    log = window.log()
    check(log[-1:] == [tessel_log.FOOTER], f"the logfile does not end with its closing line: {log[-3:]}")
    print("  Escape closed the program", flush=True)
    switched = [text for text in log if text in (LOG_OFF, LOG_ON)]
    check(switched == [LOG_OFF, LOG_ON], f"the Logfile box's clicks wrote {switched}")


SCENARIOS = {"wine_window_set": scenario_wine_window_set, "wine_window_inkwell": scenario_wine_window_inkwell,
             "wine_window_keys": scenario_wine_window_keys}

if __name__ == "__main__":
    sys.exit(main(SCENARIOS, sys.argv))
