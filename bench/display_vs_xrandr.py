#!/usr/bin/env python3
"""The time of take_display_mode_list beside one `xrandr --query` on the same private X server
(Xvfb, 1600x900 at depth 24), reported as ratios. The tool's two builds together should cost
no more than one xrandr query.

    bench/display_vs_xrandr.py DISPLAY_MODES_BENCH [DISPLAY_MODES_PROBE] [RUNS]

Two comparisons, each beside the median time of a whole `xrandr --query`:
  repeated     the benchmark's median time of take_display_mode_list in a process that has
               taken it before (the X libraries already loaded);
  first call   take_display_mode_list as the run makes it, once in a fresh process, loading
               the X libraries: the probe program times it, run in turn with xrandr so that
               both see the same machine load.
"""

import json
import os
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from display_xvfb import xvfb  # noqa: E402

XRANDR = ["xrandr", "--query"]


def xrandr_seconds(env):
    started = time.perf_counter()
    subprocess.run(XRANDR, env=env, stdout=subprocess.DEVNULL, check=True)
    return time.perf_counter() - started


def probe_seconds(probe, env):
    done = subprocess.run([probe, "--time", "1"], env=env, capture_output=True, check=True)
    last = done.stdout.decode().splitlines()[-1].split()
    assert last[0] == "microseconds", last
    return int(last[1]) * 1e-6


def alternate(probe, env, runs):
    """Median times of the probe's first call and of xrandr, run in turn."""
    xrandr_seconds(env)  # warm the page cache
    probe_times, xrandr_times = [], []
    for _ in range(runs):
        if probe:
            probe_times.append(probe_seconds(probe, env))
        xrandr_times.append(xrandr_seconds(env))
    first = statistics.median(probe_times) if probe else None
    return first, statistics.median(xrandr_times)


def benchmark_seconds(bench, env):
    done = subprocess.run([bench, "--benchmark_format=json", "--benchmark_repetitions=5",
                           "--benchmark_report_aggregates_only=true"],
                          env=env, capture_output=True, check=True)
    for row in json.loads(done.stdout)["benchmarks"]:
        if row.get("aggregate_name") == "median":
            scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[row["time_unit"]]
            return row["real_time"] * scale, int(row.get("modes", 0))
    raise RuntimeError("no median in the benchmark's report")


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    bench = sys.argv[1]
    probe = sys.argv[2] if len(sys.argv) > 2 else None
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 100
    with xvfb("1600x900x24") as server:
        env = server.environment()
        repeated, modes = benchmark_seconds(bench, env)
        first, xrandr = alternate(probe, env, runs)
    print("%-36s %9.1f us  (median of %d runs)" % ("xrandr --query, whole process", xrandr * 1e6,
                                                     runs))
    print("%-36s %9.1f us  ratio %.3f  (%d mode%s listed)"
          % ("take_display_mode_list, repeated", repeated * 1e6, repeated / xrandr, modes,
             "" if modes == 1 else "s"))
    within = repeated <= xrandr
    if first is not None:
        print("%-36s %9.1f us  ratio %.3f"
              % ("take_display_mode_list, first call", first * 1e6, first / xrandr))
        within = within and first <= xrandr
    return 0 if within else 1


if __name__ == "__main__":
    sys.exit(main())
