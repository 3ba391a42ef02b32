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
import subprocess
import sys
import tempfile
import time
import unittest

PROBE = os.environ.get("PW_ANSWER_PROBE", "")
UNDER_WINE = os.environ.get("PW_WINE") == "1"
TIME_LIMIT = 60 if UNDER_WINE else 15
# A paste of 20,000 characters is shown in well under a second, under Wine as well; drawn
# character by character it took half a minute there.
PASTE_LIMIT = 5

ESC = b"\x1b"
LEFT, RIGHT, UP, DOWN = ESC + b"[D", ESC + b"[C", ESC + b"[A", ESC + b"[B"
HOME, END, DELETE = ESC + b"[H", ESC + b"[F", ESC + b"[3~"
READY = "answer?"


class probe_pane:
    """The probe in a tmux pane of a private tmux server, columns wide."""

    def __init__(self, columns=80, rows=12):
        self.folder = tempfile.mkdtemp(prefix="pixelwarde-answer-")
        self.socket = os.path.join(self.folder, "tmux")
        config = os.path.join(self.folder, "tmux.conf")
        with open(config, "w") as f:
            # The pane stays after the probe ends, so that its last screen can be read.
            f.write("set -g remain-on-exit on\nset -g status off\n")
        self.raw = os.path.join(self.folder, "raw")
        self.report_file = os.path.join(self.folder, "report")
        program = ("wine " if UNDER_WINE else "") + PROBE + " report"
        env = dict(os.environ)
        env.pop("DISPLAY", None)
        env.pop("TMUX", None)
        self._tmux(["-f", config, "new-session", "-d", "-x", str(columns), "-y", str(rows),
                    "-c", self.folder, program], env)
        try:
            # Everything the probe writes, byte for byte.
            self._tmux(["pipe-pane", "-o", "cat > " + self.raw])
            self.wait_for(lambda: self.screen()[0] == READY, "the probe to start")
        except BaseException:
            self.close()  # no test holds the pane yet to end it
            raise

    def _tmux(self, args, env=None):
        result = subprocess.run(["tmux", "-S", self.socket] + args, env=env,
                                capture_output=True, timeout=TIME_LIMIT)
        if result.returncode != 0:
            raise AssertionError("tmux %s: %s" % (args, result.stderr))
        return result.stdout.decode("utf-8")

    def send(self, data, pause=0.1):
        """Bytes as the terminal would send them for the keys typed."""
        if data:
            self._tmux(["send-keys", "-H"] + ["%02x" % b for b in data])
        time.sleep(pause)

    def paste(self, text):
        """Text put into the pane at once, as a terminal pastes it."""
        pasted = os.path.join(self.folder, "pasted")
        with open(pasted, "w") as f:
            f.write(text)
        self._tmux(["load-buffer", pasted])
        self._tmux(["paste-buffer", "-d"])

    def screen(self):
        return self._tmux(["capture-pane", "-p"]).split("\n")

    def cursor(self):
        x, y = self._tmux(["display-message", "-p", "#{cursor_x} #{cursor_y}"]).split()
        return int(x), int(y)

    def written(self):
        try:
            with open(self.raw, "rb") as f:
                return f.read()
        except FileNotFoundError:
            return b""

    def wait_for(self, condition, what):
        deadline = time.monotonic() + TIME_LIMIT
        while not condition():
            if time.monotonic() > deadline:
                raise AssertionError("waited in vain for %s; screen: %r" % (what, self.screen()))
            time.sleep(0.05)

    def shows(self, first_row, rows, cursor=None):
        """Waits until the screen shows rows from first_row on, and the cursor at cursor;
        gives what it shows then."""
        def seen():
            return (self.screen()[first_row:first_row + len(rows)],
                    self.cursor() if cursor is not None else None)

        deadline = time.monotonic() + TIME_LIMIT / 4
        while seen() != (rows, cursor) and time.monotonic() < deadline:
            time.sleep(0.05)
        return seen()

    def report(self):
        """Ends the line with Enter and gives the probe's report line."""
        self.send(b"\r", pause=0)
        return self.wait_for_report()

    def wait_for_report(self):
        def reported():
            try:
                with open(self.report_file) as f:
                    return f.read().endswith("\n")
            except FileNotFoundError:
                return False

        self.wait_for(reported, "the probe's report")
        with open(self.report_file) as f:
            return f.read().rstrip("\n")

    def close(self):
        subprocess.run(["tmux", "-S", self.socket, "kill-server"], capture_output=True)
        shutil.rmtree(self.folder, ignore_errors=True)


