#!/usr/bin/env python3
"""The cost of making sure of a written slot: whole runs of pixelwarde-testbed that patch
slot 1 of a synthetic cstrike.exe on a private Xvfb.

  the flush   with the push to the medium (fdatasync) as built, beside the same runs without
              it, which is the path before the write was confirmed. The peer is the same
              program with libeatmydata preloaded (Debian's eatmydata), which turns fsync
              and fdatasync into calls that do nothing.
  the check   with --before OTHER_BUILD: as built, beside the testbed of another build, such
              as one of the commit before the file was read again right before the write
              (length, both checked blocks, the chosen slot). Both flush as built.

The two of a pair alternate, so both see the same machine load.

    bench/flush_bench.py BUILD_FOLDER [RUNS] [--before OTHER_BUILD]

BUILD_FOLDER is a native build with pixelwarde-testbed (the bench preset, or linux); the game
file lies in a scratch folder inside it, so on the disk that holds the build, not in memory.
RUNS (default 200) is the number of runs of each. Nothing is asserted about the figures; the
script fails only if a run does not behave.
"""

import argparse

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


def alternate(pair, runs):
    """Wall seconds of runs of each (program, env) of pair, taking turns, after a few
    unmeasured runs of each."""
    for _ in range(5):
        for program, env in pair:
            timed_run(program, env)
    times = ([], [])
    for i in range(runs):
        order = (0, 1) if i % 2 == 0 else (1, 0)
        for k in order:
            times[k].append(timed_run(*pair[k]))
    return times


def report(title, labels, times, cost):
    print(title)
    for label, t in zip(labels, times):
        print("  %-38s median %.3f ms   min %.3f ms   max %.3f ms"
              % (label, statistics.median(t) * 1e3, min(t) * 1e3, max(t) * 1e3))
    with_it, without = (statistics.median(t) for t in times)
    print("  cost of %s: %.3f ms per run (medians), ratio %.4f"
          % (cost, (with_it - without) * 1e3, with_it / without))


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("build")
    parser.add_argument("runs", nargs="?", type=int, default=200)
    parser.add_argument("--before", help="another build whose testbed the check is timed against")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    testbed = os.path.join(build, "tests", "pixelwarde-testbed")
    before = None
    if args.before:
        before = os.path.join(os.path.abspath(args.before), "tests", "pixelwarde-testbed")
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
            flush_times = alternate(((testbed, flushed), (testbed, unflushed)), args.runs)
            if before:
                check_times = alternate(((testbed, flushed), (before, flushed)), args.runs)
        fs_type = file_system_type(scratch)
    finally:
        os.chdir(HERE)
        shutil.rmtree(scratch, ignore_errors=True)

    report("whole runs patching slot 1 on %s, %d of each, alternating" % (fs_type, args.runs),
           ("with fdatasync (as built)", "without (libeatmydata preloaded)"), flush_times,
           "the flush")
    if before:
        report("the same, as built beside the testbed of %s" % args.before,
               ("with the check before the write", "without (the other build)"), check_times,
               "the check")


if __name__ == "__main__":
    main()
