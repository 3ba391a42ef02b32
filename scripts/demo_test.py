#!/usr/bin/env python3
"""scripts/run without a folder on a machine without a display, as a newcomer meets it in a
terminal: a private X server offers 1920x1080, slot 1 takes it, the advice and the written
slot are shown, and the X server is gone when the run ends, also after Ctrl+C. And
scripts/run GAME_FOLDER, with the folder given relative to where it is called."""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
from harness import pty_session  # noqa: E402

RUN = os.path.join(HERE, "run")
LIMIT = 120  # the first call may build the native tool

# A machine without a display: every run here starts without one.
for name in ("DISPLAY", "WAYLAND_DISPLAY"):
    os.environ.pop(name, None)


def demo_session():
    """scripts/run without a folder in a pseudo-terminal. A run that failed the test may
    have left its build or its X server behind: they share scripts/run's process group,
    which stop ends."""
    return pty_session(RUN, HERE, argv=[RUN], limit=LIMIT)


def xvfb_pid(run):
    found = re.search(rb"Xvfb 1920x1080 on :\d+, pid (\d+)", run.output)
    if not found:
        raise AssertionError("no private X server announced: %r" % run.output)
    return int(found.group(1))


def running(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    return True


class demo_without_display(unittest.TestCase):
    def test_slot_one_takes_the_private_servers_mode(self):
        run = demo_session()
        self.addCleanup(run.stop)
        run.expect(b"Welche Aufloesung soll veraendert werden?")
        server = xvfb_pid(run)
        self.assertTrue(running(server))
        run.send(b"1")
        run.expect(b"(1) 1920x1080\r\n(2) Slot nicht veraendern\r\n")
        run.send(b"1\r")
        run.expect(b"Sie haben die Aufloesung 1920x1080 gewaehlt.")
        run.expect(b"(fuer 16:9): default_fov 106.270273206")
        run.expect(b"(Enter zum Beenden druecken)")
        run.send(b"\r")
        self.assertEqual(run.wait(), 0)
        self.assertRegex(run.output, rb"slot 1: 80 07 00 00 38 04 00 00  1920x1080  \* was 320x240")
        self.assertRegex(run.output, rb"slot 2: 90 01 00 00 2C 01 00 00  400x300\r\n")
        self.assertFalse(running(server))

    def test_ctrl_c_stops_the_private_server(self):
        # (prompt, the key that leads there from the slot choice, what shows after it)
        for prompt, key, shows in [("slot choice", b"", None),
                                   ("mode choice", b"1", b"Slot nicht veraendern")]:
            with self.subTest(prompt=prompt):
                run = demo_session()
                self.addCleanup(run.stop)
                run.expect(b"Welche Aufloesung soll veraendert werden?")
                server = xvfb_pid(run)
                if key:
                    run.send(key)
                    run.expect(shows)
                run.send(b"\x03")
                self.assertNotEqual(run.wait(), 0)
                self.assertFalse(running(server))
                folder = re.search(rb"synthetic game file: (\S+)/cstrike.exe", run.output)
                self.assertFalse(os.path.exists(folder.group(1).decode()))


class run_in_a_game_folder(unittest.TestCase):
    def test_relative_folder_is_taken_from_the_callers_folder(self):
        # From a folder beside the game's, as in "scripts/run ../Counter-Strike"; the file is
        # found there and, being no known release, left as it is.
        top = tempfile.mkdtemp(prefix="pixelwarde-run-")
        try:
            os.mkdir(os.path.join(top, "caller"))
            os.mkdir(os.path.join(top, "Counter-Strike"))
            game = os.path.join(top, "Counter-Strike", "cstrike.exe")
            with open(game, "wb") as f:
                f.write(b"MZ" + bytes(62))
            run = subprocess.run([RUN, "../Counter-Strike"], cwd=os.path.join(top, "caller"),
                                 stdin=subprocess.DEVNULL, capture_output=True, timeout=LIMIT)
            self.assertEqual(run.returncode, 0, run.stderr)
            self.assertIn(b"\r\n\r\ncstrike.exe gefunden!\r\n", run.stdout)
            with open(game, "rb") as f:
                self.assertEqual(f.read(), b"MZ" + bytes(62))
        finally:
            shutil.rmtree(top)


if __name__ == "__main__":
    unittest.main(verbosity=2)