def report(field, number, choice):
    return "field=[%s] number=%s choice=%s" % (field, number, choice)


class typed_answers(unittest.TestCase):

    def pane(self, **size):
        pane = probe_pane(**size)
        self.addCleanup(pane.close)
        return pane

    def assertShows(self, pane, first_row, rows, cursor):
        self.assertEqual(pane.shows(first_row, rows, cursor), (rows, cursor))

    def test_edited_number(self):
        pane = self.pane()
        pane.send(b"13" + LEFT + LEFT + b"2")
        self.assertShows(pane, 1, ["213"], (1, 1))
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
        self.assertShows(pane, 1, ["12"], (2, 1))
        # The short wait alone must tell the Esc key from a sequence. Wine's console gives
        # the key without its character.
        pane.send(ESC)
        self.assertShows(pane, 1, [""], (0, 1))
        pane.send(b"3")
        self.assertEqual(pane.report(), report("3", 3, 3))

    def test_latin_1_is_shown_as_typed(self):
        pane = self.pane()
        pane.send("\u00fc\u00df".encode("utf-8"))
        self.assertShows(pane, 1, ["\u00fc\u00df"], (2, 1))

    def test_long_line_wraps_and_up_down_move_by_the_width(self):
        pane = self.pane(columns=10)
        pane.send(b"abcdefghijklmnopqrstuvwxy")
        self.assertShows(pane, 1, ["abcdefghij", "klmnopqrst", "uvwxy", ""], (5, 3))
        pane.send(UP + b"#")
        self.assertShows(pane, 1, ["abcdefghij", "klmno#pqrs", "tuvwxy", ""], (6, 2))
        pane.send(UP + UP + b"*")
        self.assertShows(pane, 1, ["abcdef*ghi", "jklmno#pqr", "stuvwxy"], (7, 1))
        pane.send(DOWN + DOWN + DOWN + b"!")
        self.assertShows(pane, 1, ["abcdef*ghi", "jklmno#pqr", "stuvwxy!", ""], (8, 3))
        self.assertEqual(pane.report(), report("abcdef*ghijklmno#pqrstuvwxy!", 0, 0))

    def test_full_rows_and_shrinking_line(self):
        pane = self.pane(columns=10)
        pane.send(b"12345678901234567890")
        self.assertShows(pane, 1, ["1234567890", "1234567890", ""], (0, 3))
        pane.send(b"\x7f")
        self.assertShows(pane, 1, ["1234567890", "123456789", ""], (9, 2))
        pane.send(HOME + DELETE * 12)
        self.assertShows(pane, 1, ["3456789", "", ""], (0, 1))
        self.assertEqual(pane.report(), report("3456789", 3456789, 3456789))

    def test_line_taller_than_the_screen_scrolls(self):
        pane = self.pane(columns=10, rows=6)
        text = b"abcdefghijklmnopqrstuvwxyz" * 3
        # The line first fits below the probe's line, then pushes it off the top.
        pane.send(text[:45])
        self.assertShows(pane, 0, [READY, "abcdefghij", "klmnopqrst", "uvwxyzabcd", "efghijklmn",
                                   "opqrs"], (5, 5))
        pane.send(text[45:55])
        self.assertShows(pane, 0, ["abcdefghij", "klmnopqrst", "uvwxyzabcd", "efghijklmn",
                                   "opqrstuvwx", "yzabc"], (5, 5))
        pane.send(HOME + b"X")
        self.assertShows(pane, 0, ["Xabcdefghi", "jklmnopqrs", "tuvwxyzabc", "defghijklm",
                                   "nopqrstuvw", "xyzabc"], (1, 0))
        pane.send(END + b"\x7f" * 10)
        self.assertShows(pane, 4, ["nopqrs", ""], (6, 4))
        self.assertEqual(pane.report(), report("X" + text[:45].decode(), 0, 0))

    @unittest.skipIf(UNDER_WINE, "the Windows console keeps a line taller than it in its buffer")
    def test_line_longer_than_the_screen(self):
        # 95 characters on a screen of 6 rows of 10: the rows around the cursor are shown.
        pane = self.pane(columns=10, rows=6)
        text = ("abcdefghijklmnopqrstuvwxyz" * 4)[:95]

        def rows(line, first):
            return [line[i:i + 10] for i in range(first * 10, first * 10 + 60, 10)]

        pane.send(text.encode())
        self.assertShows(pane, 0, rows(text, 4), (5, 5))
        pane.send(HOME)
        self.assertShows(pane, 0, rows(text, 0), (0, 0))
        pane.send(b"X")
        text = "X" + text
        self.assertShows(pane, 0, rows(text, 0), (1, 0))
        # Down to the line's eighth row: the window follows the cursor.
        pane.send(DOWN * 7)
        self.assertShows(pane, 0, rows(text, 2), (1, 5))
        pane.send(b"\x7f")
        text = text[:70] + text[71:]
        self.assertShows(pane, 0, rows(text, 2), (0, 5))
        pane.send(UP * 7 + LEFT + RIGHT)
        self.assertShows(pane, 0, rows(text, 0), (1, 0))
        pane.send(END)
        self.assertShows(pane, 0, rows(text, 4)[:5] + [text[90:]], (5, 5))
        self.assertEqual(pane.report(), report(text, 0, 0))

    def test_paste_after_home_writes_little(self):
        # Drawing the line anew for each pasted character wrote half a gigabyte here.
        pane = self.pane()
        pane.send(b"end")
        pane.send(HOME)
        pasted = "0123456789abcdefghijklmnopqrstuvwxyz" * 889  # 32,004 characters
        pane.paste(pasted)
        # The cursor stands before "end", 4 characters into the line's last row.
        self.assertShows(pane, 11, [pasted[-4:] + "end"], (4, 11))
        self.assertEqual(pane.report(), report(pasted[:4096], 123456789, 123456789))
        written = len(pane.written())
        print("\n%d pasted characters after Home: %d bytes written" % (len(pasted), written),
              file=sys.stderr)
        self.assertLess(written, 5_000_000)

    @unittest.skipIf(UNDER_WINE, "Wine's Beep makes no sound a terminal can see")
    def test_del_at_the_end_rings_the_bell(self):
        pane = self.pane()
        pane.send(b"1" + DELETE)
        pane.wait_for(lambda: b"\x07" in pane.written(), "the bell")
        self.assertEqual(pane.report(), report("1", 1, 1))

    def test_pasted_long_line(self):
        # Redrawing the line for every pasted character makes a paste slow, and ever slower
        # as the line grows; drawn once the burst is in, this takes well under a second.
        pane = self.pane()
        text = "0123456789abcdefghijklmnopqrstuvwxyz" * 556  # 20,016 characters
        started = time.monotonic()
        pane.paste(text)
        # The line's last 11 full rows and the 16 characters after them.
        tail = [text[i:i + 80] for i in range(len(text) - 16 - 11 * 80, len(text), 80)]
        seen = pane.shows(0, tail, (16, 11))
        took = time.monotonic() - started
        print("\n%d pasted characters shown in %.2f s" % (len(text), took), file=sys.stderr)
        self.assertLess(took, PASTE_LIMIT)
        self.assertEqual(seen, (tail, (16, 11)))
        self.assertEqual(pane.report(), report(text[:4096], 123456789, 123456789))

    def test_ctrl_enter_ends_the_line(self):
        pane = self.pane()
        pane.send(b"7")
        if UNDER_WINE:
            pane.send(b"\n", pause=0)  # Ctrl+J: the line feed Wine's console gives for it
        else:
            pane.send(b"\x1b[27;5;13~", pause=0)
        self.assertEqual(pane.wait_for_report(), report("7", 7, 7))


if __name__ == "__main__":
    if not PROBE:
        raise SystemExit("PW_ANSWER_PROBE must name the answer probe")
    if UNDER_WINE and not os.environ.get("WINEPREFIX"):
        raise SystemExit("PW_WINE=1 needs WINEPREFIX, the tests' own Wine prefix "
                         "(the build folder's wineprefix)")
    if shutil.which("tmux") is None:
        raise SystemExit("tmux is needed for the terminal tests")
    unittest.main(verbosity=2)
