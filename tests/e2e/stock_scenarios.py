#!/usr/bin/python3
"""End-to-end scenarios of the single steps that `tessel-cli store` and
`tessel-cli probe` run by hand, against servers whose code we did not write,
so that our client is judged by someone else's server and not only by our
own simulated one:

    stock_scenarios.py SCENARIO TESSEL_CLI

- stock_http: busybox httpd with basic authentication for /cgi-bin and a
  CGI in place of the server's configuration form (tests/e2e/stock/);
- stock_ftp: Debian's python3-pyftpdlib, user root, in active mode;
- stock_icmp: the kernel's own echo answers of hosts on the bed.

Every server host has its own namespace and address on the bed; the cases
of a scenario run side by side. Each case checks the exit status, the whole
logfile, and what the server received. Exit status 0 passed, 1 failed, 77
skipped (no root or namespaces, busybox or pyftpdlib missing).
"""

import json
import os
import re
import shutil
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import tessel_log  # noqa: E402
from tessel_log import ftp_events, stored  # noqa: E402
from testbed import PROGRAM_ADDRESS, SYSCTL, Failure, Skip, check, main  # noqa: E402

PYTHON = "/usr/bin/python3"
BUSYBOX = "/usr/bin/busybox"
STOCK = os.path.join(os.path.dirname(os.path.abspath(__file__)), "stock")
FORM_CGI = os.path.join(STOCK, "config_form.cgi")
FTP_SERVER = os.path.join(STOCK, "ftp_server.py")

EXIT_DONE, EXIT_NOT_DONE = 0, 1
HTTP_WAIT = 2.8    # the form's confirmation is awaited this long
ICMP_WAIT = 4.0    # and the echo reply this long
STEP_LIMIT = 20    # no single step may take longer than this

HTTP_STARTED = "Trying to set permanent IP-address using HTTP started."
HTTP_FINISHED = "Trying to set permanent IP-address using HTTP finished."
class Step:
    """One `tessel-cli store|probe KIND ADDRESS --logfile PATH` in the
    program's namespace."""

    def __init__(self, bed, prog, cli, words, address):
        self.address = address
        self.logfile = os.path.join(bed.make_folder(), "step.log")
        self.process = prog.start([cli] + list(words) + [address, "--logfile", self.logfile],
                                  name="tessel-cli " + " ".join(words) + " " + address)

    def finish(self):
        self.code = self.process.wait(STEP_LIMIT)
        check(self.code is not None, f"the step did not end within {STEP_LIMIT} s")
        self.took = self.process.ended - self.process.started
        return self

    def check_code(self, code):
        check(self.code == code, f"exit status {self.code}, not {code}; stdout "
              f"{self.process.stdout.text()!r}, stderr {self.process.stderr.text()!r}")

    def check_log(self, events):
        """The whole logfile: header, the step's events, footer."""
        got = [text for _, text in tessel_log.read(self.logfile)]
        want = [tessel_log.HEADER, ""] + list(events) + ["", "", tessel_log.FOOTER]
        if got != want:
            raise Failure("logfile differs:\n  expected:\n    " + "\n    ".join(want) +
                          "\n  actual:\n    " + "\n    ".join(got))

    def check_took(self, low, high):
        check(low <= self.took <= high,
              f"the step took {self.took:.2f} s, not {low:.1f} to {high:.1f} s")


def run_cases(cases):
    """cases: [(name, step, verify)]. Every step is already running; waits
    for all, then verifies each and fails with every case that failed."""
    failed = []
    for name, step, verify in cases:
        try:
            step.finish()
            verify(step)
            outcome = "passed"
        except Failure as failure:
            outcome = "FAILED"
            failed.append(f"=== {name}: {failure}")
        took = f"{step.took:.2f} s" if hasattr(step, "took") else "-"
        print(f"  {name}: {outcome} (step {took})", flush=True)
    if failed:
        raise Failure(f"{len(failed)} of {len(cases)} cases failed:\n" + "\n".join(failed))


# --------------------------------------------------------------------------
# busybox httpd

