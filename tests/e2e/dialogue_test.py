#!/usr/bin/env python3
"""The slot dialogue end to end: whole runs with piped input (Linux under a private X
server, Windows under Wine) and with real keys in a terminal, a refused write, and
interruptions at every prompt."""

import os
import signal
import struct
import subprocess
import time
import unittest

from harness import (CRLF, ENTER_PROMPT, TESTBED, TIME_LIMIT, TITLE, UNDER_WINE, environment,
                     exit_code, found, game_folder, lines, main, run_piped, stop_wineserver,
                     terminal_session)
import make_game_file

if not UNDER_WINE:
    from display_xvfb import kernel_modes, xvfb

SCREEN = (1600, 900)

# Slots whose bytes 2, 3, 6 and 7 are not all zero, to show that they are kept.
SLOTS = "320x240,400x300,000200AA80010000,640x480,800x600,1024x768,1152x864,1280x1024"
SHOWN_SLOTS = [(320, 240), (400, 300), (512, 384), (640, 480), (800, 600), (1024, 768),
               (1152, 864), (1280, 1024)]

WIDE_ADVICE = (
    lines("Bitte beachten: Fuer Wide-Screen-Aufloesungen (z. B. 16:9 oder 16:10) muss die")
    + b"Field-of-vision-Variable in der config.cfg korrekt gesetzt werden, ansonsten ist"
    + lines("das Bild in die Breite verzerrt. Die Anpassung in der config.cfg lautet dann:", "",
            "(fuer 16:10): default_fov 100.39487232", "(fuer 16:9): default_fov 106.270273206",
            "",
            "Solle es sich ergeben, dass doch wieder 4:3-Aufloesungen verwendet werden, kann",
            "diese Variable durch \"//\" am Anfang wieder auskommentiert werden.",
            "Die config.cfg liegt normalerweise im Ordner \"cstrike\"."))
FOUR_TO_THREE_ADVICE = lines(
    "Bitte ggf. die \"default_fov\"-Variable in der config.cfg auskommentieren.")
WRITE_REFUSED = lines("Fehler: Die Datei konnte nicht geschrieben werden.",
                      "Der Slot wurde nicht veraendert!")


def slot_listing(name):
    out = lines("Warnung! Dieses Programm veraendert die %s." % name,
                "Bitte vor Benutzung ein Backup anlegen.", "",
                "Welche CS-Aufloesung soll ersetzt werden?", "")
    for k, (w, h) in enumerate(SHOWN_SLOTS, 1):
        out += lines("(%d)  %dx %d" % (k, w, h))
    return out + lines("(9) ENDE", "", "Welche Aufloesung soll veraendert werden?", "")


def mode_block(slot, modes):
    w, h = SHOWN_SLOTS[slot - 1]
    out = lines("Zu aendernder Aufloesungsslot:  %dx %d" % (w, h),
                "Welche der verfuegbaren Aufloesungen soll verwendet werden?")
    for i, (mw, mh) in enumerate(modes, 1):
        out += lines("(%d) %dx%d" % (i, mw, mh))
    return out + lines("(%d) Slot nicht veraendern" % (len(modes) + 1))


def advice(w, h):
    return FOUR_TO_THREE_ADVICE if h == w / 4.0 * 3.0 else WIDE_ADVICE


def patched(data, row, slot, w, h):
    """data with bytes 0, 1, 4 and 5 of the slot set to w and h."""
    out = bytearray(data)
    at = make_game_file.slot_offset(row, slot)
    out[at:at + 2] = struct.pack("<H", w)
    out[at + 4:at + 6] = struct.pack("<H", h)
    return bytes(out)


