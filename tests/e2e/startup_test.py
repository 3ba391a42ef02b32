#!/usr/bin/env python3
"""Start-up and identification of the game file, end to end: every way the run can end
before the slot dialogue, with the exact bytes written and the file left as it was."""

import os
import shutil
import subprocess
import time
import unittest

from expected import (ALTERED_1, ALTERED_2, ENTER_PROMPT, HEADER_DIGEST, LENGTH_1, LENGTH_2,
                      NOT_FOUND, TESTBED_GUARD_DIGEST, TITLE, found, lines)
from harness import (PROGRAM, TESTBED, TIME_LIMIT, UNDER_WINE, environment, game_folder, main,
                     pty_session, run_piped, stop_wineserver, wait_for)


class startup(unittest.TestCase):

    def test_empty_folder_ends_at_once_without_prompt(self):
        for program in (PROGRAM, TESTBED):
            with game_folder() as g:
                # The input stays open: the run must not wait for it.
                status, out = run_piped(program, g.path, keep_open=True)
                self.assertEqual(out, TITLE + NOT_FOUND)
                self.assertEqual(status, 0)

    def test_failures_print_their_lines_and_wait_for_enter(self):
        # (what, files to make: name -> options, program, expected lines after the title)
        cases = [
            ("row 1 one byte short", {"cstrike.exe": dict(length_delta=-1)}, TESTBED,
             found("cstrike.exe") + lines(LENGTH_1)),
            ("row 1 one byte long", {"cstrike.exe": dict(length_delta=1)}, TESTBED,
             found("cstrike.exe") + lines(LENGTH_1)),
            ("row 2 one byte long", {"hl.exe": dict(row=2, length_delta=1)}, TESTBED,
             found("hl.exe") + lines(LENGTH_2)),
            # The real program refuses the testbed's guard text and prints both digests: of
            # 4D 5A 90 at 0 and of the text at the guard offset the releases state. So it
            # reads both blocks where they say; a block read elsewhere gives another digest.
            ("row 1 guard not accepted by the real program: both digests, then the message",
             {"cstrike.exe": {}}, PROGRAM,
             found("cstrike.exe") + lines(HEADER_DIGEST, TESTBED_GUARD_DIGEST, ALTERED_1)),
            ("row 1 guard starts with a zero byte", {"cstrike.exe": dict(guard=b"")}, TESTBED,
             found("cstrike.exe") + lines(HEADER_DIGEST, "Kein Text enthalten", ALTERED_1)),
            ("row 2 guard not accepted: the message alone", {"hl.exe": dict(row=2)}, PROGRAM,
             found("hl.exe") + lines(ALTERED_2)),
            ("both present: cstrike.exe is used",
             {"cstrike.exe": dict(length_delta=1), "hl.exe": dict(row=2)}, TESTBED,
             found("cstrike.exe") + lines(LENGTH_1)),
        ]
        for what, files, program, expected in cases:
            with self.subTest(what), game_folder() as g:
                before = {name: g.write_game(name, **options) for name, options in files.items()}
                # Keys before Enter are ignored and not echoed; what follows Enter is not read.
                status, out = run_piped(program, g.path, b"x1 \r9")
                self.assertEqual(out, TITLE + expected + ENTER_PROMPT)
                self.assertEqual(status, 0)
                for name, data in before.items():
                    self.assertEqual(g.read(name), data, name)

    def test_accepted_file_reaches_the_dialogue(self):
        for name, row in (("cstrike.exe", 1), ("hl.exe", 2)):
            with self.subTest(name), game_folder() as g:
                data = g.write_game(name, row=row)
                status, out = run_piped(TESTBED, g.path, b"")
                self.assertTrue(out.startswith(TITLE + found(name)), out)
                self.assertIn(lines("Warnung! Dieses Programm veraendert die %s." % name), out)
                self.assertEqual(status, 0)
                self.assertEqual(g.read(name), data)

    def test_input_ending_at_the_prompt_ends_the_run(self):
        with game_folder() as g:
            data = g.write_game(length_delta=-1)
            status, out = run_piped(TESTBED, g.path, b"abc")
            self.assertEqual(out, TITLE + found("cstrike.exe") + lines(LENGTH_1) + ENTER_PROMPT)
            self.assertEqual(status, 0)
            self.assertEqual(g.read(), data)


