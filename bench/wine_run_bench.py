#!/usr/bin/env python3
"""Whole runs of the Windows pixelwarde-testbed.exe under Wine, start to the slot listing,
beside bare_start.exe, a Windows program that only starts and ends, also under Wine.

The testbed runs on a synthetic cstrike.exe in a scratch folder with an empty pipe as input:
it prints everything up to the slot listing, the display mode list gathered on the way, and
ends at the slot choice. Wine runs without an X display, so its null display driver answers
the display settings and DirectDraw. The two programs alternate, so both see the same machine
load; a persistent wineserver of the build's own prefix serves every run and is stopped at
the end.

    bench/wine_run_bench.py BUILD_FOLDER [RUNS [OTHER_TESTBED...]]

BUILD_FOLDER is a build of the windows-bench preset with the targets pixelwarde-testbed and
bare_start; its Wine prefix is BUILD_FOLDER/wineprefix. RUNS (default 100) is the number of
runs of each program. Each OTHER_TESTBED, a testbed exe of another build (an older commit,
say), takes its turn with the two, so that builds can be set beside each other under the
same load. Nothing is asserted about the figures; the script fails only if a run does not
behave.
"""

import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests"))
import make_game_file  # noqa: E402
from run_bench import LISTING_END, check_run  # noqa: E402

LIMIT = 60


def wine_environment(prefix):
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    env.update(WINEPREFIX=prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    return env


def timed_run(program, folder, env):
    """Wall seconds of one run under Wine, from spawn to exit, with an empty pipe as input;
    and its exit status and output."""
    started = time.perf_counter()
    done = subprocess.run(["wine", program], cwd=folder, env=env, stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=LIMIT)
    return time.perf_counter() - started, done.returncode, done.stdout


def main():
    if len(sys.argv) < 2:
        raise SystemExit(__doc__)
    build = os.path.abspath(sys.argv[1])
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 100
    testbed = os.path.join(build, "tests", "pixelwarde-testbed.exe")
    bare = os.path.join(build, "bench", "bare_start.exe")
    programs = [("bare_start", bare, b""), ("tool, start to the slot listing", testbed, LISTING_END)]
    programs += [("other: " + os.path.basename(p), os.path.abspath(p), LISTING_END)
                 for p in sys.argv[3:]]
    for _, program, _ in programs:
        if not os.path.isfile(program):
            raise SystemExit("not built: " + program)
    prefix = os.path.join(build, "wineprefix")
    env = wine_environment(prefix)

    if not os.path.isdir(prefix):
        subprocess.run(["wineboot", "-i"], env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=600)
    subprocess.run(["wineserver", "-w"], env=env, timeout=LIMIT)
    folder = tempfile.mkdtemp(prefix="pixelwarde-wine-bench-")
    # A wineserver kept running for the whole measurement, so that no run pays for its start.
    server = subprocess.Popen(["wineserver", "-f", "-p"], env=env)
    try:
        with open(os.path.join(folder, "cstrike.exe"), "wb") as f:
            f.write(make_game_file.game_file_bytes(1))
        for _ in range(3):  # the page cache and the server warmed up
            for _, program, _ in programs:
                timed_run(program, folder, env)
        times = {name: [] for name, _, _ in programs}
        for i in range(runs):
            # Each round starts with another program, so none always follows the same one.
            shift = i % len(programs)
            for name, program, end in programs[shift:] + programs[:shift]:
                elapsed, status, out = timed_run(program, folder, env)
                check_run(name, status, out, end)
                times[name].append(elapsed)
    finally:
        subprocess.run(["wineserver", "-k"], env=env, timeout=LIMIT)
        try:
            server.wait(timeout=LIMIT)
        except subprocess.TimeoutExpired:
            server.kill()
            server.wait()
        shutil.rmtree(folder, ignore_errors=True)

    print("runs of each: %d" % runs)
    bare_median, bare_min = statistics.median(times["bare_start"]), min(times["bare_start"])
    for name, _, _ in programs:
        median, least = statistics.median(times[name]), min(times[name])
        print("%-40s median %7.1f ms, min %7.1f ms" % (name, median * 1e3, least * 1e3))
        if name != "bare_start":
            print("%-40s median %7.1f ms, min %7.1f ms" %
                  ("  beyond a bare start", (median - bare_median) * 1e3,
                   (least - bare_min) * 1e3))


if __name__ == "__main__":
    main()
