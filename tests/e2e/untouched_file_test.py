#!/usr/bin/env python3
"""Only the identified file is written, and only by the user's answer: a closed standard
stream never becomes the game file, a file that another program changes while the tool
waits at the mode prompt is not written (Linux, and under Wine with a Unix program making
the change), and a signal that the starting process ignores stays ignored."""

import os
import re
import select
import shutil
import signal
import struct
import subprocess
import time
import unittest

from expected import ENTER_PROMPT, lines
from harness import (TESTBED, TIME_LIMIT, UNDER_WINE, command, end_with_parent, environment,
                     game_folder, main, stop)
import make_game_file

NOT_WRITTEN = lines("Fehler: Die Datei konnte nicht geschrieben werden.",
                    "Der Slot wurde nicht veraendert!")
MODE_PROMPT = b"Slot nicht veraendern\r\n"
CHOSEN = re.compile(rb"Sie haben die Aufloesung (\d+)x(\d+) gewaehlt\.\r\n\r\n")


class private_display:
    """The run's display: a private Xvfb on Linux, stopped by its process id on leaving;
    Wine's own driver under Wine."""

    def __enter__(self):
        self.process = None
        self.env = None
        if UNDER_WINE:
            return self
        read_end, write_end = os.pipe()
        try:
            self.process = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1600x900x24",
                 "-nolisten", "tcp", "-noreset"],
                pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                preexec_fn=end_with_parent)
            os.close(write_end)
            write_end = -1
            number = b""
            deadline = time.monotonic() + 20
            while not number.endswith(b"\n"):
                left = deadline - time.monotonic()
                if left <= 0 or not select.select([read_end], [], [], left)[0]:
                    raise AssertionError("Xvfb did not report its display number")
                chunk = os.read(read_end, 16)
                if not chunk:
                    raise AssertionError("Xvfb ended before it reported its display number")
                number += chunk
        except BaseException:
            self.__exit__()
            raise
        finally:
            os.close(read_end)
            if write_end >= 0:
                os.close(write_end)
        self.env = {"DISPLAY": ":" + number.decode().strip()}
        return self

    def __exit__(self, *exc):
        if self.process is not None:
            stop(self.process)
            self.process = None


class session:
    """The testbed with piped input and output, started with preexec (None: nothing) in the
    child; driven step by step."""

    def __init__(self, folder, env, preexec=None):
        def child():
            end_with_parent()
            if preexec:
                preexec()
        self.proc = subprocess.Popen(command(TESTBED), cwd=folder, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                     env=environment(env), preexec_fn=child)
        self.output = b""

    def expect(self, text):
        deadline = time.monotonic() + TIME_LIMIT
        fd = self.proc.stdout.fileno()
        while text not in self.output:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([fd], [], [], left)[0]:
                raise AssertionError("%r not seen; output: %r" % (text, self.output))
            chunk = os.read(fd, 65536)
            if not chunk:
                raise AssertionError("%r not seen before the end; output: %r"
                                     % (text, self.output))
            self.output += chunk

    def send(self, data):
        # A run that has already ended takes no keys; what it wrote tells the rest.
        try:
            self.proc.stdin.write(data)
            self.proc.stdin.flush()
        except BrokenPipeError:
            pass

    def finish(self):
        """Ends the input; returns the exit status once the run has ended."""
        try:
            rest, _ = self.proc.communicate(timeout=TIME_LIMIT)
        except subprocess.TimeoutExpired:
            raise AssertionError("the run did not end in time; output: %r" % self.output)
        self.output += rest
        return self.proc.returncode

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        for stream in (self.proc.stdin, self.proc.stdout):
            if not stream.closed:
                stream.close()


def patched(data, slot, w, h):
    """data with bytes 0, 1, 4 and 5 of slot (release 1) set to w and h."""
    out = bytearray(data)
    at = make_game_file.slot_offset(1, slot)
    out[at:at + 2] = struct.pack("<H", w)
    out[at + 4:at + 6] = struct.pack("<H", h)
    return bytes(out)


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


