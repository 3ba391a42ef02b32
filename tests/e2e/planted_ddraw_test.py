#!/usr/bin/env python3
"""A ddraw.dll in the game folder, beside the program, as old games often carry a DirectDraw
wrapper there: the program must list the same display modes as without it and never run its
code. Wine is told to prefer such a native ddraw.dll, as it would a real wrapper's, so that
loading the library by name would pick the planted one. Windows build only (under Wine).

PW_PLANTED_DDRAW names the built DLL, which leaves the file "planted-ddraw-ran" in the
current folder when it is loaded or called."""

import os
import shutil
import unittest

from harness import TESTBED, UNDER_WINE, game_folder, main, run_piped

PLANTED = os.environ.get("PW_PLANTED_DDRAW", "")
PREFER_NATIVE_DDRAW = {"WINEDLLOVERRIDES": "mscoree,mshtml=;ddraw=n,b"}


def mode_listing(folder, program):
    """The run up to the mode block of slot 1, where the input ends."""
    status, out = run_piped(program, folder, b"1", env=PREFER_NATIVE_DDRAW)
    assert status == 0, status
    return out[out.index(b"Zu aendernder"):]


@unittest.skipUnless(UNDER_WINE, "a Windows program")
class planted_ddraw(unittest.TestCase):
    def test_the_game_folders_ddraw_is_never_loaded(self):
        with game_folder() as plain, game_folder() as planted:
            plain.write_game()
            expected = mode_listing(plain.path, TESTBED)

            planted.write_game()
            program = planted.file(os.path.basename(TESTBED))
            shutil.copy(TESTBED, program)
            shutil.copy(PLANTED, planted.file("ddraw.dll"))
            self.assertEqual(mode_listing(planted.path, program), expected)
            self.assertFalse(os.path.exists(planted.file("planted-ddraw-ran")),
                             "the planted ddraw.dll ran")


if __name__ == "__main__":
    main()
