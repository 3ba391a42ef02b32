#!/usr/bin/env python3
"""The slot dialogue end to end: whole runs with piped input (Linux under a private X
server, Windows under Wine) and with real keys in a terminal, a refused write, answers out of
range, and interruptions at every prompt (also the Enter prompt of a refused file)."""

import os
import signal
import subprocess
import unittest

from display_xvfb import runs_on_the_display
from expected import (ADVICE_80, CRLF, CTRL_C, ENTER_PROMPT, KEPT, LENGTH_1, MODE_QUESTION,
                      NOT_WRITTEN, SLOT_QUESTION, SLOTS, TITLE, advice, chosen, chosen_line,
                      found, lines, listing, mode_block, patched, slot_listing)
from harness import (TESTBED, UNDER_WINE, game_folder, main, piped_session, pty_session,
                     run_piped, stop_wineserver, tmux_pane)


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
                            mode_block(slot, self.modes) + lines(str(choice)) + chosen(w, h) +
                            ENTER_PROMPT)
                self.assertEqual(out, expected)
                self.assertEqual(status, 0)
                self.assertEqual(g.read(name), patched(before, row, slot, w, h))

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
                             lines(chosen_line(w, h), "") + NOT_WRITTEN + ENTER_PROMPT)
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
        return run_piped(TESTBED, g.path, keys, env=self.display.env,
                         argv=["unshare", "-m", "sh", "-c", script, "sh", g.path, TESTBED])

    def _run_while_held(self, g, keys):
        # A program holds the file as a running game does: open without write sharing.
        holder_exe = os.environ["PW_FILE_HOLDER"]
        with piped_session(holder_exe, g.path,
                           argv=["wine", holder_exe, "cstrike.exe"]) as holder:
            holder.expect(b"held")
            self.assertEqual(holder.output.strip(), b"held")
            result = run_piped(TESTBED, g.path, keys, env=self.display.env)
            holder.close_input()
            holder.wait()
            return result


@unittest.skipIf(UNDER_WINE, "terminal sessions are for the Linux build")
class terminal_runs(runs_on_the_display):

    def session(self, g, **options):
        s = pty_session(TESTBED, g.path, env=self.display.env, **options)
        self.addCleanup(s.stop)
        return s

    def test_full_run_with_real_keys(self):
        w, h = self.modes[0]
        with game_folder() as g:
            before = g.write_game(slots=SLOTS)
            s = self.session(g)
            s.expect(SLOT_QUESTION)
            s.send(b"\x1b[A7")  # an arrow key is ignored at the slot choice
            s.expect(MODE_QUESTION)
            s.send(b"9\x1b[D\x1b[3~1\r")  # 9, Left, Delete: the answer is 1
            s.expect(ENTER_PROMPT)
            s.send(b"\r")
            self.assertEqual(s.wait(), 0)
            self.assertIn(lines(chosen_line(w, h), "") + advice(w, h) + ENTER_PROMPT, s.output)
            self.assertEqual(g.read(), patched(before, 1, 7, w, h))
            self.assertTrue(s.terminal_echoes())

    def test_advice_reads_right_at_any_width(self):
        # The 80-character advice line wraps by itself on 80 columns only; on any other
        # width it carries its own line end.
        wide = [i for i, (w, h) in enumerate(self.modes, 1) if h != w / 4.0 * 3.0]
        if not wide:
            self.skipTest("the display offers no wide-screen mode")
        for columns, after in ((80, b""), (120, CRLF), (60, CRLF)):
            with self.subTest(columns=columns), game_folder() as g:
                g.write_game(slots=SLOTS)
                s = self.session(g, columns=columns)
                s.expect(SLOT_QUESTION)
                s.send(b"2%d\r" % wide[0])
                s.expect(ENTER_PROMPT)
                s.send(b"\r")
                self.assertEqual(s.wait(), 0)
                self.assertIn(ADVICE_80.encode() + after + b"das Bild in die Breite", s.output)

    def test_nine_ends_at_once(self):
        with game_folder() as g:
            before = g.write_game(slots=SLOTS)
            s = self.session(g)
            s.expect(SLOT_QUESTION)
            s.send(b"9")
            self.assertEqual(s.wait(), 0)
            self.assertEqual(s.output, TITLE + found("cstrike.exe") + slot_listing("cstrike.exe"))
            self.assertEqual(g.read(), before)
            self.assertTrue(s.terminal_echoes())


