"""A private X server (Xvfb) for the display mode tests and benchmark, and the kernel's own
modes, which the list holds beside the X server's."""

import ctypes
import glob
import os
import re
import select
import subprocess
import time

START_LIMIT = 20


def _end_with_parent():
    # Should the test itself be killed (a CTest time-out), the X server goes with it.
    PR_SET_PDEATHSIG = 1
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, 15)


class xvfb:
    """Starts Xvfb on a free display number with one screen ("WIDTHxHEIGHTxDEPTH"); stops it
    on leaving the with-block, whatever happened inside."""

    def __init__(self, screen):
        self.screen = screen
        self.process = None
        self.display = None

    def __enter__(self):
        read_end, write_end = os.pipe()
        try:
            self.process = subprocess.Popen(
                # -noreset: a bare Xvfb resets whenever its last client leaves, which takes
                # tens of milliseconds and refuses connections meanwhile; a desktop's server,
                # never without clients, does not.
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0", self.screen,
                 "-nolisten", "tcp", "-noreset"],
                pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                preexec_fn=_end_with_parent)
            os.close(write_end)
            write_end = -1
            number = b""
            deadline = time.monotonic() + START_LIMIT
            while not number.endswith(b"\n"):
                left = deadline - time.monotonic()
                if left <= 0 or not select.select([read_end], [], [], left)[0]:
                    raise RuntimeError("Xvfb did not report its display number")
                chunk = os.read(read_end, 16)
                if not chunk:
                    raise RuntimeError("Xvfb ended before it reported its display number")
                number += chunk
            self.display = ":" + number.decode().strip()
        except BaseException:
            self.stop()
            raise
        finally:
            os.close(read_end)
            if write_end >= 0:
                os.close(write_end)
        return self

    def __exit__(self, *exc):
        self.stop()
        return False

    def stop(self):
        if self.process is None:
            return
        self.process.terminate()
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self.process = None

    def environment(self):
        env = dict(os.environ)
        env["DISPLAY"] = self.display
        return env


def kernel_modes():
    """The sizes of every connected connector under /sys/class/drm."""
    sizes = set()
    for status in glob.glob("/sys/class/drm/*/status"):
        try:
            with open(status, "rb") as f:
                if f.read().strip() != b"connected":
                    continue
            with open(os.path.join(os.path.dirname(status), "modes"), "rb") as f:
                for line in f.read().decode("ascii", "replace").splitlines():
                    match = re.match(r"(\d+)x(\d+)", line)
                    if match:
                        sizes.add((int(match.group(1)), int(match.group(2))))
        except OSError:
            continue
    return sizes