def closing(fd):
    """For preexec_fn: the program starts with descriptor fd closed."""
    def child():
        end_with_parent()
        os.close(fd)
    return child


@unittest.skipIf(UNDER_WINE, "standard descriptors of the Linux build")
class closed_streams(unittest.TestCase):
    """A standard stream closed by whoever started the run never becomes the game file: its
    bytes stay as they were, and the run ends."""

    @classmethod
    def setUpClass(cls):
        cls.display = private_display().__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.display.__exit__()

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
                proc = subprocess.Popen(
                    command(TESTBED), cwd=g.path, stdin=subprocess.PIPE,
                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                    env=environment(self.display.env), preexec_fn=closing(closed))
                try:
                    proc.communicate(keys, timeout=TIME_LIMIT)
                finally:
                    stop(proc)
                self.assertEqual(proc.returncode, 0)
                self.assertEqual(g.read(), data)

    def test_null_device_refused_ends_at_once(self):
        if shutil.which("strace") is None:
            self.skipTest("strace is not installed")
        # strace fails every open of /dev/null; input is closed, so the run needs one.
        with game_folder() as g:
            data = g.write_game()
            proc = subprocess.run(
                ["strace", "-qq", "-o", os.devnull, "-P", "/dev/null",
                 "-e", "inject=open,openat:error=EACCES",
                 "sh", "-c", 'exec "$0" <&-', TESTBED],
                cwd=g.path, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                env=environment(self.display.env), timeout=TIME_LIMIT)
            self.assertEqual(proc.stdout, b"")
            self.assertNotEqual(proc.returncode, 0)
            self.assertEqual(g.read(), data)


class changed_at_the_mode_prompt(unittest.TestCase):
    """Another program changes the game file in place while the tool waits at the mode
    prompt. Under Wine it is a Unix program (this test), which Windows' sharing rule does not
    keep out. Nothing is written; the file ends as the other program left it."""

    @classmethod
    def setUpClass(cls):
        cls.display = private_display().__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.display.__exit__()

    def test_nothing_is_written(self):
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
                s = session(g.path, self.display.env)
                try:
                    s.send(b"1")
                    s.expect(MODE_PROMPT)
                    self.assertNotIn(b"\r\n(1) Slot nicht veraendern", s.output,
                                     "the display offers no mode")
                    change(g.file("cstrike.exe"))
                    left = g.read()
                    s.send(b"1\r\r")
                    status = s.finish()
                finally:
                    s.close()
                self.assertRegex(s.output, CHOSEN.pattern + re.escape(NOT_WRITTEN + ENTER_PROMPT)
                                 + b"$")
                self.assertEqual(status, 0)
                self.assertEqual(g.read(), left)


@unittest.skipIf(UNDER_WINE, "signals of the Linux build")
class inherited_ignore(unittest.TestCase):
    """Started with an end signal ignored (nohup, a script's background job), the run gets
    that signal at the mode prompt, carries on, and writes the answer that follows."""

    @classmethod
    def setUpClass(cls):
        cls.display = private_display().__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.display.__exit__()

    def test_an_ignored_signal_stays_ignored(self):
        for number in (signal.SIGINT, signal.SIGHUP, signal.SIGTERM, signal.SIGQUIT):
            with self.subTest(number.name), game_folder() as g:
                before = g.write_game()
                s = session(g.path, self.display.env,
                            preexec=lambda n=number: signal.signal(n, signal.SIG_IGN))
                try:
                    s.send(b"1")
                    s.expect(MODE_PROMPT)
                    s.proc.send_signal(number)
                    s.send(b"1\r\r")
                    status = s.finish()
                finally:
                    s.close()
                chosen = CHOSEN.search(s.output)
                self.assertIsNotNone(chosen, s.output)
                self.assertTrue(s.output.endswith(ENTER_PROMPT))
                self.assertNotIn(b"Fehler", s.output)
                self.assertIn(b"Bitte ", s.output[chosen.end():])
                self.assertEqual(status, 0)
                w, h = int(chosen.group(1)), int(chosen.group(2))
                self.assertEqual(g.read(), patched(before, 1, w, h))


if __name__ == "__main__":
    main()
