#!/usr/bin/env python3
"""The Linux program that is handed out runs on any x86-64 Linux with glibc 2.35 or newer:
it needs no shared library beyond libc, libm, the loader and libgcc_s, no glibc symbol newer
than 2.35, carries no symbol table, and starts where libstdc++ and libxcb are missing.

    linux_release_test.py PROGRAM

PW_VERSION (the version of project()) names the title the program must print.
"""

import os
import re
import subprocess
import sys
import tempfile
import unittest

PROGRAM = ""
VERSION = os.environ.get("PW_VERSION", "")

ALLOWED_LIBRARIES = {"libc.so.6", "libm.so.6", "ld-linux-x86-64.so.2", "libgcc_s.so.1"}
NEWEST_GLIBC = (2, 35)
# Present on a build machine, absent on many a player's: the program must not need them.
HIDDEN_SONAMES = ["libstdc++.so.6", "libxcb.so.1", "libxcb-randr.so.0"]


def readelf(*options):
    return subprocess.run(["readelf", "--wide", *options, PROGRAM], capture_output=True,
                          text=True, check=True).stdout


def library_files(soname):
    """The files the loader would open for SONAME, as its cache lists them."""
    listing = subprocess.run(["/sbin/ldconfig", "-p"], capture_output=True, text=True,
                             check=True).stdout
    paths = re.findall(r"^\s*" + re.escape(soname) + r" \(libc6,x86-64[^)]*\) => (\S+)$",
                       listing, re.MULTILINE)
    return sorted({os.path.realpath(p) for p in paths})


class linux_release_test(unittest.TestCase):
    def test_needs_only_libc_libm_loader_and_libgcc(self):
        needed = set(re.findall(r"\(NEEDED\)\s+Shared library: \[([^\]]+)\]", readelf("-d")))
        self.assertIn("libc.so.6", needed)
        self.assertEqual(needed - ALLOWED_LIBRARIES, set())

    def test_newest_glibc_symbol_version_is_2_35_at_most(self):
        versions = [tuple(int(n) for n in v.split("."))
                    for v in re.findall(r"Name: GLIBC_([0-9.]+)", readelf("-V"))]
        self.assertTrue(versions, "no GLIBC_ version needed: not read")
        print("newest GLIBC_ version needed: %s" % ".".join(map(str, max(versions))))
        self.assertLessEqual(max(versions), NEWEST_GLIBC)

    def test_stripped(self):
        sections = re.findall(r"^\s*\[\s*\d+\]\s+(\S+)", readelf("-S"), re.MULTILINE)
        self.assertIn(".text", sections)
        self.assertEqual([s for s in sections if s == ".symtab" or s.startswith(".debug")], [])

    def test_starts_with_libstdcxx_and_libxcb_hidden(self):
        # A mount namespace of the test's own, where /dev/null lies over each library file;
        # the namespace and its mounts end with the process.
        files = [f for soname in HIDDEN_SONAMES for f in library_files(soname)]
        unshare = ["unshare", "--mount", "--propagation", "private"]
        if os.getuid() != 0:
            unshare.append("--map-root-user")
        probe = subprocess.run(unshare + ["true"], capture_output=True, text=True)
        if probe.returncode != 0:
            self.skipTest("no mount namespace here (%s): %s"
                          % (" ".join(unshare), probe.stderr.strip()))
        script = ('for f in "$@"; do mount --bind /dev/null "$f" && [ ! -s "$f" ] || exit 97; '
                  'done; exec "$PW_RUN"')
        env = {"PATH": "/usr/sbin:/usr/bin:/sbin:/bin", "PW_RUN": os.path.abspath(PROGRAM)}
        if "DISPLAY" in os.environ:
            env["DISPLAY"] = os.environ["DISPLAY"]
        with tempfile.TemporaryDirectory(prefix="pixelwarde-release-") as folder:
            # A game file by name only: the run gets as far as asking the display for modes.
            with open(os.path.join(folder, "cstrike.exe"), "wb") as f:
                f.write(b"MZ" + bytes(62))
            run = subprocess.run(unshare + ["sh", "-c", script, "sh", *files], cwd=folder,
                                 env=env, stdin=subprocess.DEVNULL, capture_output=True,
                                 timeout=30)
        self.assertNotEqual(run.returncode, 97, "could not hide %s: %r" % (files, run.stderr))
        print("hidden: " + ", ".join(files))
        title = ("Pixelwarde %s\r\n\r\ncstrike.exe gefunden!\r\n" % VERSION).encode()
        self.assertTrue(run.stdout.startswith(title), (run.stdout, run.stderr))
        self.assertEqual(run.returncode, 0, run.stderr)


if __name__ == "__main__":
    if len(sys.argv) != 2 or not VERSION:
        sys.exit("usage: PW_VERSION=VERSION linux_release_test.py PROGRAM")
    PROGRAM = sys.argv[1]
    unittest.main(argv=sys.argv[:1], verbosity=2)
