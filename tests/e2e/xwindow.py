"""Acting on a window that xdotool finds, the find and the act as one step.

Between xdotool's search and its act on the window it found, the window may
go away (a box that closes as the next one comes, a frame that Wine makes
anew) or not be mapped yet; X then refuses the act: BadWindow for a window
that is gone, BadMatch for the focus of one that is not viewable. That is a
race of the test with the display, not a fault of the program, so the find
and the act are tried again together for a bounded time. Any other failure
of xdotool ends the try at once, and a window that never comes (or never
takes the act) fails when the time is up: a test whose window is really
wrong still fails. Only the act on the window is tried again; what the test
reads back afterwards is never.

    act_on_window(run, ("search", "--onlyvisible", "--name", "^tessel$"),
                  ("windowfocus", "--sync", WINDOW))
"""

import time

# Where the act's arguments take the id of the window found.
WINDOW = object()
# X's refusals of an act on a window that went away or is not mapped yet.
GONE = ("BadWindow", "BadMatch")
SECONDS = 10


class WindowActFailed(Exception):
    """The window was not found, or the act on it failed, for good."""


def act_on_window(run, find, action, seconds=SECONDS, clock=time.monotonic, sleep=time.sleep):
    """Finds a window and acts on the first one found; returns its id.

    run(args) runs xdotool with the arguments and returns an object with
    returncode, stdout and stderr (subprocess.CompletedProcess). `find` is
    the arguments of an xdotool search, or a callable that returns the ids
    of the windows; `action` the act's arguments, WINDOW where the id goes.
    """
    deadline = clock() + seconds
    last = "no window was found"
    while True:
        if callable(find):
            windows = find()
        else:
            result = run(list(find))
            windows = result.stdout.split()
            # A search that finds nothing ends with 1 and says nothing.
            if not windows and result.stderr.strip():
                raise WindowActFailed(f"xdotool {' '.join(find)}: {result.stderr.strip()}")
        if windows:
            args = [windows[0] if part is WINDOW else str(part) for part in action]
            result = run(args)
            if result.returncode == 0:
                return windows[0]
            last = f"xdotool {' '.join(args)}: {result.stderr.strip()}"
            if not any(word in result.stderr for word in GONE):
                raise WindowActFailed(last)
        if clock() >= deadline:
            raise WindowActFailed(f"after {seconds} s: {last}")
        sleep(0.1)
