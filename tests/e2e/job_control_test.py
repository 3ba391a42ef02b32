#!/usr/bin/env python3
"""Ctrl+Z and fg as a user meets them: the testbed runs as a foreground job of an interactive
job-control shell (dash, which leaves the terminal settings to its jobs) in a pseudo-terminal.
At each prompt Ctrl+Z must stop it with the terminal given back and no processor time used;
fg must bring it back in raw mode, and the run must then end with the right file bytes."""

import unittest

from display_xvfb import SCREEN, kernel_modes, xvfb
from expected import CTRL_Z, ENTER_PROMPT, MODE_QUESTION, SLOT_QUESTION, chosen_line, patched
from harness import (TESTBED, TICKS, UNDER_WINE, game_folder, main, process_stat, shell_session,
                     ticks_over)

# How long the processor time of a waiting job is watched.
WATCHED = 0.5


@unittest.skipIf(UNDER_WINE, "job control is for the Linux build")
class stopped_and_continued(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.server = xvfb("%dx%dx24" % SCREEN).__enter__()
        cls.env = {"DISPLAY": cls.server.display}
        cls.first_mode = sorted({SCREEN} | kernel_modes())[0]

    @classmethod
    def tearDownClass(cls):
        cls.server.__exit__(None, None, None)

    def stop_and_continue(self, s, job):
        s.send(CTRL_Z)
        s.expect_prompt()
        state, _ = process_stat(job)
        self.assertEqual(state, "T")
        self.assertTrue(s.terminal_echoes())
        self.assertEqual(ticks_over(s, job, WATCHED), 0)
        s.run("fg")
        s.expect(TESTBED.encode() + b"\r\n")
        s.wait_until(lambda: not s.terminal_echoes(), "raw mode after fg")
        # Waiting for a key again, not spinning.
        self.assertLessEqual(ticks_over(s, job, WATCHED), 2 * TICKS // 100)
        self.assertEqual(process_stat(job)[0], "S")

    def test_ctrl_z_at_every_prompt(self):
        w, h = self.first_mode
        # (prompt, the keys that lead there, each with what shows after it; keys after fg,
        # what is redrawn after fg)
        prompts = [
            ("slot choice", [], b"51\r", None),
            ("typed answer", [(b"5", MODE_QUESTION), (b"1", b"1")], b"\r", b"\r\x1b[J1"),
            ("Enter prompt", [(b"5", MODE_QUESTION), (b"1", b"1"), (b"\r", ENTER_PROMPT)], b"",
             None),
        ]
        for what, steps, after_keys, redrawn in prompts:
            with self.subTest(what), game_folder() as g:
                before = g.write_game()
                with shell_session(g.path, self.env) as s:
                    s.run(TESTBED)
                    s.expect(SLOT_QUESTION)
                    job = s.job()
                    for key, shows in steps:
                        s.send(key)
                        s.expect(shows)
                    self.stop_and_continue(s, job)
                    if redrawn:
                        self.assertIn(redrawn, s.output.rsplit(TESTBED.encode() + b"\r\n", 1)[1])
                    if after_keys:
                        s.send(after_keys)
                        s.expect(ENTER_PROMPT)
                    s.send(b"\r")
                    s.expect_prompt()
                    self.assertIn(chosen_line(w, h).encode(), s.output)
                    self.assertTrue(s.terminal_echoes())
                    self.assertEqual(g.read(), patched(before, 1, 5, w, h))
                    s.exit()


if __name__ == "__main__":
    main()
