#!/usr/bin/python3
"""The window on a Wayland desktop: mutter runs as a nested Wayland
compositor on a virtual X display (Xvfb), the two together standing for a
GNOME session with XWayland. The program runs in a network namespace of its
own (port 67 is its own there).

1. The platform left to the program: with Qt before 6.6.1 its window is an
   X11 window on the display (xdotool finds it by its caption), with a newer
   Qt a Wayland window in the compositor.
2. QT_QPA_PLATFORM=wayland, the user's choice, stands: no X11 window; the
   window's grey shows inside the compositor's output.
In both, Escape typed as a real key event (xdotool: to the X11 window, or
to the compositor's window, which hands it to its focused client) closes
the program, which ends by itself.

    wayland_window_test.py TESSEL

Exit status 0 passed, 1 failed, 77 skipped (no compositor, no root).
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from xwindow import WINDOW, WindowActFailed, act_on_window  # noqa: E402

MUTTER = "/usr/bin/mutter"
XVFB = "/usr/bin/Xvfb"
XDOTOOL = "/usr/bin/xdotool"
IMPORT = "/usr/bin/import"
DBUS_RUN_SESSION = "/usr/bin/dbus-run-session"
WAYLAND_PLUGIN = "/usr/lib/x86_64-linux-gnu/qt6/plugins/platforms/libqwayland-generic.so"
CAPTION = "^ MERROW Tessel$"


def skip(why):
    print(f"SKIP: {why}", flush=True)
    sys.exit(77)


def fail(why):
    print(f"FAIL: {why}", flush=True)
    sys.exit(1)


def qt_runtime(tessel):
    """The Qt version the program links, from the library it loads."""
    out = subprocess.run(["ldd", tessel], capture_output=True, text=True).stdout
    for line in out.splitlines():
        if "libQt6Core.so" in line and "=>" in line:
            real = os.path.realpath(line.split("=>")[1].split("(")[0].strip())
            version = real.rsplit(".so.", 1)[-1]
            return tuple(int(part) for part in version.split(".")[:3])
    fail("the program links no libQt6Core")
    return ()


class Desktop:
    """Xvfb with mutter nested on it as the Wayland compositor."""

    def __init__(self):
        self.folder = tempfile.mkdtemp(prefix="tessel-wayland-")
        os.chmod(self.folder, 0o700)
        self.procs = []
        self.mutter = self.mutter_log = None

    def __enter__(self):
        try:
            return self.start_desktop()
        except SystemExit:
            self.__exit__(None, None, None)  # a skip before the desktop stood
            raise

    def start_desktop(self):
        read, write = os.pipe()
        self.xvfb = subprocess.Popen([XVFB, "-displayfd", str(write), "-screen", "0", "1024x768x24", "-nolisten",
                                      "tcp"], pass_fds=(write,), stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        os.close(write)
        with os.fdopen(read) as pipe:
            number = pipe.readline().strip()
        if not number:
            skip("Xvfb did not start")
        self.procs.append(self.xvfb)
        self.display = f":{number}"
        self.socket = "tessel-wayland-0"
        self.env = dict(os.environ, DISPLAY=self.display, XDG_RUNTIME_DIR=self.folder)
        self.env.pop("QT_QPA_PLATFORM", None)
        self.mutter_log = open(os.path.join(self.folder, "mutter.log"), "w")
        self.mutter = subprocess.Popen([DBUS_RUN_SESSION, "--", MUTTER, "--nested", "--wayland", "--no-x11",
                                        "--wayland-display", self.socket], env=self.env,
                                       stdout=self.mutter_log, stderr=subprocess.STDOUT, start_new_session=True)
        self.procs.append(self.mutter)
        deadline = time.monotonic() + 10
        while not os.path.exists(os.path.join(self.folder, self.socket)):
            if self.mutter.poll() is not None or time.monotonic() > deadline:
                self.mutter_log.flush()
                with open(self.mutter_log.name) as log:
                    skip(f"mutter did not start as a Wayland compositor: {log.read()[-600:]}")
            time.sleep(0.1)
        # The session as GNOME on Wayland gives it to its programs.
        self.env.update(WAYLAND_DISPLAY=self.socket, XDG_SESSION_TYPE="wayland")
        return self

    def run_xdotool(self, args):
        return subprocess.run([XDOTOOL] + list(args), env=self.env, capture_output=True, text=True)

    def xdotool(self, *args):
        return self.run_xdotool(args)

    def x11_window(self):
        return self.xdotool("search", "--onlyvisible", "--name", CAPTION).stdout.split()

    def compositor_window(self):
        """The compositor's output: the visible top-level windows that are
        not the program's (one, or none while it is not shown)."""
        ours = set(self.x11_window())
        shown = self.xdotool("search", "--onlyvisible", "--maxdepth", "1", "--name", "").stdout.split()
        return [window for window in shown if window not in ours]

    def grey_pixels(self):
        """Pixels of the program's grey, RGB(192, 192, 192), on the screen
        (a run of them is a run of 0xC0 bytes in the raw picture)."""
        shot = subprocess.run([IMPORT, "-display", self.display, "-window", "root", "-depth", "8", "rgb:-"],
                              env=self.env, check=True, capture_output=True).stdout
        return shot.count(b"\xc0\xc0\xc0")

    def start(self, tessel, extra_env):
        env = dict(self.env, **extra_env)
        log = open(os.path.join(self.folder, "tessel.log"), "w")
        # A network of its own with loopback up: port 67 is the program's.
        command = ["unshare", "--net", "sh", "-c", 'ip link set lo up && exec "$0"', os.path.abspath(tessel)]
        program = subprocess.Popen(command, cwd=self.folder, env=env, stdout=log, stderr=subprocess.STDOUT)
        self.procs.append(program)
        return program

    def __exit__(self, *exc):
        for proc in reversed(self.procs):
            if proc.poll() is None:
                if proc is self.mutter:
                    os.killpg(proc.pid, 15)
                else:
                    proc.terminate()
                try:
                    proc.wait(10)
                except subprocess.TimeoutExpired:
                    proc.kill()
        if self.mutter_log:
            self.mutter_log.close()
        shutil.rmtree(self.folder, ignore_errors=True)