class every_kind_of_input(runs_on_the_display):
    """The same answers and interruptions on a pipe and in a terminal."""

    def test_answers_out_of_range_show_the_block_again(self):
        n = len(self.modes)
        # Each answer shows the block again; then n + 1 keeps the slot.
        answers = [b"0", b"%d" % (n + 2), b"x", b""]
        block = mode_block(2, self.modes)
        kinds = ["pipe"] if UNDER_WINE else ["pipe", "terminal"]
        for kind in kinds:
            with self.subTest(kind), game_folder() as g:
                before = g.write_game(slots=SLOTS)
                if kind == "pipe":
                    keys = b"2" + b"".join(a + b"\r" for a in answers) + b"%d\r\r" % (n + 1)
                    status, out = run_piped(TESTBED, g.path, keys, env=self.display.env)
                    self.assertEqual(out, listing() + block +
                                     b"".join(lines(a.decode()) + block for a in answers) +
                                     lines(str(n + 1)) + KEPT + ENTER_PROMPT)
                else:
                    with pty_session(TESTBED, g.path, env=self.display.env) as s:
                        s.expect(SLOT_QUESTION)
                        s.send(b"2")
                        s.expect(MODE_QUESTION)
                        for answer in answers:
                            s.send(answer + b"\r")
                            s.expect(MODE_QUESTION)
                        s.send(b"%d\r" % (n + 1))
                        s.expect(KEPT + ENTER_PROMPT)
                        s.send(b"\r")
                        status, out = s.wait(), s.output
                        self.assertTrue(s.terminal_echoes())
                    self.assertEqual(out.count(b"Zu aendernder Aufloesungsslot:"),
                                     len(answers) + 1)
                self.assertEqual(status, 0)
                self.assertEqual(g.read(), before)

    @unittest.skipIf(UNDER_WINE, "signals and terminal sessions of the Linux build")
    def test_interrupt_at_every_prompt(self):
        w, h = self.modes[0]
        block = mode_block(5, self.modes)
        # (prompt, the game file, what shows first, the keys that lead on to the prompt each
        # with what shows after it, the whole output there on a pipe, slot 5 written by then)
        prompts = [
            ("slot choice", {}, SLOT_QUESTION, [], listing(), False),
            ("mode choice", {}, SLOT_QUESTION, [(b"5", MODE_QUESTION)], listing() + block,
             False),
            ("typing", {}, SLOT_QUESTION, [(b"5", MODE_QUESTION), (b"1", b"1")],
             listing() + block + b"1", False),
            ("Enter prompt", {}, SLOT_QUESTION,
             [(b"5", MODE_QUESTION), (b"1", b"1"), (b"\r", ENTER_PROMPT)],
             listing() + block + lines("1") + chosen(w, h) + ENTER_PROMPT, True),
            ("Enter prompt of a file of the wrong length", dict(length_delta=1), ENTER_PROMPT, [],
             TITLE + found("cstrike.exe") + lines(LENGTH_1) + ENTER_PROMPT, False),
        ]
        # Ctrl+C as typed in a terminal, and the end signals; a pipe has no Ctrl+C.
        kinds = [("terminal", pty_session, (CTRL_C, signal.SIGTERM, signal.SIGHUP)),
                 ("pipe", piped_session, (signal.SIGINT, signal.SIGTERM, signal.SIGHUP))]
        for what, options, first, steps, piped_output, writes in prompts:
            for kind, session, ways in kinds:
                for way in ways:
                    how = "Ctrl+C" if way == CTRL_C else way.name
                    with self.subTest(prompt=what, session=kind, how=how), game_folder() as g:
                        before = g.write_game(slots=SLOTS, **options)
                        with session(TESTBED, g.path, env=self.display.env) as s:
                            if kind == "pipe":
                                s.send(b"".join(key for key, _ in steps))
                                s.expect(piped_output)
                                self.assertEqual(s.output, piped_output)
                            else:
                                s.expect(first)
                                for key, shows in steps:
                                    s.send(key)
                                    s.expect(shows)
                            if way == CTRL_C:
                                s.send(CTRL_C)
                            else:
                                s.signal(way)
                            self.assertEqual(s.wait(), 0)
                            if kind == "pipe":
                                self.assertEqual(s.output, piped_output)
                            else:
                                self.assertTrue(s.terminal_echoes())
                        self.assertEqual(g.read(),
                                         patched(before, 1, 5, w, h) if writes else before)


@unittest.skipUnless(UNDER_WINE, "Wine's console in a terminal")
class wine_console_runs(unittest.TestCase):

    def test_advice_reads_right_in_a_wide_console(self):
        # A console 120 columns wide, as Windows 10 and 11 open them, and a wide-screen mode:
        # Wine on a private X server offers that server's 1600x900.
        from display_xvfb import xvfb
        with xvfb("1600x900x24") as server, game_folder() as g:
            g.write_game(slots=SLOTS)
            # Wine picks its display driver when its server starts: start it afresh here.
            stop_wineserver()
            try:
                with tmux_pane(TESTBED, g.path, env={"DISPLAY": server.display}, columns=120,
                               rows=50) as pane:
                    pane.expect("Welche Aufloesung soll veraendert werden?")
                    pane.send(b"1")
                    pane.expect("(1) 1600x900")
                    pane.send(b"1\r")
                    pane.expect("(Enter zum Beenden druecken)")
                    rows = [row.rstrip() for row in pane.screen()]
                    self.assertIn(ADVICE_80, rows)
                    self.assertTrue(rows[rows.index(ADVICE_80) + 1].startswith("das Bild"), rows)
                    pane.send(b"\r")
                    self.assertEqual(pane.wait(), 0)
            finally:
                # Wine's processes of this prefix talked to the X server; they go with it.
                stop_wineserver()


if __name__ == "__main__":
    main()
