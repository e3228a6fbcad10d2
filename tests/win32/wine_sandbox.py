"""A Wine prefix of its own with a virtual display, in a network namespace
that has only loopback (so that tessel.exe's port 67 is its own): made for
the installer test and the start-up benchmark, removed with everything in
it. Root needed (unshare, nsenter).

    with WineSandbox("installer") as box:
        box.wine("wineboot", "--init")
"""

import os
import shutil
import subprocess
import tempfile

WINE = os.environ.get("TESSEL_WINE", "/usr/lib/wine/wine64")
WINESERVER = os.path.join(os.path.dirname(WINE), "wineserver")
TOOLS = (WINE, "/usr/bin/Xvfb", "/usr/bin/xdotool", "/usr/bin/unshare", "/usr/bin/nsenter")


def missing_tools():
    return [path for path in TOOLS if not os.path.exists(path)]


class WineSandbox:
    def __init__(self, label):
        self.folder = tempfile.mkdtemp(prefix=f"tessel-{label}-")
        self.prefix = os.path.join(self.folder, "prefix")
        os.mkdir(self.prefix)
        self.display = f":{600 + os.getpid() % 300}"
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEDEBUG="-all", DISPLAY=self.display,
                        WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d")
        self.quiet = dict(env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def __enter__(self):
        self.xvfb = subprocess.Popen(["/usr/bin/Xvfb", self.display, "-screen", "0", "1024x768x24", "-nolisten",
                                      "tcp"], **self.quiet)
        # One namespace for the whole prefix: Wine's sockets live in its
        # server, which is started there first and stays (-p).
        self.shell = subprocess.Popen(["/usr/bin/unshare", "--net", "/bin/sh"], stdin=subprocess.PIPE,
                                      env=self.env)
        self.enter = ["/usr/bin/nsenter", "-t", str(self.shell.pid), "-n"]
        self.start_server()
        return self

    def start_server(self):
        subprocess.run(self.enter + [WINESERVER, "-p"], check=True, **self.quiet)

    def stop_server(self):
        subprocess.run([WINESERVER, "-k"], timeout=30, **self.quiet)

    def wine(self, *args, timeout=120):
        """Runs a Windows program in the namespace and waits for it. Output
        goes through a file: Wine's background processes would hold a pipe
        open."""
        with tempfile.TemporaryFile("w+") as out:
            result = subprocess.run(self.enter + [WINE] + [str(a) for a in args], env=self.env, stdout=out,
                                    stderr=subprocess.DEVNULL, timeout=timeout)
            out.seek(0)
            result.stdout = out.read()
        return result

    def start(self, program, *args):
        """Starts a Windows program in the namespace without waiting."""
        return subprocess.Popen(self.enter + [WINE, program] + list(args), cwd=self.folder, **self.quiet)

    def make_prefix(self):
        self.wine("wineboot", "--init", timeout=180)
        # Wine draws the frames itself: no window manager on the display.
        self.wine("reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed", "/d", "N", "/f")

    def window_shown(self, title_pattern):
        return subprocess.run(["/usr/bin/xdotool", "search", "--onlyvisible", "--name", title_pattern],
                              **self.quiet).returncode == 0

    def __exit__(self, *exc):
        self.stop_server()
        self.shell.stdin.close()
        self.shell.wait(10)
        self.xvfb.terminate()
        self.xvfb.wait(10)
        shutil.rmtree(self.folder, ignore_errors=True)
