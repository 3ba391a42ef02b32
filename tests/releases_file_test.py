#!/usr/bin/env python3
"""The tests' statement of the releases reads whole or not at all: a release that lacks a
field, or a line that does not read, stops the reader instead of being left out."""

import os
import tempfile
import unittest

import releases


class releases_file(unittest.TestCase):
    def setUp(self):
        with open(releases.PATH, encoding="ascii") as f:
            self.text = f.read()

    def read(self, text):
        with tempfile.NamedTemporaryFile("w", suffix=".txt", delete=False) as f:
            f.write(text)
        try:
            return releases.read(f.name)
        finally:
            os.unlink(f.name)

    def test_the_file_reads_as_written(self):
        self.assertEqual(self.read(self.text), (releases.RELEASES, releases.HEADER_TEXTS,
                                                releases.GUARD_TEXTS))
        self.assertEqual([r.file_name for r in releases.RELEASES], ["cstrike.exe", "hl.exe"])

    def test_a_line_that_does_not_read_stops_the_reader(self):
        guard_2 = "  guard %d\n" % releases.row(2).guard
        cases = [
            ("a field left out", guard_2, "", "hl.exe lacks guard"),
            ("a number that is none", guard_2, "  guard 848_69x\n", "is no number"),
            ("a field twice", guard_2, guard_2 * 2, "given twice"),
            ("a flag neither yes nor no", "prints_digests no", "prints_digests nein",
             "yes or no"),
            ("an unknown key", "header_text", "heder_text", "unknown key"),
            ("a field of no release", "guard_text", "  length 1\nguard_text",
             "no field of a release"),
            ("a key without a value", "  length 942080", "  length", "has no value"),
        ]
        for what, old, new, message in cases:
            with self.subTest(what):
                self.assertIn(old, self.text)
                with self.assertRaises(SystemExit) as stopped:
                    self.read(self.text.replace(old, new, 1))
                self.assertIn(message, str(stopped.exception))


if __name__ == "__main__":
    unittest.main(verbosity=2)