class WebServer:
    """busybox httpd on port 80 of its own host: /cgi-bin needs root's basic
    authentication (CONF), and /cgi-bin/config.html is the CGI that keeps
    each call in FOLDER/calls and answers with FOLDER/status."""

    def __init__(self, bed, role, address, password="wxyz", status=None):
        self.address = address
        self.node = bed.add_node(role, [address + "/24"])
        self.folder = bed.make_folder()
        cgi_bin = os.path.join(self.folder, "www", "cgi-bin")
        os.makedirs(cgi_bin)
        shutil.copy(FORM_CGI, os.path.join(cgi_bin, "config.html"))
        conf = os.path.join(self.folder, "httpd.conf")
        with open(conf, "w") as out:
            out.write(f"/cgi-bin:root:{password}\n")
        if status:
            with open(os.path.join(self.folder, "status"), "w") as out:
                out.write(status + "\n")
        self.process = self.node.start([BUSYBOX, "httpd", "-f", "-vv", "-p", f"{address}:80",
                                        "-h", os.path.join(self.folder, "www"), "-c", conf],
                                       name="busybox httpd")

    def calls(self):
        """[(environment, body)] of every CGI call, in order."""
        folder = os.path.join(self.folder, "calls")
        if not os.path.isdir(folder):
            return []
        out = []
        for number in range(1, len(os.listdir(folder)) // 2 + 1):
            with open(os.path.join(folder, f"{number}.json")) as env, \
                 open(os.path.join(folder, f"{number}.body"), "rb") as body:
                out.append((json.load(env), body.read()))
        return out


def form_body(address):
    return b"internetaddress=" + address.encode() + b"&storeip=Store+IP+Settings"


def scenario_stock_http(bed, cli):
    """The form stored (the CGI answers 200): exit 0 well within the 2.8 s,
    events 13, 14, 15, and the CGI called once, by POST, as root, with the
    form's content type and exactly the form's body. The form refused: a
    changed password (httpd answers 401 to everything and never runs the
    CGI) and a CGI that answers "Status: 500" (it got the form): exit 1
    after the 2.8 s, events 13 and 14 only."""
    if not os.access(BUSYBOX, os.X_OK):
        raise Skip(f"{BUSYBOX} is not installed")
    prog = bed.add_node("prog", [PROGRAM_ADDRESS + "/24"], default_route=True)
    servers = {
        "form_200": WebServer(bed, "ok", "10.77.0.50"),
        "changed_password": WebServer(bed, "pw", "10.77.0.51", password="changed"),
        "cgi_status_500": WebServer(bed, "e500", "10.77.0.52",
                                    status="500 Internal Server Error"),
    }
    for server in servers.values():
        server.process.wait_tcp_listening(80)

    def one_form_call(server):
        calls = server.calls()
        check(len(calls) == 1, f"the CGI was called {len(calls)} times, not once: {calls}")
        env, body = calls[0]
        check(env["REQUEST_METHOD"] == "POST", f"method {env['REQUEST_METHOD']}")
        check(env["REMOTE_USER"] == "root", f"httpd let in {env['REMOTE_USER']!r}, not root")
        check(env["CONTENT_TYPE"] == "application/x-www-form-urlencoded",
              f"content type {env['CONTENT_TYPE']!r}")
        check(body == form_body(server.address),
              f"form body {body!r}, not {form_body(server.address)!r}")

    def form_200(step):
        step.check_code(EXIT_DONE)
        step.check_log([HTTP_STARTED, HTTP_FINISHED, stored(step.address)])
        step.check_took(0, HTTP_WAIT)
        one_form_call(servers["form_200"])

    def changed_password(step):
        step.check_code(EXIT_NOT_DONE)
        step.check_log([HTTP_STARTED, HTTP_FINISHED])
        step.check_took(HTTP_WAIT - 0.1, HTTP_WAIT + 1.5)
        check(not servers["changed_password"].calls(), "the CGI ran without root's password")
        check("response:401" in servers["changed_password"].process.stderr.text(),
              "httpd did not refuse the form with 401")

    def status_500(step):
        step.check_code(EXIT_NOT_DONE)
        step.check_log([HTTP_STARTED, HTTP_FINISHED])
        step.check_took(HTTP_WAIT - 0.1, HTTP_WAIT + 1.5)
        one_form_call(servers["cgi_status_500"])

    checks = {"form_200": form_200, "changed_password": changed_password,
              "cgi_status_500": status_500}
    run_cases([(name, Step(bed, prog, cli, ["store", "http"], server.address), checks[name])
               for name, server in servers.items()])


# --------------------------------------------------------------------------
# pyftpdlib

class FtpServer:
    """pyftpdlib on port 21 of its own host, user root, FOLDER/home as the
    login directory holding the given files ({relative path: bytes}; a path
    ending in "/" is a directory)."""

    _COMMAND = re.compile(r"^\S+-\[\w*\] <- (.*)$")
    _STORED = re.compile(r"^\S+-\[\w*\] STOR (.*) completed=1 bytes=(\d+) ")

    def __init__(self, bed, role, address, files, password="wxyz", perm="elrw"):
        self.address = address
        # The route: one host sits outside the program's /24.
        self.node = bed.add_node(role, [address + "/24"], default_route=True)
        self.home = os.path.join(bed.make_folder(), "home")
        os.mkdir(self.home)
        for path, content in files.items():
            full = os.path.join(self.home, path)
            if path.endswith("/"):
                os.makedirs(full)
            else:
                os.makedirs(os.path.dirname(full), exist_ok=True)
                with open(full, "wb") as out:
                    out.write(content)
        self.before = self.snapshot()
        self.process = self.node.start([PYTHON, FTP_SERVER, address, self.home, password, perm],
                                       name="pyftpdlib")

    def wait_ready(self):
        line = self.process.stdout.wait_for(lambda text: text == "LISTENING", 5)
        check(line is not None, f"the FTP server did not start:\n{self.process.describe()}")

    def snapshot(self):
        """{relative path: bytes} of every file under the home directory."""
        files = {}
        for folder, _, names in os.walk(self.home):
            for name in names:
                full = os.path.join(folder, name)
                with open(full, "rb") as kept:
                    files[os.path.relpath(full, self.home)] = kept.read()
        return files

    def commands(self):
        return [m.group(1) for m in map(self._COMMAND.match, self._lines()) if m]

    def uploads(self):
        """[(file on disk, bytes that came over the data connection)]"""
        return [(os.path.relpath(m.group(1), self.home), int(m.group(2)))
                for m in map(self._STORED.match, self._lines()) if m]

    def _lines(self):
        return [text for _, text in self.process.stdout.snapshot()]

    def check_session(self, until, name=None):
        """Log-in as root, then in active mode (PORT, never passive) the
        search for CONFIG, and the upload of NAME in ASCII: the last TYPE
        before STOR is A. Nothing after `until` ("PASS", "NLST", "STOR")."""
        commands = self.commands()
        verbs = [c.split(" ")[0] for c in commands]
        check(commands[:2] == ["USER root", "PASS ******"], f"log-in: {commands}")
        check(not {"PASV", "EPSV", "EPRT"} & set(verbs), f"not active mode with PORT: {commands}")
        want_nlst = 1 if until in ("NLST", "STOR") else 0
        check(commands.count("NLST CONFIG") == want_nlst and verbs.count("NLST") == want_nlst,
              f"the search for CONFIG: {commands}")
        stors = [c for c in commands if c.startswith("STOR")]
        if until != "STOR":
            check(not stors, f"an upload was tried: {commands}")
            return
        check(stors == [f"STOR {name}"], f"upload {stors}, not of {name}")
        at = commands.index(f"STOR {name}")
        types = [c for c in commands[:at] if c.startswith("TYPE")]
        check(types and types[-1] == "TYPE A", f"the upload's type is not ASCII: {commands}")
        check("PORT" in verbs[commands.index("NLST CONFIG"):at],
              f"no active data connection of its own for the upload: {commands}")


def config_content(name, address):
    if name.lower() == "config":
        return b"INT_ADDR.    : " + address.encode() + b" \r\n"
    return b"[IP] \r\nInternetAddress       = " + address.encode() + b" \r\n"


def scenario_stock_ftp(bed, cli):
    """One entry CONFIG: replaced (a longer old file left nothing behind) by
    the first format. CONFIG being a folder that holds config.ini first
    (pyftpdlib lists a folder's names sorted): config.ini is written in the
    login directory in the second format; Config.INI first with the longest
    address: the second format under the server's spelling. Another name
    first: nothing written (-9). No CONFIG (only "config", the server tells
    case): -8. Upload not permitted (550 to STOR): -9. Changed password: 17.
    pyftpdlib stores ASCII with its own line ends (LF), so the file holds
    the content with LF, and the count of bytes that came over the data
    connection shows each line ended in CR LF there."""
    try:
        import pyftpdlib  # noqa: F401
    except ImportError:
        raise Skip("python3-pyftpdlib is not installed") from None
    prog = bed.add_node("prog", [PROGRAM_ADDRESS + "/24"], default_route=True)
    old = b"INT_ADDR.    : 192.168.100.201 \r\nGATEWAY.     : 192.168.100.1 \r\n"
    cases = {
        "one_entry": FtpServer(bed, "one", "10.77.0.60", {"CONFIG": old, "readme.txt": b"x\n"}),
        "ini_first": FtpServer(bed, "ini", "10.77.0.61",
                               {"CONFIG/config.ini": b"", "CONFIG/readme.txt": b""}),
        "INI_first_long": FtpServer(bed, "lng", "192.168.100.200",
                                    {"CONFIG/Config.INI": b"old", "CONFIG/readme": b""}),
        "other_first": FtpServer(bed, "oth", "10.77.0.63",
                                 {"CONFIG/alpha.txt": b"a", "CONFIG/config.ini": b"b"}),
        "not_found": FtpServer(bed, "nf", "10.77.0.64", {"config": old, "CONFIG.bak": old}),
        "upload_refused": FtpServer(bed, "ro", "10.77.0.65", {"CONFIG": old}, perm="elr"),
        "changed_password": FtpServer(bed, "pw", "10.77.0.66", {"CONFIG": old},
                                      password="changed"),
    }
    for server in cases.values():
        server.wait_ready()

    def replaced(server, step, name, wire_bytes):
        """The file NAME now holds the content (LF line ends on this
        server), WIRE_BYTES came over the data connection (the lines ended
        in CR LF there), and nothing else changed."""
        content = config_content(name, step.address)
        check(len(content) == wire_bytes, f"test: {content!r} is not {wire_bytes} bytes")
        uploads = server.uploads()
        check(uploads == [(name, wire_bytes)],
              f"uploads {uploads}, not {wire_bytes} bytes into {name}")
        after = server.snapshot()
        want = dict(server.before)
        want[name] = content.replace(b"\r\n", b"\n")
        check(after == want, f"files after the upload: {after}, not {want}")

    def stored_as(server, name, wire_bytes):
        def verify(step):
            step.check_code(EXIT_DONE)
            step.check_log(ftp_events(16, 18, (19, name), 20, 21, (15, step.address)))
            server.check_session("STOR", name)
            replaced(server, step, name, wire_bytes)
        return verify

    def not_stored(server, events, until, name=None):
        def verify(step):
            step.check_code(EXIT_NOT_DONE)
            step.check_log(ftp_events(*events))
            server.check_session(until, name)
            check(server.snapshot() == server.before, "a file on the server changed")
        return verify

    checks = {
        "one_entry": lambda s: stored_as(s, "CONFIG", 28),
        "ini_first": lambda s: stored_as(s, "config.ini", 44),
        "INI_first_long": lambda s: stored_as(s, "Config.INI", 49),
        "other_first": lambda s: not_stored(s, (16, 18, (19, "alpha.txt"), -9, 21), "NLST"),
        "not_found": lambda s: not_stored(s, (16, 18, -8, 21), "NLST"),
        "upload_refused": lambda s: not_stored(s, (16, 18, (19, "CONFIG"), -9, 21), "STOR",
                                               "CONFIG"),
        "changed_password": lambda s: not_stored(s, (16, 17), "PASS"),
    }
    steps = [(name, Step(bed, prog, cli, ["store", "ftp"], server.address), checks[name](server))
             for name, server in cases.items()]
    run_cases(steps)


# --------------------------------------------------------------------------
# ICMP echo

def scenario_stock_icmp(bed, cli):
    """A host on the bed answers through its kernel: exit 0 at once. A host
    that is there but does not answer echo requests, and an address nobody
    on the bed has: exit 1 after the 4 s. The probe writes nothing between
    the logfile's header and footer."""
    prog = bed.add_node("prog", [PROGRAM_ADDRESS + "/24"], default_route=True)
    bed.add_node("echo", ["10.77.0.70/24"])
    silent = bed.add_node("silent", ["10.77.0.71/24"])
    result = silent.run([SYSCTL, "-q", "-w", "net.ipv4.icmp_echo_ignore_all=1"])
    check(result.returncode == 0, f"echo answers cannot be switched off: {result.stderr}")

    def answered(step):
        step.check_code(EXIT_DONE)
        step.check_log([])
        step.check_took(0, 1.0)

    def not_answered(step):
        step.check_code(EXIT_NOT_DONE)
        step.check_log([])
        step.check_took(ICMP_WAIT, ICMP_WAIT + 1.5)

    run_cases([(name, Step(bed, prog, cli, ["probe", "icmp"], address), verify)
               for name, address, verify in (("answers", "10.77.0.70", answered),
                                             ("silent_host", "10.77.0.71", not_answered),
                                             ("nobody_there", "10.77.0.99", not_answered))])


SCENARIOS = {
    "stock_http": scenario_stock_http,
    "stock_ftp": scenario_stock_ftp,
    "stock_icmp": scenario_stock_icmp,
}

if __name__ == "__main__":
    sys.exit(main(SCENARIOS, sys.argv))
