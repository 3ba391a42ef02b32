#!/usr/bin/env python3
"""Only the identified file is written, and only by the user's answer: a closed standard
stream never becomes the game file, a file that another program changes while the tool
waits at the mode prompt is not written (Linux, and under Wine with a Unix program making
the change), and a signal that the starting process ignores stays ignored."""

import os
import shutil
import signal
import struct
import unittest

from display_xvfb import runs_on_the_display
from expected import ENTER_PROMPT, NOT_WRITTEN, chosen, chosen_line, lines, mode_block, patched
from harness import TESTBED, UNDER_WINE, game_folder, main, piped_session, run_piped
import make_game_file


def rewrite_in_place(path, data):
    """As `cp backup.exe cstrike.exe` does: the same file (inode), new bytes."""
    with open(path, "r+b") as f:
        f.truncate(0)
        f.write(data)


def grow(path, count):
    with open(path, "ab") as f:
        f.write(b"\x5a" * count)


def overwrite(path, offset, data):
    with open(path, "r+b") as f:
        f.seek(offset)
        f.write(data)


@unittest.skipIf(UNDER_WINE, "standard descriptors of the Linux build")
class closed_streams(runs_on_the_display):
    """A standard stream closed by whoever started the run never becomes the game file: its
    bytes stay as they were, and the run ends."""

    def test_game_file_never_takes_a_standard_stream(self):
        answers = bytearray(make_game_file.game_file_bytes(1))
        # Behind the header's first zero byte, where its digest text has ended.
        answers[4:8] = b"1\r1\r"
        cases = [("output closed, accepted file, answer 9", 1, b"9",
                  make_game_file.game_file_bytes(1)),
                 ("output closed, file of the wrong length", 1, b"\r",
                  make_game_file.game_file_bytes(1, length_delta=1)),
                 ("input closed, answers in the file", 0, b"", bytes(answers))]
        for what, closed, keys, data in cases:
            with self.subTest(what), game_folder() as g:
                with open(g.file("cstrike.exe"), "wb") as f:
                    f.write(data)
                status, _ = run_piped(TESTBED, g.path, keys, env=self.display.env,
                                      closed=(closed,))
                self.assertEqual(status, 0)
                self.assertEqual(g.read(), data)

    def test_null_device_refused_ends_at_once(self):
        if shutil.which("strace") is None:
            self.skipTest("strace is not installed")
        # strace fails every open of /dev/null; input is closed, so the run needs one.
        with game_folder() as g:
            data = g.write_game()
            status, out = run_piped(
                TESTBED, g.path, env=self.display.env,
                argv=["strace", "-qq", "-o", os.devnull, "-P", "/dev/null",
                      "-e", "inject=open,openat:error=EACCES",
                      "sh", "-c", 'exec "$0" <&-', TESTBED])
            self.assertEqual(out, b"")
            self.assertNotEqual(status, 0)
            self.assertEqual(g.read(), data)


class changed_at_the_mode_prompt(runs_on_the_display):
    """Another program changes the game file in place while the tool waits at the mode
    prompt. Under Wine it is a Unix program (this test), which Windows' sharing rule does not
    keep out. Nothing is written; the file ends as the other program left it."""

    def test_nothing_is_written(self):
        w, h = self.modes[0]
        original = make_game_file.game_file_bytes(1)
        other = bytes((i * 7 + 3) & 255 for i in range(len(original)))
        slot_1 = make_game_file.slot_offset(1, 1)
        cases = [("other content of the same length",
                  lambda path: rewrite_in_place(path, other)),
                 ("truncated to 0", lambda path: os.truncate(path, 0)),
                 ("grown by 4 KiB", lambda path: grow(path, 4096)),
                 ("the chosen slot's bytes", lambda path: overwrite(
                     path, slot_1, struct.pack("<II", 1024, 768)))]
        for what, change in cases:
            with self.subTest(what), game_folder() as g:
                g.write_game()
                with piped_session(TESTBED, g.path, env=self.display.env) as s:
                    s.send(b"1")
                    s.expect(mode_block(1, self.modes))
                    change(g.file("cstrike.exe"))
                    left = g.read()
                    s.send(b"1\r\r")
                    s.close_input()
                    status = s.wait()
                end = lines(chosen_line(w, h), "") + NOT_WRITTEN + ENTER_PROMPT
                self.assertEqual(s.output[-len(end):].splitlines(True), end.splitlines(True))
                self.assertEqual(status, 0)
                self.assertEqual(g.read(), left)


@unittest.skipIf(UNDER_WINE, "signals of the Linux build")
class inherited_ignore(runs_on_the_display):
    """Started with an end signal ignored (nohup, a script's background job), the run gets
    that signal at the mode prompt, carries on, and writes the answer that follows."""

    def test_an_ignored_signal_stays_ignored(self):
        w, h = self.modes[0]
        for number in (signal.SIGINT, signal.SIGHUP, signal.SIGTERM, signal.SIGQUIT):
            with self.subTest(number.name), game_folder() as g:
                before = g.write_game()
                with piped_session(TESTBED, g.path, env=self.display.env,
                                   ignored=(number,)) as s:
                    s.send(b"1")
                    s.expect(mode_block(1, self.modes))
                    s.signal(number)
                    s.send(b"1\r\r")
                    s.close_input()
                    status = s.wait()
                # The chosen mode, the advice after it, and the end; no error.
                end = chosen(w, h) + ENTER_PROMPT
                self.assertEqual(s.output[-len(end):].splitlines(True), end.splitlines(True))
                self.assertNotIn(b"Fehler", s.output)
                self.assertEqual(status, 0)
                self.assertEqual(g.read(), patched(before, 1, 1, w, h))


if __name__ == "__main__":
    main()
