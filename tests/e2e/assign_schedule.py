"""The fixed waits between the reply going out and the outcome being shown,
per path of an assignment, as the program must keep them: the floor below
which no run can finish. The end-to-end scenarios check runs against it and
the assignment benchmark prints runs as ratios to it.

Procedure (network thread): 8.4 s and 4.4 s for the restart, then the port
probe polled every 0.14 s, then the form store polled every 0.14 s for at
most 2.8 s. Progress display: it closes 0.24 s after its bar is full; a
stage 4 first shown moves its deadline to 14 s later; stage 1 first shown
moves it to 30 s later. Then the final check: 0.14 s, 14 s, 0.24 s.
"""

RESTART = 8.4 + 4.4
POLL = 0.14
HTTP_LIMIT = 20 * POLL
CLOSE = 0.24
RETRY = POLL + 14.0 + CLOSE
VERIFIED_DEADLINE = 14.0
REPLIED_DEADLINE = 30.0

# Reply sent -> outcome shown, seconds.
FLOOR = {
    # stored by the form: verified at the first poll, stored at the next
    "http": RESTART + POLL + POLL + CLOSE + RETRY,
    # the form not confirmed within 2.8 s, the FTP store (no wait of its own)
    "ftp": RESTART + POLL + HTTP_LIMIT + CLOSE + RETRY,
    # verified, nothing stored: the display waits 14 s after showing stage 4
    "verified": RESTART + POLL + VERIFIED_DEADLINE + CLOSE + RETRY,
    # not verified: the display waits 30 s after showing stage 1
    "replied": REPLIED_DEADLINE + CLOSE + RETRY,
}

# One progress cycle is 1.4 s and the shown stage climbs one step per cycle,
# so a run may stand up to a few cycles above its floor; more is a fault.
SLACK = 6.0

# Reply sent -> first connection to port 80 (the verification).
PROBE_AFTER_REPLY = RESTART
