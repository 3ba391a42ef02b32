#!/usr/bin/env python3
"""Start-up and identification of the game file, end to end: every way the run can end
before the slot dialogue, with the exact bytes written and the file left as it was."""

import os
import shutil
import subprocess
import time
import unittest

from harness import (ENTER_PROMPT, NOT_FOUND, PROGRAM, TESTBED, TIME_LIMIT, TITLE, UNDER_WINE,
                     environment, found, game_folder, lines, main, run_piped, stop_wineserver)

HEADER_DIGEST = "DB1131FF326055BD86F7618809AD1B28"  # the text of 4D 5A 90
TESTBED_GUARD_DIGEST = "142D7D5C902F3B46F3BE6D43EB9AE9BA"  # the text "pixelwarde-testbed"

LENGTH_1 = "Dateilaenge stimmt nicht. Nicht CS 1.5 US-Retail? breche ab!"
LENGTH_2 = "Dateilaenge stimmt nicht. Nicht US-Halflife 1.1.1.0? breche ab!"
ALTERED_1 = "Datei wurde anderweitig veraendert. Nicht CS 1.5 US-Retail? Breche ab!"
ALTERED_2 = "Datei wurde anderweitig veraendert. Nicht US-Halflife 1.1.1.0? Breche ab!"


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
            ("row 1 guard not accepted: both digests, then the message",
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
        from harness import exit_code, terminal_session
        with game_folder() as g:
            g.write_game(length_delta=1)
            session = terminal_session(TESTBED, g.path)
            try:
                session.expect(b"(Enter zum Beenden druecken)\r\n")
                self.assertFalse(session.terminal_echoes())
                # An arrow key and a letter are ignored; Enter ends the run.
                session.send(b"\x1b[Dq")
                session.send(b"\r")
                self.assertEqual(exit_code(session.wait()), 0)
                self.assertEqual(session.output,
                                 TITLE + found("cstrike.exe") + lines(LENGTH_1) + ENTER_PROMPT)
                self.assertTrue(session.terminal_echoes())
            finally:
                session.close()

    def test_interrupt_at_the_prompt_restores_the_terminal(self):
        import signal
        from harness import exit_code, terminal_session
        for what in ("ctrl_c", signal.SIGTERM, signal.SIGHUP):
            with self.subTest(str(what)), game_folder() as g:
                g.write_game(length_delta=1)
                session = terminal_session(TESTBED, g.path)
                try:
                    session.expect(b"(Enter zum Beenden druecken)\r\n")
                    if what == "ctrl_c":
                        session.send(b"\x03")
                    else:
                        session.signal(what)
                    self.assertEqual(exit_code(session.wait()), 0)
                    self.assertTrue(session.terminal_echoes())
                finally:
                    session.close()


@unittest.skipUnless(UNDER_WINE, "consoles of their own are Windows consoles")
class startup_in_wine_console(unittest.TestCase):
    """Wine's console in a terminal belongs to the program alone, as a console window opened
    by a double-click does; started from cmd it is shared."""

    def run_in_console(self, argv):
        from harness import exit_code, terminal_session
        with game_folder() as g:
            session = terminal_session(PROGRAM, g.path, argv=argv)
            try:
                session.expect(b"nicht gefunden! Liegt pixelwarde im falschen Ordner?")
                ended = False
                deadline = time.monotonic() + 1.5
                while time.monotonic() < deadline:
                    if os.waitpid(session.pid, os.WNOHANG)[0]:
                        ended = True
                        session.status = 0
                        break
                    time.sleep(0.05)
                if not ended:
                    session.send(b"x")
                    session.send(b"\r")
                    self.assertEqual(exit_code(session.wait()), 0)
                return ended, session.output
            finally:
                session.close()

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
                pid = self.wait_for(lambda: program_in(g.path), "the program to start")
                # Its console window shows, and is still there a while later.
                window = ["xdotool", "search", "--name", os.path.basename(PROGRAM)]
                self.wait_for(lambda: subprocess.run(window, env=env, capture_output=True,
                                                     timeout=TIME_LIMIT).returncode == 0,
                              "the console window")
                time.sleep(2)
                self.assertTrue(os.path.exists("/proc/%d" % pid),
                                "the window closed before the line could be read")
                subprocess.run(["xdotool", "key", "Return"], env=env, check=True,
                               timeout=TIME_LIMIT)
                self.wait_for(lambda: not os.path.exists("/proc/%d" % pid), "Enter to end it")
            finally:
                # The desktop and everything it started belong to this prefix's server.
                stop_wineserver()
                desktop.wait(timeout=TIME_LIMIT)

    def wait_for(self, condition, what):
        deadline = time.monotonic() + TIME_LIMIT
        while time.monotonic() < deadline:
            found = condition()
            if found:
                return found
            time.sleep(0.1)
        self.fail("waited in vain for " + what)


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
