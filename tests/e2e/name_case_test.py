#!/usr/bin/env python3
"""The game file's name in any case on the native build, as the game's own system finds it:
the exact name first, then the first name in byte order that differs only in ASCII case;
cstrike.exe before hl.exe in any case. The texts name the release's file; the file found is
the one written, and every other stays as it was."""

import unittest

from display_xvfb import runs_on_the_display
from expected import ENTER_PROMPT, TITLE, chosen_line, found, lines, patched, warning
from harness import TESTBED, UNDER_WINE, game_folder, main, run_piped

ROW_OF = {"cstrike.exe": 1, "hl.exe": 2}


@unittest.skipIf(UNDER_WINE, "Windows finds a name in any case by itself")
class names_in_any_case(runs_on_the_display):

    def test_which_file_is_found_and_written(self):
        w, h = self.modes[0]
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
                status, out = run_piped(TESTBED, g.path, b"11\r\r", env=self.display.env)
                self.assertEqual(status, 0)
                self.assertTrue(out.startswith(TITLE + found(release)), out)
                self.assertIn(warning(release), out)
                self.assertIn(lines(chosen_line(w, h)), out)
                self.assertTrue(out.endswith(ENTER_PROMPT), out)
                for name, data in before.items():
                    expected = (patched(data, ROW_OF[name.lower()], 1, w, h) if name == written
                                else data)
                    self.assertEqual(g.read(name), expected, name)


if __name__ == "__main__":
    main()