class display:
    """The run's display: a private X server on Linux, Wine's own driver on Windows."""

    def __enter__(self):
        self.server = None
        if UNDER_WINE:
            self.env = None
        else:
            self.server = xvfb("%dx%dx24" % SCREEN).__enter__()
            self.env = {"DISPLAY": self.server.display}
        return self

    def __exit__(self, *exc):
        if self.server:
            self.server.__exit__(*exc)

    def modes(self):
        """The modes the run lists here, as the display offers them."""
        if self.server:
            return sorted({SCREEN} | kernel_modes())
        # Under Wine, read them off the program's own listing.
        with game_folder() as g:
            g.write_game(slots=SLOTS)
            _, out = run_piped(TESTBED, g.path, b"1", env=self.env)
        modes = []
        for line in out.split(b"\r\n"):
            if line.startswith(b"(") and b") " in line and b"x" in line and b"  " not in line:
                size = line.split(b") ", 1)[1]
                w, h = size.split(b"x")
                if w.isdigit() and h.isdigit():
                    modes.append((int(w), int(h)))
        return modes


class runs_on_the_display(unittest.TestCase):
    """Tests that share one display and the modes it offers."""

    @classmethod
    def setUpClass(cls):
        cls.display = display().__enter__()
        cls.modes = cls.display.modes()

    @classmethod
    def tearDownClass(cls):
        cls.display.__exit__(None, None, None)


class piped_runs(runs_on_the_display):

    def test_full_run_on_both_releases(self):
        self.assertGreater(len(self.modes), 0, "the display offers no mode")
        choice = len(self.modes)  # the last, largest mode
        w, h = self.modes[choice - 1]
        for name, row, slot in (("cstrike.exe", 1, 3), ("hl.exe", 2, 8)):
            with self.subTest(name), game_folder() as g:
                before = g.write_game(name, row=row, slots=SLOTS)
                keys = b"%d%d\r\r" % (slot, choice)
                status, out = run_piped(TESTBED, g.path, keys, env=self.display.env)
                expected = (TITLE + found(name) + slot_listing(name) +
                            mode_block(slot, self.modes) + lines(str(choice), "") +
                            lines("Sie haben die Aufloesung %dx%d gewaehlt." % (w, h), "") +
                            advice(w, h) + ENTER_PROMPT)
                self.assertEqual(out, expected)
                self.assertEqual(status, 0)
                self.assertEqual(g.read(name), patched(before, row, slot, w, h))

    def test_answers_out_of_range_repeat_the_block(self):
        n = len(self.modes)
        with game_folder() as g:
            before = g.write_game(slots=SLOTS)
            keys = b"2" + b"0\r%d\rx\r\r" % (n + 2) + b"%d\r\r" % (n + 1)
            status, out = run_piped(TESTBED, g.path, keys, env=self.display.env)
            block = mode_block(2, self.modes)
            self.assertEqual(out, TITLE + found("cstrike.exe") + slot_listing("cstrike.exe") +
                             block + lines("0") + block + lines(str(n + 2)) + block +
                             lines("x") + block + lines("") + block + lines(str(n + 1)) +
                             lines("Slot wird nicht veraendert!") + ENTER_PROMPT)
            self.assertEqual(status, 0)
            self.assertEqual(g.read(), before)

    def test_refused_write_is_reported(self):
        with game_folder() as g:
            before = g.write_game(slots=SLOTS)
            w, h = self.modes[0]
            keys = b"41\r\r"
            if UNDER_WINE:
                status, out = self._run_while_held(g, keys)
            else:
                status, out = self._run_on_read_only_mount(g, keys)
            self.assertEqual(out, TITLE + found("cstrike.exe") + slot_listing("cstrike.exe") +
                             mode_block(4, self.modes) + lines("1", "") +
                             lines("Sie haben die Aufloesung %dx%d gewaehlt." % (w, h), "") +
                             WRITE_REFUSED + ENTER_PROMPT)
            self.assertEqual(status, 0)
            self.assertEqual(g.read(), before)

    def _run_on_read_only_mount(self, g, keys):
        # Root ignores file permissions, so the folder is made read-only for real: a
        # read-only bind mount in a mount namespace of the run's own.
        probe = subprocess.run(["unshare", "-m", "true"], capture_output=True)
        if probe.returncode != 0:
            self.skipTest("no mount namespace here (unshare needs root)")
        script = ('mount --bind "$1" "$1" && mount -o remount,ro,bind "$1" "$1" && '
                  'cd "$1" && exec "$2"')
        proc = subprocess.run(["unshare", "-m", "sh", "-c", script, "sh", g.path, TESTBED],
                              input=keys, capture_output=True, timeout=TIME_LIMIT,
                              env=environment(self.display.env))
        return proc.returncode, proc.stdout

    def _run_while_held(self, g, keys):
        # A program holds the file as a running game would: open without write sharing.
        holder_exe = os.environ["PW_FILE_HOLDER"]
        holder = subprocess.Popen(["wine", holder_exe, "cstrike.exe"], cwd=g.path,
                                  stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                  stderr=subprocess.DEVNULL, env=environment())
        try:
            self.assertEqual(holder.stdout.readline().strip(), b"held")
            return run_piped(TESTBED, g.path, keys, env=self.display.env)
        finally:
            holder.stdin.close()
            holder.wait(timeout=TIME_LIMIT)
            holder.stdout.close()


