#!/usr/bin/env python3
"""Terminals as players meet them on Linux: one that takes no control sequences (TERM dumb,
emacs, cons25), a window resized while an answer is typed, and a job continued in the
background by an interactive shell. The testbed runs the whole dialogue against a private
X server; the answer probe shows the editing keys alone."""

import os
import shutil
import subprocess
import tempfile
import time
import unittest

from display_xvfb import kernel_modes, xvfb
from expected import patched
from harness import (TESTBED, TIME_LIMIT, UNDER_WINE, children, environment, exit_code,
                     game_folder, main, pty_session)

PROBE = os.environ.get("PW_ANSWER_PROBE", "")
SCREEN = (1600, 900)
ESC = b"\x1b"
LEFT, HOME, END, DELETE = ESC + b"[D", ESC + b"[H", ESC + b"[F", ESC + b"[3~"
BACKSPACE = b"\x7f"
SLOT_QUESTION = b"Welche Aufloesung soll veraendert werden?\r\n\r\n"
MODE_QUESTION = b"Slot nicht veraendern\r\n"
ENTER_QUESTION = b"(Enter zum Beenden druecken)\r\n"
PROMPT = "pw-shell$ "
TICKS = os.sysconf("SC_CLK_TCK")


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


def processor_ticks(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])


def child_of(pid):
    """The one child process of pid."""
    found = children(pid)
    assert len(found) == 1, found
    return found[0]


class tmux_pane:
    """A command in the one pane of a private tmux server (its own socket), started in
    folder; the server is ended by that socket."""

    def __init__(self, command, folder, env, columns=80, rows=30):
        self.scratch = tempfile.mkdtemp(prefix="pixelwarde-tmux-")
        self.socket = os.path.join(self.scratch, "socket")
        config = os.path.join(self.scratch, "tmux.conf")
        with open(config, "w") as f:
            f.write("set -g status off\nset -g remain-on-exit on\n")
        env = dict(env)
        env.pop("TMUX", None)
        self._tmux(["-f", config, "new-session", "-d", "-x", str(columns), "-y", str(rows),
                    "-c", folder] + command, env)

    def _tmux(self, args, env=None):
        result = subprocess.run(["tmux", "-S", self.socket] + args, env=env,
                                capture_output=True, timeout=TIME_LIMIT)
        if result.returncode != 0:
            raise AssertionError("tmux %s: %s" % (args, result.stderr))
        return result.stdout.decode("utf-8", "replace")

    def send(self, data):
        """Bytes as the terminal sends them for the keys typed."""
        self._tmux(["send-keys", "-H"] + ["%02x" % b for b in data])

    def lines(self):
        """The screen, rows that wrapped joined into one line, trailing blank rows dropped."""
        rows = self._tmux(["capture-pane", "-p", "-J"]).split("\n")
        while rows and not rows[-1].strip():
            rows.pop()
        return [row.rstrip(" ") for row in rows]

    def wait_for(self, condition, what):
        deadline = time.monotonic() + TIME_LIMIT
        while not condition(self.lines()):
            if time.monotonic() > deadline:
                raise AssertionError("waited in vain for %s; screen: %r" % (what, self.lines()))
            time.sleep(0.05)
        return self.lines()

    def resize(self, columns, rows):
        self._tmux(["resize-window", "-x", str(columns), "-y", str(rows)])

    def first_process(self):
        return int(self._tmux(["display-message", "-p", "#{pane_pid}"]))

    def close(self):
        subprocess.run(["tmux", "-S", self.socket, "kill-server"], capture_output=True,
                       timeout=TIME_LIMIT)
        shutil.rmtree(self.scratch, ignore_errors=True)


