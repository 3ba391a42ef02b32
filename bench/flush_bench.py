#!/usr/bin/env python3
"""The cost of confirming a written slot: whole runs of pixelwarde-testbed that patch slot 1
of a synthetic cstrike.exe on a private Xvfb, with the push to the medium (fdatasync) as
built, beside the same runs without it, which is the path before the write was confirmed.
The peer is the same program with libeatmydata preloaded (Debian's eatmydata), which turns
fsync and fdatasync into calls that do nothing. The two alternate, so both see the same
machine load.

    bench/flush_bench.py BUILD_FOLDER [RUNS]

BUILD_FOLDER is a native build with pixelwarde-testbed (the bench preset, or linux); the game
file lies in a scratch folder inside it, so on the disk that holds the build, not in memory.
RUNS (default 200) is the number of runs of each. Nothing is asserted about the figures; the
script fails only if a run does not behave.
"""

import glob
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
sys.path.insert(0, os.path.join(HERE, "..", "tests"))
import make_game_file  # noqa: E402
from display_xvfb import xvfb  # noqa: E402

KEYS = b"11\r\r"  # slot 1, the first mode, Enter at the end
ADVICE_END = b"(Enter zum Beenden druecken)\r\n"


def find_eatmydata():
    for pattern in ("/usr/lib/*/libeatmydata.so*", "/usr/lib/libeatmydata.so*"):
        found = sorted(glob.glob(pattern))
        if found:
            return found[0]
    raise SystemExit("libeatmydata not found: install Debian's eatmydata")


def timed_run(program, env):
    """Wall seconds of one run in the current folder, from spawn to reaped."""
    started = time.perf_counter()
    proc = subprocess.run([program], input=KEYS, stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, env=env, timeout=15)
    elapsed = time.perf_counter() - started
    if proc.returncode != 0 or not proc.stdout.endswith(ADVICE_END) or \
            b"Fehler" in proc.stdout or b"Bitte" not in proc.stdout:
        raise SystemExit("a run misbehaved: %r" % proc.stdout[-300:])
    return elapsed


def file_system_type(folder):
    out = subprocess.run(["df", "--output=fstype", folder], capture_output=True, text=True)
    return out.stdout.split()[-1]


def main():
    if len(sys.argv) < 2:
        raise SystemExit(__doc__)
    build = os.path.abspath(sys.argv[1])
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 200
    testbed = os.path.join(build, "tests", "pixelwarde-testbed")
    eatmydata = find_eatmydata()
    scratch = tempfile.mkdtemp(prefix="flush-bench-", dir=build)
    try:
        with open(os.path.join(scratch, "cstrike.exe"), "wb") as f:
            f.write(make_game_file.game_file_bytes(1))
        # Only the tool's own eight bytes may be waiting for the disk when a run starts.
        os.sync()
        os.chdir(scratch)
        with xvfb("1600x900x24") as server:
            flushed = dict(os.environ, DISPLAY=server.display)
            unflushed = dict(flushed, LD_PRELOAD=eatmydata)
            for _ in range(5):
                timed_run(testbed, flushed)
                timed_run(testbed, unflushed)
            times = {"flushed": [], "unflushed": []}
            for i in range(runs):
                order = (("flushed", flushed), ("unflushed", unflushed))
                for name, env in order if i % 2 == 0 else reversed(order):
                    times[name].append(timed_run(testbed, env))
        fs_type = file_system_type(scratch)
    finally:
        os.chdir(HERE)
        shutil.rmtree(scratch, ignore_errors=True)

    print("whole runs patching slot 1 on %s, %d of each, alternating" % (fs_type, runs))
    for name, label in (("flushed", "with fdatasync (as built)"),
                        ("unflushed", "without (libeatmydata preloaded)")):
        t = times[name]
        print("  %-34s median %.3f ms   min %.3f ms   max %.3f ms"
              % (label, statistics.median(t) * 1e3, min(t) * 1e3, max(t) * 1e3))
    with_flush = statistics.median(times["flushed"])
    without = statistics.median(times["unflushed"])
    print("  cost of the flush: %.3f ms per run (medians), ratio %.2f"
          % ((with_flush - without) * 1e3, with_flush / without))


if __name__ == "__main__":
    main()
