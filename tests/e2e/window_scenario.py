#!/usr/bin/python3
"""End-to-end run of the window itself: the program's window (offscreen)
in the program's namespace, one simulated server without an address, and
a driver that clicks the server's row, types the address with key events
and presses "Set IP address", then "Close":

    window_scenario.py window_set WINDOW_DRIVER TESSEL_PEER

Checks the one reply and the restart the server saw, the form it got over
HTTP, box 110 and the browser offer with their help topics, the row with
the new address, and the whole logfile from the listing to the footer.
window_set_unprivileged does the same with a copy of the driver that holds
the package's file capabilities, run by user nobody (secure-execution
mode), with ping sockets closed to it.
Exit status 0 passed, 1 failed, 77 skipped (no root or namespaces).
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from assign_scenarios import BOX_STORED, SetRun, assignment_events  # noqa: E402
from privilege_scenarios import (ALL_CAPS, NOBODY, check_runs_as_nobody, close_ping_sockets,  # noqa: E402
                                 program_copy)
from testbed import PROGRAM_ADDRESS, Failure, as_user, check, main  # noqa: E402

SERIAL = "0A-1B-2C-00-0A-01"
ADDRESS = "10.77.0.50"


class WindowRun(SetRun):
    """SetRun's bed and checks, with the window driver as the program."""

    def __init__(self, bed, driver, peer, user=None):  # noqa: super().__init__ starts tessel-cli
        self.bed, self.serial, self.address = bed, SERIAL, ADDRESS
        self.prog = bed.add_node("prog", [PROGRAM_ADDRESS + "/24"], default_route=True)
        self.srv = bed.add_node("srv", [])
        self.folder = bed.make_folder()
        self.record = os.path.join(self.folder, "record")
        os.mkdir(self.record)
        self.logfile = os.path.join(self.folder, "MERROW Tessel.log")
        command = [driver, SERIAL, ADDRESS]
        if user is not None:
            close_ping_sockets(bed, self.prog)
            os.chown(self.folder, user, user)
            command = as_user(user) + [program_copy(bed, driver, ALL_CAPS, "e2e_window_driver"),
                                       SERIAL, ADDRESS]
        self.tessel = self.prog.start(command, cwd=self.folder, name="window")
        if not self.tessel.wait_udp_bound(67, timeout=10):
            raise Failure(f"the window did not bind port 67: {self.tessel.stderr.text()}")
        self.peer = self.srv.start([peer, "--linger", "forever", "--interval", "1000", "--count", "0",
                                    "--record", self.record, "--server", SERIAL], name="tessel-peer")


def scenario_window_set(bed, driver, peer, user=None):
    run = WindowRun(bed, driver, peer, user)
    if user is not None:
        check_runs_as_nobody(run.tessel)
    run.finish()
    out = run.tessel.stdout.text().splitlines()
    check(f"LISTED {SERIAL} 0.0.0.0" in out, f"the server was not listed:\n{run.tessel.stdout.text()}")
    check(f"STATUS Selected server: {SERIAL}" in out, f"the click did not select it: {out}")
    run.check_outcome(0, BOX_STORED)
    boxes = [line for line in out if line.startswith("BOX ")]
    check(boxes == ["BOX 110 help 31", "BOX 111 help 19"], f"boxes shown: {boxes}")
    check(f"ROW {SERIAL} {ADDRESS}" in out, f"the row does not show the new address: {out}")
    check("CLOSED" in out, f"the window did not close: {out}")
    run.check_one_reply()
    run.check_restarted()
    run.check_form_post(200)
    run.check_log("0.0.0.0", assignment_events("0.0.0.0", SERIAL, ADDRESS, True, stored_by_http=True))


def scenario_window_set_unprivileged(bed, driver, peer):
    scenario_window_set(bed, driver, peer, NOBODY)


SCENARIOS = {"window_set": scenario_window_set, "window_set_unprivileged": scenario_window_set_unprivileged}

if __name__ == "__main__":
    sys.exit(main(SCENARIOS, sys.argv))