@unittest.skipIf(UNDER_WINE, "terminals and job control are the Linux build's")
class terminal_kinds(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.server = xvfb("%dx%dx24" % SCREEN).__enter__()
        cls.env = {"DISPLAY": cls.server.display}
        cls.first_mode = sorted({SCREEN} | kernel_modes())[0]

    @classmethod
    def tearDownClass(cls):
        cls.server.__exit__(None, None, None)

    def session(self, program, folder, env):
        s = pty_session(program, folder, env=env)
        self.addCleanup(s.stop)
        return s

    def pane(self, command, folder, **size):
        pane = tmux_pane(command, folder, environment(self.env), **size)
        self.addCleanup(pane.close)
        return pane

    def test_no_control_sequences_where_the_terminal_takes_none(self):
        w, h = self.first_mode
        for term in ("dumb", "emacs", "cons25"):
            with self.subTest(term), game_folder() as g:
                before = g.write_game()
                s = self.session(TESTBED, g.path, dict(self.env, TERM=term))
                s.expect(SLOT_QUESTION)
                s.send(b"1")
                s.expect(MODE_QUESTION)
                asked = len(s.output)
                s.send(b"2")
                s.expect(b"2")  # echoed as typed, after the mode block
                s.send(BACKSPACE)
                s.send(b"1")
                s.send(b"\r")
                s.expect(ENTER_QUESTION)
                s.send(b"\r")
                self.assertEqual(exit_code(s.wait()), 0)
                self.assertNotIn(ESC, s.output)
                self.assertEqual(shown_row(s.output[asked:]), b"1")
                self.assertIn(b"Sie haben die Aufloesung %dx%d gewaehlt." % (w, h), s.output)
                self.assertEqual(g.read(), patched(before, 1, 1, w, h))

    def test_editing_keys_where_the_terminal_takes_no_control_sequences(self):
        # (what, keys one by one, field): every key edits as on any terminal, and the row
        # shows it.
        cases = [
            ("insert in the middle", [b"1", b"3", LEFT, LEFT, b"2"], b"213"),
            ("Home, Del and End", [b"x", b"1", b"2", HOME, DELETE, END, b"3"], b"123"),
            ("Esc erases the line", [b"9", b"8", b"7", ESC, b"5"], b"5"),
            ("Backspace in the middle", [b"1", b"x", b"2", LEFT, BACKSPACE], b"12"),
            ("a line longer than the row", [b"4" * 100, HOME, DELETE], b"4" * 99),
        ]
        for what, keys, field in cases:
            with self.subTest(what), game_folder() as g:
                s = self.session(PROBE, g.path, {"TERM": "dumb"})
                s.expect(b"answer?\r\n")
                asked = len(s.output)
                for key in keys:
                    s.send(key)
                    # A lone Esc is told from a sequence by the pause after it, longer than
                    # the tool's escape wait; the other keys are spaced as typed by hand.
                    time.sleep(0.2 if key == ESC else 0.05)
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
            pane = self.pane([TESTBED], g.path, columns=80, rows=30)
            pane.wait_for(lambda rows: "Welche Aufloesung soll veraendert werden?" in rows,
                          "the slot question")
            pane.send(b"1")
            pane.wait_for(lambda rows: rows[-1].endswith("Slot nicht veraendern"),
                          "the mode question")
            answer = "0123456789" * 15
            pane.send(answer.encode())
            pane.wait_for(lambda rows: rows[-1] == answer, "the answer on two rows")
            pane.resize(40, 30)
            pane.send(HOME + b"x")

            def after_question(rows):
                last = max(i for i, row in enumerate(rows) if row.endswith("nicht veraendern"))
                return rows[last + 1:]

            pane.wait_for(lambda rows: ("x" + answer) in "".join(after_question(rows)),
                          "the edited answer")
            # Once, and nothing of the line as it was before the resize beside it.
            self.assertEqual(after_question(pane.lines()), ["x" + answer])

    def test_continued_in_the_background_draws_nothing(self):
        w, h = self.first_mode
        with game_folder() as g:
            before = g.write_game()
            env = {"PS1": PROMPT, "TERM": "xterm", "HISTFILE": "/dev/null"}
            pane = self.pane(["env"] + ["%s=%s" % kv for kv in env.items()] +
                             ["bash", "--norc", "--noprofile", "-i"], g.path)
            pane.wait_for(lambda rows: rows and rows[-1] == PROMPT.rstrip(), "the prompt")
            pane.send(TESTBED.encode() + b"\r")
            pane.wait_for(lambda rows: "Welche Aufloesung soll veraendert werden?" in rows,
                          "the slot question")
            tool = child_of(pane.first_process())
            pane.send(b"1")
            pane.wait_for(lambda rows: rows[-1].endswith("Slot nicht veraendern"),
                          "the mode question")
            pane.send(b"1")
            pane.wait_for(lambda rows: rows[-1] == "1", "the answer")
            pane.send(b"\x1a")  # Ctrl+Z
            pane.wait_for(lambda rows: rows[-1] == PROMPT.rstrip(), "the prompt after Ctrl+Z")
            pane.send(b"kill -CONT %1\r")
            command = PROMPT + "kill -CONT %1"
            pane.wait_for(lambda rows: rows[-1] == PROMPT.rstrip() and command in rows,
                          "the prompt after kill -CONT")
            # Nothing is to be seen after it, nor any processor time used: what the tool
            # would draw has had its time. The shell may report the job stopped again, at
            # once or at its next prompt; that is the shell's, not the tool's.
            ticks = processor_ticks(tool)
            time.sleep(1)
            self.assertLessEqual(processor_ticks(tool) - ticks, 2 * TICKS // 100)
            rows = pane.lines()
            after = rows[len(rows) - 1 - rows[::-1].index(command) + 1:]
            self.assertEqual([row for row in after
                              if row and row != PROMPT.rstrip() and "Stopped" not in row],
                             [], rows)
            self.assertEqual(rows[-1], PROMPT.rstrip(), rows)
            pane.send(b"fg\r")
            pane.wait_for(lambda rows: rows[-1] == "1" and (PROMPT + "fg") in rows,
                          "the answer again after fg")
            pane.send(b"\r")
            pane.wait_for(lambda rows: ENTER_QUESTION.decode().strip() in rows,
                          "the Enter prompt")
            pane.send(b"\r")
            rows = pane.wait_for(lambda rows: rows[-1] == PROMPT.rstrip(), "the tool's end")
            self.assertIn("Sie haben die Aufloesung %dx%d gewaehlt." % (w, h), rows)
            self.assertEqual(g.read(), patched(before, 1, 1, w, h))


if __name__ == "__main__":
    if not PROBE:
        raise SystemExit("PW_ANSWER_PROBE must name the answer probe")
    if shutil.which("tmux") is None:
        raise SystemExit("tmux is needed for the terminal tests")
    main()
