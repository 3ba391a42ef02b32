#!/usr/bin/env python3
"""The Linux display mode list against an X server with many modes (Xorg with the dummy video
driver), judged by what `xrandr --query` shows of the same server, and the X connections of a
whole run counted with strace.

PW_PROBE names the built display_modes_probe, PW_TESTBED the testbed program."""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from display_xvfb import kernel_modes, unavailable, xorg_dummy, xvfb  # noqa: E402
from harness import TESTBED, game_folder  # noqa: E402

PROBE = os.environ.get("PW_PROBE", "")

OUTPUT_LINE = re.compile(r"^(\S+) (connected|disconnected)")
MODE_LINE = re.compile(r"^\s+(\d+)x(\d+)\s+(.*)$")


def xrandr_outputs(env):
    """{output: (connected, [(width, height, refresh rate), ...])} from `xrandr --query`."""
    text = subprocess.run(["xrandr", "--query"], env=env, capture_output=True, check=True,
                          timeout=30).stdout.decode()
    outputs, current = {}, None
    for line in text.splitlines():
        match = OUTPUT_LINE.match(line)
        if match:
            current = match.group(1)
            outputs[current] = (match.group(2) == "connected", [])
            continue
        match = MODE_LINE.match(line)
        if match and current:
            for rate in re.findall(r"\d+\.\d+", match.group(3)):
                outputs[current][1].append((int(match.group(1)), int(match.group(2)), rate))
    return outputs


def listed_modes(env):
    done = subprocess.run([PROBE], env=env, capture_output=True, timeout=30, check=True)
    lines = done.stdout.decode().splitlines()
    assert lines[-1] == "count %d" % (len(lines) - 1), lines
    return [tuple(int(n) for n in line.split("x")) for line in lines[:-1]]


class many_modes(unittest.TestCase):
    def test_connected_outputs_modes_sorted_without_repeats(self):
        try:
            server = xorg_dummy().__enter__()
        except unavailable as why:
            self.skipTest(str(why))
        try:
            env = server.environment()
            # A mode on a disconnected output, which the list must leave out.
            subprocess.run(["xrandr", "--newmode", "1234x567", "50", "1234", "1300", "1400",
                            "1500", "567", "570", "580", "600"], env=env, check=True)
            subprocess.run(["xrandr", "--addmode", "DUMMY1", "1234x567"], env=env, check=True)
            outputs = xrandr_outputs(env)
            connected = {(w, h) for c, modes in outputs.values() if c for w, h, _ in modes}
            rated = [m for c, modes in outputs.values() if c for m in modes]
            print(server.display, "connected sizes:", len(connected), "with rates:", len(rated))
            self.assertGreaterEqual(len(rated), 40, "the dummy server offers fewer modes")
            self.assertGreater(len(rated), len(connected), "no refresh-rate repeats to collapse")
            unplugged = {(w, h) for c, modes in outputs.values() if not c for w, h, _ in modes}
            self.assertIn((1234, 567), unplugged)

            found = listed_modes(env)
            self.assertEqual(found, sorted(connected | kernel_modes()))
            self.assertNotIn((1234, 567), found)
        finally:
            server.stop()


def x_connects(program, env, folder, data=b""):
    """The connect calls of a whole run that reached the X server's socket."""
    # LeakSanitizer stops the world through ptrace, which a traced process cannot do.
    env = dict(env)
    env["ASAN_OPTIONS"] = ":".join(filter(None, [env.get("ASAN_OPTIONS"), "detect_leaks=0"]))
    with tempfile.TemporaryDirectory(prefix="pixelwarde-strace-") as scratch:
        log = os.path.join(scratch, "connects")
        subprocess.run(["strace", "-f", "-e", "trace=connect", "-o", log, program], env=env,
                       cwd=folder, input=data, stdout=subprocess.DEVNULL, timeout=60,
                       check=True)
        with open(log) as f:
            return [line for line in f if "X11-unix" in line and line.rstrip().endswith("= 0")]


class one_connection(unittest.TestCase):
    def test_a_whole_run_connects_once(self):
        if shutil.which("strace") is None:
            self.skipTest("strace is not installed")
        with xvfb("1600x900x24") as server, game_folder() as g:
            g.write_game()
            env = server.environment()
            for name, program, data in [("probe", PROBE, b""), ("testbed", TESTBED, b"1")]:
                with self.subTest(name):
                    connects = x_connects(program, env, g.path, data)
                    self.assertEqual(len(connects), 1, connects)


if __name__ == "__main__":
    unittest.main(verbosity=2)
