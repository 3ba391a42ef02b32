#!/usr/bin/env python3
"""The start of a run on a live X server, as built beside the testbed of another build: both
run pixelwarde-testbed on a synthetic cstrike.exe in a scratch folder up to the slot listing
(empty piped input: the run prints the listing and ends at the slot choice), alternately, on
one private Xvfb. It shows what the bounded wait for the X server (the alarm around xcb's
connect and polling for each reply) costs a normal start.

    bench/x_wait_bench.py BUILD_FOLDER OTHER_TESTBED [RUNS]

BUILD_FOLDER is a build of the bench preset with the target pixelwarde-testbed; OTHER_TESTBED
the testbed program of the other build; RUNS (default 300) the runs of each.
Nothing is asserted about the figures; the script fails only if a run does not behave.
"""

import os
import shutil
import statistics
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
sys.path.insert(0, os.path.join(HERE, "..", "tests"))
import make_game_file  # noqa: E402
from display_xvfb import xvfb  # noqa: E402
from run_bench import LISTING_END, SCREEN, check_run, environment, timed_run  # noqa: E402


def main():
    if len(sys.argv) < 3:
        raise SystemExit(__doc__)
    built = os.path.join(os.path.abspath(sys.argv[1]), "tests", "pixelwarde-testbed")
    other = os.path.abspath(sys.argv[2])
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 300
    folder = tempfile.mkdtemp(prefix="pixelwarde-bench-")
    top = os.getcwd()
    try:
        with open(os.path.join(folder, "cstrike.exe"), "wb") as f:
            f.write(make_game_file.game_file_bytes(1))
        os.chdir(folder)
        with xvfb(SCREEN) as server:
            env = environment(server.display)
            for program in (built, other):
                # Both must read the X server's modes, or the comparison means nothing:
                # slot 1 shows the mode list, then the input ends.
                shown = subprocess.run([program], env=env, input=b"1", capture_output=True,
                                       timeout=30).stdout
                if b"(1) 1600x900" not in shown:
                    raise SystemExit("%s did not list the X server's mode: %r"
                                     % (program, shown[-300:]))
            for _ in range(5):  # warm the page cache and the X server
                timed_run(built, env)
                timed_run(other, env)
            times = {built: [], other: []}
            for i in range(runs):
                # Alternate which goes first, so neither always follows the other.
                order = (built, other) if i % 2 == 0 else (other, built)
                for program in order:
                    elapsed, status, out = timed_run(program, env)
                    check_run(program, status, out, LISTING_END)
                    times[program].append(elapsed)
    finally:
        os.chdir(top)
        shutil.rmtree(folder, ignore_errors=True)

    pairs = [a / b for a, b in zip(times[built], times[other])]
    print("start to the slot listing on a private Xvfb %s, %d runs of each" % (SCREEN, runs))
    for label, program in (("as built", built), ("other build", other)):
        print("  %-12s median %7.3f ms   min %7.3f ms" % (
            label, statistics.median(times[program]) * 1000, min(times[program]) * 1000))
    print("  ratio of the medians %.3f, of the minimums %.3f, median of the pairs' ratios %.3f"
          % (statistics.median(times[built]) / statistics.median(times[other]),
             min(times[built]) / min(times[other]), statistics.median(pairs)))


if __name__ == "__main__":
    main()
