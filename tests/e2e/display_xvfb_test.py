"""The Linux display mode sources against a real X server (Xvfb) and without one.

PW_PROBE names the built display_modes_probe, which prints the run's mode list."""

import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from display_xvfb import kernel_modes, xvfb  # noqa: E402

PROBE = os.environ.get("PW_PROBE", "")


def listed_modes(env, *args):
    done = subprocess.run([PROBE, *args], env=env, capture_output=True, timeout=30, check=True)
    lines = done.stdout.decode().splitlines()
    sizes = [tuple(int(n) for n in line.split("x")) for line in lines[:-1]]
    assert lines[-1] == "count %d" % len(sizes), lines
    return sizes


def without_display():
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    return env


class display_modes_under_x(unittest.TestCase):
    def setUp(self):
        self.kernel = kernel_modes()
        print("kernel modes:", sorted(self.kernel))

    def test_the_screen_size_at_depth_24_is_listed(self):
        with xvfb("1600x900x24") as server:
            found = listed_modes(server.environment())
            print(server.display, "1600x900x24:", found)
            self.assertEqual(found, sorted(self.kernel | {(1600, 900)}))

            # Without the RandR functions the X server contributes nothing and the run goes on.
            found = listed_modes(server.environment(), "--randr-library", "libxcb.so.1")
            self.assertEqual(found, sorted(self.kernel))

    def test_a_16_bit_screen_is_listed_at_16_bits_only(self):
        with xvfb("1024x768x16") as server:
            found = listed_modes(server.environment())
            print(server.display, "1024x768x16:", found)
            self.assertEqual(found, sorted(self.kernel))
            self.assertIn((1024, 768), listed_modes(server.environment(), "--depth", "16"))

    def test_without_display_only_the_kernel_modes_remain(self):
        found = listed_modes(without_display())
        print("no DISPLAY:", found)
        self.assertEqual(found, sorted(self.kernel))


if __name__ == "__main__":
    unittest.main(verbosity=2)
