#!/usr/bin/env python3
"""A resume that lands between the console's look at its resumed flag and its wait for a key
redraws the line being typed at once, not only at the next key.

The answer probe runs in a pseudo-terminal with a preloaded library (PW_CONTINUE_SHIM) that,
when asked through a trigger file, sends the process the continue signal just before its
next wait for input without a time limit starts.

Environment (set by CTest): PW_ANSWER_PROBE, PW_CONTINUE_SHIM, and what harness.py reads."""

import os
import unittest

from harness import exit_code, game_folder, main, terminal_session

PROBE = os.environ.get("PW_ANSWER_PROBE", "")
SHIM = os.environ.get("PW_CONTINUE_SHIM", "")
REDRAW_LIMIT = 2


class resume_before_the_wait(unittest.TestCase):
    def test_line_redrawn_without_a_key(self):
        with game_folder() as folder:
            trigger = folder.file("continue")
            env = {"LD_PRELOAD": SHIM, "PW_CONTINUE_AT_WAIT": trigger,
                   # The preloaded library comes before the sanitizer's runtime.
                   "ASAN_OPTIONS": os.environ.get("ASAN_OPTIONS", "") +
                   ":verify_asan_link_order=0"}
            session = terminal_session(PROBE, folder.path, env=env)
            try:
                session.expect(b"answer?\r\n")
                session.send(b"1")
                session.expect(b"1")
                open(trigger, "w").close()
                session.send(b"2")
                # The continue signal comes as the probe starts to wait after drawing "12";
                # the redraw must follow at once.
                session.expect(b"\r\x1b[J12", limit=REDRAW_LIMIT)
                self.assertFalse(os.path.exists(trigger), "the wait never took the trigger")
                session.send(b"\r")
                self.assertEqual(exit_code(session.wait()), 0)
                self.assertIn(b"field=[12] number=12 choice=12", session.output)
            finally:
                session.close()


if __name__ == "__main__":
    if not PROBE or not SHIM:
        raise SystemExit("PW_ANSWER_PROBE and PW_CONTINUE_SHIM must name the built programs")
    main()
