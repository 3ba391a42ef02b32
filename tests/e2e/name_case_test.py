#!/usr/bin/env python3
"""The game file's name in any case on the native build, as the game's own system finds it:
the exact name first, then the first name in byte order that differs only in ASCII case;
cstrike.exe before hl.exe in any case. The texts name the release's file; the file found is
the one written, and every other stays as it was."""

import unittest

from display_xvfb import kernel_modes, xvfb
from expected import ENTER_PROMPT, TITLE, found, lines, patched
from harness import TESTBED, UNDER_WINE, game_folder, main, run_piped

SCREEN = (1600, 900)
ROW_OF = {"cstrike.exe": 1, "hl.exe": 2}


@unittest.skipIf(UNDER_WINE, "Windows finds a name in any case by itself")
class names_in_any_case(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.server = xvfb("%dx%dx24" % SCREEN).__enter__()
        cls.env = {"DISPLAY": cls.server.display}
        cls.first_mode = sorted({SCREEN} | kernel_modes())[0]

    @classmethod
    def tearDownClass(cls):
        cls.server.__exit__(None, None, None)

    def test_which_file_is_found_and_written(self):
        w, h = self.first_mode
        # (files in the folder, the release they are named for, the one written)
        cases = [
            (["CSTRIKE.EXE"], "cstrike.exe", "CSTRIKE.EXE"),
            (["Cstrike.exe"], "cstrike.exe", "Cstrike.exe"),
            (["HL.EXE"], "hl.exe", "HL.EXE"),
            (["CSTRIKE.EXE", "cstrike.exe"], "cstrike.exe", "cstrike.exe"),
            (["Cstrike.exe", "CSTRIKE.EXE", "cstrike.EXE"], "cstrike.exe", "CSTRIKE.EXE"),
            (["HL.EXE", "Cstrike.Exe"], "cstrike.exe", "Cstrike.Exe"),
        ]
        for names, release, written in cases:
            with self.subTest(names), game_folder() as g:
                before = {name: g.write_game(name, ROW_OF[name.lower()]) for name in names}
                status, out = run_piped(TESTBED, g.path, b"11\r\r", env=self.env)
                self.assertEqual(status, 0)
                self.assertTrue(out.startswith(TITLE + found(release)), out)
                self.assertIn(lines("Warnung! Dieses Programm veraendert die %s." % release),
                              out)
                self.assertIn(lines("Sie haben die Aufloesung %dx%d gewaehlt." % (w, h)), out)
                self.assertTrue(out.endswith(ENTER_PROMPT), out)
                for name, data in before.items():
                    expected = (patched(data, ROW_OF[name.lower()], 1, w, h) if name == written
                                else data)
                    self.assertEqual(g.read(name), expected, name)


if __name__ == "__main__":
    main()
