#!/usr/bin/env python3
"""Typed answers on a real terminal: the answer probe runs in a tmux pane (on the Windows
build under Wine, whose console then draws into that pane), keys are written as a terminal
sends them, and both the answer the probe reports and the screen tmux shows are checked.

Environment (set by CTest):
  PW_ANSWER_PROBE  the answer probe program
  PW_WINE          "1" for the Windows build, with WINEPREFIX: the tests' own prefix, never
                   the user's
"""

import os
import shutil
import sys
import unittest

from expected import (DELETE, DOWN, END, ESC, HOME, LEFT, PROBE_READY as READY, RIGHT, UP,
                      probe_report as report)
from harness import (ANSWER_PROBE, UNDER_WINE, command, game_folder, own_wine_prefix, tmux_pane,
                     write_calls)


class probe_pane(tmux_pane):
    """The probe in a tmux pane, reporting each answer into the file "report" of its
    folder."""

    def __init__(self, folder, columns=80, rows=12):
        self.report_file = os.path.join(folder, "report")
        super().__init__(ANSWER_PROBE, folder, columns=columns, rows=rows,
                         argv=command(ANSWER_PROBE) + ["report"])
        try:
            self.wait_until(lambda: self.screen()[0] == READY, "the probe to start")
        except BaseException:
            self.stop()  # no test holds the pane yet to end it
            raise

    def report(self):
        """Ends the line with Enter and gives the probe's report line."""
        self.send(b"\r")
        return self.wait_for_report()

    def wait_for_report(self):
        def reported():
            try:
                with open(self.report_file) as f:
                    return f.read().endswith("\n")
            except FileNotFoundError:
                return False

        self.wait_until(reported, "the probe's report")
        with open(self.report_file) as f:
            return f.read().rstrip("\n")


