"""The displays that runs are made on, beside the harness: private X servers for the display
mode tests and benchmark (Xvfb, and Xorg with the dummy video driver for many modes), the
kernel's own modes, which the list holds beside the X server's, and the one display that the
dialogue tests share (a private Xvfb on Linux, Wine's own modes on Windows)."""

import glob
import os
import re
import select
import shutil
import subprocess
import tempfile
import time
import unittest

from harness import TESTBED, UNDER_WINE, end_with_parent, game_folder, run_piped, stop

START_LIMIT = 20


class _x_server:
    """Starts an X server on a free display number (it reports the number through
    -displayfd); stops it by its process id on leaving the with-block, whatever happened
    inside. Subclasses give the command line."""

    name = "X server"

    def __init__(self):
        self.process = None
        self.display = None

    def command(self, displayfd):
        raise NotImplementedError

    def __enter__(self):
        read_end, write_end = os.pipe()
        try:
            self.process = subprocess.Popen(
                self.command(write_end), pass_fds=(write_end,), stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL, preexec_fn=end_with_parent)
            os.close(write_end)
            write_end = -1
            number = b""
            deadline = time.monotonic() + START_LIMIT
            while not number.endswith(b"\n"):
                left = deadline - time.monotonic()
                if left <= 0 or not select.select([read_end], [], [], left)[0]:
                    raise RuntimeError("%s did not report its display number" % self.name)
                chunk = os.read(read_end, 16)
                if not chunk:
                    raise RuntimeError("%s ended before it reported its display number%s"
                                       % (self.name, self.failure_detail()))
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

    def failure_detail(self):
        return ""

    def __exit__(self, *exc):
        self.stop()
        return False

    def stop(self):
        if self.process is None:
            return
        stop(self.process)
        self.process = None

    def environment(self):
        env = dict(os.environ)
        env["DISPLAY"] = self.display
        return env


class xvfb(_x_server):
    """Xvfb with one screen ("WIDTHxHEIGHTxDEPTH"), which offers that one size."""

    name = "Xvfb"

    def __init__(self, screen):
        super().__init__()
        self.screen = screen

    def command(self, displayfd):
        # -noreset: a bare Xvfb resets whenever its last client leaves, which takes tens of
        # milliseconds and refuses connections meanwhile; a desktop's server, never without
        # clients, does not.
        return ["Xvfb", "-displayfd", str(displayfd), "-screen", "0", self.screen,
                "-nolisten", "tcp", "-noreset"]


class unavailable(Exception):
    """The X server cannot be started on this machine; the text says why."""


XORG_DUMMY_CONFIG = """
Section "ServerFlags"
  Option "AutoAddDevices" "false"
  Option "AutoAddGPU" "false"
  Option "DontVTSwitch" "true"
EndSection
Section "Device"
  Identifier "dummy"
  Driver "dummy"
  VideoRam 256000
EndSection
Section "Monitor"
  Identifier "monitor"
  HorizSync 5.0-1000.0
  VertRefresh 5.0-200.0
EndSection
Section "Screen"
  Identifier "screen"
  Device "dummy"
  Monitor "monitor"
  DefaultDepth 24
  SubSection "Display"
    Depth 24
    Modes "1920x1080"
    Virtual 3840 2160
  EndSubSection
EndSection
"""


class xorg_dummy(_x_server):
    """Xorg with the dummy video driver: one connected output (DUMMY0) offering the standard
    modes up to 2048x1536, about 45 with their refresh rates, and fifteen disconnected ones.
    Needs root (a private configuration file); raises unavailable where it cannot start."""

    name = "Xorg"
    DRIVER = "/usr/lib/xorg/modules/drivers/dummy_drv.so"

    def __init__(self):
        super().__init__()
        self.folder = None

    def __enter__(self):
        xorg = shutil.which("Xorg")
        if xorg is None or not os.path.exists(self.DRIVER):
            raise unavailable("Xorg or its dummy video driver is not installed "
                              "(xserver-xorg-core, xserver-xorg-video-dummy)")
        if os.geteuid() != 0:
            raise unavailable("Xorg takes a private configuration file only from root")
        self.folder = tempfile.mkdtemp(prefix="pixelwarde-xorg-")
        os.mkdir(os.path.join(self.folder, "conf.d"))
        with open(os.path.join(self.folder, "xorg.conf"), "w") as f:
            f.write(XORG_DUMMY_CONFIG)
        try:
            return super().__enter__()
        except RuntimeError as e:
            self.stop()
            raise unavailable(str(e)) from e

    def command(self, displayfd):
        return ["Xorg", "-config", os.path.join(self.folder, "xorg.conf"),
                "-configdir", os.path.join(self.folder, "conf.d"),
                "-logfile", os.path.join(self.folder, "Xorg.log"),
                "-displayfd", str(displayfd), "-nolisten", "tcp", "-noreset",
                "-novtswitch", "-sharevts"]

    def failure_detail(self):
        try:
            with open(os.path.join(self.folder, "Xorg.log"), "rb") as f:
                errors = [line for line in f.read().decode("latin-1").splitlines()
                          if "(EE)" in line]
            return "; " + " / ".join(errors[-3:])
        except OSError:
            return ""

    def stop(self):
        super().stop()
        if self.folder:
            shutil.rmtree(self.folder, ignore_errors=True)
            self.folder = None


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


# The dialogue's private X server: a wide-screen size, beside the kernel's modes.
SCREEN = (1600, 900)


class display:
    """The run's display: a private X server on Linux, Wine's own driver on Windows. env is
    what a run's environment needs for it."""

    def __enter__(self):
        self.server = None
        if UNDER_WINE:
            self.env = None
        else:
            self.server = xvfb("%dx%dx24" % SCREEN).__enter__()
            self.env = {"DISPLAY": self.server.display}
        return self

    def __exit__(self, *exc):
        if self.server:
            self.server.__exit__(*exc)

    def modes(self):
        """The modes the run lists here, as the display offers them."""
        if self.server:
            return sorted({SCREEN} | kernel_modes())
        # Under Wine, read them off the program's own listing.
        with game_folder() as g:
            g.write_game()
            _, out = run_piped(TESTBED, g.path, b"1", env=self.env)
        modes = []
        for line in out.split(b"\r\n"):
            if line.startswith(b"(") and b") " in line and b"x" in line and b"  " not in line:
                size = line.split(b") ", 1)[1]
                w, h = size.split(b"x")
                if w.isdigit() and h.isdigit():
                    modes.append((int(w), int(h)))
        return modes


class runs_on_the_display(unittest.TestCase):
    """Tests that share one display and the modes it offers, at least one."""

    @classmethod
    def setUpClass(cls):
        cls.display = display().__enter__()
        cls.modes = cls.display.modes()
        if not cls.modes:
            cls.display.__exit__(None, None, None)
            raise AssertionError("the display offers no mode")

    @classmethod
    def tearDownClass(cls):
        cls.display.__exit__(None, None, None)
