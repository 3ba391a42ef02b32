#!/usr/bin/env python3
"""Terminals as players meet them on Linux: one that takes no control sequences (TERM dumb,
emacs, cons25), a window resized while an answer is typed, and a job continued in the
background by an interactive shell, also one whose read there is refused. The testbed runs
the whole dialogue against a private X server; the answer probe shows the editing keys
alone."""

import shutil
import unittest

from display_xvfb import runs_on_the_display
from expected import (BACKSPACE, CTRL_Z, DELETE, END, ENTER_PROMPT, ENTER_PROMPT_ROW, ESC, HOME,
                      LEFT, MODE_QUESTION, PROBE_READY, SLOT_QUESTION, SLOT_QUESTION_ROW,
                      chosen_line, keep_choice, patched)
from harness import (ANSWER_PROBE, TESTBED, TICKS, UNDER_WINE, game_folder, main, pty_session,
                     ticks_over, tmux_pane, tmux_shell)



def shown_row(written):
    """The row a terminal that knows only CR and BS shows after the bytes written, up to the
    first line feed."""
    row, column = [], 0
    for byte in written.split(b"\n", 1)[0]:
        if byte == 13:
            column = 0
        elif byte == 8:
            column = max(0, column - 1)
        elif byte >= 32:
            row[column:column + 1] = [byte]
            column += 1
    return bytes(row).rstrip(b" ")