class typed_answers(unittest.TestCase):

    def pane(self, **size):
        folder = game_folder().__enter__()
        self.addCleanup(folder.__exit__, None, None, None)
        pane = probe_pane(folder.path, **size)
        self.addCleanup(pane.stop)
        return pane

    def write_calls_a_key(self, pane, text):
        """Types text on an empty line a key at a time, each drawn before the next is sent;
        gives the write calls a key cost."""
        before = write_calls(pane.pid)
        for typed in range(1, len(text) + 1):
            pane.send(text[typed - 1].encode())
            pane.expect_rows(1, [text[:typed]], (typed, 1))
        return (write_calls(pane.pid) - before) / len(text)

    def assert_drawn_by_bursts(self, pasted, writes, per_key):
        print("\n%d pasted characters: %d write calls, %.1f a key typed alone"
              % (len(pasted), writes, per_key), file=sys.stderr)
        # A drawing for each pasted character would cost as much as typing them; drawn once
        # a burst of them is in, far less.
        self.assertLess(writes, len(pasted) * per_key / 10)

    def test_edited_number(self):
        pane = self.pane()
        pane.send(b"13" + LEFT + LEFT + b"2")
        pane.expect_rows(1, ["213"], (1, 1))
        self.assertEqual(pane.report(), report("213", 213, 213))

    def test_editing_keys(self):
        # A Windows console hands characters over in its input code page; Wine's is an OEM
        # page (437 or 850), in which a-umlaut is 84. The Linux line holds Latin-1.
        a_umlaut = "<84>" if UNDER_WINE else "<e4>"
        # (what, bytes typed, field)
        cases = [
            ("Home as ESC [ H, End as ESC [ F", b"23" + HOME + b"1" + END + b"4", "1234"),
            ("Home as ESC O H, End as ESC O F", b"23\x1bOH1\x1bOF4", "1234"),
            ("Del as ESC [ 3 ~", b"1x2" + LEFT + LEFT + DELETE, "12"),
            ("Right arrow", b"13" + HOME + RIGHT + b"2", "123"),
            ("Backspace as 127", b"12\x7f3", "13"),
            ("Backspace as 8", b"12\x083", "13"),
            ("Tab to the next multiple of 8", b"1\t2", "1       2"),
            ("a Latin-1 character typed as UTF-8", "4\u00e45".encode("utf-8"),
             "4" + a_umlaut + "5"),
        ]
        if not UNDER_WINE:
            # Wine's console reads neither of these forms.
            cases += [
                ("Home as ESC [ 1 ~, End as ESC [ 4 ~", b"23\x1b[1~1\x1b[4~4", "1234"),
                ("Home as ESC [ 7 ~, End as ESC [ 8 ~", b"23\x1b[7~1\x1b[8~4", "1234"),
            ]
        for what, typed, field in cases:
            with self.subTest(what):
                pane = self.pane()
                pane.send(typed)
                self.assertEqual(pane.report().split("]")[0], "field=[" + field)

    def test_escape_alone_erases_the_line(self):
        pane = self.pane()
        pane.send(b"12")
        pane.expect_rows(1, ["12"], (2, 1))
        # The short wait alone must tell the Esc key from a sequence. Wine's console gives
        # the key without its character.
        pane.send(ESC)
        pane.expect_rows(1, [""], (0, 1))
        pane.send(b"3")
        self.assertEqual(pane.report(), report("3", 3, 3))

    def test_latin_1_is_shown_as_typed(self):
        pane = self.pane()
        pane.send("\u00fc\u00df".encode("utf-8"))
        pane.expect_rows(1, ["\u00fc\u00df"], (2, 1))

    def test_long_line_wraps_and_up_down_move_by_the_width(self):
        pane = self.pane(columns=10)
        pane.send(b"abcdefghijklmnopqrstuvwxy")
        pane.expect_rows(1, ["abcdefghij", "klmnopqrst", "uvwxy", ""], (5, 3))
        pane.send(UP + b"#")
        pane.expect_rows(1, ["abcdefghij", "klmno#pqrs", "tuvwxy", ""], (6, 2))
        pane.send(UP + UP + b"*")
        pane.expect_rows(1, ["abcdef*ghi", "jklmno#pqr", "stuvwxy"], (7, 1))
        pane.send(DOWN + DOWN + DOWN + b"!")
        pane.expect_rows(1, ["abcdef*ghi", "jklmno#pqr", "stuvwxy!", ""], (8, 3))
        self.assertEqual(pane.report(), report("abcdef*ghijklmno#pqrstuvwxy!", 0, 0))

    def test_full_rows_and_shrinking_line(self):
        pane = self.pane(columns=10)
        pane.send(b"12345678901234567890")
        pane.expect_rows(1, ["1234567890", "1234567890", ""], (0, 3))
        pane.send(b"\x7f")
        pane.expect_rows(1, ["1234567890", "123456789", ""], (9, 2))
        pane.send(HOME + DELETE * 12)
        pane.expect_rows(1, ["3456789", "", ""], (0, 1))
        self.assertEqual(pane.report(), report("3456789", 3456789, 3456789))

    def test_line_taller_than_the_screen_scrolls(self):
        pane = self.pane(columns=10, rows=6)
        text = b"abcdefghijklmnopqrstuvwxyz" * 3
        # The line first fits below the probe's line, then pushes it off the top.
        pane.send(text[:45])
        pane.expect_rows(0, [READY, "abcdefghij", "klmnopqrst", "uvwxyzabcd", "efghijklmn",
                                   "opqrs"], (5, 5))
        pane.send(text[45:55])
        pane.expect_rows(0, ["abcdefghij", "klmnopqrst", "uvwxyzabcd", "efghijklmn",
                                   "opqrstuvwx", "yzabc"], (5, 5))
        pane.send(HOME + b"X")
        pane.expect_rows(0, ["Xabcdefghi", "jklmnopqrs", "tuvwxyzabc", "defghijklm",
                                   "nopqrstuvw", "xyzabc"], (1, 0))
        pane.send(END + b"\x7f" * 10)
        pane.expect_rows(4, ["nopqrs", ""], (6, 4))
        self.assertEqual(pane.report(), report("X" + text[:45].decode(), 0, 0))

    @unittest.skipIf(UNDER_WINE, "the Windows console keeps a line taller than it in its buffer")
    def test_line_longer_than_the_screen(self):
        # 95 characters on a screen of 6 rows of 10: the rows around the cursor are shown.
        pane = self.pane(columns=10, rows=6)
        text = ("abcdefghijklmnopqrstuvwxyz" * 4)[:95]

        def rows(line, first):
            return [line[i:i + 10] for i in range(first * 10, first * 10 + 60, 10)]

        pane.send(text.encode())
        pane.expect_rows(0, rows(text, 4), (5, 5))
        pane.send(HOME)
        pane.expect_rows(0, rows(text, 0), (0, 0))
        pane.send(b"X")
        text = "X" + text
        pane.expect_rows(0, rows(text, 0), (1, 0))
        # Down to the line's eighth row: the window follows the cursor.
        pane.send(DOWN * 7)
        pane.expect_rows(0, rows(text, 2), (1, 5))
        pane.send(b"\x7f")
        text = text[:70] + text[71:]
        pane.expect_rows(0, rows(text, 2), (0, 5))
        pane.send(UP * 7 + LEFT + RIGHT)
        pane.expect_rows(0, rows(text, 0), (1, 0))
        pane.send(END)
        pane.expect_rows(0, rows(text, 4)[:5] + [text[90:]], (5, 5))
        self.assertEqual(pane.report(), report(text, 0, 0))

    def test_paste_after_home_writes_little(self):
        # Drawing the line anew for each pasted character wrote half a gigabyte here.
        pane = self.pane()
        per_key = self.write_calls_a_key(pane, "the-end")
        pane.send(HOME)
        pasted = "0123456789abcdefghijklmnopqrstuvwxyz" * 889  # 32,004 characters
        before = write_calls(pane.pid)
        pane.paste(pasted)
        # The cursor stands before "the-end", 4 characters into the line's last row.
        pane.expect_rows(11, [pasted[-4:] + "the-end"], (4, 11))
        self.assert_drawn_by_bursts(pasted, write_calls(pane.pid) - before, per_key)
        written = len(pane.whole_output())
        print("%d bytes written in all" % written, file=sys.stderr)
        self.assertLess(written, 5_000_000)
        self.assertEqual(pane.report(), report(pasted[:4096], 123456789, 123456789))

    @unittest.skipIf(UNDER_WINE, "Wine's Beep makes no sound a terminal can see")
    def test_del_at_the_end_rings_the_bell(self):
        pane = self.pane()
        pane.send(b"1" + DELETE)
        pane.wait_until(lambda: b"\x07" in pane.output, "the bell")
        self.assertEqual(pane.report(), report("1", 1, 1))

    def test_pasted_long_line(self):
        pane = self.pane()
        text = "0123456789abcdefghijklmnopqrstuvwxyz" * 556  # 20,016 characters
        per_key = self.write_calls_a_key(pane, text[:10])
        before = write_calls(pane.pid)
        pane.paste(text[10:])
        # The line's last 11 full rows and the 16 characters after them.
        tail = [text[i:i + 80] for i in range(len(text) - 16 - 11 * 80, len(text), 80)]
        pane.expect_rows(0, tail, (16, 11))
        self.assert_drawn_by_bursts(text[10:], write_calls(pane.pid) - before, per_key)
        self.assertEqual(pane.report(), report(text[:4096], 123456789, 123456789))

    def test_ctrl_enter_ends_the_line(self):
        pane = self.pane()
        pane.send(b"7")
        if UNDER_WINE:
            pane.send(b"\n")  # Ctrl+J: the line feed Wine's console gives for it
        else:
            pane.send(b"\x1b[27;5;13~")
        self.assertEqual(pane.wait_for_report(), report("7", 7, 7))


if __name__ == "__main__":
    if not ANSWER_PROBE:
        raise SystemExit("PW_ANSWER_PROBE must name the answer probe")
    if UNDER_WINE:
        own_wine_prefix()
    if shutil.which("tmux") is None:
        raise SystemExit("tmux is needed for the terminal tests")
    unittest.main(verbosity=2)
