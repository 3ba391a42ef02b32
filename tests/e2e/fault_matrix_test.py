#!/usr/bin/env python3
"""The fault matrix, end to end on the built programs: odd things named like the game file,
hostile input at every prompt, output that goes away, and a refused write through a
symbolic link (signals at every prompt are in dialogue_test). Every case ends with status
0, the exact lines, within the time limit, and leaves the game file as it was unless the
case completes a patch."""

import math
import os
import random
import re
import shutil
import sys
import time
import unittest

from display_xvfb import runs_on_the_display
from expected import (ALTERED_1, ALTERED_2, CRLF, ENTER_PROMPT, KEPT, LENGTH_1, LENGTH_2,
                      MODE_QUESTION, NO_TEXT, NOT_FOUND, NOT_WRITTEN, SLOTS, TITLE, TITLE_LINE,
                      chosen, chosen_line, found, lines, listing, mode_block, patched,
                      slot_listing)
from harness import (PROGRAM, TESTBED, TIME_LIMIT, UNDER_WINE, command, game_folder, main,
                     piped_session, pty_session, read_calls, run_piped,
                     waits_for_input_without_limit)
import releases

# Root reads and writes whatever the mode bits say; the user "nobody" does not.
AS_NOBODY = (["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]
             if os.geteuid() == 0 else [])

# Bytes a terminal turns into signals (Ctrl+C, Ctrl+\, Ctrl+Z): the interrupt tests (in
# dialogue_test, on a pipe and in a terminal) and the job control tests cover them.
SIGNAL_BYTES = b"\x03\x1c\x1a"


def run_as(as_nobody, program, folder, data, env=None):
    argv = None
    if as_nobody and AS_NOBODY:
        # The build folder may be out of nobody's reach: the program goes into the game
        # folder, where users put it anyway.
        program = shutil.copy(program, folder)
        argv = AS_NOBODY + command(program)
    return run_piped(program, folder, data, env=env, argv=argv)


# What a run with piped input must print, worked out from the keys alone. Piped bytes are
# keys: CR, LF and CR LF one Enter, 127 Backspace; a typed answer is echoed as it grows.

def piped_keys(data):
    keys, after_cr = [], False
    for b in data:
        if b == 10 and after_cr:
            after_cr = False
            continue
        after_cr = b == 13
        keys.append(13 if b in (10, 13) else 8 if b == 127 else b)
    return keys


NUMBER = re.compile(
    rb"[ \t\n\v\f\r]*([+-]?)(?:0[xX]((?:[0-9a-fA-F]+\.?[0-9a-fA-F]*|\.[0-9a-fA-F]+)"
    rb"(?:[pP][+-]?[0-9]+)?)|((?:[0-9]+\.?[0-9]*|\.[0-9]+)(?:[eE][+-]?[0-9]+)?)|(inf|nan))",
    re.IGNORECASE)


def answer_choice(line):
    """The whole number a typed line stands for, or None for no number in range."""
    line = line.lstrip(b" ")
    if line.startswith(b'"'):
        field = line[1:].split(b'"')[0]
    else:
        field = line.split(b",")[0]
    text = field[:4096].lstrip(b" ")
    if text[:1] == b"&" and len(text) >= 2:
        base = {b"h": 16, b"b": 2, b"o": 8}.get(text[1:2].lower())
        digits, base = (text[2:], base) if base else (text[1:], 8)
        value = 0
        for c in digits.lower():
            d = b"0123456789abcdef"[:base].find(bytes([c]))
            if d < 0:
                break
            value = (value * base + d) % 2**64
        number = float(value - 2**64 if value >= 2**63 else value)
    else:
        m = NUMBER.match(text.replace(b"d", b"E").replace(b"D", b"E"))
        if not m:
            return 0
        if m.group(4):
            return None
        try:
            number = float.fromhex("0x" + m.group(2).decode()) if m.group(2) else float(m.group(3))
        except OverflowError:
            return None
        if m.group(1) == b"-":
            number = -number
    if math.isinf(number) or abs(number) >= 2.0**63:
        return None
    return round(number)  # ties to even


def piped_run(data, modes, name="cstrike.exe"):
    """(standard output, (slot, w, h) written or None) of a run on data as input."""
    keys = iter(piped_keys(data))
    out = listing(name)
    slot = next((k - 0x30 for k in keys if 0x31 <= k <= 0x39), None)
    if slot in (None, 9):
        return out, None
    written = None
    while True:
        out += mode_block(slot, modes)
        line, ended = bytearray(), False
        for k in keys:
            if k == 13:
                ended = True
                break
            if k == 8:
                del line[-1:]
            elif k == 9:
                blanks = b" " * (8 - len(line) % 8)
                line += blanks
                out += blanks
            elif k == 27:
                line.clear()
            elif k >= 32:
                line.append(k)
                out += bytes([k])
        if not ended:
            return out, None
        out += CRLF
        c = answer_choice(bytes(line))
        if c == len(modes) + 1:
            out += KEPT
            break
        if c is not None and 1 <= c <= len(modes):
            w, h = modes[c - 1]
            out += chosen(w, h)
            written = (slot, w, h)
            break
    return out + ENTER_PROMPT, written


def random_bytes(seed, count=4096):
    return random.Random(seed).randbytes(count)


class odd_files(unittest.TestCase):
    """Things named like the game file that are not one, or not one of ours."""

    def test_runs_end_with_the_right_lines(self):
        # (what, makes the folder's content, program, runs as nobody, lines after the title).
        # Each maker returns the files that must stay as they were.
        def folder(g, hl=False):
            os.mkdir(g.file("cstrike.exe"))
            return {"hl.exe": g.write_game("hl.exe", row=2, slots=SLOTS)} if hl else {}

        def fifo(g, hl=False):
            os.mkfifo(g.file("cstrike.exe"))
            return {"hl.exe": g.write_game("hl.exe", row=2, slots=SLOTS)} if hl else {}

        def unreadable(g, hl=False):
            data = g.write_game()
            os.chmod(g.file("cstrike.exe"), 0)
            files = {"cstrike.exe": data}
            if hl:
                files["hl.exe"] = g.write_game("hl.exe", row=2, slots=SLOTS)
            return files

        def dangling_link(g):
            os.symlink("missing.exe", g.file("cstrike.exe"))
            return {}

        def raw(name, data):
            def make(g):
                with open(g.file(name), "wb") as f:
                    f.write(data)
                return {name: data}
            return make

        def game(name, **options):
            return lambda g: {name: g.write_game(name, **options)}

        hl_listing = found("hl.exe") + slot_listing("hl.exe")
        # Where a case runs: everywhere, on Linux alone, or on Linux as the user nobody.
        anywhere, linux, nobody = "anywhere", "linux", "nobody"
        cases = [
            ("folder named cstrike.exe", folder, anywhere, TESTBED, NOT_FOUND),
            ("folder named cstrike.exe, hl.exe beside it", lambda g: folder(g, hl=True),
             anywhere, TESTBED, hl_listing),
            ("FIFO named cstrike.exe", fifo, linux, TESTBED, NOT_FOUND),
            ("FIFO named cstrike.exe, hl.exe beside it", lambda g: fifo(g, hl=True), linux,
             TESTBED, hl_listing),
            ("dangling symbolic link", dangling_link, linux, TESTBED, NOT_FOUND),
            ("unreadable cstrike.exe", unreadable, nobody, TESTBED, NOT_FOUND),
            ("unreadable cstrike.exe, hl.exe beside it", lambda g: unreadable(g, hl=True),
             nobody, TESTBED, hl_listing),
            ("empty file", raw("cstrike.exe", b""), anywhere, TESTBED,
             found("cstrike.exe") + lines(LENGTH_1) + ENTER_PROMPT),
            ("shorter than a block", raw("cstrike.exe", b"MZ\x90\x00" + bytes(96)), anywhere,
             TESTBED, found("cstrike.exe") + lines(LENGTH_1) + ENTER_PROMPT),
            ("row 2 one byte short", game("hl.exe", row=2, length_delta=-1), anywhere, TESTBED,
             found("hl.exe") + lines(LENGTH_2) + ENTER_PROMPT),
            ("row 1 all zero bytes", raw("cstrike.exe", bytes(releases.row(1).length)),
             anywhere, PROGRAM,
             found("cstrike.exe") + lines(NO_TEXT, NO_TEXT, ALTERED_1) + ENTER_PROMPT),
            ("row 2 all zero bytes", raw("hl.exe", bytes(releases.row(2).length)), anywhere,
             PROGRAM, found("hl.exe") + lines(ALTERED_2) + ENTER_PROMPT),
        ]
        for what, make, where, program, expected in cases:
            if UNDER_WINE and where != anywhere:
                continue
            with self.subTest(what), game_folder() as g:
                os.chmod(g.path, 0o755)
                before = make(g)
                # Enter answers the prompt; with nothing more the dialogue ends at the slot choice.
                status, out = run_as(where == nobody, program, g.path, b"\r")
                self.assertEqual(out, TITLE + expected)
                self.assertEqual(status, 0)
                for name, data in before.items():
                    with open(g.file(name), "rb") as f:
                        self.assertEqual(f.read(), data, name)


class with_display(runs_on_the_display):
    """Cases that need a mode to choose: a private X server on Linux, Wine's own modes."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.keep = len(cls.modes) + 1

    def run_piped(self, folder, data, **options):
        return run_piped(TESTBED, folder, data, env=self.display.env, **options)


class piped_input(with_display):

    def test_end_of_input_at_every_prompt(self):
        w, h = self.modes[0]
        block = mode_block(3, self.modes)
        # (where the input ends, input, lines after the slot listing, slot written)
        cases = [
            ("slot choice", b"", b"", False),
            ("mode choice", b"3", block, False),
            ("inside a typed answer", b"312", block + b"12", False),
            ("Enter prompt, slot kept", b"3%d\r" % self.keep,
             block + lines(str(self.keep)) + KEPT + ENTER_PROMPT, False),
            ("Enter prompt, slot written", b"31\r", block + lines("1") + chosen(w, h) +
             ENTER_PROMPT, True),
            # A stream has no escape sequences: Esc erases the line, "[" is typed.
            ("slot choice after ESC [", b"\x1b[", b"", False),
            ("typed answer after ESC [", b"31\x1b[", block + b"1[", False),
            ("Enter prompt after ESC [", b"3%d\r\x1b[" % self.keep,
             block + lines(str(self.keep)) + KEPT + ENTER_PROMPT, False),
        ]
        for what, data, expected, writes in cases:
            with self.subTest(what), game_folder() as g:
                before = g.write_game(slots=SLOTS)
                status, out = self.run_piped(g.path, data)
                self.assertEqual(out, listing() + expected)
                self.assertEqual(status, 0)
                self.assertEqual(g.read(), patched(before, 1, 3, w, h) if writes else before)

    def test_million_character_line(self):
        long_line = b"7" * 1_000_000  # too large a number: the block repeats
        with game_folder() as g:
            before = g.write_game(slots=SLOTS)
            started = time.monotonic()
            status, out = self.run_piped(g.path, b"3" + long_line + b"\r%d\r\r" % self.keep)
            took = time.monotonic() - started
            block = mode_block(3, self.modes)
            self.assertEqual(out, listing() + block + long_line + CRLF + block +
                             lines(str(self.keep)) + KEPT + ENTER_PROMPT)
            self.assertEqual(status, 0)
            self.assertEqual(g.read(), before)
            print("\none million characters, piped: %.2f s" % took, file=sys.stderr)

    def test_binary_garbage_at_every_prompt(self):
        every_byte = bytes(range(256))
        cases = [
            # "1" (0x31) picks slot 1; the rest is a typed answer that never ends.
            ("every byte value at the slot choice", every_byte),
            # Two empty answers (blanks from the tab, then nothing), then one without end.
            ("every byte value at the mode choice", b"3" + every_byte),
            # LF (0x0a) is the Enter that ends the run.
            ("every byte value at the Enter prompt", b"3%d\r" % self.keep + every_byte),
        ] + [("random bytes, seed %d" % seed, random_bytes(seed)) for seed in range(4)]
        for what, data in cases:
            with self.subTest(what), game_folder() as g:
                before = g.write_game(slots=SLOTS)
                status, out = self.run_piped(g.path, data)
                expected, written = piped_run(data, self.modes)
                self.assertEqual(out, expected)
                self.assertEqual(status, 0)
                self.assertEqual(g.read(), patched(before, 1, *written) if written else before)

    def test_output_closed_early(self):
        # As with "| head -1": the reader takes the first line and goes; the run still ends
        # with status 0 when its input ends, and a completed patch is in the file.
        w, h = self.modes[0]
        cases = [("input ends at the slot choice", b"", False),
                 ("slot kept", b"3%d\r\r" % self.keep, False),
                 ("slot written", b"31\r\r", True)]
        for what, data, writes in cases:
            with self.subTest(what), game_folder() as g:
                before = g.write_game(slots=SLOTS)
                # A run that ends before its title fails the expect, which shows what the
                # program (or Wine) said on standard error.
                with piped_session(TESTBED, g.path, env=self.display.env) as s:
                    s.expect(TITLE_LINE)
                    self.assertTrue(s.output.startswith(TITLE_LINE), s.output)
                    s.close_output()
                    s.send(data)
                    s.close_input()
                    self.assertEqual(s.wait(), 0)
                self.assertEqual(g.read(), patched(before, 1, 3, w, h) if writes else before)


@unittest.skipIf(UNDER_WINE, "signals, links and users of the Linux build")
class linux_only(with_display):

    def test_symbolic_link_is_followed(self):
        w, h = self.modes[0]
        with game_folder() as g:
            os.mkdir(g.file("store"))
            before = g.write_game("store/game.bin", slots=SLOTS)
            os.symlink("store/game.bin", g.file("cstrike.exe"))
            status, out = self.run_piped(g.path, b"21\r\r")
            self.assertEqual(out, listing() + mode_block(2, self.modes) + lines("1") +
                             chosen(w, h) + ENTER_PROMPT)
            self.assertEqual(status, 0)
            self.assertTrue(os.path.islink(g.file("cstrike.exe")))
            self.assertEqual(g.read("store/game.bin"), patched(before, 1, 2, w, h))

    def test_refused_write_through_a_symbolic_link(self):
        w, h = self.modes[0]
        with game_folder() as g:
            os.chmod(g.path, 0o755)
            os.mkdir(g.file("store"), 0o755)
            before = g.write_game("store/game.bin", slots=SLOTS)
            os.chmod(g.file("store/game.bin"), 0o444)
            os.symlink("store/game.bin", g.file("cstrike.exe"))
            status, out = run_as(True, TESTBED, g.path, b"41\r\r", env=self.display.env)
            self.assertEqual(out, listing() + mode_block(4, self.modes) + lines("1", "") +
                             lines(chosen_line(w, h), "") + NOT_WRITTEN + ENTER_PROMPT)
            self.assertEqual(status, 0)
            self.assertEqual(g.read("store/game.bin"), before)


@unittest.skipIf(UNDER_WINE, "terminal sessions are for the Linux build")
class terminal_input(with_display):

    def session(self, g):
        s = pty_session(TESTBED, g.path, env=self.display.env)
        self.addCleanup(s.stop)
        s.expect(listing())
        return s

    def send_and_let_it_lapse(self, s, keys):
        """Sends keys that leave an escape sequence open, and waits until the program has
        read them and given the sequence up: it waits for input again with no time-out."""
        before = read_calls(s.pid)
        s.send(keys)
        s.wait_until(lambda: read_calls(s.pid) > before and waits_for_input_without_limit(s.pid),
                     "the program to give up the escape sequence")

    def test_million_character_line(self):
        long_line = b"7" * 1_000_000
        with game_folder() as g:
            before = g.write_game(slots=SLOTS)
            s = self.session(g)
            s.send(b"3")
            s.expect(MODE_QUESTION)
            started = time.monotonic()
            s.send(long_line + b"\r")
            s.expect(MODE_QUESTION)
            took = time.monotonic() - started
            # Every character of the line was shown (control sequences aside).
            shown = s.output.split(mode_block(3, self.modes))[1]
            shown = re.sub(rb"\x1b\[[0-9;?]*[A-Za-z]", b"", shown)
            self.assertGreaterEqual(shown.count(b"7"), len(long_line))
            s.send(b"%d\r" % self.keep)
            s.expect(KEPT + ENTER_PROMPT)
            s.send(b"\r")
            self.assertEqual(s.wait(), 0)
            self.assertTrue(s.terminal_echoes())
            self.assertEqual(g.read(), before)
            print("\none million characters, in a terminal: %.2f s" % took, file=sys.stderr)
            self.assertLess(took, TIME_LIMIT)

    def test_binary_garbage_at_every_prompt(self):
        # Enter keys are left out so that the run goes where the test leads it. That the
        # garbage does nothing shows only as nothing for a while: settle waits for that.
        no_enter = SIGNAL_BYTES + b"\r\n"
        for what, garbage in (("every byte value", bytes(range(256))),
                              ("random bytes", random_bytes(7))):
            garbage = bytes(b for b in garbage if b not in no_enter)
            with self.subTest(what), game_folder() as g:
                before = g.write_game(slots=SLOTS)
                s = self.session(g)
                # At the slot choice: nothing happens without a digit from 1 to 9.
                s.send(bytes(b for b in garbage if b not in b"123456789"))
                s.settle()
                self.assertEqual(s.output, listing())
                s.send(b"3")
                s.expect(mode_block(3, self.modes))
                # Inside the answer; Esc (alone, after a pause) erases what it left.
                s.send(garbage)
                s.settle()
                self.send_and_let_it_lapse(s, b"\x1b")
                s.send(b"%d\r" % self.keep)
                s.expect(KEPT + ENTER_PROMPT)
                # At the Enter prompt only Enter counts.
                s.send(garbage)
                s.settle()
                self.assertIsNone(s.poll())
                self.assertTrue(s.output.endswith(KEPT + ENTER_PROMPT))
                s.send(b"\r")
                self.assertEqual(s.wait(), 0)
                self.assertTrue(s.terminal_echoes())
                self.assertEqual(g.read(), before)

    def test_escape_sequence_cut_in_the_middle(self):
        # ESC [ 1 and a pause: the sequence is given up; the digit that follows is a key.
        with game_folder() as g:
            before = g.write_game(slots=SLOTS)
            s = self.session(g)
            self.send_and_let_it_lapse(s, b"\x1b[1")
            s.send(b"2")
            s.expect(mode_block(2, self.modes))
            self.send_and_let_it_lapse(s, b"\x1b[1")
            s.send(b"%d\r" % self.keep)
            s.expect(KEPT + ENTER_PROMPT)
            self.send_and_let_it_lapse(s, b"\x1b[1")
            s.send(b"\r")
            self.assertEqual(s.wait(), 0)
            self.assertTrue(s.output.startswith(listing() + mode_block(2, self.modes)))
            self.assertTrue(s.terminal_echoes())
            self.assertEqual(g.read(), before)

    def test_terminal_gone_after_escape_start(self):
        with game_folder() as g:
            before = g.write_game(slots=SLOTS)
            s = self.session(g)
            s.send(b"3")
            s.expect(MODE_QUESTION)
            s.send(b"\x1b[")
            s.hang_up()
            self.assertEqual(s.wait(), 0)
            self.assertEqual(g.read(), before)


if __name__ == "__main__":
    main()