@unittest.skipIf(UNDER_WINE, "terminals and job control are the Linux build's")
class terminal_kinds(runs_on_the_display):

    def session(self, program, folder, env):
        s = pty_session(program, folder, env=env)
        self.addCleanup(s.stop)
        return s

    def type_and_see(self, s, asked, key, row):
        """Types key, and waits until the row shows row: each key is taken and drawn before
        the next, as typing by hand does. A control sequence fails at once."""
        s.send(key)
        s.wait_until(lambda: ESC in s.output[asked:] or shown_row(s.output[asked:]) == row,
                     "the row to show %r" % row)
        self.assertNotIn(ESC, s.output[asked:])

    def test_no_control_sequences_where_the_terminal_takes_none(self):
        w, h = self.modes[0]
        for term in ("dumb", "emacs", "cons25"):
            with self.subTest(term), game_folder() as g:
                before = g.write_game()
                s = self.session(TESTBED, g.path, dict(self.display.env, TERM=term))
                s.expect(SLOT_QUESTION)
                s.send(b"1")
                s.expect(MODE_QUESTION)
                asked = len(s.output)
                s.send(b"2")
                s.expect(b"2")  # echoed as typed
                self.type_and_see(s, asked, BACKSPACE, b"")
                self.type_and_see(s, asked, b"1", b"1")
                s.send(b"\r")
                s.expect(ENTER_PROMPT)
                s.send(b"\r")
                self.assertEqual(s.wait(), 0)
                self.assertNotIn(ESC, s.output)
                self.assertEqual(shown_row(s.output[asked:]), b"1")
                self.assertIn(chosen_line(w, h).encode(), s.output)
                self.assertEqual(g.read(), patched(before, 1, 1, w, h))

    def test_editing_keys_where_the_terminal_takes_no_control_sequences(self):
        # (what, keys one by one each with the row shown after it, field): every key edits
        # as on any terminal, and the row shows it.
        cases = [
            ("insert in the middle",
             [(b"1", b"1"), (b"3", b"13"), (LEFT, b"13"), (LEFT, b"13"), (b"2", b"213")],
             b"213"),
            ("Home, Del and End",
             [(b"x", b"x"), (b"1", b"x1"), (b"2", b"x12"), (HOME, b"x12"), (DELETE, b"12"),
              (END, b"12"), (b"3", b"123")], b"123"),
            # A lone Esc is told from a sequence by the pause after it: the next key waits
            # for the erased row.
            ("Esc erases the line",
             [(b"9", b"9"), (b"8", b"98"), (b"7", b"987"), (ESC, b""), (b"5", b"5")], b"5"),
            ("Backspace in the middle",
             [(b"1", b"1"), (b"x", b"1x"), (b"2", b"1x2"), (LEFT, b"1x2"),
              (BACKSPACE, b"12")], b"12"),
            # Too long to be drawn again in place, the line stays as it is until the end.
            ("a line longer than the row",
             [(b"4" * 100, b"4" * 100), (HOME, b"4" * 100), (DELETE, b"4" * 100)], b"4" * 99),
        ]
        for what, steps, field in cases:
            with self.subTest(what), game_folder() as g:
                s = self.session(ANSWER_PROBE, g.path, {"TERM": "dumb"})
                s.expect(PROBE_READY.encode() + b"\r\n")
                asked = len(s.output)
                for key, row in steps:
                    self.type_and_see(s, asked, key, row)
                s.send(b"\r")
                s.expect(b"choice=")
                s.wait()
                self.assertNotIn(ESC, s.output[asked:])
                answer = s.output[asked:s.output.index(b"field=[")]
                # The answer's last row as the terminal shows it: a line too long to be
                # drawn again in place is written once more on a row of its own.
                self.assertEqual(shown_row(answer.rstrip(b"\r\n").rsplit(b"\r\n", 1)[-1]),
                                 field)
                self.assertIn(b"field=[" + field + b"]", s.output)

    def test_redraw_after_a_resize_uses_the_new_width(self):
        with game_folder() as g:
            g.write_game()
            with tmux_pane(TESTBED, g.path, env=self.display.env, columns=80, rows=30) as pane:
                pane.expect(SLOT_QUESTION_ROW)
                pane.send(b"1")
                pane.expect_last_line(keep_choice(self.modes))
                answer = "0123456789" * 15
                pane.send(answer.encode())
                pane.expect_last_line(answer)  # on two rows, joined
                pane.resize(40, 30)
                pane.send(HOME + b"x")

                def after_question():
                    rows = pane.lines()
                    last = max(i for i, row in enumerate(rows)
                               if row.endswith(keep_choice(self.modes)))
                    return rows[last + 1:]

                pane.wait_until(lambda: ("x" + answer) in "".join(after_question()),
                                "the edited answer")
                # Once, and nothing of the line as it was before the resize beside it.
                self.assertEqual(after_question(), ["x" + answer])

    def answer_then_stop(self, pane, command):
        """Starts the tool as the shell's job, chooses slot 1, types 1 as the answer and
        stops the job with Ctrl+Z; gives the job's process id."""
        pane.run(command)
        pane.expect(SLOT_QUESTION_ROW)
        tool = pane.job()
        pane.send(b"1")
        pane.expect_last_line(keep_choice(self.modes))
        pane.send(b"1")
        pane.expect_last_line("1")
        pane.send(CTRL_Z)
        pane.expect_prompt()
        return tool

    def bring_back_and_write(self, pane, g, before):
        """fg: the answer typed before Ctrl+Z shows again, and Enter writes the first mode
        into slot 1."""
        w, h = self.modes[0]
        pane.run("fg")
        pane.expect(tmux_shell.PROMPT.decode() + "fg")
        pane.expect_last_line("1")  # the answer again
        pane.send(b"\r")
        pane.expect(ENTER_PROMPT_ROW)
        pane.send(b"\r")
        pane.expect_prompt()
        self.assertIn(chosen_line(w, h), pane.lines())
        self.assertEqual(g.read(), patched(before, 1, 1, w, h))

    def test_continued_in_the_background_draws_nothing(self):
        # A stopped job continued without the terminal: by a signal, or by the shell's bg,
        # after which the shell itself prints the job's line ending in " &". With SIGTTOU
        # ignored, as a wrapper may leave it, the system no longer stops a background job
        # that sets the terminal's modes: the tool has to see for itself that it is not in
        # the foreground.
        prompt = tmux_shell.PROMPT.decode()
        for continued, shell_row, first in (("kill -CONT %1", None, None), ("bg", " &", None),
                                            ("kill -CONT %1", None, "trap '' TTOU")):
            with self.subTest(continued=continued, first=first), game_folder() as g:
                before = g.write_game()
                with tmux_shell(g.path, env=self.display.env, shell="bash", rows=30) as pane:
                    if first:
                        pane.run(first)
                        pane.expect_prompt()
                    tool = self.answer_then_stop(pane, TESTBED)
                    command = prompt + continued
                    pane.run(continued)
                    pane.expect(command)
                    pane.expect_prompt()
                    # Nothing is to be seen after it, nor any processor time used: what the
                    # tool would draw has had its time, a second, which no text can show. The
                    # shell may report the job stopped again, at once or at its next prompt;
                    # that is the shell's, not the tool's.
                    self.assertLessEqual(ticks_over(pane, tool, 1), 2 * TICKS // 100)
                    rows = pane.lines()
                    after = rows[len(rows) - 1 - rows[::-1].index(command) + 1:]
                    self.assertEqual([row for row in after
                                      if row and row != prompt.rstrip() and "Stopped" not in row
                                      and not (shell_row and row.endswith(shell_row))],
                                     [], rows)
                    self.assertEqual(rows[-1], prompt.rstrip(), rows)
                    self.bring_back_and_write(pane, g, before)

    def test_a_background_read_waits_for_the_foreground(self):
        # With SIGTTIN ignored, as a wrapper may leave it, the system refuses a background
        # job's read instead of stopping the job. The tool waits, without a word and without
        # using the processor, until fg gives it the terminal again; the answer typed before
        # Ctrl+Z is still there.
        prompt = tmux_shell.PROMPT.decode().rstrip()
        with game_folder() as g:
            before = g.write_game()
            with tmux_shell(g.path, env=self.display.env, shell="bash", rows=30) as pane:
                tool = self.answer_then_stop(pane, "env --ignore-signal=TTIN " + TESTBED)
                pane.run("bg")
                pane.expect(prompt + " bg")
                pane.expect_prompt()
                # A command typed for the shell wakes the tool's wait for a key, and its
                # read is refused.
                pane.run("echo shell-still-here")
                pane.expect(prompt + " echo shell-still-here")
                pane.expect_prompt()
                self.assertLessEqual(ticks_over(pane, tool, 1), 2 * TICKS // 100)
                rows = pane.lines()
                self.assertEqual(rows[rows.index(prompt + " echo shell-still-here") + 1:],
                                 ["shell-still-here", prompt], rows)
                self.bring_back_and_write(pane, g, before)


if __name__ == "__main__":
    if not ANSWER_PROBE:
        raise SystemExit("PW_ANSWER_PROBE must name the answer probe")
    if shutil.which("tmux") is None:
        raise SystemExit("tmux is needed for the terminal tests")
    main()
