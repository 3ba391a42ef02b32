#!/usr/bin/env python3
"""make_game_file reads the release table of releases.cpp as the compiler would, whatever
way a number is written, and stops at a row it cannot read instead of leaving it out."""

import os
import tempfile
import unittest

import make_game_file


class release_table(unittest.TestCase):
    def setUp(self):
        with open(make_game_file.RELEASES_SOURCE, encoding="ascii") as f:
            self.source = f.read()

    def rows_of(self, text):
        with tempfile.NamedTemporaryFile("w", suffix=".cpp", delete=False) as f:
            f.write(text)
        try:
            return make_game_file.read_rows(f.name)
        finally:
            os.unlink(f.name)

    def test_numbers_read_in_every_notation(self):
        length, slots, guard = make_game_file.ROWS[1][1:]
        for notation in (hex, lambda n: "0%o" % n, lambda n: "{:,}u".format(n).replace(",", "'"), bin):
            with self.subTest(notation=notation(length)):
                text = self.source
                for number in (length, slots, guard):
                    text = text.replace(str(number), notation(number), 1)
                self.assertEqual(self.rows_of(text), make_game_file.ROWS)

    def test_a_row_that_cannot_be_read_stops_the_script(self):
        name, length, slots, guard = make_game_file.ROWS[2]
        text = self.source.replace(str(slots), "hl_slot_table", 1)
        with self.assertRaises(SystemExit) as stopped:
            self.rows_of(text)
        self.assertIn("row 2", str(stopped.exception))


if __name__ == "__main__":
    unittest.main(verbosity=2)
