#!/usr/bin/env python3
"""Ctrl+Z and fg as a user meets them: the testbed runs as a foreground job of an interactive
job-control shell (dash, which leaves the terminal settings to its jobs) in a pseudo-terminal.
At each prompt Ctrl+Z must stop it with the terminal given back and no processor time used;
fg must bring it back in raw mode, and the run must then end with the right file bytes."""

import fcntl
import os
import pty
import select
import signal
import struct
import termios
import time
import unittest

from display_xvfb import kernel_modes, xvfb
from harness import TESTBED, TIME_LIMIT, UNDER_WINE, environment, game_folder, main
import make_game_file

SCREEN = (1600, 900)
PROMPT = b"pw-shell$ "
SLOT_QUESTION = b"Welche Aufloesung soll veraendert werden?\r\n\r\n"
MODE_QUESTION = b"Slot nicht veraendern\r\n"
ENTER_QUESTION = b"(Enter zum Beenden druecken)\r\n"
CTRL_Z = b"\x1a"
TICKS = os.sysconf("SC_CLK_TCK")


def process_stat(pid):
    """(state, processor ticks used) of a process."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return fields[0], int(fields[11]) + int(fields[12])


def children(pid):
    found = []
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open("/proc/%s/stat" % entry) as f:
                    if int(f.read().rsplit(")", 1)[1].split()[1]) == pid:
                        found.append(int(entry))
            except (FileNotFoundError, ProcessLookupError):
                pass
    return found


class shell:
    """dash -i in a pseudo-terminal of 80 x 24, started in folder."""

    def __init__(self, folder, env):
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            os.chdir(folder)
            env = dict(env, PS1=PROMPT.decode(), ENV="", TERM="xterm")
            os.execve("/bin/dash", ["dash", "-i"], env)
        fcntl.ioctl(self.fd, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 80, 0, 0))
        self.output = b""
        self.tool = None
        try:
            self.expect(PROMPT)
        except BaseException:
            self.close()  # no test holds the shell yet to end it
            raise

    def send(self, data):
        os.write(self.fd, data)

    def expect(self, text, times=None):
        """Waits until the output holds text one more time than now (or times times)."""
        wanted = self.output.count(text) + 1 if times is None else times
        deadline = time.monotonic() + TIME_LIMIT
        while self.output.count(text) < wanted:
            left = deadline - time.monotonic()
            if left <= 0:
                raise AssertionError("%r not seen; output: %r" % (text, self.output[-2000:]))
            self.read(min(left, 0.1))

    def read(self, limit):
        ready, _, _ = select.select([self.fd], [], [], limit)
        if ready:
            try:
                self.output += os.read(self.fd, 65536)
            except OSError:
                pass

    def start_tool(self):
        self.send(TESTBED.encode() + b"\r")
        self.expect(SLOT_QUESTION)
        tools = children(self.pid)
        assert len(tools) == 1, tools
        self.tool = tools[0]

    def echoes(self):
        return bool(termios.tcgetattr(self.fd)[3] & termios.ECHO)

    def ticks_over(self, seconds):
        """Processor ticks the tool uses while the output is collected for a while."""
        _, before = process_stat(self.tool)
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            self.read(deadline - time.monotonic())
        _, after = process_stat(self.tool)
        return after - before

    def exit(self):
        """Ends the shell once the tool has ended."""
        self.tool = None
        self.send(b"exit\r")
        os.waitpid(self.pid, 0)
        self.pid = None

    def close(self):
        for pid in (self.tool, self.pid):
            if pid is not None:
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
        if self.pid is not None:
            os.waitpid(self.pid, 0)
        os.close(self.fd)


def patched(data, slot, w, h):
    out = bytearray(data)
    at = make_game_file.slot_offset(1, slot)
    out[at:at + 2] = struct.pack("<H", w)
    out[at + 4:at + 6] = struct.pack("<H", h)
    return bytes(out)


@unittest.skipIf(UNDER_WINE, "job control is for the Linux build")
class stopped_and_continued(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.server = xvfb("%dx%dx24" % SCREEN).__enter__()
        cls.env = environment({"DISPLAY": cls.server.display})
        cls.first_mode = sorted({SCREEN} | kernel_modes())[0]

    @classmethod
    def tearDownClass(cls):
        cls.server.__exit__(None, None, None)

    def stop_and_continue(self, s):
        s.send(CTRL_Z)
        s.expect(PROMPT)
        state, _ = process_stat(s.tool)
        self.assertEqual(state, "T")
        self.assertTrue(s.echoes())
        self.assertEqual(s.ticks_over(0.5), 0)
        s.send(b"fg\r")
        s.expect(TESTBED.encode() + b"\r\n")
        deadline = time.monotonic() + TIME_LIMIT
        while s.echoes() and time.monotonic() < deadline:
            s.read(0.05)
        self.assertFalse(s.echoes())
        # Waiting for a key again, not spinning.
        self.assertLessEqual(s.ticks_over(0.5), 2 * TICKS // 100)
        self.assertEqual(process_stat(s.tool)[0], "S")

    def test_ctrl_z_at_every_prompt(self):
        w, h = self.first_mode
        # (prompt, keys before it, what it shows, keys after fg, what is redrawn after fg)
        prompts = [
            ("slot choice", b"", SLOT_QUESTION, b"51\r", None),
            ("typed answer", b"5", MODE_QUESTION, b"\r", b"\r\x1b[J1"),
            ("Enter prompt", b"51\r", ENTER_QUESTION, b"", None),
        ]
        for what, before_keys, question, after_keys, redrawn in prompts:
            with self.subTest(what), game_folder() as g:
                before = g.write_game()
                s = shell(g.path, self.env)
                try:
                    s.start_tool()
                    for key in before_keys:
                        s.send(bytes([key]))
                        time.sleep(0.05)
                    s.expect(question, times=1)
                    if redrawn:
                        s.send(b"1")
                        s.expect(b"1")
                    self.stop_and_continue(s)
                    if redrawn:
                        self.assertIn(redrawn, s.output.rsplit(TESTBED.encode() + b"\r\n", 1)[1])
                    s.send(after_keys)
                    s.expect(ENTER_QUESTION, times=1)
                    s.send(b"\r")
                    s.expect(PROMPT)
                    self.assertIn(b"Sie haben die Aufloesung %dx%d gewaehlt." % (w, h), s.output)
                    self.assertTrue(s.echoes())
                    self.assertEqual(g.read(), patched(before, 5, w, h))
                    s.exit()
                finally:
                    s.close()

if __name__ == "__main__":
    main()
