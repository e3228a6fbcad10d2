#!/usr/bin/python3
"""act_on_window against a scripted xdotool: the races are tried again, the
real failures are not, and the time is bounded."""

import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from xwindow import WINDOW, WindowActFailed, act_on_window  # noqa: E402

FIND = ("search", "--onlyvisible", "--name", "^tessel$")
ACT = ("windowfocus", "--sync", WINDOW)
GONE = "X Error of failed request:  BadWindow (invalid Window parameter)\n"
UNMAPPED = "X Error of failed request:  BadMatch (invalid parameter attributes)\n"


def answer(code=0, out="", err=""):
    return subprocess.CompletedProcess([], code, out, err)


class ScriptedXdotool:
    """Answers the searches and the acts in turn from two lists (the last
    answer of each stays); counts the time as sleep() passes it."""

    def __init__(self, finds, acts):
        self.finds, self.acts = list(finds), list(acts)
        self.calls, self.now = [], 0.0

    def run(self, args):
        self.calls.append(args)
        answers = self.finds if args[0] == "search" else self.acts
        return answers.pop(0) if len(answers) > 1 else answers[0]

    def sleep(self, seconds):
        self.now = round(self.now + seconds, 6)


FOUND = answer(out="4194310\n")
NOT_FOUND = answer(code=1)


class ActOnWindow(unittest.TestCase):
    def test_cases(self):
        # (what, searches, acts, acted on, acts tried, error word)
        cases = (
            ("found and acted at once", [FOUND], [answer()], "4194310", 1, None),
            ("gone between find and act", [FOUND, answer(out="4194333\n")], [answer(1, err=GONE), answer()],
             "4194333", 2, None),
            ("not mapped yet", [FOUND], [answer(1, err=UNMAPPED), answer(1, err=UNMAPPED), answer()],
             "4194310", 3, None),
            ("not there yet", [NOT_FOUND, NOT_FOUND, FOUND], [answer()], "4194310", 1, None),
            ("an act that fails otherwise is not tried again", [FOUND], [answer(1, err="Unknown command: x")],
             None, 1, "Unknown command"),
            ("a search that fails is not tried again", [answer(1, err="Invalid regex")], [answer()], None, 0,
             "Invalid regex"),
            ("always gone: bounded", [FOUND], [answer(1, err=GONE)], None, 101, "BadWindow"),
            ("never there: bounded", [NOT_FOUND], [answer()], None, 0, "no window was found"),
        )
        for what, finds, acts, window, tried, error in cases:
            with self.subTest(what):
                xdotool = ScriptedXdotool(finds, acts)
                call = lambda: act_on_window(xdotool.run, FIND, ACT, seconds=10, clock=lambda: xdotool.now,
                                             sleep=xdotool.sleep)  # noqa: E731
                if error is None:
                    self.assertEqual(call(), window)
                else:
                    with self.assertRaisesRegex(WindowActFailed, error):
                        call()
                    self.assertLessEqual(xdotool.now, 10.1)
                acts_run = [args for args in xdotool.calls if args[0] != "search"]
                self.assertEqual(len(acts_run), tried)
                if window is not None:
                    self.assertEqual(acts_run[-1], ["windowfocus", "--sync", window])

    def test_found_by_a_callable(self):
        """The windows may come from a callable (the test picks among them);
        it is asked again with every try."""
        xdotool = ScriptedXdotool([], [answer(1, err=GONE), answer()])
        lists = [["11"], ["12", "13"]]
        window = act_on_window(xdotool.run, lambda: lists.pop(0), ("key", "--window", WINDOW, "Escape"),
                               clock=lambda: xdotool.now, sleep=xdotool.sleep)
        self.assertEqual(window, "12")
        self.assertEqual(xdotool.calls[-1], ["key", "--window", "12", "Escape"])


if __name__ == "__main__":
    unittest.main()
