#!/usr/bin/python3
"""End-to-end run of the window itself: the program's window (offscreen)
in the program's namespace, one simulated server without an address, and
a driver that clicks the server's row, types the address with key events
and presses "Set IP address", then "Close":

    window_scenario.py window_set WINDOW_DRIVER TESSEL_PEER

Checks the one reply and the restart the server saw, the form it got over
HTTP, box 110 and the browser offer with their help topics, the row with
the new address, and the whole logfile from the listing to the footer.
Exit status 0 passed, 1 failed, 77 skipped (no root or namespaces).
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from assign_scenarios import BOX_STORED, SetRun, assignment_events  # noqa: E402
from testbed import PROGRAM_ADDRESS, Failure, check, main  # noqa: E402

SERIAL = "0A-1B-2C-00-0A-01"
ADDRESS = "10.77.0.50"


class WindowRun(SetRun):
    """SetRun's bed and checks, with the window driver as the program."""

    def __init__(self, bed, driver, peer):  # noqa: super().__init__ starts tessel-cli
        self.bed, self.serial, self.address = bed, SERIAL, ADDRESS
        self.prog = bed.add_node("prog", [PROGRAM_ADDRESS + "/24"], default_route=True)
        self.srv = bed.add_node("srv", [])
        self.folder = bed.make_folder()
        self.record = os.path.join(self.folder, "record")
        os.mkdir(self.record)
        self.logfile = os.path.join(self.folder, "MERROW Tessel.log")
        self.tessel = self.prog.start([driver, SERIAL, ADDRESS], cwd=self.folder, name="window")
        if not self.tessel.wait_udp_bound(67, timeout=10):
            raise Failure(f"the window did not bind port 67: {self.tessel.stderr.text()}")
        self.peer = self.srv.start([peer, "--linger", "forever", "--interval", "1000", "--count", "0",
                                    "--record", self.record, "--server", SERIAL], name="tessel-peer")


def scenario_window_set(bed, driver, peer):
    run = WindowRun(bed, driver, peer).finish()
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


SCENARIOS = {"window_set": scenario_window_set}

if __name__ == "__main__":
    sys.exit(main(SCENARIOS, sys.argv))
