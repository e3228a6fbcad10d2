#!/usr/bin/env python3
"""The main window's start-up time to its first paint and its resident
memory, side by side with a bare Qt dialog started the same way.

Usage: window_startup.py BENCH_BINARY [--runs N]

Each run is a fresh process, so the time includes loading the program and
Qt. The time is from just before the process is started to the window's
first paint event (both on the monotonic clock). Runs alternate between the
two kinds; the medians are printed. Under a virtual X display (Xvfb) when
one can be had, else Qt's offscreen platform.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def one_run(binary, mode, env, cwd):
    start = time.monotonic()
    out = subprocess.run([binary, mode], env=env, cwd=cwd, capture_output=True, text=True, timeout=60)
    if out.returncode != 0:
        sys.exit(f"{binary} {mode} ended with {out.returncode}:\n{out.stderr}")
    figures = dict(line.split() for line in out.stdout.splitlines() if line.count(" ") == 1)
    return (float(figures["first_paint"]) - start) * 1000.0, int(figures["rss_kb"]), int(figures["hwm_kb"])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("binary")
    parser.add_argument("--runs", type=int, default=7)
    args = parser.parse_args()
    args.binary = os.path.abspath(args.binary)

    env = dict(os.environ)
    xvfb = None
    platform = "offscreen"
    if shutil.which("Xvfb") and not env.get("DISPLAY"):
        # Xvfb picks a free display number and tells it on the pipe.
        xvfb = subprocess.Popen(["Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        number = xvfb.stdout.readline().strip()
        if number.isdigit():
            display = f":{number}"
            env["DISPLAY"] = display
            env.pop("QT_QPA_PLATFORM", None)
            platform = f"Xvfb {display}"
    if "DISPLAY" not in env:
        env["QT_QPA_PLATFORM"] = "offscreen"
    elif platform == "offscreen":
        platform = f"display {env['DISPLAY']}"

    results = {"tessel": [], "bare": []}
    with tempfile.TemporaryDirectory(prefix="tessel-bench-") as cwd:  # the window's logfile
        try:
            one_run(args.binary, "tessel", env, cwd)  # warm the file cache
            for _ in range(args.runs):
                for mode in ("tessel", "bare"):
                    results[mode].append(one_run(args.binary, mode, env, cwd))
        finally:
            if xvfb:
                xvfb.terminate()
                xvfb.wait()

    def median(mode, i):
        return statistics.median(r[i] for r in results[mode])

    print(f"main window start-up ({platform}, median of {args.runs} runs, fresh process each):")
    t, b = median("tessel", 0), median("bare", 0)
    print(f"  to first paint:   tessel {t:7.1f} ms   bare Qt dialog {b:7.1f} ms   ratio {t / b:.2f}")
    t, b = median("tessel", 1) / 1024, median("bare", 1) / 1024
    print(f"  resident memory:  tessel {t:7.1f} MiB  bare Qt dialog {b:7.1f} MiB  ratio {t / b:.2f}")
    t, b = median("tessel", 2) / 1024, median("bare", 2) / 1024
    print(f"  peak resident:    tessel {t:7.1f} MiB  bare Qt dialog {b:7.1f} MiB  ratio {t / b:.2f}")


if __name__ == "__main__":
    main()
