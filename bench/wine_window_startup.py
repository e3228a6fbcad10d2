#!/usr/bin/env python3
"""tessel.exe's start-up under Wine against a bare Win32 dialog started the
same way: the time from starting the process to its window being shown
(mapped on the X display), medians of N alternating runs. A third program
in the same runs is the bare dialog showing the main window's own thirty
controls (started with "controls"): how much of tessel.exe's extra time the
controls take by themselves, and how much is the window's own work.

Usage: wine_window_startup.py TESSEL_EXE BARE_DIALOG_EXE [--runs N]

One Wine prefix (made once, not timed), `wineserver -p` running, Managed=N,
one Xvfb; everything in a network namespace with only loopback (unshare,
root needed), so the program's port 67 is its own. Polls the display with
xdotool every few milliseconds; each program is then ended with taskkill,
the server staying.
"""
import argparse
import os
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "win32"))

from wine_sandbox import WineSandbox  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("tessel")
    parser.add_argument("bare")
    parser.add_argument("--runs", type=int, default=7)
    args = parser.parse_args()
    if os.geteuid() != 0:
        sys.exit("root needed for the network namespace")
    titles = {"tessel.exe": "^ MERROW Tessel$", "bare dialog": "^Bare dialog$", "bare, 30 ctl": "^Bare dialog$"}
    exes = {"tessel.exe": os.path.abspath(args.tessel), "bare dialog": os.path.abspath(args.bare),
            "bare, 30 ctl": os.path.abspath(args.bare)}
    arguments = {"bare, 30 ctl": ["controls"]}
    times = {kind: [] for kind in exes}
    with WineSandbox("startup") as box:
        box.make_prefix()
        for _ in range(args.runs):
            for kind in times:
                start = time.monotonic()
                process = box.start(exes[kind], *arguments.get(kind, []))
                while not box.window_shown(titles[kind]):
                    if time.monotonic() - start > 30:
                        sys.exit(f"{kind}: no window within 30 s")
                    time.sleep(0.005)
                times[kind].append((time.monotonic() - start) * 1000.0)
                box.wine("taskkill", "/f", "/im", os.path.basename(exes[kind]))
                process.wait(10)
                time.sleep(0.5)
    for kind, values in times.items():
        print(f"{kind:12s} median {statistics.median(values):7.0f} ms  (min {min(values):.0f}, "
              f"max {max(values):.0f}, {len(values)} runs)")
    median = {kind: statistics.median(values) for kind, values in times.items()}
    print(f"ratio tessel.exe / bare dialog: {median['tessel.exe'] / median['bare dialog']:.2f}")
    print(f"ratio bare dialog with the window's controls / bare dialog: "
          f"{median['bare, 30 ctl'] / median['bare dialog']:.2f}")
    print(f"ratio tessel.exe / bare dialog with the window's controls: "
          f"{median['tessel.exe'] / median['bare, 30 ctl']:.2f}")


if __name__ == "__main__":
    main()