@unittest.skipIf(UNDER_WINE, "terminal sessions are for the Linux build")
class terminal_runs(runs_on_the_display):

    def session(self, g):
        s = terminal_session(TESTBED, g.path, env=self.display.env)
        self.addCleanup(s.close)
        return s

    def test_full_run_with_real_keys(self):
        w, h = self.modes[0]
        with game_folder() as g:
            before = g.write_game(slots=SLOTS)
            s = self.session(g)
            s.expect(b"Welche Aufloesung soll veraendert werden?\r\n\r\n")
            s.send(b"\x1b[A7")  # an arrow key is ignored at the slot choice
            s.expect(b"Slot nicht veraendern\r\n")
            s.send(b"9\x1b[D\x1b[3~1\r")  # 9, Left, Delete: the answer is 1
            s.expect(b"(Enter zum Beenden druecken)\r\n")
            s.send(b"\r")
            self.assertEqual(exit_code(s.wait()), 0)
            self.assertIn(lines("Sie haben die Aufloesung %dx%d gewaehlt." % (w, h), "") +
                          advice(w, h) + ENTER_PROMPT, s.output)
            self.assertEqual(g.read(), patched(before, 1, 7, w, h))
            self.assertTrue(s.terminal_echoes())

    def test_advice_reads_right_at_any_width(self):
        # The 80-character advice line wraps by itself on 80 columns only; on any other
        # width it carries its own line end.
        wide = [i for i, (w, h) in enumerate(self.modes, 1) if h != w / 4.0 * 3.0]
        if not wide:
            self.skipTest("the display offers no wide-screen mode")
        eighty = b"Field-of-vision-Variable in der config.cfg korrekt gesetzt werden, ansonsten ist"
        for columns, after in ((80, b""), (120, CRLF), (60, CRLF)):
            with self.subTest(columns=columns), game_folder() as g:
                g.write_game(slots=SLOTS)
                s = terminal_session(TESTBED, g.path, env=self.display.env, columns=columns)
                self.addCleanup(s.close)
                s.expect(b"Welche Aufloesung soll veraendert werden?\r\n\r\n")
                s.send(b"2%d\r" % wide[0])
                s.expect(b"(Enter zum Beenden druecken)\r\n")
                s.send(b"\r")
                self.assertEqual(exit_code(s.wait()), 0)
                self.assertIn(eighty + after + b"das Bild in die Breite", s.output)

    def test_nine_ends_at_once(self):
        with game_folder() as g:
            before = g.write_game(slots=SLOTS)
            s = self.session(g)
            s.expect(b"Welche Aufloesung soll veraendert werden?\r\n\r\n")
            s.send(b"9")
            self.assertEqual(exit_code(s.wait()), 0)
            self.assertEqual(s.output, TITLE + found("cstrike.exe") + slot_listing("cstrike.exe"))
            self.assertEqual(g.read(), before)
            self.assertTrue(s.terminal_echoes())

    def test_out_of_range_repeats_the_block(self):
        n = len(self.modes)
        with game_folder() as g:
            g.write_game(slots=SLOTS)
            s = self.session(g)
            s.expect(b"Welche Aufloesung soll veraendert werden?\r\n\r\n")
            s.send(b"1")
            s.expect(b"Slot nicht veraendern\r\n")
            s.send(b"%d\r" % (n + 2))
            s.expect(b"Slot nicht veraendern\r\n", times=2)
            s.send(b"%d\r" % (n + 1))
            s.expect(b"(Enter zum Beenden druecken)\r\n")
            s.send(b"\r")
            self.assertEqual(exit_code(s.wait()), 0)
            self.assertEqual(s.output.count(b"Zu aendernder Aufloesungsslot:"), 2)
            self.assertIn(b"Slot wird nicht veraendert!\r\n", s.output)

    def test_interrupt_at_every_prompt(self):
        w, h = self.modes[0]
        prompts = [
            ("slot choice", b"", b"Welche Aufloesung soll veraendert werden?\r\n\r\n"),
            ("mode choice", b"5", b"Slot nicht veraendern\r\n"),
            ("typing", b"51", b"1"),
            ("Enter prompt", b"51\r", b"(Enter zum Beenden druecken)\r\n"),
        ]
        for what, keys, prompt in prompts:
            for how in ("ctrl_c", signal.SIGTERM, signal.SIGHUP):
                with self.subTest(what=what, how=str(how)), game_folder() as g:
                    before = g.write_game(slots=SLOTS)
                    s = terminal_session(TESTBED, g.path, env=self.display.env)
                    try:
                        s.expect(b"Welche Aufloesung soll veraendert werden?\r\n\r\n")
                        for key in keys:
                            s.send(bytes([key]))
                        s.expect(prompt)
                        if how == "ctrl_c":
                            s.send(b"\x03")
                        else:
                            s.signal(how)
                        self.assertEqual(exit_code(s.wait()), 0)
                        self.assertTrue(s.terminal_echoes())
                        self.assertIn(g.read(), (before, patched(before, 1, 5, w, h)))
                        if what == "Enter prompt":
                            self.assertEqual(g.read(), patched(before, 1, 5, w, h))
                    finally:
                        s.close()