def wait_for(condition, seconds, what):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return
        time.sleep(0.2)
    fail(what)


def ends_on_escape(desktop, program, find):
    """Escape as a real key event (XTEST) to the window with the focus, the
    window that find() names first."""
    try:
        act_on_window(desktop.run_xdotool, find, ("windowfocus", "--sync", WINDOW))
    except WindowActFailed as failure:
        fail(f"the window did not take the focus: {failure}")
    typed = desktop.xdotool("key", "Escape")
    if typed.returncode != 0:
        fail(f"xdotool key Escape: {typed.stderr}")
    try:
        # Close waits its fixed 2.8 s before the program ends.
        code = program.wait(15)
    except subprocess.TimeoutExpired:
        fail("Escape did not close the window")
    if code != 0:
        fail(f"the program ended with {code}")


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    tessel = sys.argv[1]
    for tool in (MUTTER, XVFB, XDOTOOL, IMPORT, DBUS_RUN_SESSION, WAYLAND_PLUGIN):
        if not os.path.exists(tool):
            skip(f"{tool} is not installed (scripts/setup installs it)")
    if os.geteuid() != 0:
        skip("the program's network namespace needs root")
    wayland_first = qt_runtime(tessel) >= (6, 6, 1)
    with Desktop() as desktop:
        # 1. The program's own choice.
        program = desktop.start(tessel, {})
        if wayland_first:
            wait_for(lambda: desktop.grey_pixels() > 20000, 10, "the window did not show in the compositor")
            if desktop.x11_window():
                fail("Qt 6.6.1 or newer: the window should be a Wayland window")
            ends_on_escape(desktop, program, desktop.compositor_window)
        else:
            wait_for(desktop.x11_window, 10, "Qt before 6.6.1: the window is no X11 window on the display")
            ends_on_escape(desktop, program, desktop.x11_window)
        print("  the platform left to the program: "
              + ("Wayland" if wayland_first else "X11 beside the compositor"), flush=True)

        # 2. The user's choice stands. The compositor's output is grey only
        # where the window is (its own background is not).
        before = desktop.grey_pixels()
        program = desktop.start(tessel, {"QT_QPA_PLATFORM": "wayland"})
        wait_for(lambda: desktop.grey_pixels() > before + 20000, 10, "the window did not show in the compositor")
        if desktop.x11_window():
            fail("QT_QPA_PLATFORM=wayland: the window should not be an X11 window")
        # The compositor's window on the display takes the key and hands it
        # to its focused client.
        ends_on_escape(desktop, program, desktop.compositor_window)
        print("  QT_QPA_PLATFORM=wayland: a Wayland window, closed by a real Escape", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