@unittest.skipIf(UNDER_WINE, "terminal sessions are for the Linux build")
class startup_in_terminal(unittest.TestCase):

    def test_enter_prompt_in_terminal(self):
        with game_folder() as g:
            g.write_game(length_delta=1)
            s = pty_session(TESTBED, g.path)
            self.addCleanup(s.stop)
            s.expect(ENTER_PROMPT)
            self.assertFalse(s.terminal_echoes())
            # An arrow key and a letter are ignored; Enter ends the run.
            s.send(b"\x1b[Dq")
            s.send(b"\r")
            self.assertEqual(s.wait(), 0)
            self.assertEqual(s.output,
                             TITLE + found("cstrike.exe") + lines(LENGTH_1) + ENTER_PROMPT)
            self.assertTrue(s.terminal_echoes())


@unittest.skipUnless(UNDER_WINE, "consoles of their own are Windows consoles")
class startup_in_wine_console(unittest.TestCase):
    """Wine's console in a terminal belongs to the program alone, as a console window opened
    by a double-click does; started from cmd it is shared."""

    def run_in_console(self, argv):
        with game_folder() as g, pty_session(PROGRAM, g.path, argv=argv) as s:
            s.expect(b"nicht gefunden! Liegt pixelwarde im falschen Ordner?")
            # Whether the run ends by itself or waits: only a while can tell.
            ended = s.ends_within(1.5)
            if not ended:
                s.send(b"x")
                s.send(b"\r")
                self.assertEqual(s.wait(), 0)
            return ended, s.output

    def test_not_found_waits_for_enter_in_a_console_of_its_own(self):
        ended, out = self.run_in_console(["wine", PROGRAM])
        self.assertFalse(ended, "the line would vanish with the console window")
        self.assertNotIn(b"Enter zum Beenden", out)

    def test_not_found_ends_at_once_in_a_shared_console(self):
        ended, _ = self.run_in_console(["wine", "cmd", "/c", PROGRAM])
        self.assertTrue(ended)

    @unittest.skipUnless(shutil.which("Xvfb") and shutil.which("xdotool"),
                         "needs Xvfb and xdotool")
    def test_double_click_window_stays_until_enter(self):
        # As Explorer starts a double-clicked program: in a console window of its own, in
        # the program's folder (here one without the game), on a Wine desktop on a private X
        # server, with Enter pressed as a user would.
        from display_xvfb import xvfb
        with xvfb("1024x768x24") as server, game_folder() as g:
            copy = g.file(os.path.basename(PROGRAM))
            shutil.copy(PROGRAM, copy)
            env = environment({"DISPLAY": server.display})
            desktop = subprocess.Popen(
                ["wine", "explorer", "/desktop=pixelwarde,1024x768", "start", "/unix", copy],
                cwd=g.path, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            try:
                pid = wait_for(lambda: program_in(g.path), "the program to start")
                # Its console window shows, and is still there a while later.
                window = ["xdotool", "search", "--name", os.path.basename(PROGRAM)]
                wait_for(lambda: subprocess.run(window, env=env, capture_output=True,
                                                timeout=TIME_LIMIT).returncode == 0,
                         "the console window")
                # A window that closes by itself does so at once, as its program ends: that
                # end is waited for, up to two seconds, and fails the test as soon as it
                # comes. Only a while can show that it does not come.
                deadline = time.monotonic() + 2
                while os.path.exists("/proc/%d" % pid) and time.monotonic() < deadline:
                    time.sleep(0.05)
                self.assertTrue(os.path.exists("/proc/%d" % pid),
                                "the window closed before the line could be read")
                subprocess.run(["xdotool", "key", "Return"], env=env, check=True,
                               timeout=TIME_LIMIT)
                wait_for(lambda: not os.path.exists("/proc/%d" % pid), "Enter to end it")
            finally:
                # The desktop and everything it started belong to this prefix's server.
                stop_wineserver()
                desktop.wait(timeout=TIME_LIMIT)


def program_in(folder):
    """The process id of the program running with folder as its working folder, or None."""
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % entry, "rb") as f:
                name = f.read().split(b"\0")[0]
            # Wine shows the program under its Windows path: Z:\...\pixelwarde.exe.
            if (name.endswith(b"\\" + os.path.basename(PROGRAM).encode()) and
                    os.readlink("/proc/%s/cwd" % entry) == folder):
                return int(entry)
        except OSError:
            continue
    return None


if __name__ == "__main__":
    main()