@unittest.skipUnless(UNDER_WINE, "Wine's console in a terminal")
class wine_console_runs(unittest.TestCase):

    def test_advice_reads_right_in_a_wide_console(self):
        # A console 120 columns wide, as Windows 10 and 11 open them, and a wide-screen mode:
        # Wine on a private X server offers that server's 1600x900.
        from display_xvfb import xvfb
        eighty = "Field-of-vision-Variable in der config.cfg korrekt gesetzt werden, ansonsten ist"
        with xvfb("1600x900x24") as server, game_folder() as g:
            g.write_game(slots=SLOTS)
            env = environment({"DISPLAY": server.display})
            env.pop("TMUX", None)
            socket = g.file("tmux")

            def tmux(*args):
                return subprocess.run(["tmux", "-S", socket] + list(args), env=env, check=True,
                                      capture_output=True, timeout=TIME_LIMIT).stdout.decode()

            def screen_shows(text):
                deadline = time.monotonic() + TIME_LIMIT
                while text not in tmux("capture-pane", "-p"):
                    if time.monotonic() > deadline:
                        self.fail("%r not on the screen: %s" % (text, tmux("capture-pane", "-p")))
                    time.sleep(0.1)

            # Wine picks its display driver when its server starts: start it afresh here.
            stop_wineserver()
            tmux("-f", os.devnull, "new-session", "-d", "-x", "120", "-y", "50", "-c", g.path,
                 "wine " + TESTBED)
            try:
                screen_shows("Welche Aufloesung soll veraendert werden?")
                tmux("send-keys", "1")
                screen_shows("(1) 1600x900")
                tmux("send-keys", "1", "Enter")
                screen_shows("(Enter zum Beenden druecken)")
                rows = [row.rstrip() for row in tmux("capture-pane", "-p").split("\n")]
                self.assertIn(eighty, rows)
                self.assertTrue(rows[rows.index(eighty) + 1].startswith("das Bild"), rows)
                tmux("send-keys", "Enter")
            finally:
                subprocess.run(["tmux", "-S", socket, "kill-server"], capture_output=True)
                # Wine's processes of this prefix talked to the X server; they go with it.
                stop_wineserver()


if __name__ == "__main__":
    main()
