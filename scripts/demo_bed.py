"""The demo's test bed: three simulated MERROW-servers and the program on a
network of namespaces. With a display the window runs there (as the user
who called sudo, with the capabilities the program needs); without one the
same job is walked through with tessel-cli and printed. Usage:
demo_bed.py BUILD_DIR [--no-window]"""

import os
import pwd
import shutil
import signal
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import testbed  # noqa: E402
from run_scenario import peer_lines  # noqa: E402
from testbed import FACTORY_DEFAULT, PROGRAM_ADDRESS, Interrupted, Skip  # noqa: E402

SERVERS = [
    # role, serial, addresses of its interface, what it shows
    ("new", "0A-1B-2C-00-00-01", [], "no address yet (asks from 0.0.0.0)"),
    ("reset", "0A-1B-2C-00-00-02", [FACTORY_DEFAULT + "/24"], "the factory default " + FACTORY_DEFAULT),
    ("moved", "0A-1B-2C-00-00-03", ["10.77.0.20/24"], "an old address, 10.77.0.20"),
]
NEW_ADDRESS = "10.77.0.50"
CAPABILITIES = "+net_bind_service,+net_raw,+net_admin"


def say(text=""):
    print(text, flush=True)


def start_servers(bed):
    peers = []
    for role, serial, addresses, _ in SERVERS:
        node = bed.add_node(role, addresses)
        # Each asks every 3 s until answered, then restarts with the new
        # address and serves its web form and FTP there, as real ones do.
        peers.append(node.start([PEER, "--linger", "forever", "--interval", "3000", "--count", "0",
                                 "--server", serial], name=f"tessel-peer {role}"))
    return peers


def as_calling_user(args, folder):
    """The window runs as the user who called sudo, so it reaches their
    display and their browser, with only the capabilities it needs."""
    user = os.environ.get("SUDO_USER")
    if not user or user == "root":
        return args, {}
    entry = pwd.getpwnam(user)
    os.chown(folder, entry.pw_uid, entry.pw_gid)  # the logfile goes there
    env = {"HOME": entry.pw_dir, "USER": user, "LOGNAME": user}
    if "XAUTHORITY" not in os.environ and os.path.exists(os.path.join(entry.pw_dir, ".Xauthority")):
        env["XAUTHORITY"] = os.path.join(entry.pw_dir, ".Xauthority")
    return (["/usr/bin/setpriv", f"--reuid={entry.pw_uid}", f"--regid={entry.pw_gid}", "--init-groups",
             f"--inh-caps={CAPABILITIES}", f"--ambient-caps={CAPABILITIES}", "--"] + args, env)


def run_window(bed, prog, folder, peers):
    args, env = as_calling_user([WINDOW], folder)
    os.environ.update(env)
    say("The window runs inside the bed. Try the whole job:")
    say("  1. wait for the three servers to show up in the list (about 10 s);")
    say("  2. click one, type an address (for example " + NEW_ADDRESS + ") and press \"Set IP address\";")
    say("  3. watch it being set and stored, then let the window open the server's home page.")
    say("The home page lies inside the bed: a browser that was already running elsewhere")
    say("cannot reach it, so the pages of the servers you set are printed here at the end.")
    say("Close the window to end the demo.")
    say()
    window = prog.start(args, cwd=folder, name="tessel")
    while window.running():
        time.sleep(0.2)
    for peer in peers:
        for restart in peer_lines(peer, "RESTART"):
            address = restart.get("address", "").split("/")[0]
            say(f"{peer.name} took {address}; its home page, http://{address}/:")
            print_page(prog, address)


def print_page(prog, address):
    result = prog.run(["/usr/bin/python3", "-c",
                       "import sys,urllib.request;print(urllib.request.urlopen("
                       f"'http://{address}/',timeout=5).read().decode('latin-1'))"])
    say(result.stdout if result.returncode == 0 else f"(no answer: {result.stderr.strip()})")


def run_walk(bed, prog, folder):
    say("No display: the same job through tessel-cli.")
    say()
    say("$ tessel-cli list --seconds 16     # the servers as the window's list shows them")
    listing = prog.start([CLI, "list", "--seconds", "16", "--logfile", os.path.join(folder, "list.log")],
                         cwd=folder, name="tessel-cli list")
    listing.wait(30)
    say(listing.stdout.text())
    serial = SERVERS[0][1]
    say()
    say(f"$ tessel-cli set {serial} {NEW_ADDRESS}   # pick the new server, set its address")
    setting = prog.start([CLI, "set", serial, NEW_ADDRESS, "--logfile", os.path.join(folder, "set.log")],
                         cwd=folder, name="tessel-cli set")
    shown = 0
    while setting.running() or shown < len(setting.stdout.lines):
        lines = setting.stdout.snapshot()
        for _, text in lines[shown:]:
            say(text)
        shown = len(lines)
        if not setting.running() and shown == len(setting.stdout.lines):
            break
        time.sleep(0.2)
    code = setting.wait(5)
    say(f"(exit status {code})")
    say()
    say(f"$ the server's home page, http://{NEW_ADDRESS}/")
    print_page(prog, NEW_ADDRESS)
    say("The support logfile of the run, without the repeated requests of servers already listed:")
    with open(os.path.join(folder, "set.log"), encoding="latin-1") as log:
        blocks = log.read().replace("\r\n", "\n").split("\n\n")
    for block in blocks:
        if not block.strip() or block.rstrip().endswith("Checking if already in list."):
            continue
        say(block.strip("\n"))
        say()


def main():
    global PEER, CLI, WINDOW
    build = os.path.abspath(sys.argv[1])
    PEER = os.path.join(build, "tools", "tessel-peer", "tessel-peer")
    CLI = os.path.join(build, "cli", "tessel-cli")
    WINDOW = os.path.join(build, "app", "tessel")
    use_window = ("--no-window" not in sys.argv
                  and (os.environ.get("DISPLAY") or os.environ.get("WAYLAND_DISPLAY"))
                  and os.path.exists(WINDOW))
    for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(number, testbed._raise_interrupted)
    try:
        with testbed.TestBed("demo") as bed:
            prog = bed.add_node("prog", [PROGRAM_ADDRESS + "/24"], default_route=True)
            folder = bed.make_folder()
            say(f"Test bed made: this computer is {PROGRAM_ADDRESS}; three simulated servers:")
            for _, serial, _, what in SERVERS:
                say(f"  {serial}  {what}")
            say()
            try:
                peers = start_servers(bed)
                if use_window:
                    run_window(bed, prog, folder, peers)
                else:
                    run_walk(bed, prog, folder)
            finally:
                # The demo keeps nothing, not even after a failure.
                for made in bed.folders:
                    shutil.rmtree(made, ignore_errors=True)
                bed.folders.clear()
        say("Test bed removed.")
        return 0
    except Skip as reason:
        say(f"The demo cannot run here: {reason}")
        return 1
    except Interrupted:
        say("Interrupted; test bed removed.")
        return 130


if __name__ == "__main__":
    sys.exit(main())
