#!/usr/bin/env python3
"""A resume that lands between the console's look at its resumed flag and its wait for a key
redraws the line being typed at once, not only at the next key.

The answer probe runs in a pseudo-terminal with a preloaded library (PW_CONTINUE_SHIM) that,
when asked through a trigger file, sends the process the continue signal just before its
next wait for input without a time limit starts.

Environment (set by CTest): PW_ANSWER_PROBE, PW_CONTINUE_SHIM, and what harness.py reads."""

import os
import unittest

from expected import PROBE_READY, probe_report
from harness import ANSWER_PROBE, game_folder, main, pty_session

SHIM = os.environ.get("PW_CONTINUE_SHIM", "")
REDRAW_LIMIT = 2


def waits_in_poll(pid):
    """Whether the process sleeps in poll or ppoll."""
    with open("/proc/%d/wchan" % pid) as f:
        return "poll" in f.read()


class resume_before_the_wait(unittest.TestCase):
    def test_line_redrawn_without_a_key(self):
        with game_folder() as folder:
            trigger = folder.file("continue")
            env = {"LD_PRELOAD": SHIM, "PW_CONTINUE_AT_WAIT": trigger,
                   # The preloaded library comes before the sanitizer's runtime.
                   "ASAN_OPTIONS": os.environ.get("ASAN_OPTIONS", "") +
                   ":verify_asan_link_order=0"}
            with pty_session(ANSWER_PROBE, folder.path, env=env) as s:
                s.expect(PROBE_READY.encode() + b"\r\n")
                s.send(b"1")
                s.expect(b"1")
                # The trigger is for the wait after "12": the wait after "1" must have begun.
                s.wait_until(lambda: waits_in_poll(s.pid), "the probe to wait for a key")
                open(trigger, "w").close()
                s.send(b"2")
                # The continue signal comes as the probe starts to wait after drawing "12";
                # the redraw must follow at once.
                s.expect(b"\r\x1b[J12", limit=REDRAW_LIMIT)
                self.assertFalse(os.path.exists(trigger), "the wait never took the trigger")
                s.send(b"\r")
                self.assertEqual(s.wait(), 0)
                self.assertIn(probe_report("12", 12, 12).encode(), s.output)


if __name__ == "__main__":
    if not ANSWER_PROBE or not SHIM:
        raise SystemExit("PW_ANSWER_PROBE and PW_CONTINUE_SHIM must name the built programs")
    main()
