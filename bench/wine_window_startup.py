#!/usr/bin/env python3
"""tessel.exe's start-up under Wine against a bare Win32 dialog started the
same way: the time from starting the process to its window being shown
(mapped on the X display), medians of N alternating runs.

Usage: wine_window_startup.py TESSEL_EXE BARE_DIALOG_EXE [--runs N]

One Wine prefix (made once, not timed), `wineserver -p` running, Managed=N,
one Xvfb; everything in a network namespace with only loopback (unshare,
root needed), so the program's port 67 is its own. Polls the display with
xdotool every few milliseconds; each program is then ended with taskkill,
the server staying.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("tessel")
    parser.add_argument("bare")
    parser.add_argument("--runs", type=int, default=7)
    args = parser.parse_args()
    if os.geteuid() != 0:
        sys.exit("root needed for the network namespace")
    folder = tempfile.mkdtemp(prefix="tessel-startup-")
    prefix = os.path.join(folder, "prefix")
    os.mkdir(prefix)
    display = f":{700 + os.getpid() % 90}"
    env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all", DISPLAY=display,
               WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d")
    xvfb = subprocess.Popen(["/usr/bin/Xvfb", display, "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    shell = subprocess.Popen(["/usr/bin/unshare", "--net", "/bin/sh"], stdin=subprocess.PIPE, env=env)
    enter = ["/usr/bin/nsenter", "-t", str(shell.pid), "-n"]
    quiet = dict(env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        subprocess.run(enter + [WINESERVER, "-p"], check=True, **quiet)
        subprocess.run(enter + [WINE, "wineboot", "--init"], timeout=180, **quiet)
        subprocess.run(enter + [WINE, "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed", "/d", "N",
                                "/f"], **quiet)
        times = {"tessel.exe": [], "bare dialog": []}
        titles = {"tessel.exe": "^ MERROW Tessel$", "bare dialog": "^Bare dialog$"}
        exes = {"tessel.exe": os.path.abspath(args.tessel), "bare dialog": os.path.abspath(args.bare)}
        for _ in range(args.runs):
            for kind in times:
                start = time.monotonic()
                process = subprocess.Popen(enter + [WINE, exes[kind]], cwd=folder, **quiet)
                while subprocess.run(["/usr/bin/xdotool", "search", "--onlyvisible", "--name", titles[kind]],
                                     **quiet).returncode != 0:
                    if time.monotonic() - start > 30:
                        sys.exit(f"{kind}: no window within 30 s")
                    time.sleep(0.005)
                times[kind].append((time.monotonic() - start) * 1000.0)
                subprocess.run(enter + [WINE, "taskkill", "/f", "/im", os.path.basename(exes[kind])], **quiet)
                process.wait(10)
                time.sleep(0.5)
        for kind, values in times.items():
            print(f"{kind:12s} median {statistics.median(values):7.0f} ms  (min {min(values):.0f}, "
                  f"max {max(values):.0f}, {len(values)} runs)")
        ratio = statistics.median(times["tessel.exe"]) / statistics.median(times["bare dialog"])
        print(f"ratio tessel.exe / bare dialog: {ratio:.2f}")
    finally:
        subprocess.run([WINESERVER, "-k"], timeout=30, **quiet)
        shell.stdin.close()
        shell.wait(10)
        xvfb.terminate()
        xvfb.wait(10)
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
