"""The support logfile as the scenarios expect it: CR LF lines, each an
empty line or "HH:MM:SS - text", and the event lines one datagram writes in
the receive loop, built from the datagram's fate so scenarios can state the
whole file they expect."""

import re

from testbed import Failure

TITLE = "MERROW Tessel"
DEFAULT_NAME = TITLE + ".log"
HEADER = f"Initialized {TITLE}'s logfile!"
FOOTER = f"Closed {TITLE}'s logfile!"
STOPPED = "All network threads were closed nicely."
BIND_FAILED = "Socket already in use (bind failed)."

RECEIVED = "Received BOOTP/DHCP request from server with IP-address "
# The FTP route's event texts by catalogue code.
FTP_EVENTS = {
    16: "Trying to set permanent IP-address using FTP started.",
    17: "FTP connection failed (could depend on password etc).",
    18: "FTP connected.",
    20: "FTP config file opened.",
    21: "Trying to set permanent IP-address using FTP finished.",
    -8: "FTP config file was not found on the server.",
    -9: "FTP config file could not be opened.",
    -10: "FTP config file could not be written to.",
}


def stored(address):
    return f"Success setting permanent IP-address {address}."


def ftp_events(*codes):
    """Event texts of the FTP route; (19, NAME) is the file-name event and
    (15, ADDRESS) the permanent success."""
    texts = []
    for code in codes:
        if isinstance(code, tuple):
            texts.append(f"FTP config file name is {code[1]}." if code[0] == 19 else stored(code[1]))
        else:
            texts.append(FTP_EVENTS[code])
    return texts


_STAMPED = re.compile(r"^(\d{4}-\d\d-\d\d )?(\d\d):(\d\d):(\d\d) - (.*)$")
_ANY_RECEIVED = re.compile(re.escape(RECEIVED) + r"\d{1,3}(\.\d{1,3}){3}\.$")


def read(path, dated=False):
    """[(seconds of the day or None, text)], one per line. Fails on a line that
    does not end in CR LF or is neither empty nor time-stamped; `dated`: each
    stamp carries its date first (serve's logfile), else it must not."""
    try:
        with open(path, "rb") as logfile:
            data = logfile.read()
    except OSError as error:
        raise Failure(f"logfile {path} cannot be read: {error}") from None
    if not data.endswith(b"\r\n"):
        raise Failure(f"logfile {path} does not end in CR LF: ...{data[-40:]!r}")
    entries = []
    for number, raw in enumerate(data[:-2].split(b"\r\n"), 1):
        text = raw.decode("latin-1")
        if "\n" in text or "\r" in text:
            raise Failure(f"logfile line {number} has a bare LF or CR: {text!r}")
        if text == "":
            entries.append((None, ""))
            continue
        match = _STAMPED.match(text)
        if not match or bool(match.group(1)) != dated:
            raise Failure(f"logfile line {number} has no {'dated ' if dated else ''}time stamp: {text!r}")
        hours, minutes, seconds = (int(match.group(i)) for i in (2, 3, 4))
        entries.append((hours * 3600 + minutes * 60 + seconds, match.group(5)))
    return entries


class Expected:
    """The event lines of a run, datagram by datagram, in arrival order."""

    def __init__(self):
        self.lines = []
        self.marks = []  # (index of the Received line, label) for timing checks

    def _received(self, source, label):
        self.lines.append("")
        self.marks.append((len(self.lines), label))
        self.lines.append(RECEIVED + source + ".")

    def listed(self, source, serial, found=None, first_print_server=False):
        self._received(source, serial)
        self.lines.append(f"Serialnumber {serial}.")
        if first_print_server:
            self.lines.append("This is a print server.")
        self.lines += ["Checking if already in list.", "New server, so add to list."]
        if found:
            self.lines.append(f"Correct current IP address was found to be {found}.")

    def known(self, source, serial):
        self._received(source, serial)
        self.lines += [f"Serialnumber {serial}.", "Checking if already in list."]

    def foreign(self, source, serial):
        self._received(source, serial)
        self.lines += [f"Serialnumber {serial}.", "Not an MERROW-server."]

    def not_print_server(self, source, serial):
        self._received(source, serial)
        self.lines += [f"Serialnumber {serial}.", "Not a print server."]

    def empty(self, source):
        self._received(source, "empty datagram")
        self.lines.append("Socket receive error because it was closed.")

    def receive_error(self, source, label="oversize datagram"):
        self._received(source, label)
        self.lines.append("Socket receive error.")

    def not_request(self, source, label="not a request"):
        self._received(source, label)


def _show(lines, at):
    low = max(0, at - 4)
    return "\n".join(f"  {i + 1:3d}: {lines[i]!r}" for i in range(low, min(len(lines), at + 5)))


def check_run(entries, expected):
    """The whole file of a run that was stopped: header, the expected events,
    then the stop and the footer. The stop may be preceded by one receive that
    only woke the loop (its Received line, with any address, and nothing
    else), since waking the blocking receive may pass through the loop."""
    actual = [text for _, text in entries]
    wanted = [HEADER, ""] + expected.lines
    for index, line in enumerate(wanted):
        if index >= len(actual) or actual[index] != line:
            raise Failure(f"logfile differs at line {index + 1}: expected {line!r}\n"
                          f"expected around there:\n{_show(wanted, index)}\n"
                          f"actual around there:\n{_show(actual, index)}")
    rest = actual[len(wanted):]
    if len(rest) >= 2 and rest[0] == "" and _ANY_RECEIVED.match(rest[1]):
        rest = rest[2:]
    if rest != [STOPPED, "", "", FOOTER]:
        raise Failure("logfile does not end with the stop and the footer; it ends:\n" +
                      _show(actual, len(wanted)))


def stamp_of(entries, line_index):
    return entries[line_index][0]
